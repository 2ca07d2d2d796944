#!/usr/bin/env bash
# The Windows build under wine, against the virtual camera: win_tests.exe and
# ternctl.exe probe, backup and restore --batch --verify on COM1.
#
#   bash scripts/wine_test.sh BUILD_WIN BUILD_LINUX
#
# BUILD_WIN holds the cross build (ternctl.exe, win_tests.exe), BUILD_LINUX
# the Linux one (ternctl for the virtual camera, the TIOCMGET preload).
#
# Safety: wine maps COM ports to the machine's own /dev/ttyS* (and USB/ACM
# adapters) by default. This script runs in a mount namespace of its own
# where every such device is /dev/null, maps COM1 to the virtual camera's
# pseudo-terminal, and checks that COM77 (the missing port of the tests)
# names nothing at all. No byte goes to a device the test did not create.
set -euo pipefail

if [[ -z ${TERN_WINE_MASKED:-} ]]; then
  # As root a mount namespace alone; otherwise one in a user namespace of our own.
  own=(-m); [[ $(id -u) -eq 0 ]] || own=(-r -m)
  exec unshare "${own[@]}" --propagation private env TERN_WINE_MASKED=1 bash "$0" "$@"
fi

win=$(realpath "$1")
lin=$(realpath "$2")
for d in /dev/ttyS* /dev/ttyUSB* /dev/ttyACM*; do
  [[ -e $d ]] && mount --bind /dev/null "$d"
done
# Proof of the mask before wine starts: a real port would answer TIOCGSERIAL.
for d in /dev/ttyS* /dev/ttyUSB* /dev/ttyACM*; do
  if [[ -e $d && $(stat -c %t:%T "$d") != $(stat -c %t:%T /dev/null) ]]; then
    echo "wine_test: $d is not masked; refusing to run wine" >&2
    exit 1
  fi
done

WINE=${WINE:-$(command -v wine64 || echo /usr/lib/wine/wine64)}
WINESERVER=${WINESERVER:-$(command -v wineserver || echo /usr/lib/wine/wineserver)}
export WINESERVER
work=$(mktemp -d /tmp/tern-wine.XXXXXX)
export WINEPREFIX=$work/prefix WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
camera_pid=
cleanup() {
  [[ -n $camera_pid ]] && kill "$camera_pid" 2>/dev/null || true
  "$WINESERVER" -k >/dev/null 2>&1 || true
  rm -rf "$work"
}
trap cleanup EXIT

# The virtual camera, on a pseudo-terminal of its own.
"$lin/ternctl" simulate > "$work/camera" &
camera_pid=$!
for _ in $(seq 100); do [[ -s $work/camera ]] && break; sleep 0.1; done
pty=$(head -n1 "$work/camera")
[[ -c $pty ]] || { echo "wine_test: the virtual camera did not start" >&2; exit 1; }

# A fresh prefix, the ports mapped, then wine started again so that its
# mount manager makes the COM links from the registry.
"$WINE" wineboot -i >/dev/null 2>&1
"$WINE" reg add 'HKLM\Software\Wine\Ports' /v COM1 /d "$pty" /f >/dev/null
"$WINESERVER" -w
# A persistent server: the programs' ends do not wait for it, nor does ctest.
"$WINESERVER" -p >/dev/null 2>&1
"$WINE" wineboot -r >/dev/null 2>&1 || true
link=$(readlink "$WINEPREFIX/dosdevices/com1" || true)
if [[ $link != "$pty" || -e $WINEPREFIX/dosdevices/com77 ]]; then
  echo "wine_test: COM1 is '$link', not the camera's $pty, or COM77 exists; refusing to run" >&2
  exit 1
fi

status=0
echo "== Windows tests under wine =="
TERN_WIN_PORT=COM1 TERN_WIN_MISSING=COM77 "$WINE" "$win/win_tests.exe" || status=1

echo "== ternctl.exe under wine =="
run() {  # name, expected exit status, command...
  local name=$1 want=$2
  shift 2
  local rc=0
  "$@" > "$work/out" 2> "$work/err" || rc=$?
  if [[ $rc == "$want" ]]; then
    echo "[  OK  ] $name"
  else
    echo "[FAILED] $name (exit $rc, expected $want)"
    cat "$work/out" "$work/err"
    status=1
  fi
}
file='C:\cam.dat'
run "ternctl.exe probe" 0 "$WINE" "$win/ternctl.exe" probe --port COM1
grep -q "NTSC" "$work/out" || { echo "[FAILED] probe named no TV standard"; cat "$work/out"; status=1; }
run "ternctl.exe backup" 0 "$WINE" "$win/ternctl.exe" backup --quiet --port COM1 "$file"
dat="$WINEPREFIX/drive_c/cam.dat"
# 512 records of 32 bytes, each ending in CR LF (text mode would make it CR CR LF).
if [[ $(stat -c %s "$dat" 2>/dev/null) != 16384 || $(grep -c $'\r$' "$dat") != 512 ]]; then
  echo "[FAILED] the backup is not 512 records ending in CR LF"
  status=1
fi
run "ternctl.exe restore --batch --verify" 0 "$WINE" "$win/ternctl.exe" restore --batch --verify --quiet --port COM1 "$file"
run "ternctl.exe probe, missing COM77" 1 "$WINE" "$win/ternctl.exe" probe --port COM77
grep -q "Device Manager" "$work/out" "$work/err" || { echo "[FAILED] no Device Manager help for COM77"; cat "$work/err"; status=1; }

# A camera behind a terminal server: ternctl.exe probe on an rfc2217 port of
# a ser2net on 127.0.0.1 (a configuration of our own, bounded by timeout),
# its connector a second virtual camera. The serial ports stay masked.
"$lin/ternctl" simulate > "$work/camera2" &
camera2_pid=$!
ser2net_pid=
trap '[[ -n $ser2net_pid ]] && kill "$ser2net_pid" 2>/dev/null; kill "$camera2_pid" 2>/dev/null; cleanup' EXIT
for _ in $(seq 100); do [[ -s $work/camera2 ]] && break; sleep 0.1; done
pty2=$(head -n1 "$work/camera2")
listening() { grep -qE "(0100007F|00000000):$(printf %04X "$1") 00000000:0000 0A" /proc/net/tcp; }
netport=$((20000 + RANDOM % 30000))
while listening "$netport"; do netport=$((netport + 1)); done
printf '%%YAML 1.1\n---\nconnection: &cam\n  accepter: telnet(rfc2217),tcp,127.0.0.1,%s\n  connector: serialdev,%s,9600n81,local\n' \
  "$netport" "$pty2" > "$work/ser2net.yaml"
timeout 300 ser2net -n -u -c "$work/ser2net.yaml" -P "$work/ser2net.pid" 2> "$work/ser2net.err" &
ser2net_pid=$!
for _ in $(seq 100); do listening "$netport" && break; sleep 0.1; done
run "ternctl.exe probe through ser2net" 0 "$WINE" "$win/ternctl.exe" probe --port "rfc2217://127.0.0.1:$netport"
grep -q "NTSC" "$work/out" || { echo "[FAILED] probe through ser2net named no TV standard"; cat "$work/out" "$work/err"; status=1; }
exit $status
