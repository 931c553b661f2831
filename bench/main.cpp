// quarv-bench: Google Benchmark entry point; the benchmarks live in the other files of bench/.
#include <benchmark/benchmark.h>

BENCHMARK_MAIN();
