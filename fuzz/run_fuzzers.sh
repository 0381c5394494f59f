#!/usr/bin/env bash
# Builds the decoder and archive fuzz targets with clang in build-fuzz and runs each for a
# fixed time (seconds, default 20) from seeds made by our own image writer.
#   fuzz/run_fuzzers.sh [seconds]
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-20}
cmake -S . -B build-fuzz -G Ninja \
  -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ \
  -DKIV_FUZZ=ON -DKIV_SANITIZE=address -DBUILD_TESTING=OFF -DKIV_BENCH=OFF
cmake --build build-fuzz --target fuzz_lz fuzz_ge fuzz_pgd fuzz_bmp_tga fuzz_pac fuzz_text fuzz_seeds pac_write \
  fuzz_sound fuzz_sound_seeds fuzz_movie fuzz_movie_seeds fuzz_sound_save fuzz_ani fuzz_action_block fuzz_motion_seeds \
  fuzz_effect_block

corpus=build-fuzz/corpus
build-fuzz/fuzz/fuzz_seeds "$corpus"
# Motion programs and an action block: our own motion assembler and block writer.
build-fuzz/fuzz/fuzz_motion_seeds "$corpus"
# Archive seeds: a small archive written by our own archive writer.
mkdir -p build-fuzz/pac_src "$corpus/pac"
printf 'one' > build-fuzz/pac_src/a.bin
printf 'background' > build-fuzz/pac_src/bg01.ge
printf 'x' > build-fuzz/pac_src/z
build-fuzz/tools/pac_writer/pac_write build-fuzz/pac_src "$corpus/pac/seed.pac"
# Sound seeds: WAV and raw PCM files from our own fixture writer.
build-fuzz/fuzz/fuzz_sound_seeds "$corpus/sound"
# Movie seeds from our own movie maker.
mkdir -p "$corpus/movie"
build-fuzz/fuzz/fuzz_movie_seeds "$corpus/movie"
# Save-block seeds: an empty bgm block and se block (all channels empty).
mkdir -p "$corpus/sound_save"
head -c 648 /dev/zero > "$corpus/sound_save/empty.bin"
# Effect-block seeds: no screen effect and an empty layer-raster list; snow and one wave.
mkdir -p "$corpus/effect_block"
printf '\x00\x00\x00\x00\xff\xff\xff\xff' > "$corpus/effect_block/empty.bin"
printf '\x04\x00\x00\x00\x01\x00\x00\x00\x00\x00\x00\x00\x28\x00\x00\x00\x01\x00\x00\x00\x01\x00\x00\x00\x02\x00\x00\x00\x00\x00\x00\x00\x0a\x00\x00\x00\x0a\x00\x00\x00\x2c\x01\x00\x00\xff\xff\xff\xff' > "$corpus/effect_block/snow_wave.bin"
export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
for t in lz ge pgd bmp_tga pac text sound movie sound_save ani action_block effect_block; do
  echo "== fuzz_$t for ${seconds}s"
  mkdir -p "build-fuzz/artifacts/$t"
  log="build-fuzz/fuzz_$t.log"
  # The fuzzer's progress goes to a log; on a finding the whole log is shown.
  if ! build-fuzz/fuzz/fuzz_$t -max_total_time="$seconds" -rss_limit_mb=4096 -print_final_stats=1 \
      -artifact_prefix="build-fuzz/artifacts/$t/" "$corpus/$t" > "$log" 2>&1; then
    cat "$log"
    exit 1
  fi
  grep -E "^Done [0-9]+ runs" "$log" || true
done
