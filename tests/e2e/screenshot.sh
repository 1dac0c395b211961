#!/usr/bin/env bash
# Starts the program in the sandbox's display with a profile that asks the sandbox's
# chronyd (127.0.0.1, SNTP), presses Check and saves a picture of the main window,
# with the server's and the PC's time in it, as docs/main-window.png.
# Usage: tests/e2e/screenshot.sh WIN64_BUILD_DIR
set -euo pipefail

top=$(cd "$(dirname "$0")/../.." && pwd)
build=$(cd "$1" && pwd)
out="$top/docs/main-window.png"
: "${DISPLAY:?the screenshot needs a display (run inside scripts/sandbox)}"

work=$(mktemp -d /tmp/tavrino-shot.XXXXXX)
trap 'rm -rf "$work"' EXIT
cp "$build/Tavrino.exe" "$work/Tavrino.exe"
printf '[Property]\r\nDefaultServer=127.0.0.1\r\nprotocol=SNTP\r\n' >"$work/Tavrino.INI"
driver=("$top/scripts/wine-run" "$build/tests/uidriver.exe")
# The PC of the picture keeps Japan's time, as the program's users do: the server's
# time and the PC's then read alike.
export TZ=Asia/Tokyo

"$top/scripts/wine-run" "$work/Tavrino.exe" &
program=$!
stop() {
  kill "$program" 2>/dev/null || true
  wait "$program" 2>/dev/null || true
  exit 1
}
rect=$("${driver[@]}" wait Tavrino 30000) || {
  echo "screenshot: the main window did not appear" >&2
  stop
}
"${driver[@]}" check Tavrino 30000 || {
  echo "screenshot: the check against 127.0.0.1 failed" >&2
  stop
}
read -r x y w h <<<"$rect"
sleep 1  # let it paint
mkdir -p "$top/docs"
import -display "$DISPLAY" -window root -crop "${w}x${h}+${x}+${y}" +repage "$out"
"${driver[@]}" close Tavrino
wait "$program"

size=$(identify -format '%wx%h' "$out")
[ "$size" = "${w}x${h}" ] || { echo "screenshot: $out is $size, not ${w}x${h}" >&2; exit 1; }
echo "screenshot: $out ($size)"
