#!/usr/bin/env bash
# The installer, silently, in a copy of the Wine prefix: over an earlier version's logon
# task, into a folder whose name code page 932 cannot hold, with the time service set to
# the sandbox's chronyd, where its first adjustment must succeed; the installed program
# checks once against the same server. The uninstaller removes the service and leaves
# the profile, the logs and ProgramData\Tavrino; reinstalls keep them and the chosen
# components, one with /NOSERVICE removes the service, and /PURGE leaves nothing at all.
# Wine runs no 32-bit programs here, so the installer is made again from the same
# script and files with the 64-bit stub. Wine's icacls does nothing: the rights are
# checked in the script. Usage: tests/e2e/installer.sh WIN64_BUILD_DIR
# The packages' folders: $TAVRINO_PACKAGE_STAGE, else $TAVRINO_BUILD/package-stage.
set -euo pipefail

top=$(cd "$(dirname "$0")/../.." && pwd)
win64=$(cd "$1" && pwd)
stage="${TAVRINO_PACKAGE_STAGE:-${TAVRINO_BUILD:-$win64/..}/package-stage}"
: "${DISPLAY:?the program needs a display (run inside scripts/sandbox)}"
[ -f "$stage/version.nsh" ] || { echo "installer: no $stage (run scripts/package)" >&2; exit 1; }
run="$top/scripts/wine-run"
driver="$win64/tests/uidriver.exe"
nsi="$top/package/tavrino.nsi"
fail() { echo "installer: $*" >&2; exit 1; }
python3 "$top/tests/e2e/policy_templates.py" "$top/package/policy" || fail "the policy templates"

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
startup="$drive/ProgramData/Microsoft/Windows/Start Menu/Programs/StartUp/Tavrino.lnk"
task="$drive/windows/system32/tasks/Tavrino"
key='HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall'
service='HKLM\System\CurrentControlSet\Services\TavrinoService'
listing() {
  (cd "$drive" && find . -path ./windows/temp -prune -o -path './users/*/Temp' -prune -o -print \
    | LC_ALL=C sort)
}
registry() { "$run" reg query "$key" /s 2>/dev/null | tr -d '\r'; }
# Through cmd, as typed at a prompt: Wine would quote an argument with blanks, and the
# installer takes /D= only unquoted.
install() {
  cp "$work/setup.exe" "$drive/setup.exe"
  timeout 120 "$run" cmd /c "C:\\setup.exe /S $* /D=$folder" || fail "setup $* failed ($?)"
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
# The service's adjustment at its start, with the server of the switches.
service_ok() {
  grep -qs ', 127.0.0.1, *SNTP, *adjust, OK,' "$drive/ProgramData/Tavrino/TavrinoService.log"
}

# Users may write the profile and the logs, and nothing else.
granted=$(grep -oE 'insertmacro (GrantUsers|UserFile) "[^"]*"' "$top/package/tavrino.nsi" | sort)
[ "$granted" = 'insertmacro GrantUsers "$INSTDIR\Tavrino.INI"
insertmacro GrantUsers "${FILE}"
insertmacro UserFile "$INSTDIR\Tavrino.log"
insertmacro UserFile "$INSTDIR\Tavrino.sntp.log"' ] || fail "rights granted on: $granted"
[ "$(grep -c 'icacls.exe' "$nsi")" = 1 ] || fail "icacls outside the macro Icacls"
sed -n '/^!macro Icacls /,/^!macroend/p' "$nsi" | grep -q MessageBox || fail "a failed icacls is not said"
# The folder's own rights, by SID (names are localised), owned by the administrators,
# nothing inherited but by its files; set after its last file, before the user files.
sids='!define (ADMINS_SID "S-1-5-32-544"|SYSTEM_SID "S-1-5-18"|USERS_SID "S-1-5-32-545")'
[ "$(grep -cxE "$sids" "$nsi")" = 3 ] || fail "the accounts' SIDs"
secure=$(sed -n '/^Function SecureFolder$/,/^FunctionEnd$/p' "$nsi")
for rights in '" /setowner *${ADMINS_SID}' '\*" /reset /T' \
    '" /inheritance:r /grant:r *${ADMINS_SID}:(OI)(CI)F *${SYSTEM_SID}:(OI)(CI)F *${USERS_SID}:(OI)(CI)RX'; do
  grep -qF "'\"\$INSTDIR$rights" <<<"$secure" || fail "the folder's rights: $secure"
done
order=$(sed -n '/^Section "Tavrino（必須）"/,/^SectionEnd$/p' "$nsi" | sed -nE 's/^ *(File|WriteUninstaller) .*/F/p
  s/^ *Call SecureFolder$/S/p; s/^ *!insertmacro (GrantUsers|UserFile) .*/U/p')
[ "$(uniq <<<"$order" | tr -d '\n')" = FSU ] || fail "files, folder rights, user files: $order"
! grep -q '/Create' "$nsi" || fail "the installer registers a task"

# What an earlier version left: its logon task, and the task's XML in its folder.
before=$(listing)
registry_before=$(registry)
xml='<Task version="1.2" xmlns="http://schemas.microsoft.com/windows/2004/02/mit/task">'
xml+='<Actions><Exec><Command>C:\Tavrino\Tavrino.exe</Command></Exec></Actions></Task>'
{ printf '\xff\xfe'; iconv -f UTF-8 -t UTF-16LE <<<"$xml"; } >"$drive/task.xml"
"$run" schtasks /Create /TN Tavrino /XML 'C:\task.xml' /F >/dev/null 2>&1 && [ -e "$task" ] \
  || fail "no task to upgrade from"
rm "$drive/task.xml"
mkdir -p "$unix" && echo old >"$unix/logon-task.xml"
# A protocol the service does not know stops the installer before it changes anything.
(install /PROTOCOL=NTP) 2>"$work/err" && fail "setup /PROTOCOL=NTP went on"
grep -qF 'NTP failed (2)' "$work/err" && [ ! -e "$unix/Tavrino.exe" ] \
  || fail "setup /PROTOCOL=NTP: $(cat "$work/err")"
# Wine ends a prefix's services when no other program of it runs: the driver waits
# for a window that never comes, at most 100 s, while the service works.
"$run" "$driver" wait TavrinoNoSuchWindow 100000 >/dev/null 2>&1 &
install /SERVER=127.0.0.1 /PROTOCOL=SNTP
[ ! -e "$task" ] && [ ! -e "$unix/logon-task.xml" ] || fail "the earlier version's logon task is left"

for file in Tavrino.exe Quillet.exe Tavrino.INI Tavrino.log Tavrino.sntp.log LICENSE.txt \
    THIRD-PARTY-NOTICES.txt guide/guide.html guide/guide.md Uninstall.exe TavrinoSvc.exe TavrinoNts.dll \
    policy/Tavrino.admx policy/en-US/Tavrino.adml policy/ja-JP/Tavrino.adml; do
  [ -f "$unix/$file" ] || fail "no $file"
done
cmp -s <(tr -d '\r' <"$unix/policy/ja-JP/Tavrino.adml") "$top/package/policy/ja-JP/Tavrino.adml" \
  || fail "policy/ja-JP/Tavrino.adml is not the template"
for link in Tavrino 'Tavrino 設定' 'Tavrino 利用ガイド'; do
  [ -f "$menu/$link.lnk" ] || fail "no shortcut $link"
done
[ ! -e "$startup" ] || fail "a Startup shortcut without its component"
values=$(registry)
for value in DisplayName DisplayVersion.*1.0 Publisher DisplayIcon UninstallString \
    'QuietUninstallString.*Uninstall.exe" /S' InstallLocation EstimatedSize NoModify NoRepair \
    'ServiceComponent +REG_DWORD +0x1' 'StartupComponent +REG_DWORD +0x0'; do
  grep -qE "^ +$value" <<<"$values" || fail "no $value in the uninstall key"
done
# The service, with the switches' values, and its first adjustment.
values=$("$run" reg query "$service" /s 2>/dev/null | tr -d '\r') || fail "the service is not registered"
for value in 'ImagePath +REG_[A-Z_]+ +.*TavrinoSvc\.exe' 'DefaultServer +REG_SZ +127\.0\.0\.1$' \
    'protocol +REG_SZ +SNTP$'; do
  grep -qE "^ +$value" <<<"$values" || fail "no $value in the service's key: $values"
done
for _ in $(seq 1 60); do service_ok && break; sleep 1; done
service_ok || fail "no OK line from the service in 60 s"

# The sample profile, Shift-JIS, without a start-up adjustment; the check asks
# its server, here the sandbox's. AutoAdjust off: nothing sets even Wine's clock.
profile="$unix/Tavrino.INI"
iconv -f CP932 -t UTF-8 "$profile" | grep -q '^DefaultServer=ntp.nict.jp' || fail "profile not Shift-JIS"
grep -q '^AutoAdjust=0' "$profile" || fail "the installer changed AutoAdjust"
LC_ALL=C sed -i 's/^DefaultServer=ntp\.nict\.jp/DefaultServer=127.0.0.1/' "$profile"
mkdir "$work/cwd" && cd "$work/cwd"
"$run" "$folder\\Tavrino.exe" /Dsntp &
program=$!
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
"$run" reg query "$service" >/dev/null 2>&1 && fail "the service is left after uninstalling"
after=$(listing)
kept=$(LC_ALL=C comm -13 <(echo "$before") <(echo "$after") | grep -v '^./ProgramData/Tavrino/')
[ "$kept" = "./Program Files/Tavrino ŵé
./Program Files/Tavrino ŵé/Tavrino.INI
./Program Files/Tavrino ŵé/Tavrino.log
./Program Files/Tavrino ŵé/Tavrino.sntp.log
./ProgramData/Tavrino" ] || fail "left after uninstalling: $kept"
service_ok || fail "the uninstaller removed the service's history"
[ -z "$(LC_ALL=C comm -23 <(echo "$before") <(echo "$after"))" ] || fail "the uninstaller removed too much"
[ "$(registry)" = "$registry_before" ] || fail "the uninstall key is left"

# A reinstall, with the Startup shortcut, keeps the user's profile and history; another,
# while the program runs, closes it and keeps both components; one without the service
# removes it; /PURGE then leaves nothing.
install /STARTUP
[ "$(listing | grep -v ProgramData/Tavrino/)" = "$(LC_ALL=C sort <(echo ".${startup#"$drive"}") \
  <(grep -v ProgramData/Tavrino/ <<<"$installed"))" ] || fail "reinstalled other files"
grep -q '^DefaultServer=127.0.0.1' "$profile" || fail "the reinstall replaced the profile"
[ -s "$unix/Tavrino.log" ] || fail "the reinstall emptied the history"
"$run" "$folder\\Tavrino.exe" &
program=$!
"$run" "$driver" wait Tavrino 30000 >/dev/null || { kill $program; fail "no main window"; }
install
for _ in $(seq 1 50); do kill -0 $program 2>/dev/null || break; sleep 0.1; done
kill -0 $program 2>/dev/null && { kill $program; fail "the installer left the program running"; }
"$run" reg query "$service" >/dev/null 2>&1 || fail "a reinstall dropped the service"
install /NOSERVICE
! "$run" reg query "$service" >/dev/null 2>&1 && [ ! -e "$unix/TavrinoSvc.exe" ] \
  || fail "the service is left without its component"
[ -f "$startup" ] || fail "a reinstall dropped the Startup shortcut"
uninstall /PURGE
[ "$(listing)" = "$before" ] || fail "left after /PURGE: $(LC_ALL=C comm -3 <(echo "$before") <(listing))"
[ "$(registry)" = "$registry_before" ] || fail "the uninstall key is left after /PURGE"
echo "installer: installed, checked, uninstalled in $folder"
