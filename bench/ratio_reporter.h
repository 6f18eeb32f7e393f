// Console reporter that also remembers each benchmark's time, so the run can end with
// one "RATIO name value" line per comparison.
#pragma once

#include <benchmark/benchmark.h>

#include <map>
#include <string>

class RatioReporter : public benchmark::ConsoleReporter {
public:
    void ReportRuns(const std::vector<Run>& runs) override;
    // CPU time per iteration in nanoseconds (steadier than wall time on a shared machine), or a
    // negative value when it did not run.
    double TimeOf(const std::string& name) const;

private:
    std::map<std::string, double> m_times;
};

// Prints "RATIO comparison anchorTime/ourTime" (above 1 means ours is faster).
void PrintRatio(const RatioReporter& reporter, const std::string& comparison,
                const std::string& anchorBenchmark, const std::string& ourBenchmark);
