// Remembers benchmark times for the closing ratio lines.
#include "bench/ratio_reporter.h"

#include <cstdio>

void RatioReporter::ReportRuns(const std::vector<Run>& runs) {
    for (const Run& run : runs) {
        if (run.run_type == Run::RT_Iteration && !run.error_occurred) {
            m_times[run.benchmark_name()] =
                run.cpu_accumulated_time * 1e9 / static_cast<double>(run.iterations);
        }
    }
    ConsoleReporter::ReportRuns(runs);
}

double RatioReporter::TimeOf(const std::string& name) const {
    auto found = m_times.find(name);
    return found == m_times.end() ? -1.0 : found->second;
}

void PrintRatio(const RatioReporter& reporter, const std::string& comparison,
                const std::string& anchorBenchmark, const std::string& ourBenchmark) {
    const double anchor = reporter.TimeOf(anchorBenchmark);
    const double ours = reporter.TimeOf(ourBenchmark);
    if (anchor <= 0 || ours <= 0) {
        std::printf("RATIO %s n/a\n", comparison.c_str());
        return;
    }
    std::printf("RATIO %s %.2f\n", comparison.c_str(), anchor / ours);
}
