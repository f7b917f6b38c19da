#!/usr/bin/env bash
# Builds the Debian package from a finished build folder, checks its control
# data and file list, installs it with dpkg into a throw-away root (its
# dependencies checked against what this machine has installed), starts the
# installed program and waits for its main window, then removes the package.
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
for f in ./usr/bin/qimtool ./usr/bin/qimsim ./usr/bin/qimctl ./usr/share/applications/qimtool.desktop \
         ./usr/share/icons/hicolor/scalable/apps/qimtool.svg \
         ./usr/share/icons/hicolor/48x48/apps/qimtool.png \
         ./usr/share/icons/hicolor/256x256/apps/qimtool.png; do
    grep -qx -- "$f" <<<"$files" || fail "missing $f"
done
# Nothing of the build or the tests is shipped.
if grep -E 'tst_|make_icons|qimbench|\.a$' <<<"$files"; then fail "build files shipped"; fi

# Install it as dpkg would here, but into a throw-away root and a copy of
# the package database: dpkg checks the computed dependencies against the
# packages installed on this machine. Works without root too.
admin=$work/admin
mkdir -p "$admin/updates" "$admin/info" "$admin/triggers" "$work/root"
cp /var/lib/dpkg/status "$admin/status"
touch "$admin/available"
# Empty file lists for the copied packages: nothing of theirs is in the root.
dpkg-query -W -f='${binary:Package}\n' | sed "s|.*|$admin/info/&.list|" | xargs touch
sandbox=(--admindir="$admin" --instdir="$work/root" --force-not-root --force-script-chrootless
         --log=/dev/null)
dpkg "${sandbox[@]}" -i "$deb" >"$work/dpkg.log" 2>&1 || { cat "$work/dpkg.log"; fail "dpkg -i"; }
[ "$(dpkg-query --admindir="$admin" -W -f='${Status}' qimtool)" = "install ok installed" ] ||
    fail "not installed"
grep -q '^Exec=qimtool$' "$work/root/usr/share/applications/qimtool.desktop" || fail "desktop entry"

export XDG_RUNTIME_DIR="$work/runtime"
mkdir -m 700 "$XDG_RUNTIME_DIR"
if command -v xvfb-run >/dev/null && command -v xwininfo >/dev/null; then
    # The installed program shows its main window after the splash.
    xvfb-run -a -s "-screen 0 1280x800x24" bash -c '
        "$1" & pid=$!
        for _ in $(seq 60); do
            if xwininfo -root -tree | grep -q "\"QIMTool V1.10\""; then
                kill $pid; wait $pid; exit 0
            fi
            kill -0 $pid 2>/dev/null || exit 2
            sleep 0.25
        done
        kill $pid; exit 1' _ "$work/root/usr/bin/qimtool" >"$work/run.log" 2>&1 ||
        { cat "$work/run.log"; fail "the installed qimtool showed no main window"; }
else
    # No X server to look at: a clean start still up after 3 s.
    set +e
    QT_QPA_PLATFORM=offscreen timeout 3 "$work/root/usr/bin/qimtool"
    rc=$?
    set -e
    [ "$rc" -eq 124 ] || fail "the installed qimtool exited with $rc"
fi

# And it goes again without leftovers.
dpkg "${sandbox[@]}" -r qimtool >"$work/dpkg.log" 2>&1 || { cat "$work/dpkg.log"; fail "dpkg -r"; }
[ -z "$(find "$work/root" -type f)" ] || fail "files left after removal"
echo "package ok: $(basename "$deb")"
