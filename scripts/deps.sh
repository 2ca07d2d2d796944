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
# NSIS and groff for its installer, ser2net for the terminal server tests.
TESTS=(xvfb xauth dpkg-dev file lintian g++-mingw-w64-x86-64-posix wine64 util-linux nsis groff-base
       ser2net)
case "${1:-}" in
  --window) PACKAGES=("${WINDOW[@]}") ;;
  "") PACKAGES=("${WINDOW[@]}" "${TESTS[@]}") ;;
  *) echo "usage: bash scripts/deps.sh [--window]" >&2; exit 2 ;;
esac
# Debian's ser2net starts a service whose default configuration serves this
# machine's serial ports on TCP ports; the tests start a ser2net of their own
# on 127.0.0.1 with a configuration they write. The service is stopped and
# kept from starting at boot.
quiet_ser2net_service() {
  [[ $(id -u) -eq 0 && -e /etc/init.d/ser2net ]] || return 0
  if [[ -d /run/systemd/system ]]; then
    systemctl disable --now ser2net.service >/dev/null 2>&1 || true
  else
    service ser2net stop >/dev/null 2>&1 || true
    update-rc.d ser2net disable >/dev/null 2>&1 || true
  fi
}
missing=()
for p in "${PACKAGES[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if ((${#missing[@]} == 0)); then
  quiet_ser2net_service
  exit 0
fi
if [[ $(id -u) -eq 0 ]]; then
  echo "Installing: ${missing[*]}"
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -q
  apt-get install -y -q --no-install-recommends "${missing[@]}"
  quiet_ser2net_service
else
  echo "Missing packages. Run:"
  echo "  sudo apt-get update && sudo apt-get install -y --no-install-recommends ${missing[*]}"
  exit 1
fi
