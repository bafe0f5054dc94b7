#!/bin/sh
# Installs a build into a temporary prefix and checks what a desktop needs from it:
# both programs in bin/, a valid desktop entry whose Exec and Icon name installed
# files, and valid AppStream metadata whose launchable is that entry.
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
"$cmake" --install "$build" --prefix "$prefix" >/dev/null

for program in wavtrn wavtrn-cli; do
  [ -x "$prefix/bin/$program" ] || fail "bin/$program is not installed"
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
