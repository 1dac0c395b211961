#!/usr/bin/env bash
# The program at 150 % scaling: runs the Dpi144 end-to-end tests in a copy of the Wine
# prefix whose screen is at 144 DPI, and keeps the pictures of the windows they check
# as docs/*-144dpi.png.
# Usage: tests/e2e/dpi144.sh WIN64_BUILD_DIR
set -euo pipefail

top=$(cd "$(dirname "$0")/../.." && pwd)
build=$(cd "$1" && pwd)
: "${DISPLAY:?the test needs a display (run inside scripts/sandbox)}"

work=$(mktemp -d /tmp/tavrino-dpi.XXXXXX)
export WINEPREFIX="$work/prefix"
cleanup() {
  # Only this copy's own server is stopped.
  WINEPREFIX="$work/prefix" wineserver -k 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT
cp -a "${TAVRINO_BUILD:-$top/build}/wineprefix" "$WINEPREFIX"
# Wine takes the screen's scale from either key, by version.
"$top/scripts/wine-run" reg add 'HKCU\Control Panel\Desktop' /v LogPixels /t REG_DWORD /d 144 /f >/dev/null
"$top/scripts/wine-run" reg add 'HKLM\System\CurrentControlSet\Hardware Profiles\Current\Software\Fonts' \
  /v LogPixels /t REG_DWORD /d 144 /f >/dev/null
wineserver -w

mkdir -p "$work/shots"
TAVRINO_SHOT_DIR="Z:$(tr / '\\' <<<"$work/shots")" \
  timeout -k 10 300 "$top/scripts/wine-run" "$build/tests/e2e_tests.exe" --gtest_filter='Dpi144.*' \
  | tee "$work/log"
# A skipped test passes in gtest; here the scale must have been in effect.
if grep -q '\[  SKIPPED \]' "$work/log"; then
  echo "dpi144: the prefix is not at 144 DPI" >&2
  exit 1
fi
for shot in "$work"/shots/*.bmp; do
  convert "$shot" "$top/docs/$(basename "$shot" .bmp)-144dpi.png"
done
echo "dpi144: $(ls "$work"/shots | wc -l) pictures in docs/"
