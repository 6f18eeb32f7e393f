// The store's XML reader against pugixml and tinyxml2: each builds its full tree from
// the same in-memory settings-like document of 10 KB, 1 MB and 8 MB. Every reader loads
// into one document object that lives across iterations, as the store reloads its one
// process-wide document.
#include <benchmark/benchmark.h>
#include <pugixml.hpp>
#include <tinyxml2.h>

#include <map>
#include <string>

#include "bench/bench_inputs.h"
#include "text/xml_document.h"

namespace {

const std::string& DocumentOfSize(size_t bytes) {
    static std::map<size_t, std::string> documents;
    auto found = documents.find(bytes);
    if (found == documents.end()) {
        found = documents.emplace(bytes, MakeXmlDocument(bytes)).first;
    }
    return found->second;
}

void SetBytes(benchmark::State& state, const std::string& text) {
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) *
                            static_cast<int64_t>(text.size()));
}

template <size_t kBytes>
void BM_Ours(benchmark::State& state) {
    const std::string& text = DocumentOfSize(kBytes);
    XmlDocument document;
    for (auto _ : state) {
        XmlParseOptions options;
        benchmark::DoNotOptimize(document.loadText(text, options));
        benchmark::DoNotOptimize(document.root.children.size());
    }
    SetBytes(state, text);
}

template <size_t kBytes>
void BM_Pugixml(benchmark::State& state) {
    const std::string& text = DocumentOfSize(kBytes);
    pugi::xml_document document;
    for (auto _ : state) {
        benchmark::DoNotOptimize(document.load_buffer(text.data(), text.size()));
    }
    SetBytes(state, text);
}

template <size_t kBytes>
void BM_Tinyxml2(benchmark::State& state) {
    const std::string& text = DocumentOfSize(kBytes);
    tinyxml2::XMLDocument document;
    for (auto _ : state) {
        benchmark::DoNotOptimize(document.Parse(text.data(), text.size()));
    }
    SetBytes(state, text);
}

constexpr size_t k10k = 10 * 1024;
constexpr size_t k1m = 1024 * 1024;
constexpr size_t k8m = 8 * 1024 * 1024;

}  // namespace

BENCHMARK(BM_Ours<k10k>)->Name("xml/10k/ours");
BENCHMARK(BM_Pugixml<k10k>)->Name("xml/10k/pugixml");
BENCHMARK(BM_Tinyxml2<k10k>)->Name("xml/10k/tinyxml2");
BENCHMARK(BM_Ours<k1m>)->Name("xml/1m/ours")->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Pugixml<k1m>)->Name("xml/1m/pugixml")->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Tinyxml2<k1m>)->Name("xml/1m/tinyxml2")->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Ours<k8m>)->Name("xml/8m/ours")->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Pugixml<k8m>)->Name("xml/8m/pugixml")->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Tinyxml2<k8m>)->Name("xml/8m/tinyxml2")->Unit(benchmark::kMillisecond);
