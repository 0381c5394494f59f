#!/usr/bin/env bash
# The real device path: engine_host plays a 1 kHz tone at half scale through
# SDL's disk audio driver, and sox measures what reached the "device".
# Usage: disk_audio_test.sh ENGINE_HOST SOUND_FIXTURE XVFB_RUN
set -euo pipefail
host=$1 fixture=$2 xvfb=$3
dir=$(mktemp -d)
trap 'rm -rf "$dir"' EXIT
"$fixture" tone "$dir/tone.wav" 1000 4
SDL_AUDIODRIVER=disk SDL_DISKAUDIOFILE="$dir/out.raw" XDG_RUNTIME_DIR="$dir" \
  "$xvfb" -a -s "-screen 0 1280x720x24" "$host" --frames 120 --sound "$dir/tone.wav"
stats=$(sox -t raw -r 44100 -e signed -b 16 -c 2 "$dir/out.raw" -n remix 1 trim 0.5 stat 2>&1)
echo "$stats"
amp=$(awk '/Maximum amplitude/ {print $3}' <<<"$stats")
freq=$(awk '/Rough +frequency/ {print $3}' <<<"$stats")
awk -v a="$amp" -v f="$freq" 'BEGIN {
  if (a < 0.495 || a > 0.505) { print "amplitude " a " is not 0.5"; exit 1 }
  if (f < 950 || f > 1050) { print "frequency " f " is not 1000 Hz"; exit 1 }
  print "disk audio: amplitude " a ", frequency " f " Hz" }'
