#!/usr/bin/env bash
# The time service under Wine, in a copy of the prefix, against the sandbox's chronyd
# on 127.0.0.1 (its tiny step is set), a server an hour ahead on 127.0.0.13 (Wine
# refuses the step with 1314, as Windows a user without the right) and the silent
# 127.0.0.9: install, status and its origins, adjust (refused, under a policy, once a
# minute), the main window answered by the service, a stop mid-query, messages that
# are not the request, uninstall.
# Usage: tests/e2e/service.sh WIN64_BUILD_DIR [NATIVE_BUILD_DIR] (the native tree, for
# bench/offset_server; else $TAVRINO_NATIVE_BUILD, else WIN64_BUILD_DIR/../native).
set -euo pipefail

top=$(cd "$(dirname "$0")/../.." && pwd)
win64=$(cd "$1" && pwd)
native="${2:-${TAVRINO_NATIVE_BUILD:-$win64/../native}}"
: "${DISPLAY:?the program needs a display (run inside scripts/sandbox)}"
fail() { echo "service: $*" >&2; exit 1; }
ahead_server="$native/bench/offset_server"
[ -x "$ahead_server" ] || fail "no $ahead_server (build the native tree's offset_server)"
run="$top/scripts/wine-run"
driver="$win64/tests/uidriver.exe"

work=$(mktemp -d /tmp/tavrino-service.XXXXXX)
keeper="" ahead="" program=""
cleanup() {
  kill $program $keeper $ahead 2>/dev/null || true
  WINEPREFIX="$work/prefix" wineserver -k 2>/dev/null || true
  [ -n "${KEEP:-}" ] || rm -rf "$work"
}
trap cleanup EXIT
cp -a "$WINEPREFIX" "$work/prefix"
export WINEPREFIX="$work/prefix"
export WINEDLLOVERRIDES="winemenubuilder.exe=d;mscoree,mshtml="
wineserver -p </dev/null >/dev/null 2>&1
"$run" wineboot </dev/null >/dev/null 2>&1 || true
data="$WINEPREFIX/drive_c/ProgramData/Tavrino"
mkdir -p "$WINEPREFIX/drive_c/Program Files/Tavrino"
cp "$win64/TavrinoSvc.exe" "$WINEPREFIX/drive_c/Program Files/Tavrino/"
parameters='HKLM\SYSTEM\CurrentControlSet\Services\TavrinoService\Parameters'
policy='HKLM\SOFTWARE\Policies\Tavrino'
# Wine ends a prefix's services when no other program of it runs: the driver waits
# for a window that never comes while the service works.
"$run" "$driver" wait TavrinoNoSuchWindow 280000 >/dev/null 2>&1 &
keeper=$!

# TavrinoSvc.exe COMMAND...: its output in UTF-8 in $out, its exit status in $status.
service() {
  status=0
  timeout 90 "$run" 'C:\Program Files\Tavrino\TavrinoSvc.exe' "$@" </dev/null >"$work/out" \
    2>"$work/err" || status=$?
  out=$(iconv -c -f CP932 -t UTF-8 "$work/out" | tr -d '\r')
}
# expect STATUS LINE...: the last command ended with STATUS and said each LINE.
expect() {
  [ "$status" = "$1" ] || fail "exit $status, not $1: $out"
  local line
  for line in "${@:2}"; do grep -qxF -- "$line" <<<"$out" || fail "no '$line' in: $out"; done
}
# within SECONDS COMMAND...: COMMAND till it succeeds, for SECONDS at most.
within() {
  local end=$((SECONDS + $1))
  until "${@:2}"; do [ "$SECONDS" -lt "$end" ] || return 1; sleep 0.2; done
}
state() {
  timeout 30 "$run" sc query TavrinoService 2>/dev/null | tr -d '\r' \
    | sed -nE 's/^ *STATE *: *[0-9]+ +([A-Z_]+).*/\1/p' || true
}
is() { [ "$(state)" = "$1" ]; }
control() {  # VERB STATE
  "$run" sc "$1" TavrinoService >/dev/null 2>&1 || true
  within 10 is "$2" || fail "sc $1: the service is $(state), not $2"
}
set_value() { "$run" reg add "$1" /v "$2" /t REG_SZ /d "$3" /f >/dev/null 2>&1 || fail "reg add $2"; }
history() { iconv -c -f CP932 -t UTF-8 "${1:-$data/TavrinoService.log}" 2>/dev/null | tr -d '\r' || true; }
lines() { history | wc -l; }
# A new adjustment rather than the last one's answer, which a request within a minute
# of it gets: the service stops and forgets it. $before: the history's lines till then.
forget_last() { control stop STOPPED; rm -f "$data/TavrinoService.state"; before=$(lines); }
# recorded SERVER RESULT-PATTERN: the service's line of that adjustment after line
# $before of its history, within a minute.
line_of() { grep -qE -- ", ${1//./\\.}, +SNTP, +adjust, $2" <<<"$(history | tail -n +$((before + 1)))"; }
recorded() { within 60 line_of "$@" || fail "no line of $1 with $2 after line $before: $(history)"; }
# adjust STATUS FIRST-LINE SERVER RESULT RESULT-PATTERN: a new adjustment by the service.
adjust() {
  forget_last; service adjust; expect "$1" "$2" "  結果: $4" "  サーバ: $3 (SNTP)"; recorded "$3" "$5"
}

# Installed; it may note only what Wine's service manager cannot carry.
service install /server=127.0.0.1 /protocol=SNTP
installed='サービス TavrinoService を登録して開始しました。'
expect 0 "$installed"
[ -z "$(grep -vxF "$installed" <<<"$out" | grep -v '^注意: ')" ] || fail "install said: $out"
before=0
recorded 127.0.0.1 OK,
# With no daily time it stops by itself, half a minute after its adjustment.
within 45 is STOPPED || fail "the service runs on without a daily time: $(state)"

# A server named at install is not backed by the public servers of the defaults.
service status
expect 0 '  DefaultServer = 127.0.0.1  （サービスのパラメーター）' \
  '  protocol = SNTP  （サービスのパラメーター）' '前回の結果:' '  結果: OK' \
  '  FallbackServers =   （サービスのパラメーター）' \
  '  サーバ: 127.0.0.1 (SNTP)' '記録: C:\ProgramData\Tavrino\TavrinoService.log'
for key in TimeOut ErrorRetry AdjustAt logfile Samples MaxCorrection nts; do
  grep -qE "^  $key = [0-9,:]+  （既定値）$" <<<"$out" || fail "status: $key not a default: $out"
done
grep -qE '^サービス: 停止' <<<"$out" || fail "status: the service's state: $out"

# An hour ahead: the service may not set so large a step either. The server may wait
# for the port while a test of the Windows binaries holds it on all of loopback.
for _ in $(seq 1 20); do
  "$ahead_server" 127.0.0.13 3600 200 2>"$work/ahead.err" & ahead=$!
  sleep 0.5; kill -0 "$ahead" 2>/dev/null && break
  ahead=""; sleep 1
done
[ -n "$ahead" ] || fail "the hour-ahead server did not start: $(cat "$work/ahead.err")"
set_value "$parameters" DefaultServer 127.0.0.13
adjust 1 'サービスは時計を合わせられませんでした。' 127.0.0.13 'ERROR (localtime-set):1314' \
  'ERROR \(localtime-set\):1314'

# A policy over the parameters; within the minute, the same answer and no query.
set_value "$policy" DefaultServer 127.0.0.1
service status
expect 0 '  DefaultServer = 127.0.0.1  （グループ ポリシー）' \
  '  protocol = SNTP  （サービスのパラメーター）'
adjust 0 'サービスが時計を合わせました。' 127.0.0.1 OK OK,
first=$out before=$(lines)
service adjust
[ "$status" = 0 ] && [ "$out" = "$first" ] || fail "a second request got another answer: $out"
[ "$(lines)" = "$before" ] || fail "a second request within the minute queried: $(history)"

# The main window, adjusting at its start with the hour-ahead server, is refused: it
# asks the service, which uses the machine's own server (and the policy goes).
"$run" reg delete "$policy" /f >/dev/null 2>&1 || fail "cannot remove the policy"
set_value "$parameters" DefaultServer 127.0.0.1
forget_last
mkdir "$work/app" && cp "$win64/Tavrino.exe" "$work/app/"
printf '[Property]\r\nDefaultServer=127.0.0.13\r\nprotocol=SNTP\r\nlogfile=1\r\nAutoAdjust=1\r\n' \
  >"$work/app/Tavrino.INI"
"$run" "$work/app/Tavrino.exe" & program=$!
# Its history line comes first, its fields right after.
field() { "$run" "$driver" text Tavrino "$1" 2>/dev/null; }  # IDC_SERVER_TIME 1001, IDC_PC_TIME 1003
by_service() { [ "$(field 1003)" = '<< ADJUSTED!! >> (サービス)' ]; }
within 60 by_service || fail "the PC-time field reads '$(field 1003)'"
grep -qE ', 127\.0\.0\.1, +SNTP, +adjust, OK \(サービス\), ' <<<"$(history "$work/app/Tavrino.log")" \
  || fail "the window's history: $(history "$work/app/Tavrino.log")"
recorded 127.0.0.1 OK,
server_time=$(field 1001)
service status
[ -n "$server_time" ] && [ "$server_time" = "$(sed -n 's/^  サーバ時刻: //p' <<<"$out")" ] \
  || fail "the window shows $server_time, the service answered: $out"
# Closed once its result notice has gone.
closed() { "$run" "$driver" close Tavrino >/dev/null 2>&1; ! kill -0 "$program" 2>/dev/null; }
within 20 closed || fail "the program did not end"
program=""

# A stop while it waits 30 s for a silent server; a daily time keeps it running.
set_value "$parameters" DefaultServer 127.0.0.9
set_value "$parameters" TimeOut 30
set_value "$parameters" AdjustAt "1,$(((10#$(date +%H) + 12) % 24)):00"
forget_last
control start RUNNING
sleep 1
[ "$(lines)" = "$before" ] || fail "the silent server's query ended early: $(history)"
started=$(date +%s%N)
control stop STOPPED
took=$((($(date +%s%N) - started) / 1000000))
[ "$took" -le 2000 ] || fail "the service took $took ms to stop"
recorded 127.0.0.9 'ERROR \(Stopped\)'

# Anything but the request gets no answer and stops nothing; the request is answered.
set_value "$parameters" DefaultServer 127.0.0.1
forget_last
control start RUNNING
recorded 127.0.0.1 OK,
for kind in garbage long; do
  reply=$("$run" "$win64/tests/service_probe.exe" "$kind" 10000) && fail "the service answered $kind: $reply"
  grep -q '^no answer: closed' <<<"$reply" || fail "$kind: $reply"
  [ "$(state)" = RUNNING ] || fail "the service stopped after $kind: $(state)"
done
reply=$("$run" "$win64/tests/service_probe.exe" request 20000) || fail "the request: $reply"
[ "$(tr -d '\r' <<<"$reply")" = 'answer: TAVRINO ANSWER 1' ] || fail "the request got $reply"

# Uninstalled, while running: the service goes, its history stays.
service uninstall
expect 0 'サービス TavrinoService を削除しました（記録のフォルダーは残します）。'
"$run" sc query TavrinoService >/dev/null 2>&1 && fail "the service is left after uninstall"
[ -s "$data/TavrinoService.log" ] || fail "uninstall removed the history"
service adjust
expect 2 'サービス TavrinoService がありません（install で登録してください）。'
echo "service: installed, adjusted, refused, overruled, asked from the window, stopped" \
  "mid-query in $took ms, uninstalled"
