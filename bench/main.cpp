// Runs every benchmark, then prints one RATIO line per comparison.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <string>

#include "bench/ratio_reporter.h"

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);

    for (const char* input : {"invoke", "storeconfig", "dragout", "paths"}) {
        const std::string base = std::string("matcher/") + input + "/";
        for (const char* anchor : {"pcre2-interp", "pcre2-jit", "std-regex"}) {
            PrintRatio(reporter, std::string("matcher-vs-") + anchor + "/" + input, base + anchor,
                       base + "ours");
        }
    }
    for (const char* size : {"10k", "1m", "8m"}) {
        const std::string base = std::string("xml/") + size + "/";
        PrintRatio(reporter, std::string("xml-vs-pugixml/") + size, base + "pugixml",
                   base + "ours");
        PrintRatio(reporter, std::string("xml-vs-tinyxml2/") + size, base + "tinyxml2",
                   base + "ours");
    }
    const double oneMegabyte = reporter.TimeOf("xml/1m/ours");
    const double eightMegabytes = reporter.TimeOf("xml/8m/ours");
    if (oneMegabyte > 0 && eightMegabytes > 0) {
        std::printf("RATIO xml-scaling %.2f\n", 8.0 * oneMegabyte / eightMegabytes);
    } else {
        std::printf("RATIO xml-scaling n/a\n");
    }
    benchmark::Shutdown();
    return 0;
}
