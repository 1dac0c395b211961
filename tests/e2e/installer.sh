#!/usr/bin/env bash
# The installer, silently, in a copy of the Wine prefix: into a folder whose name code
# page 932 cannot hold, with the logon task; the installed program checks once against
# the sandbox's chronyd with the sample profile's server set to 127.0.0.1; the
# uninstaller then leaves the profile and logs, and with /PURGE nothing at all.
# Wine runs no 32-bit programs here, so the installer is made again from the same
# script and files with the 64-bit stub. Wine's icacls does nothing: the rights are
# checked in the script. Usage: tests/e2e/installer.sh WIN64_BUILD_DIR
set -euo pipefail

top=$(cd "$(dirname "$0")/../.." && pwd)
win64=$(cd "$1" && pwd)
stage="${TAVRINO_BUILD:-$win64/..}/package-stage"
: "${DISPLAY:?the program needs a display (run inside scripts/sandbox)}"
[ -f "$stage/version.nsh" ] || { echo "installer: no $stage (run scripts/package)" >&2; exit 1; }
run="$top/scripts/wine-run"
fail() { echo "installer: $*" >&2; exit 1; }

work=$(mktemp -d /tmp/tavrino-installer.XXXXXX)
cleanup() {
  WINEPREFIX="$work/prefix" wineserver -k 2>/dev/null || true
  [ -n "${KEEP:-}" ] || rm -rf "$work"
}
trap cleanup EXIT
makensis -V1 -INPUTCHARSET UTF8 -DSTAGE="$stage" -DTARGET=amd64-unicode \
  -DOUTFILE="$work/setup.exe" "$top/package/tavrino.nsi"
cp -a "$WINEPREFIX" "$work/prefix"
export WINEPREFIX="$work/prefix"
# No menu entries for this machine's desktop.
export WINEDLLOVERRIDES="winemenubuilder.exe=d;mscoree,mshtml="
wineserver -p </dev/null >/dev/null 2>&1
"$run" wineboot </dev/null >/dev/null 2>&1 || true

drive="$WINEPREFIX/drive_c"
folder='C:\Program Files\Tavrino ŵé'
unix="$drive/Program Files/Tavrino ŵé"
menu="$drive/ProgramData/Microsoft/Windows/Start Menu/Programs/Tavrino"
task="$drive/windows/system32/tasks/Tavrino"
key='HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall'
listing() {
  (cd "$drive" && find . -path ./windows/temp -prune -o -path './users/*/Temp' -prune -o -print \
    | LC_ALL=C sort)
}
registry() { "$run" reg query "$key" /s 2>/dev/null | tr -d '\r'; }
# Through cmd, as typed at a prompt: Wine would quote an argument with blanks, and the
# installer takes /D= only unquoted.
install() {
  cp "$work/setup.exe" "$drive/setup.exe"
  timeout 120 "$run" cmd /c "C:\\setup.exe /S $* /D=$folder" || fail "setup $* failed"
  rm "$drive/setup.exe"
}
uninstall() {
  timeout 60 "$run" "$folder\\Uninstall.exe" /S "$@" || fail "the uninstaller failed"
  # It goes on from a copy of itself; removing its registry key is its last step.
  for _ in $(seq 1 60); do
    "$run" reg query "$key\\Tavrino" >/dev/null 2>&1 || return 0
    sleep 1
  done
  fail "the uninstaller did not end"
}

# Users may write the profile and the logs, and nothing else.
granted=$(grep -oE 'insertmacro (GrantUsers|UserFile) "[^"]*"' "$top/package/tavrino.nsi" | sort)
[ "$granted" = 'insertmacro GrantUsers "$INSTDIR\Tavrino.INI"
insertmacro GrantUsers "${FILE}"
insertmacro UserFile "$INSTDIR\Tavrino.log"
insertmacro UserFile "$INSTDIR\Tavrino.sntp.log"' ] || fail "rights granted on: $granted"
[ "$(grep -c icacls "$top/package/tavrino.nsi")" = 1 ] || fail "icacls outside GrantUsers"

before=$(listing)
registry_before=$(registry)
install /LOGONTASK

for file in Tavrino.exe Quillet.exe Tavrino.INI Tavrino.log Tavrino.sntp.log LICENSE.txt \
    THIRD-PARTY-NOTICES.txt guide/guide.html guide/guide.md Uninstall.exe logon-task.xml; do
  [ -f "$unix/$file" ] || fail "no $file"
done
for link in Tavrino 'Tavrino 設定' 'Tavrino 利用ガイド'; do
  [ -f "$menu/$link.lnk" ] || fail "no shortcut $link"
done
values=$(registry)
for value in DisplayName DisplayVersion.*1.0 Publisher DisplayIcon UninstallString \
    'QuietUninstallString.*Uninstall.exe" /S' InstallLocation EstimatedSize NoModify NoRepair; do
  grep -qE "^ +$value" <<<"$values" || fail "no $value in the uninstall key"
done
# The task: what Wine's schtasks keeps of it (settings only), and the filled XML.
grep -q '<ExecutionTimeLimit>PT0S<' "$task" || fail "no logon task"
xml=$(iconv -f UTF-16 -t UTF-8 "$unix/logon-task.xml")
for line in '<LogonTrigger>' '<GroupId>S-1-5-32-545</GroupId>' '<RunLevel>HighestAvailable</RunLevel>' \
    '<DisallowStartIfOnBatteries>false<' '<StopIfGoingOnBatteries>false<' \
    '<ExecutionTimeLimit>PT0S<' '<MultipleInstancesPolicy>IgnoreNew<' \
    "<Command>\"$folder\\Tavrino.exe\"</Command>"; do
  grep -qF "$line" <<<"$xml" || fail "no $line in the task's XML"
done

# The sample profile, Shift-JIS, with the task's start-up adjustment; the check asks
# its server, here the sandbox's. AutoAdjust off: nothing sets even Wine's clock.
profile="$unix/Tavrino.INI"
iconv -f CP932 -t UTF-8 "$profile" | grep -q '^DefaultServer=ntp.nict.jp' || fail "profile not Shift-JIS"
grep -q '^AutoAdjust=1' "$profile" || fail "no AutoAdjust=1 for the task"
LC_ALL=C sed -i 's/^DefaultServer=ntp\.nict\.jp/DefaultServer=127.0.0.1/; s/^AutoAdjust=1/AutoAdjust=0/' "$profile"
mkdir "$work/cwd" && cd "$work/cwd"
"$run" "$folder\\Tavrino.exe" /Dsntp &
program=$!
driver="$win64/tests/uidriver.exe"
"$run" "$driver" wait Tavrino 30000 >/dev/null || { kill $program; fail "no main window"; }
shown=$("$run" "$driver" check Tavrino 30000) || { kill $program; fail "check failed: $shown"; }
"$run" "$driver" close Tavrino
for _ in $(seq 1 100); do kill -0 $program 2>/dev/null || break; sleep 0.1; done
kill -0 $program 2>/dev/null && { kill $program; fail "the program did not end"; }
grep -q '^server: 127.0.0.1$' <<<"$shown" || fail "checked another server: $shown"
grep -q ', 127.0.0.1, *SNTP, *check, OK,' "$unix/Tavrino.log" || fail "no history line"
[ -s "$unix/Tavrino.sntp.log" ] || fail "no packet trace"
grep -q '^\[TZ\]' "$profile" || fail "the program did not write its profile"
[ -z "$(ls -A "$work/cwd")" ] || fail "files in the working directory"

installed=$(listing)
uninstall
[ ! -e "$task" ] || fail "the task is left"
after=$(listing)
kept=$(LC_ALL=C comm -13 <(echo "$before") <(echo "$after"))
[ "$kept" = "./Program Files/Tavrino ŵé
./Program Files/Tavrino ŵé/Tavrino.INI
./Program Files/Tavrino ŵé/Tavrino.log
./Program Files/Tavrino ŵé/Tavrino.sntp.log" ] || fail "left after uninstalling: $kept"
[ -z "$(LC_ALL=C comm -23 <(echo "$before") <(echo "$after"))" ] || fail "the uninstaller removed too much"
[ "$(registry)" = "$registry_before" ] || fail "the uninstall key is left"

# A reinstall keeps the user's profile and history; /PURGE then leaves nothing.
install
[ "$(listing)" = "$(grep -v -e logon-task -e 'tasks/Tavrino$' <<<"$installed")" ] || fail "reinstalled other files"
grep -q '^DefaultServer=127.0.0.1' "$profile" || fail "the reinstall replaced the profile"
[ -s "$unix/Tavrino.log" ] || fail "the reinstall emptied the history"
[ ! -e "$task" ] || fail "a task without its component"
uninstall /PURGE
[ "$(listing)" = "$before" ] || fail "left after /PURGE: $(LC_ALL=C comm -3 <(echo "$before") <(listing))"
[ "$(registry)" = "$registry_before" ] || fail "the uninstall key is left after /PURGE"
echo "installer: installed, checked, uninstalled in $folder"
