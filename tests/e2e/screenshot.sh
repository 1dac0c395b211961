#!/usr/bin/env bash
# Starts the program in the sandbox's display, waits for its main window and saves
# a picture of it as docs/main-window.png.
# Usage: tests/e2e/screenshot.sh WIN64_BUILD_DIR
set -euo pipefail

top=$(cd "$(dirname "$0")/../.." && pwd)
build=$(cd "$1" && pwd)
out="$top/docs/main-window.png"
: "${DISPLAY:?the screenshot needs a display (run inside scripts/sandbox)}"

work=$(mktemp -d /tmp/tavrino-shot.XXXXXX)
trap 'rm -rf "$work"' EXIT
cp "$build/Tavrino.exe" "$work/Tavrino.exe"

"$top/scripts/wine-run" "$work/Tavrino.exe" &
program=$!
rect=$("$top/scripts/wine-run" "$build/tests/uidriver.exe" wait Tavrino 30000) || {
  echo "screenshot: the main window did not appear" >&2
  kill "$program" 2>/dev/null || true
  exit 1
}
read -r x y w h <<<"${rect//$'\r'/}"  # a Windows program ends its lines in CR LF
sleep 1  # let it paint
mkdir -p "$top/docs"
import -display "$DISPLAY" -window root -crop "${w}x${h}+${x}+${y}" +repage "$out"
"$top/scripts/wine-run" "$build/tests/uidriver.exe" close Tavrino
wait "$program"

size=$(identify -format '%wx%h' "$out")
[ "$size" = "${w}x${h}" ] || { echo "screenshot: $out is $size, not ${w}x${h}" >&2; exit 1; }
echo "screenshot: $out ($size)"
