#pragma once

#include <benchmark/benchmark.h>

// A benchmark main that creates the Qt application AppClass first, for the
// benchmarks that need an event loop or widgets (on the offscreen platform
// unless the caller chose one).
#define VT_BENCHMARK_MAIN_WITH(AppClass)                                                                      \
    int main(int argc, char** argv) {                                                                         \
        if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))                                                   \
            qputenv("QT_QPA_PLATFORM", "offscreen");                                                          \
        AppClass App(argc, argv);                                                                             \
        benchmark::Initialize(&argc, argv);                                                                   \
        if (benchmark::ReportUnrecognizedArguments(argc, argv))                                               \
            return 1;                                                                                         \
        benchmark::RunSpecifiedBenchmarks();                                                                  \
        benchmark::Shutdown();                                                                                \
        return 0;                                                                                             \
    }
