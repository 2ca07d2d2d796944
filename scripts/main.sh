#!/usr/bin/env bash
# The main job: the window in its service (DBG) mode, connected to the
# virtual camera on a pseudo-terminal. Extra arguments go to ternab, e.g.
#   bash scripts/main.sh --pal --lo-res        (options of the virtual camera)
# On a real camera: build/ternab --mode dbg --port /dev/ttyUSB0
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/build.sh --target ternab --target ternctl
exec build/ternab --simulate --mode dbg "$@"
