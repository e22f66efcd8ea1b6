#!/usr/bin/env bash
# The display going away is a stop: the window sieves on a virtual X server,
# the server is killed, and the status file ends with the run's resume
# point, at or above every factor line it had shown. Skips (77) without
# Xvfb. Usage: display_lost.sh ZUDSIEVE CANDIDATE_FILE
set -euo pipefail
if ! command -v Xvfb >/dev/null; then
  echo "Xvfb is not installed: skipped"
  exit 77
fi
work=$(mktemp -d)
pids=()
cleanup() {
  for pid in "${pids[@]}"; do kill -9 "$pid" 2>/dev/null || true; done
  rm -rf "$work"
}
trap cleanup EXIT
mkdir "$work/data" "$work/config"
cp "$2" "$work/data/Zud.dat"
status="$work/data/ZudStatus.dat"

exec 3>"$work/display"
Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp >"$work/xvfb.log" 2>&1 &
xvfb=$!
pids+=("$xvfb")
exec 3>&-
for _ in $(seq 100); do
  [ -s "$work/display" ] && break
  sleep 0.1
done
[ -s "$work/display" ] || { echo "Xvfb did not start"; cat "$work/xvfb.log"; exit 1; }

DISPLAY=":$(head -n1 "$work/display")" QT_QPA_PLATFORM=xcb XDG_CONFIG_HOME="$work/config" \
  "$1" --range 3 100000000000 "$work/data" >"$work/out.txt" 2>&1 &
window=$!
pids+=("$window")
# A few seconds of sieving, with factor lines written and shown.
for _ in $(seq 150); do
  lines=$(grep -c ' | ' "$status" 2>/dev/null || true)
  [ "${lines:-0}" -ge 20 ] && break
  sleep 0.1
done
sleep 2
last=$(grep ' | ' "$status" | tail -n1 | cut -d' ' -f1)
[ -n "$last" ] || { echo "no factor line was written"; cat "$work/out.txt"; exit 1; }

kill -9 "$xvfb"
for _ in $(seq 200); do
  kill -0 "$window" 2>/dev/null || break
  sleep 0.1
done
if kill -0 "$window" 2>/dev/null; then
  echo "the window did not end when its display went away"
  exit 1
fi
end=$(tail -n1 "$status")
echo "last factor line before the display went: p=$last; the file ends: $end"
case "$end" in
  pmin=*) ;;
  *) echo "no resume point was recorded"; cat "$work/out.txt"; exit 1 ;;
esac
if [ "${end#pmin=}" -lt "$last" ]; then
  echo "the resume point is below a factor line already shown"
  exit 1
fi
echo "the run recorded its resume point"
