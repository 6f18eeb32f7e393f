// The store's matcher against PCRE2 (interpreter and JIT) and std::regex, each doing
// the same job on the same input: take an invoke request apart, scan StoreConfig
// pairs, scan a drag-out list, normalise argument paths.
#define PCRE2_CODE_UNIT_WIDTH 8
#include <benchmark/benchmark.h>
#include <pcre2.h>

#include <regex>
#include <string>
#include <vector>

#include "bench/bench_inputs.h"
#include "text/pattern_matcher.h"

namespace {

const char kArgumentsSplit[] = "<arguments>";
const char kInvokeName[] = "<invoke[ \\t]+name=\"{[^\"]+}";
const char kArgument[] = "(<{(string)|(number)}>){[^<]*?}(</(string)|(number)>)";
const char kNormalise[] = "[ \f\n\r\t\v]*[\\\\]+[ \f\n\r\t\v]*";
const char kPair[] = "{[^=]+?}={[^\\|]*?}\\|";
const char kDragRecord[] = "{\\d+}\\*{[^\\*]+?}\\*{\\d+}\\|";

// The same patterns in the common dialect (parentheses capture, alternation loosest).
const char kInvokeNameStd[] = "<invoke[ \\t]+name=\"([^\"]+)";
const char kArgumentStd[] = "<(string|number)>([^<]*?)</(?:string|number)>";
const char kNormaliseStd[] = "[ \f\n\r\t\v]*[\\\\]+[ \f\n\r\t\v]*";
const char kPairStd[] = "([^=]+?)=([^|]*?)\\|";
const char kDragRecordStd[] = "(\\d+)\\*([^*]+?)\\*(\\d+)\\|";

struct Inputs {
    std::string invoke = MakeInvokeRequest(1000);
    std::string storeConfig = MakeStoreConfig(200);
    std::string dragOut = MakeDragOutList(1000);
    std::vector<std::string> paths = MakeArgumentPaths(10000);
};

const Inputs& TheInputs() {
    static const Inputs inputs;
    return inputs;
}

// ---- ours -----------------------------------------------------------------------------

size_t OursScan(CPatternMatcher& matcher, const std::string& text, int groups) {
    size_t found = 0;
    size_t position = 0;
    while (position < text.size() && matcher.Match(text, position)) {
        for (int g = 0; g < groups; ++g) {
            found += matcher.Group(g).size();
        }
        position = matcher.MatchEnd();
    }
    return found;
}

void BM_Ours_Invoke(benchmark::State& state) {
    const std::string& text = TheInputs().invoke;
    CPatternMatcher name;
    CPatternMatcher argument;
    name.Compile(kInvokeName, true);
    argument.Compile(kArgument, true);
    for (auto _ : state) {
        std::vector<std::string> pieces = CPatternMatcher::Split(text, kArgumentsSplit, true);
        size_t found = 0;
        if (pieces.size() >= 2 && name.Match(pieces[0])) {
            found += name.Group(0).size();
        }
        if (pieces.size() >= 2) {
            found += OursScan(argument, pieces[1], 2);
        }
        benchmark::DoNotOptimize(found);
    }
}

void OursScanBench(benchmark::State& state, const std::string& text, const char* pattern,
                   int groups) {
    CPatternMatcher matcher;
    matcher.Compile(pattern, true);
    for (auto _ : state) {
        benchmark::DoNotOptimize(OursScan(matcher, text, groups));
    }
}

void BM_Ours_StoreConfig(benchmark::State& state) {
    OursScanBench(state, TheInputs().storeConfig, kPair, 2);
}
void BM_Ours_DragOut(benchmark::State& state) {
    OursScanBench(state, TheInputs().dragOut, kDragRecord, 3);
}
void BM_Ours_Paths(benchmark::State& state) {
    for (auto _ : state) {
        size_t total = 0;
        for (const std::string& path : TheInputs().paths) {
            total += CPatternMatcher::Replace(path, kNormalise, "\\", true, true).size();
        }
        benchmark::DoNotOptimize(total);
    }
}

// ---- PCRE2 ----------------------------------------------------------------------------

class Pcre2Pattern {
public:
    Pcre2Pattern(const char* pattern, bool jit) {
        int error = 0;
        PCRE2_SIZE offset = 0;
        m_code = pcre2_compile(reinterpret_cast<PCRE2_SPTR>(pattern), PCRE2_ZERO_TERMINATED, 0,
                               &error, &offset, nullptr);
        if (jit && m_code) {
            pcre2_jit_compile(m_code, PCRE2_JIT_COMPLETE);
        }
        m_data = pcre2_match_data_create_from_pattern(m_code, nullptr);
    }
    ~Pcre2Pattern() {
        pcre2_match_data_free(m_data);
        pcre2_code_free(m_code);
    }
    Pcre2Pattern(const Pcre2Pattern&) = delete;
    Pcre2Pattern& operator=(const Pcre2Pattern&) = delete;

    // Match from `start`; on success `vector` holds the offsets.
    bool Match(const std::string& text, size_t start) {
        const int rc = pcre2_match(m_code, reinterpret_cast<PCRE2_SPTR>(text.data()), text.size(),
                                   start, 0, m_data, nullptr);
        m_vector = pcre2_get_ovector_pointer(m_data);
        return rc > 0;
    }
    std::string Group(const std::string& text, int n) const {
        const PCRE2_SIZE begin = m_vector[2 * n];
        const PCRE2_SIZE end = m_vector[2 * n + 1];
        return begin == PCRE2_UNSET ? std::string() : text.substr(begin, end - begin);
    }
    size_t End() const { return m_vector[1]; }
    size_t Start() const { return m_vector[0]; }

private:
    pcre2_code* m_code = nullptr;
    pcre2_match_data* m_data = nullptr;
    PCRE2_SIZE* m_vector = nullptr;
};

size_t Pcre2Scan(Pcre2Pattern& pattern, const std::string& text, int groups) {
    size_t found = 0;
    size_t position = 0;
    while (position < text.size() && pattern.Match(text, position)) {
        for (int g = 1; g <= groups; ++g) {
            found += pattern.Group(text, g).size();
        }
        position = pattern.End();
    }
    return found;
}

std::vector<std::string> Pcre2Split(Pcre2Pattern& pattern, const std::string& text) {
    std::vector<std::string> pieces;
    size_t position = 0;
    while (position < text.size() && pattern.Match(text, position)) {
        pieces.push_back(text.substr(position, pattern.Start() - position));
        position = pattern.End();
    }
    if (position < text.size()) {
        pieces.push_back(text.substr(position));
    }
    return pieces;
}

std::string Pcre2ReplaceAll(Pcre2Pattern& pattern, const std::string& text,
                            const std::string& replacement) {
    std::string out;
    size_t position = 0;
    while (position < text.size() && pattern.Match(text, position)) {
        out.append(text, position, pattern.Start() - position);
        out += replacement;
        position = pattern.End();
    }
    out.append(text, position, std::string::npos);
    return out;
}

template <bool kJit>
void BM_Pcre2_Invoke(benchmark::State& state) {
    const std::string& text = TheInputs().invoke;
    Pcre2Pattern split(kArgumentsSplit, kJit);
    Pcre2Pattern name(kInvokeNameStd, kJit);
    Pcre2Pattern argument(kArgumentStd, kJit);
    for (auto _ : state) {
        std::vector<std::string> pieces = Pcre2Split(split, text);
        size_t found = 0;
        if (pieces.size() >= 2 && name.Match(pieces[0], 0)) {
            found += name.Group(pieces[0], 1).size();
        }
        if (pieces.size() >= 2) {
            found += Pcre2Scan(argument, pieces[1], 2);
        }
        benchmark::DoNotOptimize(found);
    }
}

template <bool kJit>
void Pcre2ScanBench(benchmark::State& state, const std::string& text, const char* pattern,
                    int groups) {
    Pcre2Pattern compiled(pattern, kJit);
    for (auto _ : state) {
        benchmark::DoNotOptimize(Pcre2Scan(compiled, text, groups));
    }
}

template <bool kJit>
void BM_Pcre2_StoreConfig(benchmark::State& state) {
    Pcre2ScanBench<kJit>(state, TheInputs().storeConfig, kPairStd, 2);
}
template <bool kJit>
void BM_Pcre2_DragOut(benchmark::State& state) {
    Pcre2ScanBench<kJit>(state, TheInputs().dragOut, kDragRecordStd, 3);
}
template <bool kJit>
void BM_Pcre2_Paths(benchmark::State& state) {
    Pcre2Pattern compiled(kNormaliseStd, kJit);
    const std::string backslash = "\\";
    for (auto _ : state) {
        size_t total = 0;
        for (const std::string& path : TheInputs().paths) {
            total += Pcre2ReplaceAll(compiled, path, backslash).size();
        }
        benchmark::DoNotOptimize(total);
    }
}

// ---- std::regex -----------------------------------------------------------------------

size_t StdScan(const std::regex& pattern, const std::string& text, int groups) {
    size_t found = 0;
    for (auto it = std::sregex_iterator(text.begin(), text.end(), pattern);
         it != std::sregex_iterator(); ++it) {
        for (int g = 1; g <= groups; ++g) {
            found += static_cast<size_t>((*it)[static_cast<size_t>(g)].length());
        }
    }
    return found;
}

void BM_StdRegex_Invoke(benchmark::State& state) {
    const std::string& text = TheInputs().invoke;
    const std::regex split(kArgumentsSplit);
    const std::regex name(kInvokeNameStd);
    const std::regex argument(kArgumentStd);
    for (auto _ : state) {
        std::vector<std::string> pieces(
            std::sregex_token_iterator(text.begin(), text.end(), split, -1),
            std::sregex_token_iterator());
        size_t found = 0;
        std::smatch match;
        if (pieces.size() >= 2 && std::regex_search(pieces[0], match, name)) {
            found += static_cast<size_t>(match[1].length());
        }
        if (pieces.size() >= 2) {
            found += StdScan(argument, pieces[1], 2);
        }
        benchmark::DoNotOptimize(found);
    }
}

void StdScanBench(benchmark::State& state, const std::string& text, const char* pattern,
                  int groups) {
    const std::regex compiled(pattern);
    for (auto _ : state) {
        benchmark::DoNotOptimize(StdScan(compiled, text, groups));
    }
}

void BM_StdRegex_StoreConfig(benchmark::State& state) {
    StdScanBench(state, TheInputs().storeConfig, kPairStd, 2);
}
void BM_StdRegex_DragOut(benchmark::State& state) {
    StdScanBench(state, TheInputs().dragOut, kDragRecordStd, 3);
}
void BM_StdRegex_Paths(benchmark::State& state) {
    const std::regex compiled(kNormaliseStd);
    for (auto _ : state) {
        size_t total = 0;
        for (const std::string& path : TheInputs().paths) {
            total += std::regex_replace(path, compiled, "\\").size();
        }
        benchmark::DoNotOptimize(total);
    }
}

}  // namespace

BENCHMARK(BM_Ours_Invoke)->Name("matcher/invoke/ours");
BENCHMARK(BM_Pcre2_Invoke<false>)->Name("matcher/invoke/pcre2-interp");
BENCHMARK(BM_Pcre2_Invoke<true>)->Name("matcher/invoke/pcre2-jit");
BENCHMARK(BM_StdRegex_Invoke)->Name("matcher/invoke/std-regex");

BENCHMARK(BM_Ours_StoreConfig)->Name("matcher/storeconfig/ours");
BENCHMARK(BM_Pcre2_StoreConfig<false>)->Name("matcher/storeconfig/pcre2-interp");
BENCHMARK(BM_Pcre2_StoreConfig<true>)->Name("matcher/storeconfig/pcre2-jit");
BENCHMARK(BM_StdRegex_StoreConfig)->Name("matcher/storeconfig/std-regex");

BENCHMARK(BM_Ours_DragOut)->Name("matcher/dragout/ours");
BENCHMARK(BM_Pcre2_DragOut<false>)->Name("matcher/dragout/pcre2-interp");
BENCHMARK(BM_Pcre2_DragOut<true>)->Name("matcher/dragout/pcre2-jit");
BENCHMARK(BM_StdRegex_DragOut)->Name("matcher/dragout/std-regex");

BENCHMARK(BM_Ours_Paths)->Name("matcher/paths/ours");
BENCHMARK(BM_Pcre2_Paths<false>)->Name("matcher/paths/pcre2-interp");
BENCHMARK(BM_Pcre2_Paths<true>)->Name("matcher/paths/pcre2-jit");
BENCHMARK(BM_StdRegex_Paths)->Name("matcher/paths/std-regex");
