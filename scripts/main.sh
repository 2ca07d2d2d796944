#!/usr/bin/env bash
# The main job: the window in its service (DBG) mode, connected to the
# virtual camera on a pseudo-terminal. Extra arguments go to ternab, e.g.
#   bash scripts/main.sh --pal --lo-res        (options of the virtual camera)
# On a real camera: build/ternab --mode dbg --port /dev/ttyUSB0
# Installs only what the window needs (scripts/test.sh adds the test and
# cross-build packages).
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/deps.sh --window
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j"$(nproc)" --target ternab --target ternctl
if [[ -z "${DISPLAY:-}${WAYLAND_DISPLAY:-}${QT_QPA_PLATFORM:-}" ]]; then
  echo "No display to show the window on: run this in a desktop session (or under xvfb-run;" >&2
  echo "bash tests/screenshots.sh saves a picture of each mode into build/)." >&2
  exit 1
fi
exec build/ternab --simulate --mode dbg "$@"
