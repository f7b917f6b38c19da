#!/usr/bin/env bash
# Builds the Debian package from a finished build folder, checks its control
# data and file list, unpacks it into a throw-away root and starts the
# unpacked program for a few seconds.
#   check_package.sh <build dir>
set -euo pipefail
build=$1
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

(cd "$build" && cpack -G DEB -B "$work/out" >/dev/null)
deb=$(ls "$work"/out/qimtool_*.deb)
info=$(dpkg-deb --info "$deb")
files=$(dpkg-deb --contents "$deb" | awk '{print $6}')

fail() { echo "FAIL: $*"; exit 1; }
grep -q '^ Package: qimtool$' <<<"$info" || fail "package name"
grep -q '^ Version: 1.10$' <<<"$info" || fail "version"
# Computed dependencies name the Qt libraries the binaries link.
for lib in libqt6core6 libqt6widgets6 libqt6serialport6 libqt6network6; do
    grep -q "^ Depends:.*$lib" <<<"$info" || fail "Depends lacks $lib"
done
for f in ./usr/bin/qimtool ./usr/bin/qimsim ./usr/share/applications/qimtool.desktop \
         ./usr/share/icons/hicolor/scalable/apps/qimtool.svg \
         ./usr/share/icons/hicolor/48x48/apps/qimtool.png \
         ./usr/share/icons/hicolor/256x256/apps/qimtool.png; do
    grep -qx -- "$f" <<<"$files" || fail "missing $f"
done
# Nothing of the build or the tests is shipped.
if grep -E 'tst_|make_icons|qimbench|\.a$' <<<"$files"; then fail "build files shipped"; fi

dpkg-deb -x "$deb" "$work/root"
grep -q '^Exec=qimtool$' "$work/root/usr/share/applications/qimtool.desktop" || fail "desktop entry"
# The unpacked program starts and keeps running (it has no command line: a
# clean start that is still up after 3 s is what we can check here).
export XDG_RUNTIME_DIR="$work/runtime"
mkdir -m 700 "$XDG_RUNTIME_DIR"
set +e
QT_QPA_PLATFORM=offscreen timeout 3 "$work/root/usr/bin/qimtool"
rc=$?
set -e
[ "$rc" -eq 124 ] || fail "the unpacked qimtool exited with $rc"
echo "package ok: $(basename "$deb")"
