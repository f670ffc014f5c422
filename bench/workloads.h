// What the benchmarks measure, shared by the Google Benchmark program and the plain one: each case
// runs either the add-in, loaded as a host loads it, or the floor, a plain loop doing the same file
// operations with nothing of the add-in's own, so that the ratio of the two shows the add-in's cost.
#ifndef QELALTF_BENCH_WORKLOADS_H
#define QELALTF_BENCH_WORKLOADS_H

#include <cstdint>
#include <functional>
#include <ostream>
#include <string>
#include <vector>

namespace bench {

enum class Text {
    kSingleByte,  // lines of ASCII letters
    kCp932Lead,   // "亜" over and over in CP932: every byte a lead-byte value
};

constexpr uint64_t kMiB = 1024 * 1024;

// One benchmark case. Only `run` is timed; `setup` and `teardown` run around each timed call.
// `run` answers the bytes it moved, which must equal `bytes`; a case checks its own result and
// stops the program when it is wrong. `setup` and `teardown` may be empty.
struct Case {
    std::string name;   // group/side/variant, e.g. "road/addin/16MiB"
    uint64_t bytes;     // bytes per run, 0 for the fixed-cost cases
    int threads;        // documents run side by side in one timed call
    std::function<void()> setup;
    std::function<uint64_t()> run;
    std::function<void()> teardown;
};

// The options both programs take, removed from argv:
//   --sizes=1,16,256   road sizes in MiB      --repetitions=5   repetitions of which the median counts
//   --data=PATH        the throughput table for gnuplot
struct Options {
    std::vector<uint64_t> roadSizesMiB = {1, 16, 256};
    int repetitions = 5;
    std::string dataPath;
};
Options TakeOptions(int* argc, char** argv);

// Loads the add-in and the stand-in conversion library beside this program and makes the
// benchmarks' temporary directory. Aborts with a message when either is missing: a benchmark of
// nothing must not print figures.
void Prepare();

std::vector<Case> AllCases(const std::vector<uint64_t>& roadSizesMiB);

// The medians of a case, per run: wall-clock seconds, and the processor time the program used
// (0 when it was not measured). The processor time leaves out other programs' share of a busy
// machine; under Wine it also leaves out the wineserver's, which does part of each file call.
struct Result {
    std::string name;
    uint64_t bytes;
    int threads;
    double seconds;
    double cpuSeconds;
};

// Prints each ratio of the run, by wall clock and by processor time, (add-in beside its floor, CP932 beside single-byte text, two threads
// beside one), and writes the throughput table that gnuplot draws to `dataPath` when given.
void Report(const std::vector<Result>& results, std::ostream& out, const std::string& dataPath);

// Aborts the program with a message; for a benchmark whose road went wrong.
[[noreturn]] void Fail(const std::string& what);

}  // namespace bench

#endif
