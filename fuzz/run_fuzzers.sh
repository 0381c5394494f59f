#!/usr/bin/env bash
# Builds the decoder fuzz targets with clang in build-fuzz and runs each for a
# fixed time (seconds, default 20) from seeds made by our own image writer.
#   fuzz/run_fuzzers.sh [seconds]
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-20}
cmake -S . -B build-fuzz -G Ninja \
  -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ \
  -DKIV_FUZZ=ON -DKIV_SANITIZE=address -DBUILD_TESTING=OFF -DKIV_BENCH=OFF
cmake --build build-fuzz --target fuzz_lz fuzz_ge fuzz_pgd fuzz_bmp_tga fuzz_seeds

corpus=build-fuzz/corpus
build-fuzz/fuzz/fuzz_seeds "$corpus"
export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
for t in lz ge pgd bmp_tga; do
  echo "== fuzz_$t for ${seconds}s"
  mkdir -p "build-fuzz/artifacts/$t"
  build-fuzz/fuzz/fuzz_$t -max_total_time="$seconds" -rss_limit_mb=4096 -print_final_stats=1 \
    -artifact_prefix="build-fuzz/artifacts/$t/" "$corpus/$t"
done
