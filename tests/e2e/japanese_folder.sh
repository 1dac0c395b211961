#!/usr/bin/env bash
# The program in a folder whose name neither a Western system's code page (1252, here
# under en_US.UTF-8) nor the program's own (932) can hold, "Jürgen ツール", keeps its
# profile and its history beside itself there rather than in a look-alike folder.
# Usage: tests/e2e/japanese_folder.sh WIN64_BUILD_DIR
set -euo pipefail

top=$(cd "$(dirname "$0")/../.." && pwd)
build=$(cd "$1" && pwd)
: "${DISPLAY:?the program needs a display (run inside scripts/sandbox)}"

work=$(mktemp -d /tmp/tavrino-folder.XXXXXX)
trap '[ -n "${KEEP:-}" ] || rm -rf "$work"' EXIT
folder="$work/Jürgen ツール"
mkdir "$folder"
cp "$build/Tavrino.exe" "$folder/Tavrino.exe"
printf '[Property]\r\nDefaultServer=127.0.0.1\r\nprotocol=SNTP\r\nlogfile=1\r\n' \
  >"$folder/Tavrino.INI"

TAVRINO_WINE_LANG=en_US.UTF-8 "$top/scripts/wine-run" "$folder/Tavrino.exe" &
program=$!
if ! "$top/scripts/wine-run" "$build/tests/uidriver.exe" wait Tavrino 30000 >/dev/null; then
  echo "japanese_folder: the main window did not appear" >&2
  kill "$program" 2>/dev/null || true
  exit 1
fi
checked=0
TAVRINO_WINE_LANG=en_US.UTF-8 "$top/scripts/wine-run" "$build/tests/uidriver.exe" check Tavrino 30000 \
  >/dev/null || checked=1
"$top/scripts/wine-run" "$build/tests/uidriver.exe" close Tavrino
for _ in $(seq 1 100); do
  kill -0 "$program" 2>/dev/null || break
  sleep 0.1
done
if kill -0 "$program" 2>/dev/null; then
  echo "japanese_folder: the program did not end" >&2
  kill "$program" 2>/dev/null || true
  exit 1
fi
wait "$program" || true

profile="$folder/Tavrino.INI"
fail=0
if [ ! -f "$profile" ]; then
  echo "japanese_folder: no profile beside the program; the folder holds:" >&2
  find "$work" >&2
  exit 1
fi
# The profile may be written as UTF-16 or in the code page; compare its ASCII content.
text=$(tr -d '\000\r' <"$profile")
# Wine's C runtime names the zone of "JST-9" "JS" where Windows says "JST".
for line in '\[TZ\]' 'tz0=.*' 'tz1=0,-9,JST?,,JST-9' 'tz2=0,-9,JST?,,JST-9'; do
  grep -qxE "$line" <<<"$text" || { echo "japanese_folder: no line '$line' in the profile" >&2; fail=1; }
done
[ $checked -eq 0 ] || { echo "japanese_folder: the check failed" >&2; fail=1; }
grep -q ', 127.0.0.1, *SNTP, *check, OK,' "$folder/Tavrino.log" 2>/dev/null \
  || { echo "japanese_folder: no history line of the check beside the program" >&2; fail=1; }
# Nothing went to a look-alike folder.
others=$(find "$work" -mindepth 1 -maxdepth 1 ! -name 'Jürgen ツール')
[ -z "$others" ] || { echo "japanese_folder: files outside the folder: $others" >&2; fail=1; }
[ $fail -eq 0 ] && echo "japanese_folder: profile and history written in $folder"
exit $fail
