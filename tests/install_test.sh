#!/usr/bin/env bash
# cmake --install into a temporary prefix puts the programs, the desktop
# entry, the icon and the man pages where a desktop finds them; cpack -G DEB
# packs the same files under /usr, stripped, and declares what they need at
# run time; lintian (when installed) finds no error in the package.
set -euo pipefail
build=$1
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
prefix=$tmp/prefix
cmake --install "$build" --prefix "$prefix" >/dev/null
expected=(
  bin/ternab
  bin/ternctl
  share/applications/ternab.desktop
  share/icons/hicolor/scalable/apps/ternab.svg
  share/man/man1/ternab.1.gz
  share/man/man1/ternctl.1.gz
)
status=0
fail() { echo "$*"; status=1; }
for f in "${expected[@]}"; do
  [[ -e "$prefix/$f" ]] || fail "missing after install: $f"
done
"$prefix/bin/ternctl" --version | grep -qx "ternctl [0-9.]*" || fail "ternctl --version"
"$prefix/bin/ternab" --version | grep -qx "ternab [0-9.]*" || fail "ternab --version"
grep -q "^Exec=ternab" "$prefix/share/applications/ternab.desktop" || fail "desktop entry"
for program in ternab ternctl; do
  [[ -e $prefix/share/man/man1/$program.1.gz ]] || continue
  page=$tmp/$program.1
  zcat "$prefix/share/man/man1/$program.1.gz" >"$page"
  # NAME says what the program is, not just its name again.
  name=$(sed -n '/^\.SH NAME/{n;p;}' "$page")
  [[ $name == "$program \\- "* && $name != "$program \\- $program" ]] || fail "$program.1: NAME line is \"$name\""
  for section in SYNOPSIS DESCRIPTION "EXIT STATUS" FILES EXAMPLES "SEE ALSO"; do
    grep -q "^\.SH \"\?$section\"\?$" "$page" || fail "$program.1: no $section section"
  done
  grep -qF -- '\-\-port' "$page" || fail "$program.1: the options from --help are missing"
  sections=$(grep -c '^\.SH "EXIT STATUS"$' "$page" || true)
  [[ $sections == 1 ]] || fail "$program.1: $sections EXIT STATUS sections, not one"
  # Each exit status --help lists is the page's, in the same words.
  while read -r code words; do
    grep -qF -- "$(sed 's/-/\\-/g' <<<"$words")" "$page" || fail "$program.1: exit status $code is not \"$words\" as --help says"
  done < <("$prefix/bin/$program" --help | sed -n '/^[Ee]xit status:$/,/^$/{/^  [0-9]/p}')
done

# The Debian package.
cpack -G DEB --config "$build/CPackConfig.cmake" -B "$tmp/deb" >/dev/null
debs=("$tmp"/deb/ternab_*.deb)
[[ -e ${debs[0]} ]] || { echo "cpack made no ternab_*.deb"; exit 1; }
contents=$(dpkg-deb -c "${debs[0]}" | awk '{print $NF}')
for f in "${expected[@]}"; do
  grep -qx "\./usr/$f" <<<"$contents" || fail "missing in the package: /usr/$f"
done
# Packed stripped: no program in it carries its debugging symbols.
dpkg-deb -x "${debs[0]}" "$tmp/unpacked"
for program in ternab ternctl; do
  file "$tmp/unpacked/usr/bin/$program" | grep -q ", stripped" || fail "/usr/bin/$program is not stripped in the package"
done
# Lintian, where it is installed (scripts/deps.sh installs it): no errors.
if command -v lintian >/dev/null; then
  lintian_out=$(lintian --no-tag-display-limit "${debs[0]}" 2>&1 || true)
  if grep -q '^E: ' <<<"$lintian_out"; then
    fail "lintian reports errors:"
    grep '^E: ' <<<"$lintian_out"
  fi
fi
depends=$(dpkg-deb -f "${debs[0]}" Depends)
for needed in libqt6widgets6 libqt6gui6 libqt6core6 libstdc++6 qt6-qpa-plugins fonts-noto-cjk; do
  grep -q "\b$needed\b" <<<"$depends" || fail "the package does not depend on $needed (Depends: $depends)"
done
exit $status
