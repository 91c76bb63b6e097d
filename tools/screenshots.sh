#!/usr/bin/env bash
# Builds the screenshot renderer and runs it under Xvfb (a real X11 platform, real fonts):
# every page in Russian and English at the first and the least window size, the about box and
# the busy animation's frames, as PNG files in the folder given (default build/screenshots).
set -euo pipefail
cd "$(dirname "$0")/.."
build=${BUILD_DIR:-build}
out=${1:-$build/screenshots}
cmake --build "$build" --target dravion-screenshots >/dev/null
mkdir -p "$out"
xvfb-run -a -s "-screen 0 1280x1024x24" "$build/src/app/dravion-screenshots" "$out"
ls "$out"
