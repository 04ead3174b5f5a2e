// The benchmark programs' main: the console report on standard error, the markdown table on
// standard output ("--rows-only" leaves out its header, so scripts/bench can join tables).
#include <benchmark/benchmark.h>

#include <cstdio>
#include <iostream>
#include <string_view>

#include "table_reporter.hpp"

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    bool withHeader = true;
    for (int i = 1; i < argc; ++i) {
        if (std::string_view(argv[i]) != "--rows-only") {
            std::fprintf(stderr, "%s: unknown option %s\n", argv[0], argv[i]);
            return 2;
        }
        withHeader = false;
    }
    tapfix::bench::TableReporter reporter(withHeader);
    reporter.SetOutputStream(&std::cerr);
    reporter.SetErrorStream(&std::cerr);
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();
    return 0;
}
