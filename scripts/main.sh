#!/usr/bin/env bash
# The main job: the virtual camera on a pseudo-terminal, probed as the window
# connects at start. Extra arguments go to the virtual camera (e.g. --pal).
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/build.sh --target ternctl
fifo=$(mktemp -u)
mkfifo "$fifo"
build/ternctl simulate "$@" >"$fifo" &
sim=$!
trap 'kill $sim 2>/dev/null; rm -f "$fifo"' EXIT
read -r dev <"$fifo"
echo "virtual camera on $dev"
build/ternctl probe --port "$dev"
