// The benchmarks under Google Benchmark, natively: every case, then the ratios of their medians.
//
//   qelaltf_bench [--sizes=1,16,256] [--repetitions=5] [--data=PATH] [--benchmark_filter=...]
#include <benchmark/benchmark.h>

#include <unistd.h>

#include <cstdlib>
#include <iostream>
#include <map>

#include "workloads.h"

namespace {

// Shows each run as the console reporter does and keeps the medians for the ratios.
class MedianReporter : public benchmark::ConsoleReporter {
public:
    MedianReporter(const std::vector<bench::Case>& cases, bool color)
        : ConsoleReporter(color ? OO_Defaults : OO_None) {
        for (const bench::Case& c : cases) cases_[c.name] = &c;
    }

    void ReportRuns(const std::vector<Run>& runs) override {
        ConsoleReporter::ReportRuns(runs);
        for (const Run& run : runs) {
            if (run.run_type != Run::RT_Aggregate || run.aggregate_name != "median") continue;
            const auto found = cases_.find(run.run_name.function_name);
            if (found == cases_.end()) continue;
            // Every case reports milliseconds. The processor time is the benchmark thread's, so
            // it counts only where that thread does all the work.
            const bench::Case& c = *found->second;
            const double seconds = run.GetAdjustedRealTime() / 1e3;
            const double cpuSeconds = c.threads == 1 ? run.GetAdjustedCPUTime() / 1e3 : 0;
            results.push_back({c.name, c.bytes, c.threads, seconds, cpuSeconds});
        }
    }

    std::vector<bench::Result> results;

private:
    std::map<std::string, const bench::Case*> cases_;
};

}  // namespace

int main(int argc, char** argv) {
    // The native layer takes the ANSI code page from the locale's name when the add-in first asks:
    // CP932, so that the CP932 text exercises the look-back at every chunk's end.
    setenv("LC_ALL", "ja_JP.SJIS", 1);
    const bench::Options options = bench::TakeOptions(&argc, argv);
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    bench::Prepare();

    const std::vector<bench::Case> cases = bench::AllCases(options.roadSizesMiB);
    for (const bench::Case& c : cases) {
        benchmark::internal::Benchmark* registered = benchmark::RegisterBenchmark(c.name.c_str(), [&c](benchmark::State& state) {
            for (auto _ : state) {
                if (c.setup) {
                    state.PauseTiming();
                    c.setup();
                    state.ResumeTiming();
                }
                if (c.run() != c.bytes) bench::Fail(c.name + ": moved the wrong number of bytes");
                if (c.teardown) {
                    state.PauseTiming();
                    c.teardown();
                    state.ResumeTiming();
                }
            }
            if (c.bytes > 0) state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * c.bytes));
        });
        registered->Unit(benchmark::kMillisecond)->UseRealTime()->Repetitions(options.repetitions)->ReportAggregatesOnly(true);
        // A case with an untimed setup would repeat the setup until its timed part filled the
        // minimum time: a fixed count keeps it short.
        if (c.setup) {
            registered->Iterations(10);
        } else {
            registered->MinTime(0.2);
        }
    }

    MedianReporter reporter(cases, isatty(STDOUT_FILENO) != 0);
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();
    bench::Report(reporter.results, std::cout, options.dataPath);
    return 0;
}
