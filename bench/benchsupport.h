// What the program's benches share: a counter of the process's peak resident
// memory, and each benchmark run in a process of its own, so that the peak a
// benchmark reports is its own and not that of one run before it.
#pragma once

#include <benchmark/benchmark.h>

#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>
#include <string_view>
#include <vector>

namespace benchsupport {

// Largest resident set this process has had, in MiB.
inline double peakMiB()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return double(usage.ru_maxrss) / 1024.0; // KiB on Linux
}

inline void reportPeak(benchmark::State& state)
{
    state.counters["peak_MiB"] = peakMiB();
}

// With a --benchmark_filter, runs the benchmarks it selects in this process.
// Without one, runs each of `names` in a child process of its own (this
// program with that name as its filter) and fails when any child fails.
inline int run(int argc, char** argv, const std::vector<std::string>& names)
{
    for (int i = 1; i < argc; ++i)
        if (std::string_view(argv[i]).starts_with("--benchmark_filter")) {
            benchmark::Initialize(&argc, argv);
            if (benchmark::ReportUnrecognizedArguments(argc, argv))
                return 1;
            benchmark::RunSpecifiedBenchmarks();
            benchmark::Shutdown();
            return 0;
        }
    int failed = 0;
    for (const std::string& name : names) {
        std::string filter = "--benchmark_filter=^" + name + "(/|$)";
        std::vector<char*> args(argv, argv + argc);
        args.push_back(filter.data());
        args.push_back(nullptr);
        const pid_t child = fork();
        if (child == 0) {
            execv("/proc/self/exe", args.data());
            _exit(127);
        }
        int status = 0;
        if (child < 0 || waitpid(child, &status, 0) != child || !WIFEXITED(status) || WEXITSTATUS(status) != 0)
            failed = 1;
    }
    return failed;
}

} // namespace benchsupport
