#!/usr/bin/env bash
# Runs a command on a fresh virtual X server with a notification-area host
# (trayer), as a desktop session would have them. Skips (status 77, which
# ctest reports as skipped) when Xvfb is not installed.
set -euo pipefail
# A session bus of its own, for the desktop notifications.
if [ -z "${ZUD_UNDER_BUS:-}" ] && command -v dbus-run-session >/dev/null; then
  ZUD_UNDER_BUS=1 exec dbus-run-session -- "$0" "$@"
fi
if ! command -v Xvfb >/dev/null; then
  echo "Xvfb is not installed: skipped"
  exit 77
fi
work=$(mktemp -d)
pids=()
cleanup() {
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
  wait 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT

# The server picks a free display and writes its number to fd 3.
exec 3>"$work/display"
Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp >"$work/xvfb.log" 2>&1 &
pids+=($!)
exec 3>&-
for _ in $(seq 100); do
  [ -s "$work/display" ] && break
  sleep 0.1
done
[ -s "$work/display" ] || { echo "Xvfb did not start"; cat "$work/xvfb.log"; exit 1; }
export DISPLAY=":$(head -n1 "$work/display")"

# ZUD_TRAY_LATER: no tray host yet; the test starts one when it wants it.
if [ -z "${ZUD_TRAY_LATER:-}" ] && command -v trayer >/dev/null; then
  trayer --edge top --align right --widthtype request --height 32 --SetDockType true \
    --transparent false >"$work/trayer.log" 2>&1 &
  pids+=($!)
  export ZUD_TRAY_HOST=trayer
fi

export QT_QPA_PLATFORM=xcb ZUD_X11_TEST=1
"$@"
