#!/usr/bin/env bash
# Starts the manager on a private X display and accessibility bus, prints its AT-SPI tree as a
# screen reader sees it, and checks that every pressable control has a name and that the
# language switch is there and takes the keyboard focus. Exit status 1 on a fault.
set -euo pipefail
cd "$(dirname "$0")/.."
build=${BUILD_DIR:-build}
cmake --build "$build" --target dravion-manager >/dev/null
if [ -z "${DBUS_SESSION_BUS_ADDRESS:-}" ] || [ "${1:-}" != "--in-session" ]; then
  exec dbus-run-session -- "$0" --in-session
fi
work=$(mktemp -d)
pids=()
cleanup() {
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
  wait 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT
/usr/libexec/at-spi-bus-launcher --launch-immediately >/dev/null 2>&1 &
pids+=($!)
display=:$((90 + RANDOM % 400))
Xvfb "$display" -screen 0 1280x1024x24 -nolisten tcp >/dev/null 2>&1 &
pids+=($!)
sleep 1
# A private port folder and temporary folder: nothing of the user's is touched.
DISPLAY=$display QT_ACCESSIBILITY=1 QT_LINUX_ACCESSIBILITY_ALWAYS_ON=1 DRAVION_SYSTEM_PORTS=0 \
  DRAVION_PORT_DIR="$work/ports" TMPDIR="$work" XDG_CONFIG_HOME="$work/config" \
  "$build/src/app/dravion-manager" >/dev/null 2>&1 &
pids+=($!)
/usr/bin/python3 tools/accessibility_tree.py "DravionExplorer 1.7" --require "RUS - Выбор языка"
