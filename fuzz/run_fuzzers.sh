#!/usr/bin/env bash
# Builds the fuzz targets with clang in build-fuzz and runs each for a fixed time (seconds,
# default 20): the image decoders and the archive reader, text drawing and glyph files, the
# sound loaders and the mixer, the movie opener, motion programs and the save blocks, the
# game's script and data-file loaders and the script machine. Every seed is made by the
# project's own writers and assemblers.
#   fuzz/run_fuzzers.sh [seconds] [target ...]     (targets without the fuzz_ prefix)
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-20}
shift || true
image_targets="lz ge pgd bmp_tga pac texture_load"
media_targets="text text_save sound movie"
save_targets="sound_save ani action_block effect_block save_file button_block voice_blocks"
game_targets="script_src text_dat text_dat_scrambled file_dat point_dat mem_dat graphic_dat archive_dat
  system_dat config_dat vm_run format_name"
targets=${*:-$image_targets $media_targets $save_targets $game_targets}
cmake -S . -B build-fuzz -G Ninja \
  -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ \
  -DKIV_FUZZ=ON -DKIV_SANITIZE=address -DBUILD_TESTING=OFF -DKIV_BENCH=OFF
build_targets="fuzz_seeds fuzz_script_seeds fuzz_sound_seeds fuzz_movie_seeds fuzz_motion_seeds fuzz_save_seeds pac_write"
for t in $targets; do build_targets="$build_targets fuzz_$t"; done
# shellcheck disable=SC2086
cmake --build build-fuzz --target $build_targets

corpus=build-fuzz/corpus
build-fuzz/fuzz/fuzz_seeds "$corpus"
build-fuzz/fuzz/fuzz_script_seeds "$corpus" demo/main.kas
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
# Message-window save block: an empty block (the fuzzer grows the rest).
mkdir -p "$corpus/text_save"
printf '\0\0\0\0' > "$corpus/text_save/empty"
# Voice seeds: a two-part ".mix", an empty voice block, an empty backlog block.
mkdir -p "$corpus/voice_blocks"
{ printf '\0PART1'; head -c 27 /dev/zero; printf 'PART2'; head -c 27 /dev/zero; } > "$corpus/voice_blocks/mix"
{ printf '\1'; head -c 404 /dev/zero; } > "$corpus/voice_blocks/voice"
{ printf '\2'; head -c 69380 /dev/zero; } > "$corpus/voice_blocks/backlog"
# Whole save files: one written by our own save writer.
mkdir -p "$corpus/save_file"
build-fuzz/fuzz/fuzz_save_seeds "$corpus/save_file/seed.dat"
# Texture-loader seeds: the BMP/TGA and GE seeds.
mkdir -p "$corpus/texture_load"
cp "$corpus"/bmp_tga/* "$corpus"/ge/* "$corpus/texture_load/" 2>/dev/null || true
# Effect-block seeds: no screen effect and an empty layer-raster list; snow and one wave.
mkdir -p "$corpus/effect_block"
printf '\x00\x00\x00\x00\xff\xff\xff\xff' > "$corpus/effect_block/empty.bin"
printf '\x04\x00\x00\x00\x01\x00\x00\x00\x00\x00\x00\x00\x28\x00\x00\x00\x01\x00\x00\x00\x01\x00\x00\x00\x02\x00\x00\x00\x00\x00\x00\x00\x0a\x00\x00\x00\x0a\x00\x00\x00\x2c\x01\x00\x00\xff\xff\xff\xff' > "$corpus/effect_block/snow_wave.bin"
# Button-block seeds: four empty groups; group 0 initialised without sounds or buttons.
mkdir -p "$corpus/button_block"
head -c 16 /dev/zero > "$corpus/button_block/empty.bin"
{ printf '\x01\0\0\0\0\0\0\0\0\0\0\0'; head -c 16 /dev/zero | tr '\0' '\377'; head -c 524 /dev/zero; } \
  > "$corpus/button_block/group0.bin"
export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
for t in $targets; do
  echo "== fuzz_$t for ${seconds}s"
  mkdir -p "build-fuzz/artifacts/$t" "$corpus/$t"
  log="build-fuzz/fuzz_$t.log"
  # The fuzzer's progress goes to a log; on a finding the whole log is shown.
  if ! build-fuzz/fuzz/fuzz_$t -max_total_time="$seconds" -rss_limit_mb=4096 -timeout=10 -print_final_stats=1 \
      -artifact_prefix="build-fuzz/artifacts/$t/" "$corpus/$t" > "$log" 2>&1; then
    cat "$log"
    exit 1
  fi
  grep -E "^Done [0-9]+ runs" "$log" || true
done
