#!/usr/bin/env bash
# Installs what the build and the tests need on Debian 12, when missing.
# As root it runs apt-get itself; otherwise it prints the one line to run.
set -euo pipefail
PACKAGES=(g++ cmake make pkg-config libgtest-dev googletest libcli11-dev nlohmann-json3-dev qt6-base-dev libgl-dev xvfb xauth fonts-noto-cjk help2man
          dpkg-dev file g++-mingw-w64-x86-64-posix wine64 util-linux nsis groff-base)
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
