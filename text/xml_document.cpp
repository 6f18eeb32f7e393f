// The XML reader: node loading, lookups, text, and the shared document.
//
// The loader follows a recursive description (an element loads its children one after the
// other, each child loading its own), but runs it on an explicit stack of open elements so
// that a hostile or broken file nested a hundred thousand levels deep cannot overflow the
// C++ stack. Freeing a tree and taking its text are iterative for the same reason. All
// scanning goes through one table of character classes, so each byte of the text is looked
// at a small constant number of times and the load is linear in the text length.
//
// Choices the reader makes where a file is broken:
// - A processing instruction, comment or CDATA section without its terminator fails the
//   load (nullptr; loadFile returns 0). Taking its "<" for a tag instead would turn the
//   rest of a truncated file into attributes of a made-up element.
// - Text that follows a processing instruction where an element was expected is left to
//   the enclosing element (it becomes element text by the usual rules); outside the
//   outermost element it is skipped up to the next "<".
// - An attribute name also ends at ">" and "/", so that `<a x=1 z>` and `<a z/>` give an
//   attribute "z" rather than swallowing the rest of the tag.
#include "text/xml_document.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <iterator>

#include "text/multibyte.h"
#include "text/xml_entities.h"

#ifdef _WIN32
#include <windows.h>
#endif
#ifdef __SSE2__
#include <emmintrin.h>
#endif

namespace {

const char kDeclaration[] = "<?xml version=\"1.0\" encoding=\"utf-8\" ?>";
constexpr std::string_view kCommentName = "#COMMENT";
constexpr std::string_view kCdataName = "#CDATA";

// Character classes. kEnd (the terminating zero) and kLead are part of every scan's stop
// set, so no scan can run past the text or split a two-byte character.
enum : std::uint16_t {
    kWhite = 1 << 0,         // TAB LF CR blank
    kLead = 1 << 1,          // first byte of a two-byte character
    kEnd = 1 << 2,           // the terminating zero
    kTagNameEnd = 1 << 3,    // " />\t\r\n"
    kAttrNameEnd = 1 << 4,   // " =>/"
    kBareValueEnd = 1 << 5,  // " >": unquoted attribute values and closing tag names
    kOpen = 1 << 6,          // '<'
    kBackslash = 1 << 7,
    kDoubleQuote = 1 << 8,
    kSingleQuote = 1 << 9,
    kEscape = 1 << 10,     // per load: the escape character
    kReference = 1 << 11,  // per load: first bytes of references
    kSpecial = kEscape | kReference,
};

struct CharClasses {
    std::uint16_t of[256] = {};
    bool anyLead = false;
    unsigned leadGeneration = 0;

    CharClasses() { Build(); }

    void Build() {
        std::fill(std::begin(of), std::end(of), std::uint16_t{0});
        anyLead = false;
        leadGeneration = LeadByteGeneration();
        for (unsigned i = 0; i < 256; ++i) {
            if (IsLeadByte(static_cast<unsigned char>(i))) {
                of[i] |= kLead;
                anyLead = true;
            }
        }
        of[0] |= kEnd;
        Mark("\t\n\r ", kWhite);
        Mark(" />\t\r\n", kTagNameEnd);
        Mark(" =>/", kAttrNameEnd);
        Mark(" >", kBareValueEnd);
        Mark("<", kOpen);
        Mark("\\", kBackslash);
        Mark("\"", kDoubleQuote);
        Mark("'", kSingleQuote);
    }

    void Mark(const char* chars, std::uint16_t bit) {
        for (; *chars != '\0'; ++chars) {
            of[static_cast<unsigned char>(*chars)] |= bit;
        }
    }
};

// Built once; rebuilt only when a test swaps the lead-byte set.
const CharClasses& Classes() {
    static CharClasses classes;
    if (classes.leadGeneration != LeadByteGeneration()) {
        classes.Build();
    }
    return classes;
}

unsigned Byte(char c) {
    return static_cast<unsigned char>(c);
}

char LowerAscii(char c) {
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

// Case-insensitive prefix test; stops at the text's zero because no pattern holds one.
bool StartsWithNoCase(const char* p, const char* pattern) {
    for (; *pattern != '\0'; ++p, ++pattern) {
        if (*p != *pattern && LowerAscii(*p) != LowerAscii(*pattern)) {
            return false;
        }
    }
    return true;
}

// Copies `size` bytes, between one and two words, as two overlapping word moves.
template <typename Word>
void CopyHeadAndTail(char* to, const char* from, size_t size) {
    Word head;
    Word tail;
    std::memcpy(&head, from, sizeof head);
    std::memcpy(&tail, from + size - sizeof tail, sizeof tail);
    std::memcpy(to, &head, sizeof head);
    std::memcpy(to + size - sizeof tail, &tail, sizeof tail);
}

// Copies a few bytes without a library call: two overlapping moves cover every length
// from 4 to 16.
void CopyBytes(char* to, const char* from, size_t size) {
    if (size > 16) {
        std::memcpy(to, from, size);
    } else if (size >= 8) {
        CopyHeadAndTail<std::uint64_t>(to, from, size);
    } else if (size >= 4) {
        CopyHeadAndTail<std::uint32_t>(to, from, size);
    } else if (size > 0) {
        to[0] = from[0];
        to[size / 2] = from[size / 2];
        to[size - 1] = from[size - 1];
    }
}

// Replaces a string's content with text from outside it. A reused node's strings still
// hold the last load's text, which is mostly as long as the new one or longer: that case
// is written over in place and cut, without a library call.
void Assign(std::string& out, const char* begin, const char* end) {
    const auto size = static_cast<size_t>(end - begin);
    if (size <= out.size()) {
        CopyBytes(&out[0], begin, size);
        out.erase(size);
    } else {
        out.assign(begin, size);
    }
}

// Room for a decoded value. Values are mostly short and fit the fixed part, which spares
// a load of a small text any allocation; longer ones use a string that only grows.
class ScratchBuffer {
public:
    char* Reserve(size_t size) {
        if (size <= sizeof local_) {
            return local_;
        }
        if (heap_.size() < size) {
            heap_.resize(std::max(size, 2 * heap_.size()));
        }
        return &heap_[0];
    }

private:
    char local_[256];
    std::string heap_;
};

template <typename Word>
bool SameWord(const char* a, const char* b) {
    Word x;
    Word y;
    std::memcpy(&x, a, sizeof x);
    std::memcpy(&y, b, sizeof y);
    return x == y;
}

// Tag names are short: a few words at a time beats a library call. Lengths from 4 up are
// compared in words, the last one overlapping the one before.
bool Equal(std::string_view a, const std::string& b) {
    const size_t size = a.size();
    if (size != b.size()) {
        return false;
    }
    const char* x = a.data();
    const char* y = b.data();
    if (size >= 8) {
        for (size_t i = 0; i + 8 < size; i += 8) {
            if (!SameWord<std::uint64_t>(x + i, y + i)) {
                return false;
            }
        }
        return SameWord<std::uint64_t>(x + size - 8, y + size - 8);
    }
    if (size >= 4) {
        return SameWord<std::uint32_t>(x, y) && SameWord<std::uint32_t>(x + size - 4, y + size - 4);
    }
    for (size_t i = 0; i < size; ++i) {
        if (x[i] != y[i]) {
            return false;
        }
    }
    return true;
}

// Elements mostly have a few children or attributes: room for four at the first saves the
// two reallocations that growing one by one would cost.
template <typename Item>
void Append(std::vector<std::unique_ptr<Item>>& items, std::unique_ptr<Item> item) {
    if (items.capacity() == 0) {
        items.reserve(4);
    }
    items.push_back(std::move(item));
}

// Moves the items from `keep` on to `spare`, keeping `items` to its first `keep`.
template <typename Item>
void MoveTailAside(std::vector<std::unique_ptr<Item>>& items, size_t keep,
                   std::vector<std::unique_ptr<Item>>& spare) {
    if (items.size() <= keep) {
        return;
    }
    for (size_t i = keep; i < items.size(); ++i) {
        spare.push_back(std::move(items[i]));
    }
    items.resize(keep);
}

class XmlLoader {
public:
    explicit XmlLoader(XmlParseOptions& options) : options_(options), classes_(Classes()) {
        // Values without these characters are copied as they stand, found in the same pass
        // that finds their end.
        if (options.escapeChar != '\0') {
            classes_.of[Byte(options.escapeChar)] |= kEscape;
        }
        // The fast text scan looks for four bytes at most: the end of the text run, the
        // backslash, the escape character and the one byte every reference starts with.
        fastEscape_ = options.escapeChar != '\0' ? options.escapeChar : '\\';
        fastReferenceStart_ = '\\';
        fastScan_ = !classes_.anyLead;
        if (options.decodeEntities && options.entities != nullptr) {
            const std::vector<XmlEntity>& entries = options.entities->entries();
            for (const XmlEntity& entity : entries) {
                classes_.of[Byte(entity.reference[0])] |= kReference;
                fastScan_ = fastScan_ && entity.reference[0] == entries.front().reference[0];
            }
            if (!entries.empty()) {
                fastReferenceStart_ = entries.front().reference[0];
            }
        }
    }

    // `end` is the text's terminating zero.
    const char* Load(XmlNode& root, const char* text, const char* end);

private:
    enum class Head { kFail, kReturn, kChildren };
    enum class Step { kFail, kReturn, kNextChild };

    // One element whose children are being loaded, with the child being loaded now.
    // While its text runs are blank each one replaces the last, so a run that needs no
    // escape or reference work is kept as a span and copied once, when the element ends.
    // The children of `node` are filled in place: the first `used` are this load's, the rest
    // the last load's, each reused as the next child (with its own old children and
    // attributes reused the same way below it). `child`, when set, is children[used].
    struct Frame {
        XmlNode* node;
        size_t used;
        XmlNode* child;
        bool valueBlank;
        const char* runBegin;  // null when `value` is up to date
        const char* runEnd;
    };

    // TakeRun, LoadTag and AfterChild run for every node and have one or two callers: they
    // are forced inline into the load loop, which keeps the position in a register instead
    // of passing it through memory.
    inline void TakeRun(Frame& frame, const char*& p);
    void PopFrame(std::vector<Frame>& stack);

    XmlNode* LoadHead(Frame* top, XmlNode& root, const char*& p);
    Head FindTag(Frame* top, XmlNode* outerParent, const char*& p);
    inline Head LoadTag(XmlNode& node, const char*& p);
    inline Step AfterChild(Frame& frame, const char*& p);
    bool AttachSpecial(Frame* top, XmlNode* parent, int type, std::string_view name,
                       const char* begin, const char* end);
    void TakeValue(const char* begin, const char* end, std::uint16_t special, std::string& out);
    void Fail(int code, const char* position, const std::string& text);

    // Node reuse: loading into a node that already holds a tree (the shared document, on
    // every load) fills the old nodes again where they are, so a reload of a similar text
    // costs next to no allocation and mostly writes strings over strings of the same
    // length. Old nodes and attributes left over are moved aside (with what they hold) to
    // serve where a new one is needed, and freed when the load ends, so a tree never holds
    // more memory than it needs.
    XmlNode* TakeChild(Frame& frame);
    XmlAttribute& TakeAttribute(XmlNode& node, size_t index);
    void DropChildren(XmlNode& node, size_t keep);
    void DropAttributes(XmlNode& node, size_t keep);
    std::unique_ptr<XmlNode> NewNode();

    // The character after the one at p: a lead byte takes its trail byte along, and the
    // terminating zero is never stepped over.
    const char* Next(const char* p) const {
        if (*p == '\0') {
            return p;
        }
        if ((classes_.of[Byte(*p)] & kLead) != 0 && p[1] != '\0') {
            return p + 2;
        }
        return p + 1;
    }

    bool IsBlank(const std::string& text) const {
        for (char c : text) {
            if ((classes_.of[Byte(c)] & kWhite) == 0) {
                return false;
            }
        }
        return true;
    }

    const char* SkipWhite(const char* p) const {
        while ((classes_.of[Byte(*p)] & kWhite) != 0) {
            ++p;
        }
        return p;
    }

    // First character of class `stop` (or the end), stepping over two-byte characters and,
    // when `backslashProtects`, over any character that follows a backslash. `special`
    // gathers the classes kEscape and kReference of the characters passed.
    const char* ScanTo(const char* p, std::uint16_t stop, bool backslashProtects,
                       std::uint16_t& special) const {
        const std::uint16_t mask = static_cast<std::uint16_t>(stop | kEnd | kLead | kSpecial |
                                                              (backslashProtects ? kBackslash : 0));
        for (;;) {
            const std::uint16_t cls = classes_.of[Byte(*p)];
            if ((cls & mask) == 0) {
                ++p;
                continue;
            }
            if ((cls & stop) != 0 || *p == '\0') {
                return p;
            }
            special = static_cast<std::uint16_t>(special | (cls & kSpecial));
            if ((cls & kLead) != 0) {
                p = Next(p);
            } else if (backslashProtects && *p == '\\') {
                p = Next(p + 1);  // the character after a backslash belongs to the text
            } else {
                ++p;
            }
        }
    }

    const char* ScanTo(const char* p, std::uint16_t stop) const {
        std::uint16_t special = 0;
        return ScanTo(p, stop, false, special);
    }

    // ScanTo for element text and quoted values, where a backslash protects the next
    // character. These runs can be long, so where the CPU allows it, 16 bytes that need no
    // attention are passed over at once.
    const char* ScanText(const char* p, char stopChar, std::uint16_t stop,
                         std::uint16_t& special) const {
#ifdef __SSE2__
        if (fastScan_) {
            const __m128i stopBytes = _mm_set1_epi8(stopChar);
            const __m128i backslashes = _mm_set1_epi8('\\');
            const __m128i escapes = _mm_set1_epi8(fastEscape_);
            const __m128i referenceStarts = _mm_set1_epi8(fastReferenceStart_);
            while (end_ - p >= 16) {
                const __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
                const __m128i hits =
                    _mm_or_si128(_mm_or_si128(_mm_cmpeq_epi8(bytes, stopBytes),
                                              _mm_cmpeq_epi8(bytes, backslashes)),
                                 _mm_or_si128(_mm_cmpeq_epi8(bytes, escapes),
                                              _mm_cmpeq_epi8(bytes, referenceStarts)));
                const auto mask = static_cast<unsigned>(_mm_movemask_epi8(hits));
                if (mask == 0) {
                    p += 16;
                    continue;
                }
                p += __builtin_ctz(mask);
                if (*p == stopChar) {
                    return p;
                }
                special = static_cast<std::uint16_t>(special | (classes_.of[Byte(*p)] & kSpecial));
                p = *p == '\\' ? Next(p + 1) : p + 1;
            }
        }
#else
        (void)stopChar;
#endif
        return ScanTo(p, stop, true, special);
    }

    const char* FindOpen(const char* p) const {
        if (*p == '<') {
            return p;
        }
        if (!classes_.anyLead) {
            return std::strchr(p, '<');
        }
        p = ScanTo(p, kOpen);
        return *p == '<' ? p : nullptr;
    }

    // Start of `terminator`, compared case-insensitively, or nullptr when the text ends
    // first. A lone escape character is skipped and never starts a match.
    const char* FindTerminator(const char* p, const char* terminator) const {
        const char escape = options_.escapeChar;
        if (!classes_.anyLead && escape != terminator[0]) {
            // Every byte starts a character and the terminators start with a non-letter
            // that is not the escape character, so only its plain occurrences can match.
            for (;;) {
                const void* found = std::memchr(p, terminator[0], static_cast<size_t>(end_ - p));
                if (found == nullptr) {
                    return nullptr;
                }
                p = static_cast<const char*>(found);
                if (StartsWithNoCase(p, terminator)) {
                    return p;
                }
                ++p;
            }
        }
        bool skipped = false;
        while (*p != '\0') {
            if (escape != '\0' && *p == escape && !skipped) {
                skipped = true;
            } else {
                skipped = false;
                if (StartsWithNoCase(p, terminator)) {
                    return p;
                }
            }
            p = Next(p);
        }
        return nullptr;
    }

    XmlParseOptions& options_;
    CharClasses classes_;
    const char* end_ = nullptr;  // the terminating zero of the text
    bool fastScan_ = false;
    char fastEscape_ = '\\';
    char fastReferenceStart_ = '\\';
    // Stacks: the next one to reuse is at the back.
    std::vector<std::unique_ptr<XmlNode>> spareNodes_;
    std::vector<std::unique_ptr<XmlAttribute>> spareAttributes_;
    ScratchBuffer unescaped_;
    ScratchBuffer decoded_;
    Head headResult_ = Head::kReturn;
};

XmlNode* XmlLoader::TakeChild(Frame& frame) {
    XmlNode& parent = *frame.node;
    XmlNode* child;
    if (frame.used < parent.children.size()) {
        child = parent.children[frame.used].get();
    } else {
        Append(parent.children, NewNode());
        child = parent.children.back().get();
    }
    child->parent = &parent;
    child->type = parent.type;
    return child;
}

XmlAttribute& XmlLoader::TakeAttribute(XmlNode& node, size_t index) {
    if (index == node.attributes.size()) {
        if (spareAttributes_.empty()) {
            Append(node.attributes, std::make_unique<XmlAttribute>());
        } else {
            Append(node.attributes, std::move(spareAttributes_.back()));
            spareAttributes_.pop_back();
        }
    }
    XmlAttribute& attribute = *node.attributes[index];
    attribute.parent = &node;
    return attribute;
}

void XmlLoader::DropChildren(XmlNode& node, size_t keep) {
    MoveTailAside(node.children, keep, spareNodes_);
}

void XmlLoader::DropAttributes(XmlNode& node, size_t keep) {
    MoveTailAside(node.attributes, keep, spareAttributes_);
}

std::unique_ptr<XmlNode> XmlLoader::NewNode() {
    if (spareNodes_.empty()) {
        return std::make_unique<XmlNode>();
    }
    std::unique_ptr<XmlNode> node = std::move(spareNodes_.back());
    spareNodes_.pop_back();
    return node;
}

const char* XmlLoader::Load(XmlNode& root, const char* text, const char* end) {
    // The root's strings start empty; its children and attributes are reused like any
    // other node's.
    root.name.clear();
    root.value.clear();
    end_ = end;
    std::vector<Frame> stack;
    stack.reserve(16);
    const char* p = text;
    for (;;) {
        // Steps up to the start tag's ">" of the top frame's next child (or of the root).
        XmlNode* node = LoadHead(stack.empty() ? nullptr : &stack.back(), root, p);
        const Head head = node != nullptr ? LoadTag(*node, p) : headResult_;
        bool returning = head != Head::kChildren;
        const char* result = head == Head::kFail ? nullptr : p;
        if (!returning) {
            stack.push_back(Frame{node, 0, nullptr, true, nullptr, nullptr});
            TakeRun(stack.back(), p);
        } else if (node != nullptr) {
            // An element without children: nothing of the last load's may stay in it.
            node->value.clear();
            DropChildren(*node, 0);
        } else if (stack.empty()) {
            DropChildren(root, 0);  // no root element at all
            DropAttributes(root, 0);
        }
        for (;;) {
            if (returning) {
                // The top frame's child finished with `result`.
                if (stack.empty()) {
                    return result;
                }
                Frame& top = stack.back();
                if (top.child != nullptr) {
                    // A nameless child is not kept: its place goes to the next one.
                    if (!top.child->name.empty()) {
                        ++top.used;
                    }
                    top.child = nullptr;
                }
                if (result == nullptr) {
                    PopFrame(stack);
                    continue;
                }
                p = result;
                const Step step = AfterChild(top, p);
                if (step != Step::kNextChild) {
                    result = step == Step::kFail ? nullptr : p;
                    PopFrame(stack);
                    continue;
                }
            }
            if (*p == '\0') {
                // An element still open at the end of the text is accepted.
                result = p;
                returning = true;
                PopFrame(stack);
                continue;
            }
            if (p[0] == '<' && p[1] == '/') {
                // A child loaded here would return this position at once and stay nameless:
                // skip making it.
                result = p;
                returning = true;
                continue;
            }
            break;
        }
    }
}

// Finds the next tag for the top frame's next child (or the root, when there is no frame)
// and returns the node to load it into; nullptr when there is none, with the outcome in
// headResult_. The child's place is taken only once its tag is found, after the comments
// and CDATA sections on the way have taken theirs, so that each reused node mostly gets
// the same part it had in the last load and its strings keep their length.
XmlNode* XmlLoader::LoadHead(Frame* top, XmlNode& root, const char*& p) {
    headResult_ = FindTag(top, root.parent, p);
    if (headResult_ != Head::kChildren) {
        return nullptr;
    }
    if (top == nullptr) {
        return &root;
    }
    top->child = TakeChild(*top);
    return top->child;
}

// Steps to the '<' of the next tag (kChildren), taking the instructions, comments and
// CDATA sections on the way.
// `top` is the frame whose child is looked for; without one, `outerParent` (the parent of
// the node being loaded) takes the comments and CDATA sections.
XmlLoader::Head XmlLoader::FindTag(Frame* top, XmlNode* outerParent, const char*& p) {
    XmlNode* const parent = top != nullptr ? top->node : outerParent;
    p = FindOpen(p);
    if (p == nullptr) {
        return Head::kFail;
    }
    for (;;) {
        if (p[1] == '/') {
            return Head::kReturn;  // the caller's own closing tag
        }
        // Every construct starts with "<?" or "<!"; most tags do not.
        bool consumed = p[1] == '?' || p[1] == '!';
        while (consumed) {
            consumed = false;
            p = SkipWhite(p);
            if (StartsWithNoCase(p, "<?")) {
                // Processing instructions, the XML declaration among them, are not kept.
                const char* end = FindTerminator(p + 2, "?>");
                if (end == nullptr) {
                    return Head::kFail;
                }
                p = end + 2;
                consumed = true;
            }
            p = SkipWhite(p);
            if (StartsWithNoCase(p, "<!--")) {
                const char* end = FindTerminator(p + 4, "-->");
                if (end == nullptr) {
                    return Head::kFail;
                }
                const bool returnNow =
                    AttachSpecial(top, parent, kXmlComment, kCommentName, p + 4, end);
                p = end + 3;
                if (returnNow) {
                    return Head::kReturn;
                }
                consumed = true;
            }
            p = SkipWhite(p);
            if (StartsWithNoCase(p, "<![CDATA[")) {
                const char* end = FindTerminator(p + 9, "]]>");
                if (end == nullptr) {
                    return Head::kFail;
                }
                const bool returnNow =
                    AttachSpecial(top, parent, kXmlCdata, kCdataName, p + 9, end);
                p = end + 3;
                if (returnNow) {
                    return Head::kReturn;
                }
                consumed = true;
            }
        }
        if (*p == '<') {
            if (p[1] == '/') {
                return Head::kReturn;  // nothing but instructions before the closing tag
            }
            break;
        }
        if (*p == '\0' || parent != nullptr) {
            return Head::kReturn;
        }
        const char* open = FindOpen(p);
        if (open == nullptr) {
            p += std::strlen(p);
            return Head::kReturn;
        }
        p = open;
    }
    return Head::kChildren;
}

// The tag at p: its name and attributes.
__attribute__((always_inline)) inline XmlLoader::Head XmlLoader::LoadTag(XmlNode& node,
                                                                         const char*& p) {
    ++p;
    const char* nameStart = p;
    p = ScanTo(p, kTagNameEnd);
    Assign(node.name, nameStart, p);

    size_t attributeCount = 0;
    for (;;) {
        p = SkipWhite(p);
        if (*p == '>' || *p == '/') {
            break;
        }
        const char* attributeStart = p;
        const char* attributeEnd = ScanTo(p, kAttrNameEnd);
        if (*attributeEnd == '\0') {
            DropAttributes(node, attributeCount);
            Fail(kXmlErrorAttribute, attributeStart, "<" + node.name + "> attribute has error ");
            return Head::kFail;
        }
        XmlAttribute& attribute = TakeAttribute(node, attributeCount++);
        Assign(attribute.name, attributeStart, attributeEnd);
        p = SkipWhite(attributeEnd);
        if (*p != '=') {
            attribute.value.clear();
            continue;
        }
        p = SkipWhite(p + 1);
        std::uint16_t special = 0;
        if (*p == '"' || *p == '\'') {
            const std::uint16_t quote = *p == '"' ? kDoubleQuote : kSingleQuote;
            const char* valueStart = p + 1;
            const char* valueEnd = ScanText(valueStart, *p, quote, special);
            TakeValue(valueStart, valueEnd, special, attribute.value);
            p = *valueEnd == '\0' ? valueEnd : valueEnd + 1;
        } else {
            const char* valueStart = p;
            p = ScanTo(p, kBareValueEnd, false, special);
            TakeValue(valueStart, p, special, attribute.value);
        }
    }

    DropAttributes(node, attributeCount);
    if (*p == '/') {
        if (p[1] == '>') {
            p += 2;
            return Head::kReturn;
        }
        Fail(kXmlErrorElementNotClosed, p + 1, "Element must be closed.");
        return Head::kFail;
    }
    ++p;  // '>'; the text after it is taken by the caller
    return Head::kChildren;
}

__attribute__((always_inline)) inline XmlLoader::Step XmlLoader::AfterChild(Frame& frame,
                                                                            const char*& p) {
    XmlNode& node = *frame.node;
    if (p[0] == '<' && p[1] == '/') {
        const char* closeStart = SkipWhite(p + 2);
        const char* closeEnd = ScanTo(closeStart, kBareValueEnd);
        if (*closeEnd == '\0') {
            Fail(kXmlErrorClosingTagAtEnd, closeStart,
                 "it must be closed with </" + node.name + ">");
            return Step::kFail;
        }
        const std::string_view closeName(closeStart, static_cast<size_t>(closeEnd - closeStart));
        p = closeEnd + 1;
        if (Equal(closeName, node.name)) {
            return Step::kReturn;
        }
        if (!options_.forceParse) {
            Fail(kXmlErrorNotWellFormed, p,
                 "'<" + node.name + "> ... </" + std::string(closeName) + ">' is not wel-formed.");
            return Step::kFail;
        }
        return Step::kNextChild;
    }
    // The first non-blank text run wins; while the value is blank each later run replaces it.
    if (!frame.valueBlank || *p == '<') {
        return Step::kNextChild;
    }
    TakeRun(frame, p);
    return Step::kNextChild;
}

__attribute__((always_inline)) inline void XmlLoader::TakeRun(Frame& frame, const char*& p) {
    const char* begin = p;
    // Most runs between tags are indentation: blank up to the next tag, found without the
    // wider scan below.
    const char* afterWhite = SkipWhite(p);
    if (*afterWhite == '<') {
        p = afterWhite;
        frame.runBegin = begin;
        frame.runEnd = p;
        frame.valueBlank = true;
        return;
    }
    std::uint16_t special = 0;
    p = ScanText(p, '<', kOpen, special);
    if (special != 0) {
        frame.runBegin = nullptr;
        TakeValue(begin, p, special, frame.node->value);
        frame.valueBlank = IsBlank(frame.node->value);
        return;
    }
    // Without escapes and references the value is the run itself, trimmed or not, so its
    // blankness can be read from the text.
    frame.runBegin = begin;
    frame.runEnd = p;
    frame.valueBlank = true;
    for (const char* c = begin; c < p; ++c) {
        if ((classes_.of[Byte(*c)] & kWhite) == 0) {
            frame.valueBlank = false;
            break;
        }
    }
}

void XmlLoader::PopFrame(std::vector<Frame>& stack) {
    Frame& top = stack.back();
    if (top.runBegin != nullptr) {
        TakeValue(top.runBegin, top.runEnd, 0, top.node->value);
    }
    DropChildren(*top.node, top.used);
    stack.pop_back();
}

// Comments and CDATA sections go to the parent of the node being loaded, which puts them
// among the children of the enclosing element in document order. Outside the outermost
// element there is no parent and they are dropped. Returns true when the load of `node`
// must end here (the parent is an element).
bool XmlLoader::AttachSpecial(Frame* top, XmlNode* parent, int type, std::string_view name,
                              const char* begin, const char* end) {
    if (parent == nullptr) {
        return false;
    }
    XmlNode* special;
    if (top != nullptr) {
        special = TakeChild(*top);
        ++top->used;
    } else {
        // The parent of a node loaded on its own: it is not being filled, add to it.
        Append(parent->children, NewNode());
        special = parent->children.back().get();
        special->parent = parent;
    }
    special->type = type;
    DropChildren(*special, 0);
    DropAttributes(*special, 0);
    Assign(special->name, name.data(), name.data() + name.size());
    Assign(special->value, begin, end);
    return parent->type == kXmlElement;
}

// `special` holds the classes kEscape and kReference of the characters the scan that found
// the value met.
void XmlLoader::TakeValue(const char* begin, const char* end, std::uint16_t special,
                          std::string& out) {
    if (options_.trimValues) {
        while (begin < end && (classes_.of[Byte(*begin)] & kWhite) != 0) {
            ++begin;
        }
        while (end > begin && (classes_.of[Byte(end[-1])] & kWhite) != 0) {
            --end;
        }
    }
    if (special == 0) {
        Assign(out, begin, end);
        return;
    }
    // Both steps below only ever shorten the text, so each writes into a buffer of the
    // loader's that only grows; the value itself is assigned once, at the end.
    const auto size = static_cast<size_t>(end - begin);
    const char escape = options_.escapeChar;
    // The scans step over the character after a backslash unseen, so only a backslash
    // escape character is always seen where it is one.
    const bool mayHoldEscape = (special & kEscape) != 0 || escape != '\\';
    if (escape != '\0' && mayHoldEscape && std::memchr(begin, escape, size) != nullptr) {
        // The escape character is dropped and the character after it kept as it is; a trail
        // byte that happens to equal the escape character is no escape.
        char* const unescaped = unescaped_.Reserve(size);
        char* write = unescaped;
        const char* p = begin;
        if (!classes_.anyLead) {
            // Single-byte text: values are short, a byte loop beats library calls.
            while (p < end) {
                char c = *p++;
                if (c == escape) {
                    if (p == end) {
                        break;
                    }
                    c = *p++;
                }
                *write++ = c;
            }
        }
        while (p < end) {
            if (*p == escape) {
                ++p;
                if (p == end) {
                    break;
                }
            }
            const char* next = Next(p);
            while (p < next && p < end) {
                *write++ = *p++;
            }
        }
        begin = unescaped;
        end = write;
    }
    if (options_.decodeEntities && options_.entities != nullptr) {
        const std::string_view raw(begin, static_cast<size_t>(end - begin));
        char* const decoded = decoded_.Reserve(raw.size());
        Assign(out, decoded, decoded + options_.entities->decode(raw, decoded));
    } else {
        Assign(out, begin, end);
    }
}

void XmlLoader::Fail(int code, const char* position, const std::string& text) {
    if (options_.errorOccurred) {
        return;
    }
    options_.errorOccurred = true;
    options_.errorPosition = position;
    options_.errorCode = code;
    options_.errorText = text;
}

void AppendValue(std::string& out, const std::string& value, const XmlTextOptions& options) {
    if (options.encodeEntities && options.entities != nullptr &&
        options.entities->needsEncoding(value)) {
        out += options.entities->encode(value);
    } else {
        out += value;
    }
}

template <typename Item>
Item* FindByName(const std::vector<std::unique_ptr<Item>>& items, std::string_view name) {
    for (const std::unique_ptr<Item>& item : items) {
        if (item->name == name) {
            return item.get();
        }
    }
    return nullptr;
}

// The existence test before the real open: with sharing allowed, a settings file that
// another program holds open for writing still counts as present.
bool CanOpenForReading(const char* path) {
#ifdef _WIN32
    HANDLE file = CreateFileA(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                              OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        return false;
    }
    CloseHandle(file);
    return true;
#else
    std::FILE* file = std::fopen(path, "r");
    if (file == nullptr) {
        return false;
    }
    std::fclose(file);
    return true;
#endif
}

}  // namespace

XmlParseOptions::XmlParseOptions() : entities(&TheXmlEntityTable()) {}

XmlTextOptions::XmlTextOptions() : entities(&TheXmlEntityTable()) {}

XmlNode::~XmlNode() {
    clear();
}

void XmlNode::clear() {
    attributes.clear();
    // Flatten the subtree into a work list so that freeing never recurses.
    std::vector<std::unique_ptr<XmlNode>> pending = std::move(children);
    children.clear();
    while (!pending.empty()) {
        std::unique_ptr<XmlNode> node = std::move(pending.back());
        pending.pop_back();
        for (std::unique_ptr<XmlNode>& child : node->children) {
            pending.push_back(std::move(child));
        }
        node->children.clear();
    }
}

const char* XmlNode::load(const char* text, XmlParseOptions& options) {
    if (text == nullptr) {
        return nullptr;
    }
    XmlLoader loader(options);
    return loader.Load(*this, text, text + std::strlen(text));
}

XmlNode* XmlNode::findChild(std::string_view childName) {
    return FindByName(children, childName);
}

const XmlNode* XmlNode::findChild(std::string_view childName) const {
    return FindByName(children, childName);
}

XmlAttribute* XmlNode::findAttribute(std::string_view attributeName) {
    return FindByName(attributes, attributeName);
}

const XmlAttribute* XmlNode::findAttribute(std::string_view attributeName) const {
    return FindByName(attributes, attributeName);
}

std::string XmlNode::text(const XmlTextOptions& options) const {
    // Children of an element always use the process-wide defaults; children of a document
    // node use the options it was given.
    struct Item {
        const XmlNode* node;
        size_t nextChild;
        const XmlTextOptions* options;
    };
    std::string out;
    std::vector<Item> stack;
    stack.push_back(Item{this, 0, &options});
    while (!stack.empty()) {
        Item& item = stack.back();
        const XmlNode& node = *item.node;
        if (node.type == kXmlCdata) {
            out += node.value;
        } else if (node.type == kXmlElement || node.type == kXmlDocumentNode) {
            if (item.nextChild < node.children.size()) {
                const XmlNode* child = node.children[item.nextChild++].get();
                const XmlTextOptions* childOptions =
                    node.type == kXmlDocumentNode ? item.options : &TheXmlTextOptions();
                stack.push_back(Item{child, 0, childOptions});
                continue;
            }
            if (node.type == kXmlElement) {
                AppendValue(out, node.value, *item.options);
            }
        }
        stack.pop_back();
    }
    return out;
}

std::string XmlNode::text() const {
    return text(TheXmlTextOptions());
}

std::string XmlNode::childText(std::string_view childName, const XmlTextOptions& options) const {
    const XmlNode* child = findChild(childName);
    return child != nullptr ? child->text(options) : std::string();
}

std::string XmlNode::childText(std::string_view childName) const {
    return childText(childName, TheXmlTextOptions());
}

int XmlDocument::loadFile(const char* path) {
    return loadFile(path, TheXmlParseOptions());
}

// The root is not cleared up front: the load does that itself and reuses the old nodes.
int XmlDocument::loadFile(const char* path, XmlParseOptions& options) {
    fileName = path != nullptr ? path : "";
    text_.clear();
    if (path == nullptr || !CanOpenForReading(path)) {
        text_ = kDeclaration;
        return loadBuffer(text_.c_str(), options);
    }
    std::FILE* file = std::fopen(path, "rt");
    if (file == nullptr) {
        return loadBuffer(nullptr, options);
    }
    char chunk[1024];
    for (;;) {
        const size_t count = std::fread(chunk, 1, sizeof chunk, file);
        if (count == 0) {
            break;
        }
        text_.append(chunk, count);
    }
    std::fclose(file);
    return loadBuffer(text_.c_str(), options);
}

int XmlDocument::loadText(const char* text) {
    return loadText(text, TheXmlParseOptions());
}

int XmlDocument::loadText(const char* text, XmlParseOptions& options) {
    fileName.clear();
    return loadBuffer(text, options);
}

int XmlDocument::loadText(const std::string& text) {
    return loadText(text.c_str(), TheXmlParseOptions());
}

int XmlDocument::loadText(const std::string& text, XmlParseOptions& options) {
    return loadText(text.c_str(), options);
}

int XmlDocument::loadText(std::string_view text) {
    return loadText(text, TheXmlParseOptions());
}

int XmlDocument::loadText(std::string_view text, XmlParseOptions& options) {
    text_.assign(text.data(), text.size());
    return loadText(text_.c_str(), options);
}

// A null text fails like an unreadable file: the tree is emptied, nothing is parsed.
int XmlDocument::loadBuffer(const char* text, XmlParseOptions& options) {
    if (text == nullptr) {
        loaded_ = std::string_view();
        root.clear();
        root.name.clear();
        root.value.clear();
        return 0;
    }
    loaded_ = std::string_view(text);
    XmlLoader loader(options);
    return loader.Load(root, text, text + loaded_.size()) != nullptr ? 1 : 0;
}

XmlDocument& TheXmlDocument() {
    static XmlDocument document;
    return document;
}

XmlParseOptions& TheXmlParseOptions() {
    static XmlParseOptions options;
    return options;
}

XmlTextOptions& TheXmlTextOptions() {
    static XmlTextOptions options;
    return options;
}
