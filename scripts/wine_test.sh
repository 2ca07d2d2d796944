#!/usr/bin/env bash
# The Windows build under wine, against the virtual camera: win_tests.exe;
# ternctl.exe's commands on COM1 (probe, ports, backup, restore both ways,
# show, diff, get, set; port names in any case; device names refused as
# files; a non-ASCII path; --force onto a read-only file); on COM2, a slow
# camera, a backup interrupted by Ctrl-C and one whose camera is killed; then
# the installer: made with cpack, installed and uninstalled silently.
#
#   bash scripts/wine_test.sh BUILD_WIN BUILD_LINUX
#
# BUILD_WIN holds the cross build (ternctl.exe, win_tests.exe), BUILD_LINUX
# the Linux one (ternctl for the virtual camera; wine_pty_modem_lines.so, the
# preload that gives wine's pseudo-terminal modem lines, so that the port's
# event wait pends as on a real port: tests/win/pty_modem_lines.cpp).
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
camera_pid= camera2_pid=
cleanup() {
  [[ -n $camera_pid ]] && kill "$camera_pid" 2>/dev/null || true
  [[ -n $camera2_pid ]] && kill "$camera2_pid" 2>/dev/null || true
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
# COM2: a camera paced at 1200 baud, so that a backup on it lasts long enough
# to be interrupted in the middle.
"$lin/ternctl" simulate --baud 1200 > "$work/camera2" &
camera2_pid=$!
for _ in $(seq 100); do [[ -s $work/camera2 ]] && break; sleep 0.1; done
pty2=$(head -n1 "$work/camera2")
[[ -c $pty2 ]] || { echo "wine_test: the second virtual camera did not start" >&2; exit 1; }

preload="$lin/wine_pty_modem_lines.so"
[[ -f $preload ]] || { echo "wine_test: $preload is missing: build the target wine_pty_modem_lines" >&2; exit 1; }
export LD_PRELOAD=$preload

# A fresh prefix, the ports mapped, then wine started again so that its
# mount manager makes the COM links from the registry.
"$WINE" wineboot -i >/dev/null 2>&1
"$WINE" reg add 'HKLM\Software\Wine\Ports' /v COM1 /d "$pty" /f >/dev/null
"$WINE" reg add 'HKLM\Software\Wine\Ports' /v COM2 /d "$pty2" /f >/dev/null
"$WINESERVER" -w
# A persistent server: the programs' ends do not wait for it, nor does ctest.
"$WINESERVER" -p >/dev/null 2>&1
"$WINE" wineboot -r >/dev/null 2>&1 || true
link=$(readlink "$WINEPREFIX/dosdevices/com1" || true)
link2=$(readlink "$WINEPREFIX/dosdevices/com2" || true)
if [[ $link != "$pty" || $link2 != "$pty2" || -e $WINEPREFIX/dosdevices/com77 ]]; then
  echo "wine_test: COM1 is '$link', COM2 '$link2', not the cameras' $pty and $pty2, or COM77 exists; refusing to run" >&2
  exit 1
fi

status=0
echo "== Windows tests under wine =="
TERN_WIN_PORT=COM1 TERN_WIN_MISSING=COM77 "$WINE" "$win/win_tests.exe" || status=1
# And as plain wine shows a pseudo-terminal (no modem lines: every idle wait
# ends aborted), which the port takes for no loss there.
echo "== Windows tests under wine, without the modem-line preload =="
LD_PRELOAD= TERN_WIN_PORT=COM1 TERN_WIN_MISSING=COM77 "$WINE" "$win/win_tests.exe" \
  --gtest_filter='-*EventWaitPends*' --gtest_brief=1 || status=1

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
expect() {  # what, file, extended regular expression it must hold
  grep -Eq -- "$3" "$2" || { echo "[FAILED] $1"; cat "$work/out" "$work/err"; status=1; }
}
ctl() { "$WINE" "$win/ternctl.exe" "$@"; }
run "ternctl.exe probe" 0 ctl probe --port COM1
expect "probe named no TV standard" "$work/out" "NTSC"
run "ternctl.exe probe --port '\\.\com1'" 0 ctl probe --port '\\.\com1'
run "ternctl.exe ports" 0 ctl ports
expect "ports did not list COM1 as read/write" "$work/out" "^COM1 .*read/write"
grep -q COM77 "$work/out" && { echo "[FAILED] ports listed COM77"; status=1; }
run "ternctl.exe --help names COM1 as the default port" 0 ctl --help
expect "--help does not name COM1 as the default" "$work/out" "default COM1"
# A lower-case port name, as a Windows user may type it.
run "ternctl.exe backup --port com1" 0 ctl backup --quiet --port com1 "$file"
dat="$WINEPREFIX/drive_c/cam.dat"
# 512 records of 32 bytes, each ending in CR LF (text mode would make it CR CR LF).
if [[ $(stat -c %s "$dat" 2>/dev/null) != 16384 || $(grep -c $'\r$' "$dat") != 512 ]]; then
  echo "[FAILED] the backup is not 512 records ending in CR LF"
  status=1
fi
run "ternctl.exe restore --batch --verify" 0 ctl restore --batch --verify --quiet --port COM1 "$file"
run "ternctl.exe backup, plain wine (no modem lines)" 0 env LD_PRELOAD= "$WINE" "$win/ternctl.exe" backup --quiet --port COM1 'C:\plain.dat'
cmp -s "$dat" "$WINEPREFIX/drive_c/plain.dat" || { echo "[FAILED] the backup on plain wine differs"; status=1; }
run "ternctl.exe probe, missing COM77" 1 ctl probe --port COM77
expect "no Device Manager help for COM77" "$work/err" "Device Manager"

# Settings by name and by file, the camera changed and put back.
run "ternctl.exe show" 0 ctl show "$file"
expect "show listed no word" "$work/out" "^0?000"
run "ternctl.exe diff, nothing changed" 0 ctl diff "$file" --port COM1
run "ternctl.exe set Sync=LINE" 0 ctl set --port COM1 Sync=LINE
run "ternctl.exe get Sync" 0 ctl get --port COM1 Sync
expect "get did not read Sync=LINE back" "$work/out" "^Sync=LINE"
run "ternctl.exe diff after set" 1 ctl diff "$file" --port COM1
run "ternctl.exe restore --single" 0 ctl restore --single --quiet --port COM1 "$file"
run "ternctl.exe diff after restore --single" 0 ctl diff "$file" --port COM1
# Two cameras at once in one ternctl.exe: a line for each, then the summary.
run "ternctl.exe get on two cameras at once" 0 ctl get --port COM1 --port COM2 Sync
[[ $(grep -c 'Sync=' "$work/out") == 2 ]] || { echo "[FAILED] get on two cameras did not print Sync for both"; cat "$work/out" "$work/err"; status=1; }

# Names Windows keeps for devices are refused as files before anything is sent.
for name in NUL COM1 nul.dat 'C:\aux.txt'; do
  run "ternctl.exe show $name refused" 1 timeout 60 "$WINE" "$win/ternctl.exe" show "$name"
  expect "show $name: no device-name message" "$work/err" "device name"
done
run "ternctl.exe backup NUL refused" 1 timeout 60 "$WINE" "$win/ternctl.exe" backup --port COM1 NUL
expect "backup NUL: no device-name message" "$work/err" "device name"

# A path in Japanese: file names go to Windows as UTF-16.
mkdir -p "$WINEPREFIX/drive_c/カメラ"
run "ternctl.exe backup to a non-ASCII path" 0 ctl backup --quiet --port COM1 'C:\カメラ\設定.dat'
cmp -s "$dat" "$WINEPREFIX/drive_c/カメラ/設定.dat" || { echo "[FAILED] the non-ASCII backup differs from the first"; status=1; }
run "ternctl.exe show of a non-ASCII path" 0 ctl show 'C:\カメラ\設定.dat'

# --force onto a read-only file: replaced, and read-only still.
cp "$dat" "$WINEPREFIX/drive_c/ro.dat"
chmod a-w "$WINEPREFIX/drive_c/ro.dat"
run "ternctl.exe backup onto a read-only file refused" 1 ctl backup --quiet --port COM1 'C:\ro.dat'
run "ternctl.exe backup --force onto a read-only file" 0 ctl backup --quiet --force --port COM1 'C:\ro.dat'
[[ -w $WINEPREFIX/drive_c/ro.dat && $(id -u) -ne 0 ]] && { echo "[FAILED] ro.dat is writable after --force"; status=1; }
[[ $(stat -c %A "$WINEPREFIX/drive_c/ro.dat") == *w* ]] && { echo "[FAILED] ro.dat lost its read-only mark"; status=1; }

# Interrupted backups on the slow camera: the temporary file beside the
# target is there once the copy has begun (it is made before the port opens).
interrupted() {  # name, how to interrupt (a command run once the copy has begun)
  local name=$1 how=$2 rc=0
  rm -f "$WINEPREFIX"/drive_c/slow.dat*
  "$WINE" "$win/ternctl.exe" backup --quiet --port COM2 'C:\slow.dat' > "$work/out" 2> "$work/err" &
  local pid=$!
  for _ in $(seq 300); do compgen -G "$WINEPREFIX/drive_c/slow.dat.tmp*" >/dev/null && break; sleep 0.1; done
  if ! compgen -G "$WINEPREFIX/drive_c/slow.dat.tmp*" >/dev/null; then
    echo "[FAILED] $name: the backup never began"; kill "$pid" 2>/dev/null; status=1; return
  fi
  eval "$how"
  wait "$pid" || rc=$?
  # wine's server closes the program's files (and so deletes one marked for
  # deletion) just after the program has ended.
  for _ in $(seq 100); do compgen -G "$WINEPREFIX/drive_c/slow.dat*" >/dev/null || break; sleep 0.1; done
  if [[ $rc == 0 || ($name == *Ctrl-C* && $rc != 130) ]] || compgen -G "$WINEPREFIX/drive_c/slow.dat*" >/dev/null; then
    echo "[FAILED] $name (exit $rc; left: $(cd "$WINEPREFIX/drive_c" && echo slow.dat*))"
    cat "$work/out" "$work/err"
    status=1
  else
    echo "[  OK  ] $name (exit $rc)"
  fi
}
# wine hands a SIGINT to the console control handlers as Ctrl-C.
interrupted "ternctl.exe backup, Ctrl-C in the middle" 'kill -INT $pid'
interrupted "ternctl.exe backup, the camera killed in the middle" 'kill $camera2_pid; camera2_pid='

echo "== the installer under wine =="
# Made from the cross build as a user would (cpack), installed silently into
# a folder of its own, run from there, uninstalled silently; nothing may stay.
if ! (cd "$win" && cpack -G NSIS > "$work/cpack" 2>&1); then
  echo "[FAILED] cpack -G NSIS"; cat "$work/cpack"; status=1
else
  echo "[  OK  ] cpack -G NSIS"
  installer=$(ls -t "$win"/ternab-*-win64.exe | head -n1)
  dir="$WINEPREFIX/drive_c/TernAB-test"
  path_value() {  # PATH of the user and of the machine, as the registry holds them
    "$WINE" reg query 'HKCU\Environment' /v PATH 2>/dev/null
    "$WINE" reg query 'HKLM\SYSTEM\CurrentControlSet\Control\Session Manager\Environment' /v PATH 2>/dev/null
  }
  uninstall_key='HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall\TernAB'
  run "installer /S" 0 "$WINE" "$installer" /S '/D=C:\TernAB-test'
  [[ -f $dir/bin/ternctl.exe && -f $dir/doc/ternctl.txt && -f $dir/Uninstall.exe ]] ||
    { echo "[FAILED] the installed folder lacks bin\\ternctl.exe, doc\\ternctl.txt or Uninstall.exe"; status=1; }
  path_value | grep -qi 'TernAB-test\\bin' || { echo "[FAILED] the installer did not add its bin folder to PATH"; status=1; }
  "$WINE" reg query "$uninstall_key" >/dev/null 2>&1 || { echo "[FAILED] no uninstaller registered"; status=1; }
  run "installed ternctl.exe --version" 0 "$WINE" 'C:\TernAB-test\bin\ternctl.exe' --version
  expect "the installed ternctl.exe named no version" "$work/out" "^ternctl [0-9]"
  # The uninstaller copies itself aside and runs from there: its end is the folder gone.
  run "Uninstall.exe /S" 0 "$WINE" 'C:\TernAB-test\Uninstall.exe' /S
  for _ in $(seq 300); do [[ -e $dir ]] || break; sleep 0.1; done
  left=()
  [[ -e $dir ]] && left+=("files: $(cd "$dir" && find . -mindepth 1 | head | tr '\n' ' ')")
  path_value | grep -qi 'TernAB-test' && left+=("the PATH entry")
  "$WINE" reg query "$uninstall_key" >/dev/null 2>&1 && left+=("the uninstaller's registration")
  if ((${#left[@]})); then
    echo "[FAILED] left after uninstalling: ${left[*]}"; status=1
  else
    echo "[  OK  ] uninstalled: nothing left"
  fi
fi

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
run "ternctl.exe probe through ser2net" 0 ctl probe --port "rfc2217://127.0.0.1:$netport"
grep -q "NTSC" "$work/out" || { echo "[FAILED] probe through ser2net named no TV standard"; cat "$work/out" "$work/err"; status=1; }
exit $status
