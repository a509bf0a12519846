#!/usr/bin/env bash
# Builds the Debian package from a built tree into a temporary directory, unpacks it into a
# temporary root and runs the programs from there.
#   package_test.sh <build dir> <with GUI: ON|OFF> <with terminalctl: ON|OFF>
# Exit 77 (skipped) when cpack or dpkg is missing or terminalctl is not part of this build.
set -uo pipefail
build="$1"; gui="$2"; cli="$3"
command -v cpack >/dev/null && command -v dpkg-deb >/dev/null || { echo "SKIPPED: cpack or dpkg-deb missing"; exit 77; }
if [ "$cli" != ON ]; then echo "SKIPPED: terminalctl is not built in this tree"; exit 77; fi

tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
fail=0
check() { if ! eval "$2"; then echo "FAIL: $1"; fail=1; else echo "ok: $1"; fi; }

# cpack installs from the build tree; its own output goes to the temporary directory only.
if ! (cd "$tmp" && cpack -G DEB -B "$tmp/out" --config "$build/CPackConfig.cmake" >"$tmp/cpack.log" 2>&1); then
  tail -n 30 "$tmp/cpack.log"; echo "FAIL: cpack"; exit 1
fi
deb=$(find "$tmp/out" -maxdepth 1 -name '*.deb' | head -n 1)
check "a .deb was made" '[ -n "$deb" ]'
[ -n "$deb" ] || exit 1
echo "package: $(basename "$deb"), $(du -k "$deb" | cut -f1) kB"
dpkg-deb -c "$deb" | awk '{print $NF}' >"$tmp/contents"
cat "$tmp/contents"
echo "Depends: $(dpkg-deb -f "$deb" Depends)"

root="$tmp/root"
mkdir -p "$root"
dpkg -x "$deb" "$root" || { echo "FAIL: dpkg -x"; exit 1; }

check "terminalctl installed" '[ -x "$root/usr/bin/terminalctl" ]'
check "simulator installed" '[ -x "$root/usr/bin/sicct-terminal-sim" ]'
check "CT-API simulator library installed" '[ -n "$(find "$root/usr/lib" -name "libctapi-sim.so*" | head -n 1)" ]'
check "udev rule installed" '[ -f "$root/usr/lib/udev/rules.d/70-terminal-console.rules" ]'
check "package declares its library dependencies" '[ -n "$(dpkg-deb -f "$deb" Depends)" ]'
check "programs are stripped" '! file -L "$root/usr/bin/terminalctl" | grep -q "not stripped"'
check "version record kept by stripping" 'readelf -S "$root/usr/bin/terminalctl" | grep -q "\.tc_version"'
if [ "$gui" = ON ]; then
  check "GUI installed" '[ -x "$root/usr/bin/terminal-console" ]'
  check "desktop entry installed" '[ -f "$root/usr/share/applications/terminal-console.desktop" ]'
  check "icons installed" '[ -f "$root/usr/share/icons/hicolor/48x48/apps/terminal-console.png" ]'
fi

# The unpacked programs run from the temporary root (their libraries are system ones).
out=$(LD_LIBRARY_PATH="$root/usr/lib" "$root/usr/bin/terminalctl" --help 2>&1); rc=$?
echo "$out" | head -n 15
check "terminalctl --help runs from the package (rc $rc)" '[ "$rc" -eq 0 ] && [ -n "$out" ]'
out=$("$root/usr/bin/sicct-terminal-sim" --help 2>&1); rc=$?
check "sicct-terminal-sim --help runs from the package (rc $rc)" '[ "$rc" -eq 0 ]'
exit "$fail"
