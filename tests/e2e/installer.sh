#!/usr/bin/env bash
# The installer, silently, in a copy of the Wine prefix: over a logon task that an
# earlier version registered, into a folder whose name code page 932 cannot hold, with
# the time service set to the sandbox's chronyd (/SERVER=127.0.0.1 /PROTOCOL=SNTP). The
# service must be registered with that server and write an OK line to its history; the
# installed program checks once against the same server. The uninstaller then removes
# the service and leaves the profile, the logs and the service's folder; a reinstall
# with the Startup shortcut closes the running program and keeps the user's files and
# components; one without the service removes it; /PURGE then leaves nothing at all.
# Wine runs no 32-bit programs here, so the installer is made again from the same
# script and files with the 64-bit stub. Wine's icacls does nothing: the rights are
# checked in the script. Before all that, the Group Policy templates.
# Usage: tests/e2e/installer.sh WIN64_BUILD_DIR
# The packages' folders are $TAVRINO_BUILD/package-stage (scripts/package makes them);
# TAVRINO_PACKAGE_STAGE names another.
set -euo pipefail

top=$(cd "$(dirname "$0")/../.." && pwd)
win64=$(cd "$1" && pwd)
stage="${TAVRINO_PACKAGE_STAGE:-${TAVRINO_BUILD:-$win64/..}/package-stage}"
: "${DISPLAY:?the program needs a display (run inside scripts/sandbox)}"
[ -f "$stage/version.nsh" ] || { echo "installer: no $stage (run scripts/package)" >&2; exit 1; }
nsi="$top/package/tavrino.nsi"
run="$top/scripts/wine-run"
driver="$win64/tests/uidriver.exe"
fail() { echo "installer: $*" >&2; exit 1; }

/usr/bin/python3 "$top/tests/e2e/policy_templates.py" "$top/package/policy" \
  || fail "the policy templates"

# Users may write the profile and the logs, and nothing else.
granted=$(grep -oE 'insertmacro (GrantUsers|UserFile) "[^"]*"' "$nsi" | sort)
[ "$granted" = 'insertmacro GrantUsers "$INSTDIR\Tavrino.INI"
insertmacro GrantUsers "${FILE}"
insertmacro UserFile "$INSTDIR\Tavrino.log"
insertmacro UserFile "$INSTDIR\Tavrino.sntp.log"' ] || fail "rights granted on: $granted"
# Every change of rights goes through one macro, which reports a failure.
[ "$(grep -c 'icacls.exe' "$nsi")" = 1 ] || fail "icacls run outside the macro Icacls"
sed -n '/^!macro Icacls /,/^!macroend/p' "$nsi" | grep -q 'icacls.exe' || fail "no icacls in the macro Icacls"
sed -n '/^!macro Icacls /,/^!macroend/p' "$nsi" | grep -q 'MessageBox' || fail "a failed icacls is not reported"
# The folder's own rights, by SID (names are localised), nothing inherited, set after
# the last file of the folder and before the three files are opened to users.
for define in 'ADMINS_SID "S-1-5-32-544"' 'SYSTEM_SID "S-1-5-18"' 'USERS_SID "S-1-5-32-545"'; do
  grep -qxF "!define $define" "$nsi" || fail "no $define"
done
secure=$(sed -n '/^Function SecureFolder$/,/^FunctionEnd$/p' "$nsi")
grep -qF "'\"\$INSTDIR\" /inheritance:r /grant:r *\${ADMINS_SID}:(OI)(CI)F *\${SYSTEM_SID}:(OI)(CI)F *\${USERS_SID}:(OI)(CI)RX" \
  <<<"$secure" || fail "the folder's rights: $secure"
grep -qF "'\"\$INSTDIR\" /setowner *\${ADMINS_SID}" <<<"$secure" || fail "the folder's owner: $secure"
grep -qF "'\"\$INSTDIR\\*\" /reset /T" <<<"$secure" || fail "the files keep their own rights: $secure"
program=$(sed -n '/^Section "Tavrino（必須）"/,/^SectionEnd$/{=;p}' "$nsi" | paste - -)
line() { grep -F -- "$1" <<<"$program" | head -n1 | cut -f1; }
last_file=$(grep -E $'\t *(File |WriteUninstaller )' <<<"$program" | tail -n1 | cut -f1)
secured=$(line 'Call SecureFolder')
[ -n "$secured" ] && [ "$secured" -gt "$last_file" ] || fail "the folder's rights set before its last file"
for file in 'GrantUsers "$INSTDIR\Tavrino.INI"' 'UserFile "$INSTDIR\Tavrino.log"' \
    'UserFile "$INSTDIR\Tavrino.sntp.log"'; do
  [ "$(line "$file")" -gt "$secured" ] || fail "$file before the folder's rights"
done
# No logon task any more; the one of an earlier version goes.
[ ! -e "$top/package/logon-task.xml" ] || fail "package/logon-task.xml is back"
! grep -q '/Create' "$nsi" || fail "the installer registers a task"

work=$(mktemp -d /tmp/tavrino-installer.XXXXXX)
keeper=""
cleanup() {
  [ -z "$keeper" ] || kill "$keeper" 2>/dev/null || true
  WINEPREFIX="$work/prefix" wineserver -k 2>/dev/null || true
  [ -n "${KEEP:-}" ] || rm -rf "$work"
}
trap cleanup EXIT
makensis -V1 -INPUTCHARSET UTF8 -DSTAGE="$stage" -DTARGET=amd64-unicode \
  -DOUTFILE="$work/setup.exe" "$nsi"
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
data="$drive/ProgramData/Tavrino"
key='HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall'
service='HKLM\System\CurrentControlSet\Services\TavrinoService'
listing() {
  (cd "$drive" && find . -path ./windows/temp -prune -o -path './users/*/Temp' -prune -o -print \
    | LC_ALL=C sort)
}
registry() { "$run" reg query "$key" /s 2>/dev/null | tr -d '\r'; }
# A value of a key as reg prints it: "    NAME    REG_SZ    DATA".
value() {
  "$run" reg query "$1" /v "$2" 2>/dev/null | tr -d '\r' | sed -nE "s/^ +$2 +REG_[A-Z_]+ +//p"
}
# Through cmd, as typed at a prompt: Wine would quote an argument with blanks, and the
# installer takes /D= only unquoted.
install() {
  cp "$work/setup.exe" "$drive/setup.exe"
  timeout 120 "$run" cmd /c "C:\\setup.exe /S $* /D=$folder" || fail "setup $* failed ($?)"
  rm "$drive/setup.exe"
}
uninstall() {
  timeout 60 "$run" "$folder\\Uninstall.exe" /S "$@" || fail "the uninstaller failed ($?)"
  # It goes on from a copy of itself; removing its registry key is its last step.
  for _ in $(seq 1 60); do
    "$run" reg query "$key\\Tavrino" >/dev/null 2>&1 || return 0
    sleep 1
  done
  fail "the uninstaller did not end"
}
# Wine ends a prefix's services when no other program of it runs: the driver waits for
# a window that never comes, at most 100 s, while the service works.
keep_prefix() {
  "$run" "$driver" wait TavrinoNoSuchWindow 100000 >/dev/null 2>&1 &
  keeper=$!
}
end_keeper() { [ -z "$keeper" ] || kill "$keeper" 2>/dev/null || true; wait "$keeper" 2>/dev/null || true; keeper=""; }
service_history() { iconv -c -f CP932 -t UTF-8 "$data/TavrinoService.log" 2>/dev/null | tr -d '\r' || true; }
# The adjustment at the service's start, against the sandbox's chronyd: a history line
# as the program writes it, with the server of the service's parameters.
service_ok=', 127.0.0.1, *SNTP, *adjust, OK,'
await_service_ok() {
  for _ in $(seq 1 60); do
    grep -q "$service_ok" <<<"$(service_history)" && return 0
    sleep 1
  done
  fail "no OK line from the service in 60 s: $(service_history)"
}

# What an earlier version left: its logon task, and the task's XML in its folder.
cat >"$work/task.xml" <<'XML'
<?xml version="1.0" encoding="UTF-16"?>
<Task version="1.2" xmlns="http://schemas.microsoft.com/windows/2004/02/mit/task">
  <Triggers><LogonTrigger><Enabled>true</Enabled></LogonTrigger></Triggers>
  <Principals><Principal id="Users"><GroupId>S-1-5-32-545</GroupId>
    <RunLevel>HighestAvailable</RunLevel></Principal></Principals>
  <Settings><ExecutionTimeLimit>PT0S</ExecutionTimeLimit></Settings>
  <Actions Context="Users"><Exec><Command>C:\Tavrino\Tavrino.exe</Command></Exec></Actions>
</Task>
XML
before=$(listing)
registry_before=$(registry)
{ printf '\xff\xfe'; sed 's/$/\r/' "$work/task.xml" | iconv -f UTF-8 -t UTF-16LE; } >"$drive/task.xml"
"$run" schtasks /Create /TN Tavrino /XML 'C:\task.xml' /F >/dev/null 2>&1 || fail "no task to upgrade from"
rm "$drive/task.xml"
[ -e "$task" ] || fail "Wine kept no task"
mkdir -p "$unix" && echo old >"$unix/logon-task.xml"

# A protocol the service does not know stops the installer before it changes anything.
cp "$work/setup.exe" "$drive/setup.exe"
status=0
timeout 60 "$run" cmd /c "C:\\setup.exe /S /PROTOCOL=NTP /D=$folder" || status=$?
rm "$drive/setup.exe"
[ "$status" = 2 ] || fail "setup /PROTOCOL=NTP ended with $status"
[ ! -e "$unix/Tavrino.exe" ] || fail "setup /PROTOCOL=NTP installed"

keep_prefix
install /SERVER=127.0.0.1 /PROTOCOL=SNTP
[ ! -e "$task" ] || fail "the earlier version's logon task is left"
for file in Tavrino.exe Quillet.exe TavrinoSvc.exe Tavrino.INI Tavrino.log Tavrino.sntp.log \
    LICENSE.txt THIRD-PARTY-NOTICES.txt guide/guide.html guide/guide.md Uninstall.exe \
    policy/Tavrino.admx policy/en-US/Tavrino.adml policy/ja-JP/Tavrino.adml; do
  [ -f "$unix/$file" ] || fail "no $file"
done
[ ! -e "$unix/logon-task.xml" ] || fail "the earlier version's task XML is left"
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
"$run" reg query "$service" >/dev/null 2>&1 || fail "the service is not registered"
grep -qF 'TavrinoSvc.exe' <<<"$(value "$service" ImagePath)" || fail "the service runs $(value "$service" ImagePath)"
[ "$(value "$service\\Parameters" DefaultServer)" = 127.0.0.1 ] \
  || fail "the service's server: $(value "$service\\Parameters" DefaultServer)"
[ "$(value "$service\\Parameters" protocol)" = SNTP ] \
  || fail "the service's protocol: $(value "$service\\Parameters" protocol)"
await_service_ok
end_keeper

# The sample profile, Shift-JIS; the check asks its server, here the sandbox's.
# AutoAdjust off: nothing sets even Wine's clock.
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
grep -q "$service_ok" <<<"$(service_history)" || fail "the uninstaller removed the service's history"
[ -z "$(LC_ALL=C comm -23 <(echo "$before") <(echo "$after"))" ] || fail "the uninstaller removed too much"
[ "$(registry)" = "$registry_before" ] || fail "the uninstall key is left"

# A reinstall with the Startup shortcut keeps the user's profile and history.
install /STARTUP
[ -f "$startup" ] || fail "no Startup shortcut"
[ "$(LC_ALL=C comm -3 <(echo "$installed") <(listing) | grep -v '^\s*./ProgramData/Tavrino/')" \
  = $'\t./ProgramData/Microsoft/Windows/Start Menu/Programs/StartUp/Tavrino.lnk' ] \
  || fail "reinstalled other files: $(LC_ALL=C comm -3 <(echo "$installed") <(listing))"
grep -q '^DefaultServer=127.0.0.1' "$profile" || fail "the reinstall replaced the profile"
[ -s "$unix/Tavrino.log" ] || fail "the reinstall emptied the history"
"$run" reg query "$service" >/dev/null 2>&1 || fail "the reinstall registered no service"

# Another, while the program runs, closes it and keeps both components; one without
# the service removes it.
"$run" "$folder\\Tavrino.exe" &
program=$!
"$run" "$driver" wait Tavrino 30000 >/dev/null || { kill $program; fail "no main window"; }
install
for _ in $(seq 1 50); do kill -0 $program 2>/dev/null || break; sleep 0.1; done
kill -0 $program 2>/dev/null && { kill $program; fail "the installer left the program running"; }
[ -f "$startup" ] || fail "the reinstall dropped the Startup shortcut"
[ -f "$unix/TavrinoSvc.exe" ] || fail "the reinstall dropped the service"
install /NOSERVICE
"$run" reg query "$service" >/dev/null 2>&1 && fail "the service is left without its component"
[ ! -e "$unix/TavrinoSvc.exe" ] || fail "TavrinoSvc.exe is left without its component"
[ -f "$startup" ] || fail "/NOSERVICE dropped the Startup shortcut"

uninstall /PURGE
[ "$(listing)" = "$before" ] || fail "left after /PURGE: $(LC_ALL=C comm -3 <(echo "$before") <(listing))"
[ "$(registry)" = "$registry_before" ] || fail "the uninstall key is left after /PURGE"
echo "installer: installed, checked, uninstalled in $folder"
