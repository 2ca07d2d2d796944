#!/usr/bin/env bash
# For the eyes, not for CI: builds ternab and, under a virtual X server,
# starts it against the virtual camera in each tool mode and on each page,
# saving the window once the page has been read: build/ternab-dbg.png,
# -apl.png, -kizu.png, and build/ternab-<page>.png for the six pages; then
# each page as a technician's screen shows it, in build/shots/:
#   <page>-100.png   1366x768 at 100 %
#   <page>-200.png   1280x1024 at 200 % (QT_SCALE_FACTOR=2): the window fits
#                    the screen and scrolls a page that does not
#   <page>-13pt.png  1366x768 with a 13-point font
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
mkdir -p "$build/shots"
for page in adjust debug defect copy setup1 setup2; do
  for look in 100 200 13pt; do
    out="$build/shots/$page-$look.png"
    screen="1366x768x24"
    env=()
    args=()
    case $look in
      200) screen="1280x1024x24"; env=(QT_SCALE_FACTOR=2) ;;
      13pt) args=(--font-size 13) ;;
    esac
    env "${env[@]}" xvfb-run -a -s "-screen 0 $screen" \
      "$build/ternab" --simulate --mode dbg --page "$page" "${args[@]}" --screenshot "$out" "$@"
    echo "$out"
  done
done
