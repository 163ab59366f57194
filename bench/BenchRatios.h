#pragma once
// Prints, after the usual table, the ratio of each benchmark to its
// reference: ratios are taken within one run, on the same pictures.

#include <benchmark/benchmark.h>

#include <cstdio>
#include <map>
#include <string>
#include <utility>
#include <vector>

namespace benchratios {

// Remembers every run's real time by its name.
class TRecordingReporter : public benchmark::ConsoleReporter {
public:
    void ReportRuns(const std::vector<Run>& runs) override
    {
        for (const Run& run : runs)
            if (run.run_type == Run::RT_Iteration && !run.error_occurred) {
                Times[Plain(run.benchmark_name())] = run.GetAdjustedRealTime();
                auto bytes = run.counters.find("bytes");
                if (bytes != run.counters.end())
                    Bytes[Plain(run.benchmark_name())] = bytes->second.value;
            }
        ConsoleReporter::ReportRuns(runs);
    }
    std::map<std::string, double> Times;
    std::map<std::string, double> Bytes; // the "bytes" counter, where a benchmark sets one

    // The name without the suffixes of the timing options.
    static std::string Plain(std::string name)
    {
        for (const char* suffix : {"/iterations:1", "/iterations:2", "/real_time"})
            for (std::size_t at; (at = name.find(suffix)) != std::string::npos;)
                name.erase(at, std::string(suffix).size());
        return name;
    }
};

struct TRatio {
    std::string Name;      // the benchmark measured
    std::string Reference; // the benchmark it is measured against
    double Goal = 0;       // the largest ratio wanted; 0: none
};

// Runs the benchmarks and prints "name / reference = ratio (goal)" lines.
inline int RunAndPrintRatios(int argc, char** argv, const std::vector<TRatio>& ratios)
{
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    TRecordingReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    std::printf("\nRatios (real time, same run):\n");
    for (const TRatio& r : ratios) {
        auto a = reporter.Times.find(r.Name);
        auto b = reporter.Times.find(r.Reference);
        if (a == reporter.Times.end() || b == reporter.Times.end() || b->second <= 0)
            continue;
        const double ratio = a->second / b->second;
        if (r.Goal > 0)
            std::printf("  %-44s / %-40s = %6.2fx  (goal <= %.2fx: %s)\n", r.Name.c_str(), r.Reference.c_str(), ratio,
                        r.Goal, ratio <= r.Goal ? "met" : "NOT met");
        else
            std::printf("  %-44s / %-40s = %6.2fx\n", r.Name.c_str(), r.Reference.c_str(), ratio);
        auto x = reporter.Bytes.find(r.Name);
        auto y = reporter.Bytes.find(r.Reference);
        if (x != reporter.Bytes.end() && y != reporter.Bytes.end() && y->second > 0)
            std::printf("  %-44s   %-40s   bytes %.0f / %.0f = %.3fx\n", "", "", x->second, y->second,
                        x->second / y->second);
    }
    benchmark::Shutdown();
    return 0;
}

} // namespace benchratios
