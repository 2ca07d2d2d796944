#!/usr/bin/env bash
# Installs what the build and the tests need on Debian 12, when missing.
# As root it runs apt-get itself; otherwise it prints the one line to run.
set -euo pipefail
PACKAGES=(g++ cmake make pkg-config libgtest-dev googletest libcli11-dev nlohmann-json3-dev qt6-base-dev libgl-dev xvfb xauth fonts-noto-cjk help2man
          dpkg-dev file g++-mingw-w64-x86-64-posix wine64 util-linux ser2net)
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
