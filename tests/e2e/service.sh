#!/usr/bin/env bash
# The time service under Wine, in a copy of the prefix, against the sandbox's servers:
# chronyd on 127.0.0.1 (this machine's clock: the tiny step is set), a server an hour
# ahead on 127.0.0.13 (Wine refuses so large a step with 1314, as Windows refuses a
# user without the right) and the silent 127.0.0.9. In order:
#   - install with a server and a protocol writes them to the service's parameters and
#     starts it; it adjusts once, records OK and, with no daily time, stops;
#   - status shows each setting's origin and the last result;
#   - adjust starts the stopped service, which asks the hour-ahead server: exit 1, 1314
#     in the history; a policy value wins over the parameters; a second request within
#     the minute gets the same answer without another query;
#   - the main window, refused the clock itself, shows and records the service's answer;
#   - a stop in the middle of a query is obeyed within a second or two, and the query
#     is recorded as stopped;
#   - messages on the pipe that are not the request get no answer and leave the service
#     serving;
#   - uninstall removes the service; adjust then says there is none.
# Usage: tests/e2e/service.sh WIN64_BUILD_DIR [NATIVE_BUILD_DIR]
# The native tree (its bench/offset_server is the hour-ahead server) is the second
# argument, else $TAVRINO_NATIVE_BUILD, else WIN64_BUILD_DIR/../native.
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
probe="$win64/tests/service_probe.exe"

work=$(mktemp -d /tmp/tavrino-service.XXXXXX)
keeper=""
ahead=""
program=""
cleanup() {
  local pid
  for pid in $program $keeper $ahead; do kill "$pid" 2>/dev/null || true; done
  WINEPREFIX="$work/prefix" wineserver -k 2>/dev/null || true
  [ -n "${KEEP:-}" ] || rm -rf "$work"
}
trap cleanup EXIT
cp -a "$WINEPREFIX" "$work/prefix"
export WINEPREFIX="$work/prefix"
export WINEDLLOVERRIDES="winemenubuilder.exe=d;mscoree,mshtml="
wineserver -p </dev/null >/dev/null 2>&1
"$run" wineboot </dev/null >/dev/null 2>&1 || true

drive="$WINEPREFIX/drive_c"
data="$drive/ProgramData/Tavrino"
mkdir -p "$drive/Program Files/Tavrino"
cp "$win64/TavrinoSvc.exe" "$drive/Program Files/Tavrino/TavrinoSvc.exe"
service_exe='C:\Program Files\Tavrino\TavrinoSvc.exe'
parameters='HKLM\SYSTEM\CurrentControlSet\Services\TavrinoService\Parameters'
policy='HKLM\SOFTWARE\Policies\Tavrino'

# Wine ends a prefix's services when no other program of it runs: the driver waits
# for a window that never comes while the service works.
"$run" "$driver" wait TavrinoNoSuchWindow 280000 >/dev/null 2>&1 &
keeper=$!

# TavrinoSvc.exe COMMAND...: its output in UTF-8 in $out, its exit status in $status.
out=""
status=0
service() {
  status=0
  timeout 90 "$run" "$service_exe" "$@" </dev/null >"$work/out" 2>"$work/err" || status=$?
  out=$(iconv -c -f CP932 -t UTF-8 "$work/out" | tr -d '\r')
}
said() { grep -qxF -- "$1" <<<"$out"; }
# The service's state as sc names it (RUNNING, STOPPED, ...); empty when there is none.
state() {
  timeout 30 "$run" sc query TavrinoService 2>/dev/null | tr -d '\r' \
    | sed -nE 's/^ *STATE *: *[0-9]+ +([A-Z_]+).*/\1/p' || true
}
# Waits up to $2 seconds for the service's state to be $1.
await_state() {
  local end=$((SECONDS + $2))
  while [ "$SECONDS" -lt "$end" ]; do
    [ "$(state)" = "$1" ] && return 0
    sleep 0.2
  done
  return 1
}
set_value() {
  "$run" reg add "$1" /v "$2" /t REG_SZ /d "$3" /f >/dev/null 2>&1 || fail "reg add $1 $2=$3"
}
value() {
  "$run" reg query "$1" /v "$2" 2>/dev/null | tr -d '\r' | sed -nE "s/^ +$2 +REG_[A-Z_]+ +//p" || true
}
history() { iconv -c -f CP932 -t UTF-8 "$data/TavrinoService.log" 2>/dev/null | tr -d '\r' || true; }
lines() { history | wc -l; }
# Waits for a history line matching the pattern after the first $2 lines.
await_history() {
  local _
  for _ in $(seq 1 150); do
    tail -n +"$(($2 + 1))" <<<"$(history)" | grep -qE -- "$1" && return 0
    sleep 0.2
  done
  fail "no history line like '$1' after line $2 in 30 s: $(history)"
}
# A new adjustment rather than the last one's answer, which a request within a minute
# of it gets, also from a service that stays on for a while after it: it is stopped.
forget_last() {
  "$run" sc stop TavrinoService >/dev/null 2>&1 || true
  await_state STOPPED 10 || fail "the service did not stop: $(state)"
  rm -f "$data/TavrinoService.state"
}
answered() {
  said "$1" && said "  結果: $2" && said "  サーバ: $3 (SNTP)" \
    || fail "adjust against $3: exit $status: $out"
}

# Installed with the sandbox's chronyd: the service adjusts at once and, with no daily
# time, stops. Only what Wine's service manager cannot carry may be noted.
service install /server=127.0.0.1 /protocol=SNTP
[ "$status" = 0 ] || fail "install exited $status: $out"
said 'サービス TavrinoService を登録して開始しました。' || fail "install said: $out"
others=$(grep -vxF 'サービス TavrinoService を登録して開始しました。' <<<"$out" | grep -v '^注意: ' || true)
[ -z "$others" ] || fail "install said more: $others"
[ "$(value "$parameters" DefaultServer)" = 127.0.0.1 ] || fail "parameters: $(value "$parameters" DefaultServer)"
[ "$(value "$parameters" protocol)" = SNTP ] || fail "parameters: $(value "$parameters" protocol)"
await_history ', 127\.0\.0\.1, +SNTP, +adjust, OK, ' 0
# With no daily time it stops by itself, half a minute after its adjustment.
await_state STOPPED 45 || fail "the service runs on without a daily time: $(state)"

service status
[ "$status" = 0 ] || fail "status exited $status: $out"
for line in '  DefaultServer = 127.0.0.1  （サービスのパラメーター）' \
    '  protocol = SNTP  （サービスのパラメーター）' '前回の結果:' '  結果: OK' \
    '  サーバ: 127.0.0.1 (SNTP)' '記録: C:\ProgramData\Tavrino\TavrinoService.log'; do
  said "$line" || fail "status without '$line': $out"
done
for key in TimeOut ErrorRetry AdjustAt logfile; do
  grep -qE "^  $key = [0-9,:]+  （既定値）$" <<<"$out" || fail "status: $key not a default: $out"
done
grep -qE '^サービス: 停止' <<<"$out" || fail "status: the service's state: $out"

# An hour ahead: the service may not set so large a step either. The server may wait
# for the port while a test of the Windows binaries holds it on all of loopback.
for _ in $(seq 1 20); do
  "$ahead_server" 127.0.0.13 3600 200 2>"$work/ahead.err" &
  ahead=$!
  sleep 0.5
  kill -0 "$ahead" 2>/dev/null && break
  wait "$ahead" 2>/dev/null || true
  ahead=""
  sleep 1
done
[ -n "$ahead" ] || fail "the hour-ahead server did not start: $(cat "$work/ahead.err")"
set_value "$parameters" DefaultServer 127.0.0.13
forget_last
before=$(lines)
service adjust
[ "$status" = 1 ] || fail "adjust against the hour-ahead server exited $status: $out"
answered 'サービスは時計を合わせられませんでした。' 'ERROR (localtime-set):1314' 127.0.0.13
await_history ', 127\.0\.0\.13, +SNTP, +adjust, ERROR \(localtime-set\):1314' "$before"

# Policy over the parameters.
set_value "$policy" DefaultServer 127.0.0.1
service status
said '  DefaultServer = 127.0.0.1  （グループ ポリシー）' || fail "status under the policy: $out"
said '  protocol = SNTP  （サービスのパラメーター）' || fail "status under the policy: $out"
forget_last
before=$(lines)
service adjust
[ "$status" = 0 ] || fail "adjust under the policy exited $status: $out"
answered 'サービスが時計を合わせました。' OK 127.0.0.1
await_history ', 127\.0\.0\.1, +SNTP, +adjust, OK, ' "$before"
first=$out
# Within the minute: the same answer, and no query.
before=$(lines)
service adjust
[ "$status" = 0 ] && [ "$out" = "$first" ] || fail "a second request got another answer: $out"
[ "$(lines)" = "$before" ] || fail "a second request within the minute queried: $(history)"

# The main window, set to the hour-ahead server, is refused the clock itself: it asks
# the service, which adjusts with the machine's own server. The policy would be the
# window's too: it goes.
"$run" reg delete "$policy" /f >/dev/null 2>&1 || fail "cannot remove the policy"
set_value "$parameters" DefaultServer 127.0.0.1
forget_last
before=$(lines)
app="$work/app"
mkdir "$app"
cp "$win64/Tavrino.exe" "$app/Tavrino.exe"
printf '[Property]\r\nDefaultServer=127.0.0.13\r\nprotocol=SNTP\r\nlogfile=1\r\n' >"$app/Tavrino.INI"
"$run" "$app/Tavrino.exe" &
program=$!
"$run" "$driver" wait Tavrino 30000 >/dev/null || fail "no main window"
"$run" "$probe" press Tavrino 1013 || fail "cannot press Adjust"  # IDC_ADJUST
# Its history line comes first, its fields right after.
for _ in $(seq 1 300); do [ -s "$app/Tavrino.log" ] && break; sleep 0.2; done
[ -s "$app/Tavrino.log" ] || fail "the window recorded no adjustment in 60 s"
pc_time=""
for _ in $(seq 1 25); do
  pc_time=$("$run" "$driver" text Tavrino 1003)  # IDC_PC_TIME
  [ "$pc_time" = '<< ADJUSTED!! >> (サービス)' ] && break
  sleep 0.2
done
server_time=$("$run" "$driver" text Tavrino 1001)  # IDC_SERVER_TIME
window_line=$(iconv -c -f CP932 -t UTF-8 "$app/Tavrino.log" | tr -d '\r' | tail -n1)
service status
service_time=$(sed -n 's/^  サーバ時刻: //p' <<<"$out")
[ "$pc_time" = '<< ADJUSTED!! >> (サービス)' ] || fail "the PC-time field reads '$pc_time' ($server_time)"
[ -n "$service_time" ] && [ "$server_time" = "$service_time" ] \
  || fail "the window shows $server_time, the service answered $service_time"
grep -qE ', 127\.0\.0\.1, +SNTP, +adjust, OK \(サービス\), ' <<<"$window_line" \
  || fail "the window's history: $window_line"
await_history ', 127\.0\.0\.1, +SNTP, +adjust, OK, ' "$before"
# Closed once its result notice has gone.
for _ in $(seq 1 10); do
  "$run" "$driver" close Tavrino >/dev/null 2>&1 || true
  for _ in $(seq 1 10); do kill -0 "$program" 2>/dev/null || break; sleep 0.1; done
  kill -0 "$program" 2>/dev/null || break
done
kill -0 "$program" 2>/dev/null && fail "the program did not end"
program=""
"$run" sc stop TavrinoService >/dev/null 2>&1 || true
await_state STOPPED 10 || fail "the service runs on after a stop: $(state)"

# A stop while the service waits for a server that never answers (for 30 s), with a
# daily time half a day away that keeps it running.
set_value "$parameters" DefaultServer 127.0.0.9
set_value "$parameters" TimeOut 30
set_value "$parameters" AdjustAt "1,$(((10#$(date +%H) + 12) % 24)):00"
forget_last
before=$(lines)
"$run" sc start TavrinoService >/dev/null 2>&1 || fail "sc start failed"
await_state RUNNING 10 || fail "the service did not start: $(state)"
sleep 1
[ "$(lines)" = "$before" ] || fail "the silent server's query ended early: $(history)"
started=$(date +%s%N)
"$run" sc stop TavrinoService >/dev/null 2>&1 || fail "sc stop failed"
await_state STOPPED 5 || fail "the service did not stop: $(state)"
took=$((($(date +%s%N) - started) / 1000000))
[ "$took" -le 2000 ] || fail "the service took $took ms to stop"
await_history ', 127\.0\.0\.9, +SNTP, +adjust, ERROR \(Stopped\)' "$before"

# Anything but the request, from any client, gets no answer and stops nothing.
set_value "$parameters" DefaultServer 127.0.0.1
forget_last
before=$(lines)
"$run" sc start TavrinoService >/dev/null 2>&1 || fail "sc start failed"
await_state RUNNING 10 || fail "the service did not start: $(state)"
await_history ', 127\.0\.0\.1, +SNTP, +adjust, OK, ' "$before"
for kind in garbage long extra short; do
  reply=$("$run" "$probe" send "$kind" 10000) && fail "the service answered $kind: $reply"
  grep -q '^no answer: closed' <<<"$reply" || fail "$kind: $reply"
  [ "$(state)" = RUNNING ] || fail "the service stopped after $kind: $(state)"
done
# The request itself, from the same client: the channel is there.
reply=$("$run" "$probe" send request 20000) || fail "the request got no answer: $reply"
forget_last
before=$(lines)
service adjust
[ "$status" = 0 ] || fail "adjust after the malformed requests exited $status: $out"
answered 'サービスが時計を合わせました。' OK 127.0.0.1
await_history ', 127\.0\.0\.1, +SNTP, +adjust, OK, ' "$before"

# Uninstalled, while running: the service goes, its history stays.
service uninstall
[ "$status" = 0 ] || fail "uninstall exited $status: $out"
said 'サービス TavrinoService を削除しました（記録のフォルダーは残します）。' || fail "uninstall said: $out"
"$run" sc query TavrinoService >/dev/null 2>&1 && fail "the service is left after uninstall"
[ -s "$data/TavrinoService.log" ] || fail "uninstall removed the history"
service adjust
[ "$status" = 2 ] || fail "adjust without a service exited $status: $out"
said 'サービス TavrinoService がありません（install で登録してください）。' || fail "adjust said: $out"
echo "service: installed, adjusted, refused, overruled, asked from the window, stopped" \
  "mid-query in $took ms, uninstalled"
