#!/usr/bin/env bash
# The console front end on the dense range of the benchmark file (pmin=3,
# pmax=500000: 289,275 factor lines), output to a file. Prints the time and
# processor time of the whole range, then, for each of SIGTERM, SIGINT and
# SIGHUP sent after DELAY seconds, how long the program took to end and the
# resume point it recorded.
#   bench/console_dense.sh ZUDSIEVE [ZUD_DAT] [DELAY]
set -euo pipefail
program=$(realpath "$1")
candidates=$(realpath "${2:-$(dirname "$0")/../../shared/data/bench/Zud.dat}")
delay=${3:-2}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
export XDG_CONFIG_HOME=$work
cd "$work"
cp "$candidates" Zud.dat
fresh() { printf 'pmax=500000\npmin=3\n' > ZudStatus.dat; }

fresh
/usr/bin/time -f "whole range: %e s, %U s user, %S s system" -o time.txt \
  "$program" --console . > out.txt 2> err.txt
echo "$(cat time.txt); $(grep -c ' | ' out.txt) factor lines shown, $(grep -c ' | ' ZudStatus.dat) written"

for signal in TERM INT HUP; do
  fresh
  "$program" --console . > out.txt 2> err.txt &
  pid=$!
  sleep "$delay"
  start=$(date +%s.%N)
  kill -"$signal" "$pid" 2>/dev/null || { echo "SIG$signal: the range ended before the signal"; continue; }
  for _ in $(seq 600); do kill -0 "$pid" 2>/dev/null || break; sleep 0.05; done
  if kill -0 "$pid" 2>/dev/null; then
    echo "SIG$signal: still running 30 s later"
    kill -KILL "$pid"
  else
    echo "SIG$signal after ${delay} s: ended in $(echo "$(date +%s.%N) - $start" | bc) s, $(tail -1 ZudStatus.dat)"
  fi
  wait "$pid" 2>/dev/null || true
done
