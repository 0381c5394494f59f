#!/usr/bin/env bash
# Runs a command on a private virtual X server, taking xvfb-run's "-a" and
# "-s SERVER_ARGS" options. The server chooses a free display number itself
# (-displayfd), so display tests started side by side, or beside another X
# server on the machine, never race for one number or draw on another's
# screen.
#   xvfb_run_private.sh [-a] [-s "SERVER ARGS"] COMMAND [ARG ...]
set -uo pipefail
server_args=""
while [ $# -gt 0 ]; do
  case "$1" in
    -a) shift ;;
    -s) server_args=$2; shift 2 ;;
    --) shift; break ;;
    *) break ;;
  esac
done
dir=$(mktemp -d)
trap 'rm -rf "$dir"' EXIT
# shellcheck disable=SC2086
Xvfb -displayfd 3 -nolisten tcp $server_args 3>"$dir/display" 2>"$dir/server.log" &
server=$!
for _ in $(seq 1 200); do
  [ -s "$dir/display" ] && break
  if ! kill -0 "$server" 2>/dev/null; then
    echo "xvfb_run_private: the X server did not start" >&2
    cat "$dir/server.log" >&2
    exit 1
  fi
  sleep 0.05
done
if [ ! -s "$dir/display" ]; then
  echo "xvfb_run_private: the X server gave no display" >&2
  kill "$server" 2>/dev/null
  exit 1
fi
DISPLAY=":$(head -n1 "$dir/display")"
export DISPLAY
"$@"
rc=$?
kill "$server" 2>/dev/null
wait "$server" 2>/dev/null
exit $rc
