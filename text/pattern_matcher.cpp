// CPatternMatcher: compiles the store's pattern dialect into a flat instruction array and runs it
// with a backtracking interpreter on an explicit, growable stack.
//
// How it works:
// - Compiling parses the pattern into a small tree (recursive descent, with nesting capped so a
//   hostile pattern cannot exhaust the C++ stack), then emits instructions. A term that matches one
//   byte (a literal, ".", a class, or a parenthesised one of those such as the \d expansion) under
//   "*" or "+" becomes a single repeat instruction, so "[^<]*?" costs one stack entry, not one per
//   byte.
// - The stack holds choice points, repeat resumptions, look-ahead barriers and undo records for
//   group spans. Group writes are undone on backtracking, which is what makes the reported groups
//   those of the successful path.
// - Every branch point carries the set of bytes (plus "end of text") with which the path it leads
//   to can possibly go on. A branch whose set rejects the next byte is never pushed, and a repeat
//   only stops where its continuation can start. This prunes dead paths only, so the search order,
//   and with it the first path found, is the same as without it. The same set of the whole program
//   picks candidate start positions (memchr for a single byte or a literal prefix), and a byte
//   that every match consumes ends a search as soon as the rest of the text lacks it. A run of
//   "[^c]" is found with memchr for c.
// - When those sets decide every branch by the next byte and no repeat ever has to give bytes
//   back (its continuation cannot start on a byte of its set, or the rest always matches), the
//   interpreter would never push anything: such a "one-pass" program runs on RunOnePass, the
//   same walk without a stack, with group marks folded into the instructions they precede.
//   A one-pass program whose repeats cover short stretches is also compiled into a table of
//   walk states by next byte (RunWalk). Both take exactly the interpreter's path, which the
//   tests check against the interpreter itself.
// - "*" and "+" on a term that can match empty text are refused at compile time, so no loop can
//   spin without consuming and the interpreter needs no progress checks.
#include "text/pattern_matcher.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <new>
#include <unordered_map>

#ifdef __SSE2__
#include <emmintrin.h>
#endif

namespace {

constexpr size_t kUnset = static_cast<size_t>(-1);
// Deepest nesting of "(", "{", "!" and abbreviations the compiler accepts; real patterns use a
// handful of levels, and the limit keeps the recursive parser far from the stack's end.
constexpr int kMaxNesting = 256;
// Patterns longer than this are refused (as out of memory) so instruction indexes fit 32 bits.
constexpr size_t kMaxPatternLength = 0x1000000;
// Instructions a start-set computation may visit before it gives up and allows every byte.
constexpr int kFirstSetBudget = 256;
// A byte set: one flag per byte value, then one flag for "at the end of the text".
constexpr size_t kSetSize = 257;
constexpr size_t kEndOfText = 256;
constexpr uint32_t kAllSet = 0;  // offset of the set that allows everything
constexpr size_t kInitialStack = 256;
constexpr size_t kKeptStack = 65536;  // the shared Split/Replace matcher keeps no more than this
constexpr size_t kMaxSplitReserve = 1024;
constexpr size_t kKeptScratch = 65536;  // nor a scratch buffer larger than this
constexpr int kMaxStartRanges = 4;
// States of a walk table at most, instructions one table entry may pass, and distinct lists
// of group marks; they bound the table's size and the time compiling spends on it.
constexpr uint32_t kMaxDfaStates = 32;
constexpr int kMaxDfaSteps = 64;
constexpr size_t kMaxDfaMarkLists = 64;
constexpr uint32_t kDfaMatch = 0xFFFE;  // the match ends before the byte
constexpr uint32_t kDfaFail = 0xFFFF;
static_assert(kMaxDfaStates * kSetSize < kDfaMatch, "a row offset must fit below the codes");

enum OpCode : uint8_t {
    kOpChar,       // a: byte
    kOpString,     // a: offset in the literal pool, b: length
    kOpClass,      // a: set offset
    kOpEnd,        // end of the text
    kOpSplit,      // try a, then b; ga/gb: sets of bytes with which a/b can go on
    kOpJump,       // a: target
    kOpOpen,       // a: group
    kOpClose,      // a: group
    kOpBackRef,    // a: group
    kOpNegBegin,   // a: continuation once the negated term has failed
    kOpNegEnd,     // the negated term matched
    kOpRepGreedy,  // a: set of the repeated byte, min: 0 or 1, ga: set of the continuation,
                   // b: 1 + the one byte the set lacks (0 if it lacks more), gb: 1 when the
                   // continuation can only go on at that byte or at the end of the text
    kOpRepLazy,    // as kOpRepGreedy, fewest repetitions first
    kOpMatch,
};

// Facts about a repeat that spare the interpreter work; none of them changes which path wins.
enum RepeatFlag : uint8_t {
    // The continuation cannot start on a byte of the repeated set, so only the end of the
    // run can be followed: no shorter or longer run is worth remembering.
    kRepeatRunEndOnly = 1,
    // The rest of the pattern matches whatever follows, so the first choice is final.
    kRepeatRestAlwaysMatches = 2,
};

struct Inst {
    OpCode op;
    uint8_t min;
    uint8_t flags;  // RepeatFlag bits for the repeats
    uint32_t a;
    uint32_t b;
    uint32_t ga;
    uint32_t gb;
    // One-pass code only: 1 + a group to close, then 1 + a group to open, before the
    // instruction itself runs (0: none). Folding group marks into their successor spares
    // a dispatch each.
    uint32_t close;
    uint32_t open;
    // One-pass code only: the instruction that follows, past any plain jumps.
    uint32_t next;
};

enum FrameKind : uint32_t {
    kFrameChoice,       // pc, pos: where the other branch starts
    kFrameGreedy,       // pc: repeat instruction, pos: last end tried, aux: fewest end allowed
    kFrameLazy,         // pc: repeat instruction, pos: last end tried
    kFrameBarrier,      // pc: continuation, pos: where the negated term began, aux: outer barrier
    kFrameUndoPending,  // pc: group, pos: its previous pending start
    kFrameUndoSpan,     // pc: group, pos/aux: its previous span
};

struct Frame {
    uint32_t kind;
    uint32_t pc;
    size_t pos;
    size_t aux;
};

unsigned char LowerAscii(unsigned char c) {
    return (c >= 'A' && c <= 'Z') ? static_cast<unsigned char>(c - 'A' + 'a') : c;
}

struct Abbreviation {
    char key;
    const char* expansion;
};

// The expansions are stored exactly as the dialect defines them; each is parsed on use.
const Abbreviation kAbbreviations[] = {
    {'a', "([a-zA-Z0-9])"},
    {'b', "([ \\t])"},
    {'c', "([a-zA-Z])"},
    {'d', "([0-9])"},
    {'h', "([0-9a-fA-F])"},
    {'n', "(\r|(\r?\n))"},
    {'q', "(\"[^\"]*\")|('[^']*')"},
    {'w', "([a-zA-Z]+)"},
    {'z', "([0-9]+)"},
};

const char* FindAbbreviation(unsigned char key) {
    for (const Abbreviation& entry : kAbbreviations) {
        if (static_cast<unsigned char>(entry.key) == key) {
            return entry.expansion;
        }
    }
    return nullptr;
}

enum NodeKind : uint8_t {
    kNodeChar,     // value: byte
    kNodeSet,      // value: set offset
    kNodeEnd,      // "$"
    kNodeBackRef,  // value: group
    kNodeSeq,      // kids in order
    kNodeAlt,      // kids tried in order
    kNodeGroup,    // value: group, child: body
    kNodeNeg,      // child: negated term
    kNodeQuant,    // child, min 0/1, unbounded, lazy
};

struct Node {
    NodeKind kind = kNodeSeq;
    bool canBeEmpty = false;
    bool lazy = false;
    bool unbounded = false;
    uint8_t min = 0;
    uint32_t value = 0;
    int child = -1;
    std::vector<int> kids;
};

// Everything a successful compile produces.
struct Program {
    std::vector<Inst> code;
    std::vector<uint8_t> sets;
    std::string literals;
    int groupCount = 0;
    bool anchored = false;
    // Start positions: every byte, only one byte (memchr), or a set.
    bool startAny = true;
    int startByte = -1;
    uint32_t startSet = kAllSet;
    // Bytes every match begins with, checked before the interpreter starts.
    std::string prefix;
    // The bytes (and end of text) that can follow the prefix; kAllSet when any can.
    uint32_t followSet = kAllSet;
    // The start set as up to four ranges of byte values, for a scan that tests sixteen
    // positions at once: each range's first value and width, repeated sixteen times so a
    // single load fills a register. Unused slots repeat the first range; rangeCount 0 when
    // the set needs more ranges.
    int rangeCount = 0;
    uint8_t rangeLow[4][16] = {};
    uint8_t rangeWidth[4][16] = {};
    // No branch point ever needs remembering: every choice is decided by the next byte and
    // every repeat by its run, so a match is one walk without a stack (see RunOnePass).
    bool onePass = false;
    std::vector<Inst> onePassCode;  // the code with group marks folded in, when onePass
    // A one-pass program whose repeats all run over short stretches (none ends at a single
    // byte memchr could find) also gets a table: for each state of the walk and each next
    // byte (or the end of the text), the state after that byte, or "match ends here", or
    // "no match", plus the group marks passed on the way. One lookup per byte then replaces
    // an instruction dispatch per step. Entries: low 16 bits the target, high 16 bits the
    // index of the marks in dfaMarks (0: none). States are named by the offset of their row.
    std::vector<uint32_t> dfa;
    uint32_t dfaStart = 0;
    // Per index, the marks in order: group * 2 + 1 for a close, group * 2 for an open.
    std::vector<std::vector<uint32_t>> dfaMarks;
    // A byte every match consumes (-1 if none is known): once the text holds no more of it
    // from a start position on, no later start can match either.
    int requiredByte = -1;
};

class Compiler {
public:
    explicit Compiler(Program& program) : m_program(program) {}

    int Compile(const std::string& pattern) {
        m_program = Program();
        std::vector<uint8_t> all(kSetSize, 1);
        AddSet(all.data());  // kAllSet

        const unsigned char* begin = reinterpret_cast<const unsigned char*>(pattern.data());
        m_pos = begin;
        m_end = begin + pattern.size();
        if (m_pos < m_end && *m_pos == '^') {
            m_program.anchored = true;
            ++m_pos;
        }
        const int root = ParseSequence(0, 0);
        if (root < 0) {
            return m_error;
        }
        if (m_pos < m_end) {
            // Only a closer can stop the outermost sequence early: one without its opener.
            return *m_pos == ')' ? kPatternParenExpected : kPatternBraceExpected;
        }
        Emit(root);
        EmitInst(kOpMatch);
        ComputeGuards();
        ComputeOnePass();
        ComputePrefix();
        FindRequiredByte(root);
        return kPatternOk;
    }

private:
    // ---- parsing -------------------------------------------------------------------------

    int Fail(int error) {
        if (m_error == kPatternOk) {
            m_error = error;
        }
        return -1;
    }

    int NewNode(NodeKind kind, bool canBeEmpty) {
        Node node;
        node.kind = kind;
        node.canBeEmpty = canBeEmpty;
        m_nodes.push_back(std::move(node));
        return static_cast<int>(m_nodes.size() - 1);
    }

    // closer is the character that ends the innermost open group (0 outside any group).
    int ParseSequence(int depth, char closer) {
        std::vector<int> kids;
        bool canBeEmpty = true;
        while (m_pos < m_end && *m_pos != ')' && *m_pos != '}') {
            const int alternative = ParseAlternative(depth, closer);
            if (alternative < 0) {
                return -1;
            }
            canBeEmpty = canBeEmpty && m_nodes[static_cast<size_t>(alternative)].canBeEmpty;
            kids.push_back(alternative);
        }
        if (kids.size() == 1) {
            return kids[0];
        }
        const int seq = NewNode(kNodeSeq, canBeEmpty);
        m_nodes[static_cast<size_t>(seq)].kids = std::move(kids);
        return seq;
    }

    // Alternation is right-associative and each side is a single quantified term, so a chain
    // a|b|c is simply a list tried from the left.
    int ParseAlternative(int depth, char closer) {
        std::vector<int> options;
        bool canBeEmpty = false;
        for (;;) {
            const int term = ParseQuantified(depth, closer);
            if (term < 0) {
                return -1;
            }
            canBeEmpty = canBeEmpty || m_nodes[static_cast<size_t>(term)].canBeEmpty;
            options.push_back(term);
            if (m_pos < m_end && *m_pos == '|') {
                ++m_pos;
                continue;
            }
            break;
        }
        if (options.size() == 1) {
            return options[0];
        }
        const int alt = NewNode(kNodeAlt, canBeEmpty);
        m_nodes[static_cast<size_t>(alt)].kids = std::move(options);
        return alt;
    }

    int ParseQuantified(int depth, char closer) {
        const int term = ParseTerm(depth, closer);
        if (term < 0 || m_pos >= m_end) {
            return term;
        }
        const unsigned char op = *m_pos;
        if (op != '*' && op != '+' && op != '?') {
            return term;
        }
        ++m_pos;
        bool lazy = false;
        if (m_pos < m_end && *m_pos == '?') {
            lazy = true;
            ++m_pos;
        }
        const bool childCanBeEmpty = m_nodes[static_cast<size_t>(term)].canBeEmpty;
        if (op != '?' && childCanBeEmpty) {
            // A loop whose body can match nothing would never end.
            return Fail(kPatternEmptyRepetition);
        }
        const int quant = NewNode(kNodeQuant, op != '+' || childCanBeEmpty);
        Node& node = m_nodes[static_cast<size_t>(quant)];
        node.child = term;
        node.min = op == '+' ? 1 : 0;
        node.unbounded = op != '?';
        node.lazy = lazy;
        return quant;
    }

    // The error for a place where a term must start but cannot: the innermost group's closer is
    // what the pattern lacks; outside groups a stray closer names itself and a missing term at
    // the end means the pattern is incomplete.
    int MissingTerm(char closer) {
        if (m_pos < m_end && *m_pos == ']') {
            return Fail(kPatternBracketExpected);
        }
        if (closer == ')') {
            return Fail(kPatternParenExpected);
        }
        if (closer == '}') {
            return Fail(kPatternBraceExpected);
        }
        if (m_pos < m_end) {
            return Fail(*m_pos == ')' ? kPatternParenExpected : kPatternBraceExpected);
        }
        return Fail(kPatternMissing);
    }

    int ParseTerm(int depth, char closer) {
        if (m_pos >= m_end) {
            return MissingTerm(closer);
        }
        const unsigned char c = *m_pos;
        switch (c) {
            case ')':
            case '}':
            case ']':
                return MissingTerm(closer);
            case '(':
            case '{':
                return ParseGroup(depth, c == '{');
            case '[':
                return ParseClass();
            case '.': {
                ++m_pos;
                std::vector<uint8_t> any(kSetSize, 1);
                any[kEndOfText] = 0;
                const int node = NewNode(kNodeSet, false);
                m_nodes[static_cast<size_t>(node)].value = AddSet(any.data());
                return node;
            }
            case '!': {
                if (depth >= kMaxNesting) {
                    return Fail(kPatternOutOfMemory);
                }
                ++m_pos;
                const int negated = ParseTerm(depth + 1, closer);
                if (negated < 0) {
                    return -1;
                }
                const int node = NewNode(kNodeNeg, true);
                m_nodes[static_cast<size_t>(node)].child = negated;
                return node;
            }
            case '\\':
                return ParseEscape(depth);
            case '$':
                if (m_pos + 1 == m_end && m_allowEnd) {
                    ++m_pos;
                    return NewNode(kNodeEnd, true);
                }
                break;
            default:
                break;
        }
        ++m_pos;
        return CharNode(c);
    }

    int CharNode(unsigned char c) {
        const int node = NewNode(kNodeChar, false);
        m_nodes[static_cast<size_t>(node)].value = c;
        return node;
    }

    int ParseGroup(int depth, bool capture) {
        if (depth >= kMaxNesting) {
            return Fail(kPatternOutOfMemory);
        }
        ++m_pos;
        const char closer = capture ? '}' : ')';
        uint32_t group = 0;
        if (capture) {
            group = static_cast<uint32_t>(m_program.groupCount++);
            m_groupClosed.push_back(false);
            m_groupCanBeEmpty.push_back(true);
        }
        const int body = ParseSequence(depth + 1, closer);
        if (body < 0) {
            return -1;
        }
        if (m_pos >= m_end || *m_pos != static_cast<unsigned char>(closer)) {
            return Fail(capture ? kPatternBraceExpected : kPatternParenExpected);
        }
        ++m_pos;
        const bool canBeEmpty = m_nodes[static_cast<size_t>(body)].canBeEmpty;
        if (!capture) {
            return body;
        }
        m_groupClosed[group] = true;
        m_groupCanBeEmpty[group] = canBeEmpty;
        const int node = NewNode(kNodeGroup, canBeEmpty);
        m_nodes[static_cast<size_t>(node)].value = group;
        m_nodes[static_cast<size_t>(node)].child = body;
        return node;
    }

    int ParseEscape(int depth) {
        ++m_pos;
        if (m_pos >= m_end) {
            // A trailing backslash has nothing to escape: it stands for itself.
            return CharNode('\\');
        }
        const unsigned char c = *m_pos;
        if (c >= '0' && c <= '9') {
            uint32_t number = 0;
            while (m_pos < m_end && *m_pos >= '0' && *m_pos <= '9') {
                if (number < 1000000) {
                    number = number * 10 + static_cast<uint32_t>(*m_pos - '0');
                }
                ++m_pos;
            }
            if (number >= static_cast<uint32_t>(m_program.groupCount)) {
                return Fail(kPatternBadBackReference);
            }
            // A group that is still open may have an earlier, empty capture.
            const bool canBeEmpty = !m_groupClosed[number] || m_groupCanBeEmpty[number];
            const int node = NewNode(kNodeBackRef, canBeEmpty);
            m_nodes[static_cast<size_t>(node)].value = number;
            return node;
        }
        ++m_pos;
        const char* expansion = FindAbbreviation(c);
        if (expansion == nullptr) {
            return CharNode(c);
        }
        return ParseExpansion(depth, expansion);
    }

    // An abbreviation is parsed in place from its stored text. It is read as one alternative,
    // so "\q" accepts both its double-quoted and its single-quoted form.
    int ParseExpansion(int depth, const char* expansion) {
        if (depth >= kMaxNesting) {
            return Fail(kPatternOutOfMemory);
        }
        const unsigned char* savedPos = m_pos;
        const unsigned char* savedEnd = m_end;
        const bool savedAllowEnd = m_allowEnd;
        m_pos = reinterpret_cast<const unsigned char*>(expansion);
        m_end = m_pos + std::strlen(expansion);
        m_allowEnd = false;
        int node = ParseAlternative(depth + 1, 0);
        if (node >= 0 && m_pos != m_end) {
            node = -1;
        }
        m_pos = savedPos;
        m_end = savedEnd;
        m_allowEnd = savedAllowEnd;
        if (node < 0) {
            if (m_error != kPatternOutOfMemory) {
                m_error = kPatternBadAbbreviation;
            }
            return -1;
        }
        return node;
    }

    int ParseClass() {
        ++m_pos;
        bool negate = false;
        if (m_pos < m_end && *m_pos == '^') {
            negate = true;
            ++m_pos;
        }
        std::vector<uint8_t> set(kSetSize, 0);
        bool anyItem = false;
        for (;;) {
            if (m_pos >= m_end) {
                return Fail(kPatternBracketExpected);
            }
            if (*m_pos == ']') {
                ++m_pos;
                break;
            }
            unsigned char low = *m_pos++;
            if (low == '\\') {
                if (m_pos >= m_end) {
                    return Fail(kPatternBracketExpected);
                }
                low = *m_pos++;
                if (low == 't') {
                    low = '\t';
                }
            }
            unsigned char high = low;
            if (m_pos < m_end && *m_pos == '-') {
                ++m_pos;
                if (m_pos >= m_end || *m_pos == ']') {
                    return Fail(kPatternBracketExpected);  // a range left open
                }
                high = *m_pos++;  // the range's end is literal: no escapes there
                if (high < low) {
                    return Fail(kPatternBadRange);
                }
            }
            for (unsigned value = low; value <= high; ++value) {
                set[value] = 1;
            }
            anyItem = true;
        }
        if (!anyItem) {
            return Fail(kPatternEmptyClass);
        }
        if (negate) {
            for (size_t value = 0; value < kEndOfText; ++value) {
                set[value] = set[value] ? 0 : 1;
            }
        }
        const int node = NewNode(kNodeSet, false);
        m_nodes[static_cast<size_t>(node)].value = AddSet(set.data());
        return node;
    }

    // ---- sets ----------------------------------------------------------------------------

    uint32_t AddSet(const uint8_t* set) {
        std::string key(reinterpret_cast<const char*>(set), kSetSize);
        const auto found = m_setIndex.find(key);
        if (found != m_setIndex.end()) {
            return found->second;
        }
        const uint32_t offset = static_cast<uint32_t>(m_program.sets.size());
        m_program.sets.insert(m_program.sets.end(), set, set + kSetSize);
        m_setIndex.emplace(std::move(key), offset);
        return offset;
    }

    uint32_t SingleByteSet(uint32_t byte) {
        std::vector<uint8_t> set(kSetSize, 0);
        set[byte] = 1;
        return AddSet(set.data());
    }

    // ---- code generation -----------------------------------------------------------------

    uint32_t Here() const { return static_cast<uint32_t>(m_program.code.size()); }

    uint32_t EmitInst(OpCode op, uint32_t a = 0, uint32_t b = 0) {
        Inst inst{};
        inst.op = op;
        inst.a = a;
        inst.b = b;
        inst.ga = kAllSet;
        inst.gb = op == kOpSplit ? kAllSet : 0;
        m_program.code.push_back(inst);
        return Here() - 1;
    }

    Inst& At(uint32_t pc) { return m_program.code[pc]; }

    const Node& NodeAt(int index) const { return m_nodes[static_cast<size_t>(index)]; }

    void EmitSequence(const Node& seq) {
        const std::vector<int>& kids = seq.kids;
        size_t i = 0;
        while (i < kids.size()) {
            // Runs of plain characters become one string compare.
            size_t runEnd = i;
            while (runEnd < kids.size() && NodeAt(kids[runEnd]).kind == kNodeChar) {
                ++runEnd;
            }
            if (runEnd - i >= 2) {
                const uint32_t offset = static_cast<uint32_t>(m_program.literals.size());
                for (size_t k = i; k < runEnd; ++k) {
                    m_program.literals.push_back(static_cast<char>(NodeAt(kids[k]).value));
                }
                EmitInst(kOpString, offset, static_cast<uint32_t>(runEnd - i));
                i = runEnd;
                continue;
            }
            Emit(kids[i]);
            ++i;
        }
    }

    void Emit(int index) {
        const Node& node = NodeAt(index);
        switch (node.kind) {
            case kNodeChar:
                EmitInst(kOpChar, node.value);
                break;
            case kNodeSet:
                EmitInst(kOpClass, node.value);
                break;
            case kNodeEnd:
                EmitInst(kOpEnd);
                break;
            case kNodeBackRef:
                EmitInst(kOpBackRef, node.value);
                break;
            case kNodeSeq:
                EmitSequence(node);
                break;
            case kNodeAlt: {
                std::vector<uint32_t> exits;
                for (size_t k = 0; k + 1 < node.kids.size(); ++k) {
                    const uint32_t split = EmitInst(kOpSplit, Here() + 1);
                    Emit(node.kids[k]);
                    exits.push_back(EmitInst(kOpJump));
                    At(split).b = Here();
                }
                Emit(node.kids.back());
                for (const uint32_t exit : exits) {
                    At(exit).a = Here();
                }
                break;
            }
            case kNodeGroup:
                EmitInst(kOpOpen, node.value);
                Emit(node.child);
                EmitInst(kOpClose, node.value);
                break;
            case kNodeNeg: {
                const uint32_t begin = EmitInst(kOpNegBegin);
                Emit(node.child);
                EmitInst(kOpNegEnd);
                At(begin).a = Here();
                break;
            }
            case kNodeQuant:
                EmitQuantifier(node);
                break;
        }
    }

    void EmitQuantifier(const Node& node) {
        const Node& child = NodeAt(node.child);
        if (node.unbounded && (child.kind == kNodeChar || child.kind == kNodeSet)) {
            const uint32_t set = child.kind == kNodeChar ? SingleByteSet(child.value) : child.value;
            const uint32_t pc = EmitInst(node.lazy ? kOpRepLazy : kOpRepGreedy, set);
            At(pc).min = node.min;
            // "[^c]*" runs end at the next c, which memchr finds faster than a byte loop.
            const uint8_t* bytes = m_program.sets.data() + set;
            if (std::count(bytes, bytes + kEndOfText, 0) == 1) {
                At(pc).b =
                    static_cast<uint32_t>(std::find(bytes, bytes + kEndOfText, 0) - bytes) + 1;
            }
            return;
        }
        if (!node.unbounded) {  // "?" and "??"
            const uint32_t split = EmitInst(kOpSplit);
            Emit(node.child);
            SetSplit(split, split + 1, Here(), node.lazy);
            return;
        }
        if (node.min == 0) {  // "*" and "*?"
            const uint32_t split = EmitInst(kOpSplit);
            Emit(node.child);
            EmitInst(kOpJump, split);
            SetSplit(split, split + 1, Here(), node.lazy);
            return;
        }
        const uint32_t body = Here();  // "+" and "+?"
        Emit(node.child);
        const uint32_t split = EmitInst(kOpSplit);
        SetSplit(split, body, split + 1, node.lazy);
    }

    void SetSplit(uint32_t split, uint32_t more, uint32_t done, bool lazy) {
        At(split).a = lazy ? done : more;
        At(split).b = lazy ? more : done;
    }

    // ---- guards --------------------------------------------------------------------------

    // The bytes (and end of text) with which a path starting at pc can go on. Gives up with
    // false when the answer is "anything" or the search grows beyond its budget.
    bool FirstSet(uint32_t start, uint8_t* out) {
        std::memset(out, 0, kSetSize);
        ++m_stamp;
        m_work.clear();
        m_work.push_back(start);
        int visits = 0;
        const std::vector<Inst>& code = m_program.code;
        while (!m_work.empty()) {
            const uint32_t pc = m_work.back();
            m_work.pop_back();
            if (m_visited[pc] == m_stamp) {
                continue;
            }
            m_visited[pc] = m_stamp;
            if (++visits > kFirstSetBudget) {
                return false;
            }
            const Inst& inst = code[pc];
            switch (inst.op) {
                case kOpChar:
                    out[inst.a] = 1;
                    break;
                case kOpString:
                    out[static_cast<unsigned char>(m_program.literals[inst.a])] = 1;
                    break;
                case kOpClass:
                    MergeSet(out, inst.a);
                    break;
                case kOpEnd:
                    out[kEndOfText] = 1;
                    break;
                case kOpSplit:
                    m_work.push_back(inst.b);
                    m_work.push_back(inst.a);
                    break;
                case kOpJump:
                    m_work.push_back(inst.a);
                    break;
                case kOpOpen:
                case kOpClose:
                    m_work.push_back(pc + 1);
                    break;
                case kOpNegBegin:
                    // The look-ahead consumes nothing; what follows it must match here.
                    m_work.push_back(inst.a);
                    break;
                case kOpRepGreedy:
                case kOpRepLazy:
                    MergeSet(out, inst.a);
                    if (inst.min == 0) {
                        m_work.push_back(pc + 1);
                    }
                    break;
                case kOpBackRef:
                case kOpNegEnd:  // inside a look-ahead, reaching its end is success
                case kOpMatch:
                    return false;
            }
        }
        return true;
    }

    void MergeSet(uint8_t* out, uint32_t offset) const {
        const uint8_t* set = m_program.sets.data() + offset;
        for (size_t i = 0; i < kSetSize; ++i) {
            out[i] = static_cast<uint8_t>(out[i] | set[i]);
        }
    }

    uint32_t GuardFor(uint32_t pc) {
        uint8_t set[kSetSize];
        return FirstSet(pc, set) ? AddSet(set) : kAllSet;
    }

    void ComputeGuards() {
        m_visited.assign(m_program.code.size(), 0);
        for (uint32_t pc = 0; pc < Here(); ++pc) {
            const OpCode op = At(pc).op;
            if (op == kOpSplit) {
                At(pc).ga = GuardFor(At(pc).a);
                At(pc).gb = GuardFor(At(pc).b);
            } else if (op == kOpRepGreedy || op == kOpRepLazy) {
                At(pc).ga = GuardFor(pc + 1);
                At(pc).flags = RepeatFlags(pc);
                if (At(pc).b != 0) {
                    const uint8_t* guard = m_program.sets.data() + At(pc).ga;
                    const size_t stop = At(pc).b - 1;
                    size_t others = 0;
                    for (size_t value = 0; value < kEndOfText; ++value) {
                        others += value != stop && guard[value] != 0;
                    }
                    At(pc).gb = others == 0 ? 1 : 0;
                }
            }
        }
        if (m_program.anchored) {
            return;
        }
        uint8_t set[kSetSize];
        if (!FirstSet(0, set)) {
            return;
        }
        int count = 0;
        int last = -1;
        for (int value = 0; value < 256; ++value) {
            if (set[value]) {
                ++count;
                last = value;
            }
        }
        if (count == 256) {
            return;
        }
        m_program.startAny = false;
        if (count == 1) {
            m_program.startByte = last;
        } else {
            m_program.startSet = AddSet(set);
            FindStartRanges(set);
        }
    }

    void ComputeOnePass() {
        const uint8_t* sets = m_program.sets.data();
        for (const Inst& inst : m_program.code) {
            switch (inst.op) {
                case kOpBackRef:
                case kOpNegBegin:
                case kOpNegEnd:
                    return;
                case kOpSplit:
                    for (size_t value = 0; value < kSetSize; ++value) {
                        if (sets[inst.ga + value] && sets[inst.gb + value]) {
                            return;
                        }
                    }
                    break;
                case kOpRepGreedy:
                case kOpRepLazy:
                    if (inst.flags == 0) {
                        return;
                    }
                    break;
                default:
                    break;
            }
        }
        m_program.onePass = true;
        FoldGroupMarks();
        BuildWalkTable();
    }

    // Numbers the walk's states: one per instruction, one more per further byte of a string,
    // and for a repeat that needs a first byte, one before it and one in the run. Says
    // whether the program is worth a table.
    bool NumberStates(std::vector<uint32_t>& stateOf, uint32_t& count) const {
        const std::vector<Inst>& code = m_program.code;
        stateOf.assign(code.size() + 1, 0);
        count = 0;
        bool repeats = false;
        for (size_t pc = 0; pc < code.size(); ++pc) {
            const Inst& inst = code[pc];
            stateOf[pc] = count;
            if (inst.op == kOpString) {
                count += inst.b;
            } else if ((inst.op == kOpRepGreedy || inst.op == kOpRepLazy) && inst.min != 0) {
                count += 2;
            } else {
                count += 1;
            }
            if (inst.op == kOpRepGreedy || inst.op == kOpRepLazy) {
                if (inst.b != 0) {
                    return false;  // a run memchr finds faster than any table
                }
                repeats = true;
            }
        }
        stateOf[code.size()] = count;
        // Without repeats an attempt is a few compares at most: not worth a table.
        return repeats && count <= kMaxDfaStates;
    }

    // Where the walk goes from `pc` (its `sub`-th state) when the next byte is c: the marks it
    // passes, and the state after consuming c, kDfaMatch or kDfaFail.
    bool Resolve(const std::vector<uint32_t>& stateOf, uint32_t pc, uint32_t sub, size_t c,
                 std::vector<uint32_t>& marks, uint32_t& target) const {
        const std::vector<Inst>& code = m_program.code;
        const uint8_t* sets = m_program.sets.data();
        marks.clear();
        for (int steps = 0; steps < kMaxDfaSteps; ++steps) {
            const Inst& inst = code[pc];
            const bool byte = c != kEndOfText;
            target = kDfaFail;
            switch (inst.op) {
                case kOpOpen:
                case kOpClose:
                    marks.push_back(inst.a * 2 + (inst.op == kOpClose ? 1 : 0));
                    ++pc;
                    sub = 0;
                    continue;
                case kOpJump:
                    pc = inst.a;
                    sub = 0;
                    continue;
                case kOpSplit:
                    if (!sets[inst.ga + c] && !sets[inst.gb + c]) {
                        return true;
                    }
                    pc = sets[inst.ga + c] ? inst.a : inst.b;
                    sub = 0;
                    continue;
                case kOpEnd:
                    if (byte) {
                        return true;
                    }
                    ++pc;
                    continue;
                case kOpMatch:
                    target = kDfaMatch;
                    return true;
                case kOpChar:
                    if (byte && c == inst.a) {
                        target = stateOf[pc + 1];
                    }
                    return true;
                case kOpClass:
                    if (byte && sets[inst.a + c]) {
                        target = stateOf[pc + 1];
                    }
                    return true;
                case kOpString:
                    if (byte && c == static_cast<unsigned char>(m_program.literals[inst.a + sub])) {
                        target = sub + 1 < inst.b ? stateOf[pc] + sub + 1 : stateOf[pc + 1];
                    }
                    return true;
                case kOpRepGreedy:
                case kOpRepLazy: {
                    const bool inSet = byte && sets[inst.a + c];
                    const uint32_t run = stateOf[pc] + (inst.min != 0 ? 1 : 0);
                    if (inst.min != 0 && sub == 0) {
                        if (inSet) {
                            target = run;
                        }
                        return true;
                    }
                    // A lazy repeat whose rest always matches stops at once; any other one
                    // in a one-pass program runs to the end of its run and goes on there.
                    const bool stop =
                        inst.op == kOpRepLazy && (inst.flags & kRepeatRestAlwaysMatches) != 0;
                    if (inSet && !stop) {
                        target = run;
                        return true;
                    }
                    ++pc;
                    sub = 0;
                    continue;
                }
                case kOpBackRef:
                case kOpNegBegin:
                case kOpNegEnd:
                    return false;
            }
        }
        return false;
    }

    void BuildWalkTable() {
        std::vector<uint32_t> stateOf;
        uint32_t states = 0;
        if (!NumberStates(stateOf, states)) {
            return;
        }
        const std::vector<Inst>& code = m_program.code;
        std::vector<uint32_t> table(static_cast<size_t>(states) * kSetSize, kDfaFail);
        std::vector<std::vector<uint32_t>> markLists(1);
        std::vector<uint32_t> marks;
        for (uint32_t pc = 0; pc < code.size(); ++pc) {
            const uint32_t next = stateOf[pc + 1];
            for (uint32_t state = stateOf[pc]; state < next; ++state) {
                for (size_t c = 0; c < kSetSize; ++c) {
                    uint32_t target = kDfaFail;
                    if (!Resolve(stateOf, pc, state - stateOf[pc], c, marks, target)) {
                        return;
                    }
                    uint32_t markIndex = 0;
                    if (!marks.empty()) {
                        const auto known = std::find(markLists.begin(), markLists.end(), marks);
                        markIndex = static_cast<uint32_t>(known - markLists.begin());
                        if (known == markLists.end()) {
                            if (markLists.size() == kMaxDfaMarkLists) {
                                return;
                            }
                            markLists.push_back(marks);
                        }
                    }
                    // A target is stored as the offset of its row, which spares the walk a
                    // multiplication per byte.
                    const uint32_t row =
                        target < kDfaMatch ? static_cast<uint32_t>(target * kSetSize) : target;
                    table[state * kSetSize + c] = row | (markIndex << 16);
                }
            }
        }
        m_program.dfa = std::move(table);
        m_program.dfaMarks = std::move(markLists);
        m_program.dfaStart = static_cast<uint32_t>(stateOf[0] * kSetSize);
    }

    static bool IsGroupMark(OpCode op) { return op == kOpOpen || op == kOpClose; }

    // Builds the one-pass code: a run of group marks that is one mark, or a close followed by
    // an open, joins the instruction after it, unless a jump lands inside the run or on that
    // instruction (the marks would then run where they did not before).
    void FoldGroupMarks() {
        const std::vector<Inst>& code = m_program.code;
        std::vector<bool> target(code.size() + 1, false);
        for (const Inst& inst : code) {
            if (inst.op == kOpSplit) {
                target[inst.a] = true;
                target[inst.b] = true;
            } else if (inst.op == kOpJump) {
                target[inst.a] = true;
            }
        }
        std::vector<uint32_t> newPc(code.size(), 0);
        std::vector<Inst>& out = m_program.onePassCode;
        out.clear();
        size_t i = 0;
        while (i < code.size()) {
            if (!IsGroupMark(code[i].op)) {
                newPc[i] = static_cast<uint32_t>(out.size());
                out.push_back(code[i]);
                ++i;
                continue;
            }
            size_t j = i;  // the instruction after the run; the code ends in kOpMatch
            while (IsGroupMark(code[j].op)) {
                ++j;
            }
            bool foldable =
                j - i == 1 || (j - i == 2 && code[i].op == kOpClose && code[i + 1].op == kOpOpen);
            for (size_t k = i + 1; k <= j && foldable; ++k) {
                foldable = !target[k];
            }
            if (!foldable) {
                for (; i < j; ++i) {
                    newPc[i] = static_cast<uint32_t>(out.size());
                    out.push_back(code[i]);
                }
                continue;
            }
            Inst folded = code[j];
            for (size_t k = i; k < j; ++k) {
                newPc[k] = static_cast<uint32_t>(out.size());
                (code[k].op == kOpClose ? folded.close : folded.open) = code[k].a + 1;
            }
            newPc[j] = static_cast<uint32_t>(out.size());
            out.push_back(folded);
            i = j + 1;
        }
        for (Inst& inst : out) {
            if (inst.op == kOpSplit) {
                inst.a = newPc[inst.a];
                inst.b = newPc[inst.b];
            } else if (inst.op == kOpJump) {
                inst.a = newPc[inst.a];
            }
        }
        // Each instruction names its successor, and a jump without group marks is skipped
        // on the way there (alternatives end in one), sparing a dispatch.
        auto pastJumps = [&out](uint32_t pc) {
            for (size_t hops = 0; hops < out.size() && out[pc].op == kOpJump &&
                                  out[pc].close == 0 && out[pc].open == 0;
                 ++hops) {
                pc = out[pc].a;
            }
            return pc;
        };
        for (uint32_t pc = 0; pc < out.size(); ++pc) {
            Inst& inst = out[pc];
            inst.next = inst.op == kOpMatch ? pc : pastJumps(pc + 1);
            if (inst.op == kOpSplit) {
                inst.a = pastJumps(inst.a);
                inst.b = pastJumps(inst.b);
            }
        }
    }

    uint8_t RepeatFlags(uint32_t pc) {
        const uint8_t* set = m_program.sets.data() + At(pc).a;
        const uint8_t* guard = m_program.sets.data() + At(pc).ga;
        uint8_t flags = kRepeatRunEndOnly;
        for (size_t value = 0; value < kEndOfText; ++value) {
            if (set[value] && guard[value]) {
                flags = 0;
                break;
            }
        }
        // A straight run of group marks and optional repeats up to the end always matches.
        for (uint32_t next = pc + 1; next < Here(); ++next) {
            const Inst& inst = At(next);
            if (inst.op == kOpMatch) {
                flags |= kRepeatRestAlwaysMatches;
                break;
            }
            const bool optionalRepeat =
                (inst.op == kOpRepGreedy || inst.op == kOpRepLazy) && inst.min == 0;
            if (!optionalRepeat && inst.op != kOpOpen && inst.op != kOpClose) {
                break;
            }
        }
        return flags;
    }

    // Splits the start set into ranges of byte values when a few ranges cover it.
    void FindStartRanges(const uint8_t* set) {
        int ranges = 0;
        size_t value = 0;
        while (value < kEndOfText) {
            if (!set[value]) {
                ++value;
                continue;
            }
            size_t high = value;
            while (high + 1 < kEndOfText && set[high + 1]) {
                ++high;
            }
            if (ranges == kMaxStartRanges) {
                m_program.rangeCount = 0;
                return;
            }
            std::memset(m_program.rangeLow[ranges], static_cast<int>(value), 16);
            std::memset(m_program.rangeWidth[ranges], static_cast<int>(high - value), 16);
            ++ranges;
            value = high + 1;
        }
        for (int unused = ranges; unused < kMaxStartRanges; ++unused) {
            std::memcpy(m_program.rangeLow[unused], m_program.rangeLow[0], 16);
            std::memcpy(m_program.rangeWidth[unused], m_program.rangeWidth[0], 16);
        }
        m_program.rangeCount = ranges;
    }

    // The literal bytes at the start of every path, as far as they are plain characters, and
    // the set of bytes that can come right after them.
    void ComputePrefix() {
        uint32_t pc = 0;
        for (; pc < Here(); ++pc) {
            const Inst& inst = At(pc);
            if (inst.op == kOpChar) {
                m_program.prefix.push_back(static_cast<char>(inst.a));
            } else if (inst.op == kOpString) {
                m_program.prefix.append(m_program.literals, inst.a, inst.b);
            } else if (inst.op != kOpOpen && inst.op != kOpClose) {
                break;
            }
        }
        if (m_program.prefix.empty() || m_program.anchored) {
            return;
        }
        uint8_t set[kSetSize];
        if (FirstSet(pc, set) && std::count(set, set + kSetSize, 0) != 0) {
            m_program.followSet = AddSet(set);
        }
    }

    // The last plain character that every match consumes: the characters of the outermost
    // sequence, of the groups in it and of "+" terms. Nesting is bounded by the parser's limit.
    void FindRequiredByte(int index) {
        const Node& node = NodeAt(index);
        switch (node.kind) {
            case kNodeChar:
                m_program.requiredByte = static_cast<int>(node.value);
                break;
            case kNodeSet: {
                const uint8_t* set = m_program.sets.data() + node.value;
                if (std::count(set, set + kEndOfText, 1) == 1) {
                    m_program.requiredByte =
                        static_cast<int>(std::find(set, set + kEndOfText, 1) - set);
                }
                break;
            }
            case kNodeSeq:
                for (const int kid : node.kids) {
                    FindRequiredByte(kid);
                }
                break;
            case kNodeGroup:
                FindRequiredByte(node.child);
                break;
            case kNodeQuant:
                if (node.min != 0) {
                    FindRequiredByte(node.child);
                }
                break;
            default:
                break;
        }
    }

    Program& m_program;
    std::vector<Node> m_nodes;
    std::vector<bool> m_groupClosed;
    std::vector<bool> m_groupCanBeEmpty;
    std::unordered_map<std::string, uint32_t> m_setIndex;
    const unsigned char* m_pos = nullptr;
    const unsigned char* m_end = nullptr;
    bool m_allowEnd = true;
    int m_error = kPatternOk;
    std::vector<uint32_t> m_visited;
    std::vector<uint32_t> m_work;
    uint32_t m_stamp = 0;
};

const unsigned char kNoText[1] = {0};

}  // namespace

struct CPatternMatcher::Impl {
    Program program;
    std::string patternText;
    bool caseSensitive = true;
    bool compiled = false;
    bool onePassAllowed = true;
    int lastError = kPatternMissing;

    // Match state, reused from call to call.
    Frame* stack = nullptr;
    size_t stackCapacity = 0;
    // Start and end per group: relative to the searched text while matching, then, after a
    // successful Match, to the caller's text.
    std::vector<size_t> span;
    std::vector<size_t> pending;  // start of each group while it is open
    std::string lowered;
    std::string scratch;  // where Replace assembles its result

    // The last successful match, in offsets from the start of the caller's text.
    bool matched = false;
    size_t matchStart = 0;
    size_t matchEnd = 0;
    // The matched bytes, so groups outlive the caller's buffer; only grows, so a scan copies
    // each match without allocating.
    std::string matchText;

    Impl() {
        stack = static_cast<Frame*>(std::malloc(kInitialStack * sizeof(Frame)));
        stackCapacity = stack != nullptr ? kInitialStack : 0;
    }
    ~Impl() { std::free(stack); }
    Impl(const Impl&) = delete;
    Impl& operator=(const Impl&) = delete;

    bool GrowStack(size_t top) {
        if (top > (SIZE_MAX / sizeof(Frame) - 4) / 2) {
            return false;
        }
        const size_t capacity = top * 2 + 4;
        Frame* grown = static_cast<Frame*>(std::realloc(stack, capacity * sizeof(Frame)));
        if (grown == nullptr) {
            return false;
        }
        stack = grown;
        stackCapacity = capacity;
        return true;
    }

    // Gives back what one deep match made the stack (and one long Replace the scratch
    // buffer) grow to.
    void TrimStack() {
        if (scratch.size() > kKeptScratch) {
            std::string().swap(scratch);
        }
        if (stackCapacity <= kKeptStack) {
            return;
        }
        Frame* trimmed = static_cast<Frame*>(std::realloc(stack, kInitialStack * sizeof(Frame)));
        if (trimmed != nullptr) {
            stack = trimmed;
            stackCapacity = kInitialStack;
        }
    }

    int Run(const unsigned char* text, size_t length, size_t start, size_t& endOut);
    inline int RunOnePass(const unsigned char* text, size_t length, size_t start, size_t& endOut);
    inline int RunWalk(const unsigned char* text, size_t length, size_t start, size_t& endOut);
    template <bool kOnePass>
    int Attempt(const unsigned char* text, size_t length, size_t start, size_t& endOut) {
        if (!kOnePass) {
            return Run(text, length, start, endOut);
        }
        return program.dfa.empty() ? RunOnePass(text, length, start, endOut)
                                   : RunWalk(text, length, start, endOut);
    }
    template <bool kOnePass>
    int SearchWith(const unsigned char* text, size_t length, size_t from, size_t& startOut,
                   size_t& endOut);
    template <bool kOnePass, typename Sink>
    int ScanWith(const unsigned char* text, size_t length, size_t from, Sink&& sink);
    template <typename Sink>
    int Scan(const unsigned char* text, size_t size, size_t from, Sink&& sink);
    int Search(const unsigned char* text, size_t length, size_t from, size_t& startOut,
               size_t& endOut);
    bool SearchFrom(const unsigned char* text, size_t size, size_t from, size_t& start,
                    size_t& end);
};

namespace {

// Where a run of the repeat's set that begins at q ends.
inline size_t RunEnd(const Inst& rep, const uint8_t* set, const unsigned char* t, size_t n,
                     size_t q) {
    if (rep.b != 0) {
#ifdef __SSE2__
        // Most runs are short: the first sixteen bytes are tested in place, which costs
        // less than a call to memchr.
        if (q + 16 <= n) {
            const __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(t + q));
            const auto mask = static_cast<unsigned>(_mm_movemask_epi8(
                _mm_cmpeq_epi8(bytes, _mm_set1_epi8(static_cast<char>(rep.b - 1)))));
            if (mask != 0) {
                return q + static_cast<size_t>(__builtin_ctz(mask));
            }
            q += 16;
        }
#endif
        const void* stop = std::memchr(t + q, static_cast<int>(rep.b - 1), n - q);
        return stop != nullptr ? static_cast<size_t>(static_cast<const unsigned char*>(stop) - t)
                               : n;
    }
    while (q < n && set[t[q]]) {
        ++q;
    }
    return q;
}

}  // namespace

// One attempt at `start` for a one-pass program. It takes exactly the path Run takes, which in
// such a program never pushes a frame, so a failed test ends the attempt and groups need no
// undoing.
inline int CPatternMatcher::Impl::RunOnePass(const unsigned char* t, size_t n, size_t start,
                                             size_t& endOut) {
    const Inst* const code = program.onePassCode.data();
    const uint8_t* const sets = program.sets.data();
    const char* const literals = program.literals.data();
    size_t* const spans = span.data();
    size_t* const pend = pending.data();
    std::fill(span.begin(), span.end(), kUnset);
    uint32_t pc = 0;
    size_t pos = start;
    for (;;) {
        const Inst& in = code[pc];
        if (in.close != 0) {
            spans[2 * size_t{in.close - 1}] = pend[in.close - 1];
            spans[2 * size_t{in.close - 1} + 1] = pos;
        }
        if (in.open != 0) {
            pend[in.open - 1] = pos;
        }
        switch (in.op) {
            case kOpChar:
                if (pos < n && uint32_t{t[pos]} == in.a) {
                    ++pos;
                    pc = in.next;
                    continue;
                }
                return 0;
            case kOpString: {
                if (n - pos < in.b) {
                    return 0;
                }
                const char* literal = literals + in.a;
                for (uint32_t k = 0; k < in.b; ++k) {
                    if (t[pos + k] != static_cast<unsigned char>(literal[k])) {
                        return 0;
                    }
                }
                pos += in.b;
                pc = in.next;
                continue;
            }
            case kOpClass:
                if (pos < n && sets[in.a + t[pos]]) {
                    ++pos;
                    pc = in.next;
                    continue;
                }
                return 0;
            case kOpEnd:
                if (pos == n) {
                    pc = in.next;
                    continue;
                }
                return 0;
            case kOpSplit: {
                const size_t next = pos < n ? size_t{t[pos]} : kEndOfText;
                if (sets[in.ga + next]) {
                    pc = in.a;
                } else if (sets[in.gb + next]) {
                    pc = in.b;
                } else {
                    return 0;
                }
                continue;
            }
            case kOpJump:
                pc = in.a;
                continue;
            case kOpOpen:
                pend[in.a] = pos;
                pc = in.next;
                continue;
            case kOpClose:
                spans[2 * size_t{in.a}] = pend[in.a];
                spans[2 * size_t{in.a} + 1] = pos;
                pc = in.next;
                continue;
            case kOpRepGreedy:
            case kOpRepLazy: {
                const uint8_t* set = sets + in.a;
                size_t q = pos;
                if (in.min != 0) {
                    if (q >= n || !set[t[q]]) {
                        return 0;
                    }
                    ++q;
                }
                const bool restMatches = (in.flags & kRepeatRestAlwaysMatches) != 0;
                if (in.op == kOpRepGreedy || !restMatches) {
                    q = RunEnd(in, set, t, n, q);
                }
                if (!restMatches && !sets[in.ga + (q < n ? size_t{t[q]} : kEndOfText)]) {
                    return 0;
                }
                pos = q;
                pc = in.next;
                continue;
            }
            case kOpMatch:
                endOut = pos;
                return 1;
            case kOpBackRef:
            case kOpNegBegin:
            case kOpNegEnd:
                return 0;  // never in a one-pass program
        }
    }
}

// One attempt of a one-pass program on its walk table: a lookup per byte, the group marks of
// an entry applied at the position before its byte.
inline int CPatternMatcher::Impl::RunWalk(const unsigned char* t, size_t n, size_t start,
                                          size_t& endOut) {
    const uint32_t* const table = program.dfa.data();
    size_t* const spans = span.data();
    size_t* const pend = pending.data();
    std::fill(span.begin(), span.end(), kUnset);
    uint32_t row = program.dfaStart;
    for (size_t pos = start;; ++pos) {
        const size_t c = pos < n ? size_t{t[pos]} : kEndOfText;
        const uint32_t entry = table[row + c];
        if ((entry >> 16) != 0) {
            for (const uint32_t mark : program.dfaMarks[entry >> 16]) {
                const size_t group = mark / 2;
                if ((mark & 1) != 0) {
                    spans[2 * group] = pend[group];
                    spans[2 * group + 1] = pos;
                } else {
                    pend[group] = pos;
                }
            }
        }
        row = entry & 0xFFFF;
        if (row >= kDfaMatch) {
            endOut = pos;
            return row == kDfaMatch ? 1 : 0;
        }
    }
}

// One backtracking attempt at `start`. Returns 1 on a match, 0 when none, -1 when the stack
// could not grow.
int CPatternMatcher::Impl::Run(const unsigned char* t, size_t n, size_t start, size_t& endOut) {
    const Inst* const code = program.code.data();
    const uint8_t* const sets = program.sets.data();
    const char* const literals = program.literals.data();
    size_t* const spans = span.data();
    size_t* const pend = pending.data();
    std::fill(span.begin(), span.end(), kUnset);

    size_t sp = 0;
    size_t negTop = kUnset;
    uint32_t pc = 0;
    size_t pos = start;

    auto push = [&](FrameKind kind, uint32_t framePc, size_t framePos, size_t aux) {
        if (sp == stackCapacity && !GrowStack(sp)) {
            return false;
        }
        stack[sp++] = Frame{kind, framePc, framePos, aux};
        return true;
    };
    auto undo = [&](const Frame& frame) {
        if (frame.kind == kFrameUndoPending) {
            pend[frame.pc] = frame.pos;
        } else if (frame.kind == kFrameUndoSpan) {
            spans[2 * size_t{frame.pc}] = frame.pos;
            spans[2 * size_t{frame.pc} + 1] = frame.aux;
        }
    };
    auto at = [&](size_t p) { return p < n ? size_t{t[p]} : kEndOfText; };

    for (;;) {
        const Inst& in = code[pc];
        // Each case continues on success and breaks out of the switch to backtrack.
        switch (in.op) {
            case kOpChar:
                if (pos < n && uint32_t{t[pos]} == in.a) {
                    ++pos;
                    ++pc;
                    continue;
                }
                break;
            case kOpString: {
                if (n - pos < in.b) {
                    break;
                }
                // The literals are short: a byte loop beats a call to memcmp.
                const char* literal = literals + in.a;
                uint32_t k = 0;
                while (k < in.b && t[pos + k] == static_cast<unsigned char>(literal[k])) {
                    ++k;
                }
                if (k != in.b) {
                    break;
                }
                pos += in.b;
                ++pc;
                continue;
            }
            case kOpClass:
                if (pos < n && sets[in.a + t[pos]]) {
                    ++pos;
                    ++pc;
                    continue;
                }
                break;
            case kOpEnd:
                if (pos == n) {
                    ++pc;
                    continue;
                }
                break;
            case kOpSplit: {
                const size_t next = at(pos);
                const bool first = sets[in.ga + next] != 0;
                const bool second = sets[in.gb + next] != 0;
                if (first) {
                    if (second && !push(kFrameChoice, in.b, pos, 0)) {
                        return -1;
                    }
                    pc = in.a;
                    continue;
                }
                if (second) {
                    pc = in.b;
                    continue;
                }
                break;
            }
            case kOpJump:
                pc = in.a;
                continue;
            case kOpOpen:
                if (sp != 0 && !push(kFrameUndoPending, in.a, pend[in.a], 0)) {
                    return -1;
                }
                pend[in.a] = pos;
                ++pc;
                continue;
            case kOpClose: {
                size_t* group = spans + 2 * size_t{in.a};
                if (sp != 0 && !push(kFrameUndoSpan, in.a, group[0], group[1])) {
                    return -1;
                }
                group[0] = pend[in.a];
                group[1] = pos;
                ++pc;
                continue;
            }
            case kOpBackRef: {
                const size_t* group = spans + 2 * size_t{in.a};
                if (group[1] == kUnset) {
                    break;  // a group that took no part matches nothing
                }
                const size_t length = group[1] - group[0];
                if (n - pos < length ||
                    (length != 0 && std::memcmp(t + pos, t + group[0], length) != 0)) {
                    break;
                }
                pos += length;
                ++pc;
                continue;
            }
            case kOpNegBegin:
                if (!push(kFrameBarrier, in.a, pos, negTop)) {
                    return -1;
                }
                negTop = sp - 1;
                ++pc;
                continue;
            case kOpNegEnd:
                // The negated term matched: drop everything it left and fail the look-ahead.
                while (sp > negTop + 1) {
                    --sp;
                    undo(stack[sp]);
                }
                --sp;
                negTop = stack[sp].aux;
                break;
            case kOpRepGreedy: {
                const uint8_t* set = sets + in.a;
                const uint8_t* guard = sets + in.ga;
                size_t low = pos;
                if (in.min != 0) {
                    if (pos >= n || !set[t[pos]]) {
                        break;
                    }
                    low = pos + 1;
                }
                const size_t q0 = RunEnd(in, set, t, n, low);
                if (in.flags != 0) {
                    // Either the rest takes anything or nothing but the run's end can go on.
                    if ((in.flags & kRepeatRestAlwaysMatches) == 0 && !guard[at(q0)]) {
                        break;
                    }
                    pos = q0;
                    ++pc;
                    continue;
                }
                size_t q = q0;
                bool found = guard[at(q)] != 0;
                while (!found && q > low) {
                    --q;
                    found = guard[t[q]] != 0;
                }
                if (!found) {
                    break;
                }
                if (q > low && !push(kFrameGreedy, pc, q, low)) {
                    return -1;
                }
                pos = q;
                ++pc;
                continue;
            }
            case kOpRepLazy: {
                const uint8_t* set = sets + in.a;
                const uint8_t* guard = sets + in.ga;
                size_t q = pos;
                if (in.min != 0) {
                    if (q >= n || !set[t[q]]) {
                        break;
                    }
                    ++q;
                }
                if ((in.flags & kRepeatRestAlwaysMatches) != 0) {
                    pos = q;  // the fewest repetitions already lead to a match
                    ++pc;
                    continue;
                }
                if ((in.flags & kRepeatRunEndOnly) != 0) {
                    q = RunEnd(in, set, t, n, q);
                    if (!guard[at(q)]) {
                        break;
                    }
                    pos = q;
                    ++pc;
                    continue;
                }
                if (in.gb != 0) {
                    // Only the byte that ends the run can continue: jump straight to it.
                    const void* stop = std::memchr(t + q, static_cast<int>(in.b - 1), n - q);
                    q = stop != nullptr
                            ? static_cast<size_t>(static_cast<const unsigned char*>(stop) - t)
                            : n;
                } else {
                    while (!guard[at(q)] && q < n && set[t[q]]) {
                        ++q;
                    }
                }
                if (!guard[at(q)]) {
                    break;
                }
                if (q < n && set[t[q]] && !push(kFrameLazy, pc, q, 0)) {
                    return -1;
                }
                pos = q;
                ++pc;
                continue;
            }
            case kOpMatch:
                endOut = pos;
                return 1;
        }

        // Backtrack to the most recent point that offers another path.
        for (;;) {
            if (sp == 0) {
                return 0;
            }
            Frame& frame = stack[sp - 1];
            if (frame.kind == kFrameChoice) {
                pc = frame.pc;
                pos = frame.pos;
                --sp;
                break;
            }
            if (frame.kind == kFrameBarrier) {
                // The negated term failed everywhere, so the look-ahead succeeds.
                negTop = frame.aux;
                pc = frame.pc;
                pos = frame.pos;
                --sp;
                break;
            }
            if (frame.kind == kFrameGreedy) {
                const Inst& rep = code[frame.pc];
                const uint8_t* guard = sets + rep.ga;
                const size_t low = frame.aux;
                size_t q = frame.pos;
                bool found = false;
                while (q > low) {
                    --q;
                    if (guard[t[q]]) {
                        found = true;
                        break;
                    }
                }
                if (!found) {
                    --sp;
                    continue;
                }
                pc = frame.pc + 1;
                pos = q;
                if (q > low) {
                    frame.pos = q;
                } else {
                    --sp;
                }
                break;
            }
            if (frame.kind == kFrameLazy) {
                const Inst& rep = code[frame.pc];
                const uint8_t* set = sets + rep.a;
                const uint8_t* guard = sets + rep.ga;
                size_t q = frame.pos + 1;  // the byte at frame.pos was checked before the push
                while (!guard[at(q)] && q < n && set[t[q]]) {
                    ++q;
                }
                if (!guard[at(q)]) {
                    --sp;
                    continue;
                }
                pc = frame.pc + 1;
                pos = q;
                if (q < n && set[t[q]]) {
                    frame.pos = q;
                } else {
                    --sp;
                }
                break;
            }
            undo(frame);
            --sp;
        }
    }
}

namespace {

// First position at or after s where the literal prefix (two bytes or more) starts, or n.
// Positions are filtered on the prefix's first and last bytes sixteen at a time, so a
// frequent first byte ("<" in markup) does not cost a compare per occurrence.
size_t FindPrefix(const unsigned char* t, size_t n, size_t s, const unsigned char* prefix,
                  size_t length) {
    if (n < length) {
        return n;
    }
    const size_t last = n - length;  // the last position where the prefix fits
#ifdef __SSE2__
    const __m128i first = _mm_set1_epi8(static_cast<char>(prefix[0]));
    const __m128i final = _mm_set1_epi8(static_cast<char>(prefix[length - 1]));
    while (s + 16 <= last + 1) {
        const __m128i head = _mm_loadu_si128(reinterpret_cast<const __m128i*>(t + s));
        const __m128i tail = _mm_loadu_si128(reinterpret_cast<const __m128i*>(t + s + length - 1));
        auto mask = static_cast<unsigned>(_mm_movemask_epi8(
            _mm_and_si128(_mm_cmpeq_epi8(head, first), _mm_cmpeq_epi8(tail, final))));
        while (mask != 0) {
            const size_t at = s + static_cast<size_t>(__builtin_ctz(mask));
            if (std::memcmp(t + at + 1, prefix + 1, length - 2) == 0) {
                return at;
            }
            mask &= mask - 1;
        }
        s += 16;
    }
#endif
    while (s <= last) {
        const void* hit = std::memchr(t + s, prefix[0], last + 1 - s);
        if (hit == nullptr) {
            return n;
        }
        s = static_cast<size_t>(static_cast<const unsigned char*>(hit) - t);
        if (std::memcmp(t + s + 1, prefix + 1, length - 1) == 0) {
            return s;
        }
        ++s;
    }
    return n;
}

// First position at or after s (s < n) whose byte is in the start set, or n. A set of a few
// ranges is tested sixteen positions at a time; the first position is tried on its own
// because a scan that continues after a match mostly stands on the next one already.
size_t FindInStartSet(const Program& p, const unsigned char* t, size_t n, size_t s) {
    const uint8_t* set = p.sets.data() + p.startSet;
    if (set[t[s]]) {
        return s;  // a scan that continues after a match mostly stands on the next one
    }
#ifdef __SSE2__
    if (p.rangeCount != 0 && n >= 16) {
        const auto* low = reinterpret_cast<const __m128i*>(p.rangeLow);
        const auto* width = reinterpret_cast<const __m128i*>(p.rangeWidth);
        // Bit i of the result: t[at + i] is in the set. In a range when byte - low, taken
        // unsigned, is at most high - low.
        auto hits = [&](size_t at) {
            const __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(t + at));
            __m128i found = _mm_setzero_si128();
            for (int r = 0; r < kMaxStartRanges; ++r) {
                const __m128i span = _mm_loadu_si128(width + r);
                const __m128i shifted = _mm_sub_epi8(bytes, _mm_loadu_si128(low + r));
                found = _mm_or_si128(found, _mm_cmpeq_epi8(_mm_max_epu8(shifted, span), span));
            }
            return static_cast<unsigned>(_mm_movemask_epi8(found));
        };
        while (s + 16 <= n) {
            const unsigned mask = hits(s);
            if (mask != 0) {
                return s + static_cast<size_t>(__builtin_ctz(mask));
            }
            s += 16;
        }
        if (s == n) {
            return n;
        }
        // The last sixteen bytes, without those before s.
        const unsigned mask = hits(n - 16) >> (16 - (n - s));
        return mask != 0 ? s + static_cast<size_t>(__builtin_ctz(mask)) : n;
    }
#endif
    while (s < n && !set[t[s]]) {
        ++s;
    }
    return s;
}

}  // namespace

// Leftmost search over text[from, n); positions in and out count from text. Returns as Run
// does.
int CPatternMatcher::Impl::Search(const unsigned char* t, size_t n, size_t from, size_t& startOut,
                                  size_t& endOut) {
    return program.onePass && onePassAllowed ? SearchWith<true>(t, n, from, startOut, endOut)
                                             : SearchWith<false>(t, n, from, startOut, endOut);
}

// The search loop, with the attempt at each start compiled in.
template <bool kOnePass>
int CPatternMatcher::Impl::SearchWith(const unsigned char* t, size_t n, size_t from,
                                      size_t& startOut, size_t& endOut) {
    return ScanWith<kOnePass>(t, n, from, [&startOut, &endOut](size_t start, size_t end) {
        startOut = start;
        endOut = end;
        return false;
    });
}

// One search after another, each from where the previous match ended, every match handed to
// `sink(start, end)`, which says whether to go on. Returns 1 when the sink stopped, else what
// the last search returned (0: no match, -1: out of memory). Keeping the whole scan in one
// function spares a Replace or Split a call and its set-up per match.
template <bool kOnePass, typename Sink>
int CPatternMatcher::Impl::ScanWith(const unsigned char* t, size_t n, size_t from, Sink&& sink) {
    const Program& p = program;
    const unsigned char* prefix = reinterpret_cast<const unsigned char*>(p.prefix.data());
    const size_t prefixLength = p.prefix.size();
    const uint8_t* follow = p.followSet != kAllSet ? p.sets.data() + p.followSet : nullptr;
    for (;;) {
        int result = 0;
        size_t start = from;
        size_t end = from;
        if (p.anchored || from == n) {
            result = Attempt<kOnePass>(t, n, from, end);
        } else {
            // Next position of the required byte, once looked for. The first attempt goes
            // without the look-up: scans mostly succeed there, and one failed attempt more
            // cannot change how a search without a match grows with the text.
            size_t required = kUnset;
            bool firstAttempt = true;
            // The end of a non-empty text is never a start position.
            size_t s = from;
            while (s < n) {
                // Skip to the next byte that can begin a match.
                if (prefixLength > 1) {
                    s = FindPrefix(t, n, s, prefix, prefixLength);
                    if (s == n) {
                        break;
                    }
                } else if (prefixLength != 0 || p.startByte >= 0) {
                    // A scan that continues after a match mostly stands on the next one.
                    const int first = prefixLength != 0 ? prefix[0] : p.startByte;
                    if (t[s] != first) {
                        const void* hit = std::memchr(t + s, first, n - s);
                        if (hit == nullptr) {
                            break;
                        }
                        s = static_cast<size_t>(static_cast<const unsigned char*>(hit) - t);
                    }
                } else if (!p.startAny) {
                    s = FindInStartSet(p, t, n, s);
                    if (s == n) {
                        break;
                    }
                }
                // The prefix fits (FindPrefix and memchr made sure), so its follower is a
                // byte or the end of the text.
                if (follow != nullptr) {
                    const size_t next = s + prefixLength;
                    if (!follow[next < n ? size_t{t[next]} : kEndOfText]) {
                        ++s;
                        continue;
                    }
                }
                if (p.requiredByte >= 0 && !firstAttempt && (required == kUnset || required < s)) {
                    const void* hit = std::memchr(t + s, p.requiredByte, n - s);
                    if (hit == nullptr) {
                        break;
                    }
                    required = static_cast<size_t>(static_cast<const unsigned char*>(hit) - t);
                }
                result = Attempt<kOnePass>(t, n, s, end);
                if (result != 0) {
                    start = s;
                    break;
                }
                firstAttempt = false;
                ++s;
            }
        }
        if (result != 1) {
            return result;
        }
        if (!sink(start, end)) {
            return 1;
        }
        from = end;
    }
}

// Scan of text[from, size) as ScanWith describes; the text is the lowered copy when the
// pattern ignores case.
template <typename Sink>
int CPatternMatcher::Impl::Scan(const unsigned char* text, size_t size, size_t from, Sink&& sink) {
    if (!compiled || from > size) {
        return 0;
    }
    return program.onePass && onePassAllowed ? ScanWith<true>(text, size, from, sink)
                                             : ScanWith<false>(text, size, from, sink);
}

// Search of text[from, size); the text is the lowered copy when the pattern ignores case.
// Offsets, group spans included, come back relative to the start of text.
bool CPatternMatcher::Impl::SearchFrom(const unsigned char* text, size_t size, size_t from,
                                       size_t& start, size_t& end) {
    if (!compiled || from > size) {
        return false;
    }
    return Search(text, size, from, start, end) == 1;
}

namespace {

// Split and Replace are called over and over with a few constant patterns (a split of each
// request, a replace per path argument, on the same thread), so each thread keeps the last
// few patterns it compiled for them, the one used last looked at first.
constexpr size_t kCachedPatterns = 4;

struct CachedPattern {
    CPatternMatcher matcher;
    std::string pattern;
    bool caseSensitive = true;
    bool valid = false;
};

CPatternMatcher& CachedMatcher(const char* pattern, bool caseSensitive) {
    thread_local CachedPattern cache[kCachedPatterns];
    thread_local size_t lastUsed = 0;
    thread_local size_t oldest = 0;  // entries are replaced in the order they were filled
    if (pattern != nullptr) {
        for (size_t k = 0; k < kCachedPatterns; ++k) {
            const size_t index = (lastUsed + k) % kCachedPatterns;
            CachedPattern& entry = cache[index];
            if (entry.valid && entry.caseSensitive == caseSensitive &&
                std::strcmp(entry.pattern.c_str(), pattern) == 0) {
                lastUsed = index;
                return entry.matcher;
            }
        }
    }
    CachedPattern& entry = cache[oldest];
    lastUsed = oldest;
    oldest = (oldest + 1) % kCachedPatterns;
    entry.valid = false;
    entry.matcher.Compile(pattern, caseSensitive);
    if (pattern != nullptr) {
        entry.pattern.assign(pattern);
        entry.caseSensitive = caseSensitive;
        entry.valid = true;
    }
    return entry.matcher;
}

const unsigned char* Bytes(std::string_view text) {
    return text.data() != nullptr ? reinterpret_cast<const unsigned char*>(text.data()) : kNoText;
}

std::string LowerCopy(std::string_view text) {
    std::string lowered(text);
    for (char& c : lowered) {
        c = static_cast<char>(LowerAscii(static_cast<unsigned char>(c)));
    }
    return lowered;
}

}  // namespace

CPatternMatcher::CPatternMatcher() : m_impl(new (std::nothrow) Impl) {}

CPatternMatcher::~CPatternMatcher() {
    delete m_impl;
}

int CPatternMatcher::Compile(const char* pattern, bool caseSensitive) {
    if (m_impl == nullptr) {
        return kPatternOutOfMemory;
    }
    Impl& impl = *m_impl;
    impl.compiled = false;
    impl.matched = false;
    impl.program = Program();
    if (pattern == nullptr) {
        impl.patternText.clear();
        impl.lastError = kPatternMissing;
        return impl.lastError;
    }
    try {
        impl.patternText.assign(pattern);
        impl.caseSensitive = caseSensitive;
        if (impl.patternText.size() > kMaxPatternLength) {
            impl.lastError = kPatternOutOfMemory;
            return impl.lastError;
        }
        // Ignoring case means matching a lowered pattern against lowered text.
        std::string source = caseSensitive ? impl.patternText : LowerCopy(impl.patternText);
        Compiler compiler(impl.program);
        impl.lastError = compiler.Compile(source);
        if (impl.lastError != kPatternOk) {
            impl.program = Program();
            return impl.lastError;
        }
        const size_t slots = static_cast<size_t>(impl.program.groupCount);
        impl.span.assign(slots * 2, kUnset);
        impl.pending.assign(slots, kUnset);
        impl.compiled = true;
    } catch (const std::bad_alloc&) {
        impl.program = Program();
        impl.lastError = kPatternOutOfMemory;
    }
    return impl.lastError;
}

int CPatternMatcher::LastError() const {
    return m_impl != nullptr ? m_impl->lastError : kPatternOutOfMemory;
}

int CPatternMatcher::GroupCount() const {
    return m_impl != nullptr && m_impl->compiled ? m_impl->program.groupCount : 0;
}

bool CPatternMatcher::Match(const char* text) {
    if (text == nullptr) {
        if (m_impl != nullptr) {
            m_impl->matched = false;
        }
        return false;
    }
    return Match(std::string_view(text), 0);
}

// Searching from `from` behaves as a search of the text that starts there: "^" anchors at
// `from`, and an empty rest gets one attempt. Offsets are still measured from `text`.
bool CPatternMatcher::Match(std::string_view text, size_t from) {
    if (m_impl == nullptr) {
        return false;
    }
    Impl& impl = *m_impl;
    impl.matched = false;
    if (!impl.compiled || from > text.size()) {
        return false;
    }
    try {
        size_t start = 0;
        size_t end = 0;
        size_t shift = 0;  // what turns a span of the searched text into one of `text`
        if (impl.caseSensitive) {
            if (!impl.SearchFrom(Bytes(text), text.size(), from, start, end)) {
                return false;
            }
        } else {
            shift = from;
            impl.lowered.assign(text.substr(from));
            for (char& c : impl.lowered) {
                c = static_cast<char>(LowerAscii(static_cast<unsigned char>(c)));
            }
            if (!impl.SearchFrom(Bytes(impl.lowered), impl.lowered.size(), 0, start, end)) {
                return false;
            }
            start += from;
            end += from;
        }
        if (shift != 0) {
            for (size_t& offset : impl.span) {
                offset = offset == kUnset ? kUnset : offset + shift;
            }
        }
        impl.matchStart = start;
        impl.matchEnd = end;
        if (impl.matchText.size() < end - start) {
            impl.matchText.resize(std::max(end - start, 2 * impl.matchText.size()));
        }
        if (end != start) {
            std::memcpy(&impl.matchText[0], text.data() + start, end - start);
        }
        impl.matched = true;
    } catch (const std::bad_alloc&) {
        impl.matched = false;
    }
    return impl.matched;
}

void CPatternMatcher::AllowOnePass(bool allowed) {
    if (m_impl != nullptr) {
        m_impl->onePassAllowed = allowed;
    }
}

size_t CPatternMatcher::MatchStart() const {
    return m_impl != nullptr && m_impl->matched ? m_impl->matchStart : 0;
}

size_t CPatternMatcher::MatchEnd() const {
    return m_impl != nullptr && m_impl->matched ? m_impl->matchEnd : 0;
}

std::string CPatternMatcher::Group(int n, std::ptrdiff_t* offset) const {
    if (offset != nullptr) {
        *offset = -1;
    }
    if (m_impl == nullptr || !m_impl->matched || n < 0 || n >= m_impl->program.groupCount) {
        return std::string();
    }
    const Impl& impl = *m_impl;
    const size_t start = impl.span[2 * static_cast<size_t>(n)];
    const size_t end = impl.span[2 * static_cast<size_t>(n) + 1];
    if (end == kUnset || start < impl.matchStart || end > impl.matchEnd || end < start) {
        return std::string();
    }
    if (offset != nullptr) {
        *offset = static_cast<std::ptrdiff_t>(start);
    }
    return std::string(impl.matchText.data() + (start - impl.matchStart), end - start);
}

std::vector<std::string> CPatternMatcher::Split(std::string_view text, const char* pattern,
                                                bool caseSensitive, int limit) {
    std::vector<std::string> pieces;
    try {
        const size_t maxPieces = limit <= 0 ? 65535 : static_cast<size_t>(limit);
        pieces.reserve(limit <= 0 ? 10 : std::min(maxPieces, kMaxSplitReserve));
        CPatternMatcher& matcher = CachedMatcher(pattern, caseSensitive);
        if (matcher.m_impl == nullptr) {
            return pieces;
        }
        // One lowered copy serves the whole scan; positions are the same in both texts.
        const std::string lowered = caseSensitive ? std::string() : LowerCopy(text);
        const unsigned char* bytes = caseSensitive ? Bytes(text) : Bytes(lowered);
        size_t pos = 0;
        if (!text.empty()) {
            matcher.m_impl->Scan(bytes, text.size(), 0, [&](size_t start, size_t end) {
                pieces.emplace_back(text.substr(pos, start - pos));
                pos = end;
                // An empty match would be found again at the same place forever.
                return pieces.size() < maxPieces && end != start && end < text.size();
            });
        }
        if (pos < text.size()) {
            pieces.emplace_back(text.substr(pos));
        }
        matcher.m_impl->TrimStack();
    } catch (const std::bad_alloc&) {
        pieces.clear();
    }
    return pieces;
}

std::string CPatternMatcher::Replace(std::string_view text, const char* pattern,
                                     std::string_view replacement, bool all, bool caseSensitive) {
    try {
        CPatternMatcher& matcher = CachedMatcher(pattern, caseSensitive);
        if (matcher.m_impl == nullptr) {
            return std::string(text);
        }
        const std::string lowered = caseSensitive ? std::string() : LowerCopy(text);
        const unsigned char* bytes = caseSensitive ? Bytes(text) : Bytes(lowered);
        // The pieces gather in the thread's scratch buffer, so the result is allocated once,
        // at its final size.
        std::string& scratch = matcher.m_impl->scratch;
        size_t used = 0;
        auto put = [&scratch, &used](const char* data, size_t length) {
            if (length == 0) {
                return;
            }
            if (length > scratch.size() - used) {
                scratch.resize(std::max(scratch.size() * 2, used + length));
            }
            std::memcpy(&scratch[used], data, length);
            used += length;
        };
        bool replaced = false;
        size_t pos = 0;
        if (!text.empty()) {
            matcher.m_impl->Scan(bytes, text.size(), 0, [&](size_t start, size_t end) {
                replaced = true;
                put(text.data() + pos, start - pos);
                put(replacement.data(), replacement.size());
                pos = end;
                return all && end != start && end < text.size();
            });
        }
        if (!replaced) {
            matcher.m_impl->TrimStack();
            return std::string(text);
        }
        put(text.data() + pos, text.size() - pos);
        std::string out(scratch.data(), used);
        matcher.m_impl->TrimStack();
        return out;
    } catch (const std::bad_alloc&) {
        return std::string();
    }
}
