#!/usr/bin/env bash
# Starts the program in the sandbox's display with a profile that asks the sandbox's
# chronyd (127.0.0.1, SNTP), shows the status line and runs the clock in the PC-time
# field, presses Check and saves a picture of the main window, with the server's time
# and the running clock in it, as docs/main-window.png.
# Usage: tests/e2e/screenshot.sh WIN64_BUILD_DIR
set -euo pipefail

top=$(cd "$(dirname "$0")/../.." && pwd)
build=$(cd "$1" && pwd)
out="$top/docs/main-window.png"
: "${DISPLAY:?the screenshot needs a display (run inside scripts/sandbox)}"

work=$(mktemp -d /tmp/tavrino-shot.XXXXXX)
trap 'rm -rf "$work"' EXIT
cp "$build/Tavrino.exe" "$work/Tavrino.exe"
# The status line shows what is on: the history, the daily adjustment at 7:30 and
# three retries 30 seconds apart.
printf '%s\r\n' '[Property]' DefaultServer=127.0.0.1 protocol=SNTP indicatorline=1 \
  CurrentTimeDisplay=1,0,0 logfile=1 AdjustAt=1,7:30 ErrorRetry=1,3,30,0 >"$work/Tavrino.INI"
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
sleep 1  # let it paint; the clock has taken the PC-time field back by then
mkdir -p "$top/docs"
import -display "$DISPLAY" -window root -crop "${w}x${h}+${x}+${y}" +repage "$out"
"${driver[@]}" close Tavrino
wait "$program"

size=$(identify -format '%wx%h' "$out")
[ "$size" = "${w}x${h}" ] || { echo "screenshot: $out is $size, not ${w}x${h}" >&2; exit 1; }
echo "screenshot: $out ($size)"
