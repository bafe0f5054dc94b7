#!/bin/sh
# Installs a build into a temporary prefix and checks what a desktop and a
# package need from it: both programs in bin/, stripped; a valid desktop entry
# whose Exec and Icon name installed files; valid AppStream metadata whose
# launchable is that entry; man pages that render without a warning and name
# every option the programs take; copyright and changelog in the doc folder.
# When lintian is installed, the Debian package made by cpack is checked too.
# Usage: install_test.sh CMAKE BUILD_DIR. Exits with 77 (skipped) when the
# validators (Debian packages desktop-file-utils and appstream) are missing.
set -eu
cmake=$1
build=$2
for tool in desktop-file-validate appstreamcli; do
  command -v "$tool" >/dev/null || { echo "$tool is not installed: skipped"; exit 77; }
done
fail() { echo "FAIL: $*" >&2; exit 1; }

prefix=$(mktemp -d)
trap 'rm -rf "$prefix"' EXIT
"$cmake" --install "$build" --prefix "$prefix" --strip >/dev/null

for program in wavtrn wavtrn-cli; do
  [ -x "$prefix/bin/$program" ] || fail "bin/$program is not installed"
  if readelf -S "$prefix/bin/$program" | grep -q '\.symtab'; then fail "bin/$program is not stripped"; fi
done
entry=$prefix/share/applications/org.wavtrn.wavtrn.desktop
# desktop-file-validate fails only on errors; its warnings and hints count here too.
report=$(desktop-file-validate "$entry" 2>&1) || fail "$report"
[ -z "$report" ] || fail "$report"
appstreamcli validate --no-net "$prefix/share/metainfo/org.wavtrn.wavtrn.metainfo.xml"
# The tree check also finds the desktop entry the metadata names as launchable.
appstreamcli validate-tree --no-net "$prefix" >/dev/null

program=$(sed -n 's/^Exec=\([^ ]*\).*/\1/p' "$entry")
[ -x "$prefix/bin/$program" ] || fail "Exec names '$program', which is not installed"
icon=$(sed -n 's/^Icon=//p' "$entry")
[ -s "$prefix/share/icons/hicolor/scalable/apps/$icon.svg" ] || fail "icon '$icon' is not installed"
"$prefix/bin/wavtrn-cli" formats | grep -q '^pcm/44100/16/2	' || fail "the installed wavtrn-cli lists no formats"

doc=$prefix/share/doc/wavtrn
grep -q '^Format: https://www.debian.org/doc/packaging-manuals/copyright-format/1.0/' "$doc/copyright" \
  || fail "share/doc/wavtrn/copyright is missing or not in the machine-readable form"
gzip -dc "$doc/changelog.gz" | head -n 1 | grep -q "^wavtrn (" || fail "share/doc/wavtrn/changelog.gz names no release"

# Each man page renders without a warning and names every long option of its
# program's help (and of each command's help for wavtrn-cli).
check_page() {  # PAGE HELP-TEXT
  page=$prefix/share/man/man1/$1.1.gz
  [ -s "$page" ] || fail "man page $1.1.gz is not installed"
  warnings=$(gzip -dc "$page" | groff -man -Tutf8 -ww -z 2>&1) || fail "$1.1: $warnings"
  [ -z "$warnings" ] || fail "$1.1: $warnings"
  text=$(gzip -dc "$page" | groff -man -Tutf8 2>/dev/null | sed 's/.\x08//g')
  for option in $(printf '%s\n' "$2" | grep -o -- '--[a-z][a-z-]*' | sort -u); do
    printf '%s\n' "$text" | grep -q -- "$option" || fail "$1.1 does not name $option"
  done
}
cli_help=""
for command in "" formats info convert; do
  cli_help="$cli_help $("$prefix/bin/wavtrn-cli" $command --help)"
done
check_page wavtrn-cli "$cli_help"
check_page wavtrn "$(QT_QPA_PLATFORM=offscreen "$prefix/bin/wavtrn" --help)"

# The package as cpack makes it, with no lintian error.
if command -v lintian >/dev/null && command -v dpkg-shlibdeps >/dev/null; then
  "$(dirname "$cmake")/cpack" -G DEB --config "$build/CPackConfig.cmake" -B "$prefix/deb" >/dev/null || fail "cpack made no package"
  lintian --fail-on error "$prefix"/deb/wavtrn_*.deb || fail "lintian found errors in the package"
else
  echo "lintian or dpkg-shlibdeps is not installed: the package is not checked"
fi
