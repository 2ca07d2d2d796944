#!/usr/bin/env bash
# cmake --install into a temporary prefix puts the programs, the desktop
# entry, the icon and the man pages where a desktop finds them.
set -euo pipefail
build=$1
prefix=$(mktemp -d)
trap 'rm -rf "$prefix"' EXIT
cmake --install "$build" --prefix "$prefix" >/dev/null
expected=(
  bin/ternab
  bin/ternctl
  share/applications/ternab.desktop
  share/icons/hicolor/scalable/apps/ternab.svg
  share/man/man1/ternab.1
  share/man/man1/ternctl.1
)
status=0
for f in "${expected[@]}"; do
  [[ -e "$prefix/$f" ]] || { echo "missing after install: $f"; status=1; }
done
"$prefix/bin/ternctl" --version | grep -qx "ternctl [0-9.]*" || { echo "ternctl --version"; status=1; }
"$prefix/bin/ternab" --version | grep -qx "ternab [0-9.]*" || { echo "ternab --version"; status=1; }
grep -q "^Exec=ternab" "$prefix/share/applications/ternab.desktop" || { echo "desktop entry"; status=1; }
grep -q "ternctl" "$prefix/share/man/man1/ternctl.1" || { echo "ternctl man page"; status=1; }
exit $status
