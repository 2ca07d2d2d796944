#!/usr/bin/env bash
# For the eyes, not for CI: builds ternab and, under a virtual X server,
# starts it against the virtual camera in each tool mode and on each page,
# saving the window once the page has been read: build/ternab-dbg.png,
# -apl.png, -kizu.png, and build/ternab-<page>.png for the six pages.
# Extra arguments go to the virtual camera (e.g. --pal --lo-res).
# TERN_README_SHOT=1 also copies the customer mode's picture to
# docs/window.png, the README's screenshot.
set -euo pipefail
cd "$(dirname "$0")/.."
build=${BUILD_DIR:-build}
cmake -S . -B "$build" >/dev/null
cmake --build "$build" --target ternab -j2
for mode in dbg apl kizu; do
  out="$build/ternab-$mode.png"
  xvfb-run -a -s "-screen 0 1024x768x24" \
    "$build/ternab" --simulate --mode "$mode" --screenshot "$out" "$@"
  echo "$out"
  if [[ $mode == apl && -n ${TERN_README_SHOT:-} ]]; then
    mkdir -p docs
    cp "$out" docs/window.png
    echo docs/window.png
  fi
done
for page in adjust debug defect copy setup1 setup2; do
  out="$build/ternab-$page.png"
  xvfb-run -a -s "-screen 0 1024x768x24" \
    "$build/ternab" --simulate --mode dbg --page "$page" --screenshot "$out" "$@"
  echo "$out"
done
