#!/usr/bin/env bash
# Starts the settings editor in the sandbox's display on a small profile, without the
# main program, and saves a picture of its window as docs/settings-editor.png.
# Usage: tests/e2e/editor_screenshot.sh WIN64_BUILD_DIR
set -euo pipefail

top=$(cd "$(dirname "$0")/../.." && pwd)
build=$(cd "$1" && pwd)
out="$top/docs/settings-editor.png"
: "${DISPLAY:?the screenshot needs a display (run inside scripts/sandbox)}"

work=$(mktemp -d /tmp/tavrino-editor-shot.XXXXXX)
trap 'rm -rf "$work"' EXIT
cp "$build/Quillet.exe" "$work/Quillet.exe"
printf '%s\r\n' '[Property]' DefaultServer=ntp.example.jp protocol=SNTP TimeOut=5 \
  CurrentTimeDisplay=1,1,0 logfile=1 indicatorline=1 AdjustAt=1,7:30 ErrorRetry=1,3,30,0 \
  >"$work/Tavrino.INI"
driver=("$top/scripts/wine-run" "$build/tests/uidriver.exe")

# Started as the main window starts it, with no main window to tell.
# Wine shows this machine's root as drive Z:.
profile="Z:$(tr / '\\' <<<"$work/Tavrino.INI")"
"$top/scripts/wine-run" "$work/Quillet.exe" "-profile=$profile" -geohwnd=0 xyz &
program=$!
rect=$("${driver[@]}" wait Quillet 30000) || {
  echo "editor screenshot: the settings window did not appear" >&2
  kill "$program" 2>/dev/null || true
  wait "$program" 2>/dev/null || true
  exit 1
}
read -r x y w h <<<"$rect"
sleep 1  # let it paint
mkdir -p "$top/docs"
import -display "$DISPLAY" -window root -crop "${w}x${h}+${x}+${y}" +repage "$out"
# OK writes the profile back, into the folder that goes with this script's end.
"${driver[@]}" close Quillet
wait "$program"

size=$(identify -format '%wx%h' "$out")
[ "$size" = "${w}x${h}" ] || { echo "editor screenshot: $out is $size, not ${w}x${h}" >&2; exit 1; }
echo "editor screenshot: $out ($size)"
