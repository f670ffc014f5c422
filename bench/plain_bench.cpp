// The benchmarks without a framework, for the Windows build under Wine (and natively alike): each
// group of cases that is compared runs interleaved, repetition by repetition, so that a slow
// moment of the machine falls on both sides; the median of the repetitions counts.
//
//   qelaltf_bench_plain [--sizes=1,16,256] [--repetitions=5] [--data=PATH]
#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <iostream>
#include <map>

#if defined(_WIN32)
#define WIN32_LEAN_AND_MEAN
#include <windows.h>
#else
#include <time.h>

#include <cstdlib>
#endif

#include "workloads.h"

namespace {

using Clock = std::chrono::steady_clock;

// Each timed sample lasts at least this long, by running the case as often as it takes.
constexpr double kSampleSeconds = 0.2;

// The processor time this program has used, all its threads together; 0 under Windows, where
// Wine counts it in ticks of several milliseconds and leaves out the wineserver's part of every
// file call, so that it would mislead.
double ProcessSeconds() {
#if defined(_WIN32)
    return 0;
#else
    timespec now = {};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
    return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) * 1e-9;
#endif
}

struct Timing {
    double seconds;
    double cpuSeconds;
};

// Wall-clock and processor seconds per run over `runs` runs, the setup and teardown of each left out.
Timing Sample(const bench::Case& c, int runs) {
    Timing total = {0, 0};
    for (int i = 0; i < runs; ++i) {
        if (c.setup) c.setup();
        const double cpuStart = ProcessSeconds();
        const Clock::time_point start = Clock::now();
        const uint64_t moved = c.run();
        total.seconds += std::chrono::duration<double>(Clock::now() - start).count();
        total.cpuSeconds += ProcessSeconds() - cpuStart;
        if (moved != c.bytes) bench::Fail(c.name + ": moved the wrong number of bytes");
        if (c.teardown) c.teardown();
    }
    return {total.seconds / runs, total.cpuSeconds / runs};
}

// Cases compared with each other: the road of one size, or one of the other groups.
std::string GroupOf(const std::string& name) {
    const std::string first = name.substr(0, name.find('/'));
    if (first != "road") return first;
    return first + name.substr(name.rfind('/'));
}

double Median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    const size_t n = values.size();
    return n % 2 == 1 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

}  // namespace

int main(int argc, char** argv) {
#if defined(_WIN32)
    std::printf("ANSI code page %u\n", GetACP());
#else
    // The native layer takes the ANSI code page from the locale's name when the add-in first asks.
    setenv("LC_ALL", "ja_JP.SJIS", 1);
#endif
    const bench::Options options = bench::TakeOptions(&argc, argv);
    if (argc > 1) bench::Fail(std::string("unknown argument ") + argv[1]);
    bench::Prepare();
    const std::vector<bench::Case> cases = bench::AllCases(options.roadSizesMiB);

    std::vector<std::string> groups;
    for (const bench::Case& c : cases) {
        if (std::find(groups.begin(), groups.end(), GroupOf(c.name)) == groups.end()) groups.push_back(GroupOf(c.name));
    }

    std::vector<bench::Result> results;
    std::printf("%-28s %10s %10s %10s %8s\n", "case (medians)", "wall ms", "cpu ms", "MB/s", "runs");
    for (const std::string& group : groups) {
        std::vector<const bench::Case*> members;
        for (const bench::Case& c : cases) {
            if (GroupOf(c.name) == group) members.push_back(&c);
        }
        // One run of each warms the files and tells how many runs fill a sample.
        std::vector<int> runs;
        for (const bench::Case* c : members) {
            const double once = Sample(*c, 1).seconds;
            // A case with an untimed setup would spend most of its time there: ten runs do.
            const double most = c->setup ? 10.0 : 10000.0;
            runs.push_back(static_cast<int>(std::clamp(std::ceil(kSampleSeconds / once), 1.0, most)));
        }
        std::vector<std::vector<double>> wall(members.size()), cpu(members.size());
        for (int rep = 0; rep < options.repetitions; ++rep) {
            for (size_t i = 0; i < members.size(); ++i) {
                const Timing t = Sample(*members[i], runs[i]);
                wall[i].push_back(t.seconds);
                cpu[i].push_back(t.cpuSeconds);  // 0 where not measured
            }
        }
        for (size_t i = 0; i < members.size(); ++i) {
            const bench::Case& c = *members[i];
            const double seconds = Median(wall[i]);
            const double cpuSeconds = Median(cpu[i]);
            results.push_back({c.name, c.bytes, c.threads, seconds, cpuSeconds});
            const std::string speed = c.bytes > 0 ? std::to_string(static_cast<int>(c.bytes / seconds / 1e6)) : "-";
            std::printf("%-28s %10.4f %10.4f %10s %8d\n", c.name.c_str(), seconds * 1e3, cpuSeconds * 1e3,
                        speed.c_str(), runs[i]);
            std::fflush(stdout);
        }
    }
    bench::Report(results, std::cout, options.dataPath);
    return 0;
}
