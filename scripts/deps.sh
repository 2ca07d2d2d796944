#!/usr/bin/env bash
# Installs what the build needs on Debian 12, when missing.
#   bash scripts/deps.sh            the window, ternctl, the tests and the Windows cross build
#   bash scripts/deps.sh --window   only what building and running the window needs
# As root it runs apt-get itself; otherwise it prints the one line to run.
set -euo pipefail
# The window and ternctl: compiler, Qt, the header-only libraries, GoogleTest
# (the build's CMake finds it), the fonts of the Japanese texts, the man pages.
WINDOW=(g++ cmake make pkg-config libgtest-dev googletest libcli11-dev nlohmann-json3-dev qt6-base-dev libgl-dev
        fonts-noto-cjk help2man)
# The tests and the package check: a virtual X server for the screenshots,
# the Debian package tools and lintian, wine and mingw-w64 for the Windows build,
# NSIS and groff for its installer.
TESTS=(xvfb xauth dpkg-dev file lintian g++-mingw-w64-x86-64-posix wine64 util-linux nsis groff-base)
case "${1:-}" in
  --window) PACKAGES=("${WINDOW[@]}") ;;
  "") PACKAGES=("${WINDOW[@]}" "${TESTS[@]}") ;;
  *) echo "usage: bash scripts/deps.sh [--window]" >&2; exit 2 ;;
esac
missing=()
for p in "${PACKAGES[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if ((${#missing[@]} == 0)); then
  exit 0
fi
if [[ $(id -u) -eq 0 ]]; then
  echo "Installing: ${missing[*]}"
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -q
  apt-get install -y -q --no-install-recommends "${missing[@]}"
else
  echo "Missing packages. Run:"
  echo "  sudo apt-get update && sudo apt-get install -y --no-install-recommends ${missing[*]}"
  exit 1
fi
