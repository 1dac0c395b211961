#!/usr/bin/env bash
# Measures Tavrino.exe under Wine, each figure against a floor measured in the same
# run, and appends Markdown table rows to OUTFILE (and prints them):
#   | figure | Tavrino | floor/peer | ratio or error | notes |
# A figure that cannot be measured still gets its row, saying why; the exit status is
# 0 either way (2 on a usage error).
#
#   5. Check click to server time shown, against the sandbox's chronyd (SNTP);
#      floor: a minimal dialog doing one blocking Winsock exchange per click.
#   6. Working set and private bytes idle, CPU time idle with the clock display on;
#      floor: a minimal dialog (one static, DialogBox). Executable sizes, and that of
#      TavrinoNts.dll (OpenSSL linked statically).
#   7. Start-up, CreateProcess to main window visible; floor: the minimal dialog.
#   7c. The same with nts=1 in the profile and TavrinoNts.dll beside the program,
#      against the program with nts=0 (the DLL is loaded at the first NTS query only).
#   1, 2. The engine's query program (engine_query_win.exe, built from the portable
#      bench/engine_query.cpp) against chronyd: time of one check and absolute offset;
#      floor: a plain Winsock SNTP client.
#
# Usage: bench/wine_bench.sh [--smoke] OUTFILE
# The win64 build: $TAVRINO_WIN64_BUILD, else $TAVRINO_BUILD/win64 (default build/win64), built beforehand
# (cmake --build). Runs inside scripts/sandbox (TAVRINO_SANDBOX=inside, DISPLAY set);
# called from outside, it enters the sandbox itself. Every wait is bounded; only the
# processes it starts are stopped, and only by their own ids (or by their job).
set -uo pipefail

top=$(cd "$(dirname "$0")/.." && pwd)

smoke=0
if [ "${1:-}" = --smoke ]; then
  smoke=1
  shift
fi
if [ $# -ne 1 ]; then
  echo "usage: bench/wine_bench.sh [--smoke] OUTFILE" >&2
  exit 2
fi
outfile=$1

if [ "${TAVRINO_SANDBOX:-}" != inside ]; then
  case "$outfile" in /*) ;; *) outfile="$PWD/$outfile" ;; esac
  args=()
  [ $smoke -eq 1 ] && args+=(--smoke)
  exec "$top/scripts/sandbox" "$top/bench/wine_bench.sh" "${args[@]}" "$outfile"
fi

build="${TAVRINO_WIN64_BUILD:-${TAVRINO_BUILD:-$top/build}/win64}"
bench="$build/bench"
wine_run="$top/scripts/wine-run"
# The PC under Wine keeps Japan's time, as the program's users' PCs do.
export TZ=Asia/Tokyo

if [ $smoke -eq 1 ]; then
  check_rounds=10 idle_seconds=10 start_rounds=3 engine_queries=20
else
  check_rounds=50 idle_seconds=60 start_rounds=20 engine_queries=200
fi

touch "$outfile" || { echo "wine_bench: cannot write $outfile" >&2; exit 0; }

row() {  # figure, Tavrino, floor, ratio or error, notes
  local line="| $1 | $2 | $3 | $4 | $5 |"
  printf '%s\n' "$line" | tee -a "$outfile"
}
error_row() {  # figure, why
  row "$1" "not measured" "-" "error: $2" "-"
}

work=$(mktemp -d /tmp/tavrino-winbench.XXXXXX)
trap 'rm -rf "$work"' EXIT

# The last line of a program's diagnostics, fit for a table cell.
why_from() {  # file, status
  local text
  text=$(tail -n 1 "$1" 2>/dev/null | tr -d '\r|' | cut -c1-160)
  case "$2" in
    124) printf 'timed out%s' "${text:+ ($text)}" ;;
    *) printf 'exit status %s%s' "$2" "${text:+ ($text)}" ;;
  esac
}

# Runs the driver for one mode; its rows go to the output, and each figure named in
# the list that it did not print gets an error row.
# RELABEL, when set, is a sed script applied to the driver's rows (another floor's names).
drive() {  # time limit in seconds, mode, Tavrino copy, floor, number, figure...
  local limit=$1 mode=$2 exe=$3 floor=$4 number=$5
  shift 5
  local rows="$work/$mode.rows" errors="$work/$mode.err" status figure
  timeout -k 5 "$limit" "$wine_run" "$bench/wine_driver.exe" "$mode" "$(winepath_of "$exe")" \
    "$(winepath_of "$floor")" "$number" >"$rows" 2>"$errors"
  status=$?
  tr -d '\r' <"$rows" | grep '^| ' | sed -e "${RELABEL:-}" >"$rows.md"
  tee -a "$outfile" <"$rows.md"
  for figure in "$@"; do
    grep -qF "| $figure" "$rows.md" || error_row "$figure" "$(why_from "$errors" "$status")"
  done
}

# A Unix path as Wine's Z: drive path.
winepath_of() {
  printf 'Z:%s' "${1//\//\\}"
}

figure5="5. Check click to server time shown (Wine, chronyd 127.0.0.1, SNTP)"
figure6ws="6. Working set, idle (Wine)"
figure6private="6. Private bytes, idle (Wine)"
figure6cpu="6. CPU time over $idle_seconds s idle, clock display on (Wine)"
figure7="7. Start-up, CreateProcess to main window visible (Wine)"
figure7b="7b. Start-up against a floor with the program's manifest"
figure7c="7c. Start-up with nts=1 in the profile"
figure1="1. Engine SNTP check time under Wine, N=$engine_queries (chronyd 127.0.0.1)"
figure2="2. Engine absolute offset under Wine, N=$engine_queries (chronyd 127.0.0.1)"

missing=()
for f in "$build/Tavrino.exe" "$bench/wine_driver.exe" "$bench/wine_min_dialog.exe" \
         "$bench/wine_sntp_dialog.exe"; do
  [ -f "$f" ] || missing+=("${f#"$build"/}")
done
if [ -z "${DISPLAY:-}" ]; then
  missing+=("a display (DISPLAY)")
fi
if [ ${#missing[@]} -ne 0 ]; then
  why="missing ${missing[*]} (build $build first)"
  for figure in "$figure5" "$figure6ws" "$figure6private" "$figure6cpu" "$figure7" "$figure7c"; do
    error_row "$figure" "$why"
  done
fi

# Executable sizes need no Wine.
size_of() { stat -c %s "$1" 2>/dev/null; }
floor_size=$(size_of "$bench/wine_min_dialog.exe")
for program in Tavrino Quillet TavrinoSvc; do
  figure="6. Executable size, $program.exe"
  size=$(size_of "$build/$program.exe")
  if [ -n "$size" ] && [ -n "$floor_size" ]; then
    row "$figure" "$size bytes" "minimal dialog: $floor_size bytes" \
      "$(awk -v a="$size" -v b="$floor_size" 'BEGIN { printf "%.1fx", a / b }')" \
      "mingw-w64 x86-64 Release, C++ runtime linked statically; the floor is C on msvcrt.dll"
  else
    error_row "$figure" "$program.exe or the minimal dialog is not built"
  fi
done
# Authenticated time's cryptography: OpenSSL linked statically into a DLL of its own,
# which every program loads at its first NTS query only.
dll_size=$(size_of "$build/TavrinoNts.dll")
tavrino_size=$(size_of "$build/Tavrino.exe")
percent() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.0f %%", 100 * a / b }'; }
times() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.1fx", a / b }'; }
if [ -n "$dll_size" ] && [ -n "$floor_size" ] && [ -n "$tavrino_size" ]; then
  row "6. DLL size, TavrinoNts.dll" "$dll_size bytes" "minimal dialog: $floor_size bytes" \
    "$(times "$dll_size" "$floor_size")" \
    "OpenSSL 3.0 (libssl, libcrypto) linked statically behind the one export of the NTS table; it is $(percent "$dll_size" "$tavrino_size") of Tavrino.exe ($tavrino_size bytes): linked into each program it would make Tavrino.exe $(times "$((dll_size + tavrino_size))" "$tavrino_size") its size, and the same again in Quillet.exe and TavrinoSvc.exe, which is why it is a DLL, loaded by the programs that ask for NTS and only then"
  row "6. Tavrino.exe with TavrinoNts.dll counted" "$((tavrino_size + dll_size)) bytes" \
    "minimal dialog: $floor_size bytes" "$(times "$((tavrino_size + dll_size))" "$floor_size")" \
    "what a user with nts=1 has on disk for the window program; without the DLL counted the row above: $(times "$tavrino_size" "$floor_size")"
else
  error_row "6. DLL size, TavrinoNts.dll" "TavrinoNts.dll, Tavrino.exe or the minimal dialog is not built"
fi

# What the sizes are made of, section by section (the executables carry no symbols;
# the Release build keeps them in PROGRAM.exe.debug).
for program in Tavrino Quillet TavrinoNts; do
  file="$build/$program.exe"
  [ $program = TavrinoNts ] && file="$build/$program.dll"
  parts= code=0 unwind=0 res=0 data=0
  while read -r _ name size _; do
    case "$name" in
      .text) code=$((code + 16#$size)) ;;
      .rsrc) res=$((res + 16#$size)) ;;
      .pdata | .xdata) unwind=$((unwind + 16#$size)) ;;
      .*) data=$((data + 16#$size)) ;;
    esac
  done < <(x86_64-w64-mingw32-objdump -h "$file" 2>/dev/null | grep -E '^ +[0-9]+ \.')
  [ $code -gt 0 ] && parts="code $((code / 1024)) KB, unwind tables $((unwind / 1024)) KB, resources $((res / 1024)) KB, data $((data / 1024)) KB"
  [ -z "$parts" ] && continue
  if [ $program = TavrinoNts ]; then
    row "6. What is in TavrinoNts.dll" "$parts" "-" "-" \
      "nearly all of it OpenSSL: TLS 1.3 with its certificate checks, the key exporter and AES-SIV-CMAC, the ciphers and their tables, and the parts of libcrypto these pull in; the program's own part is the table of engine/nts_backend.h and the trust of Windows' root store"
    continue
  fi
  row "6. What is in ${file##*/}" "$parts" "-" "-" \
    "the code is the program's own and, linked statically, the C++ runtime's exception handling and strings, winpthreads (the posix thread model's threads and locks: the query's worker in Tavrino.exe, the runtime's own locks in both) and mingw-w64's C99 printf with its floating-point conversion (the texts' formats); the unwind tables serve the exceptions; resources are the dialogs, texts, icons and manifest. No stream library is linked, nor the runtime's name demangler (the program has its own terminate handler)"
done

if [ ${#missing[@]} -eq 0 ]; then
  # Copies of the program, each with its profile beside it: Check with the clock
  # display off (no pause of a second after the result), idle and start-up with it on,
  # and start-up with nts=1.
  profile() {  # folder, clock display flag[, server, nts flag]
    mkdir -p "$1"
    cp "$build/Tavrino.exe" "$1/"
    [ -f "$build/Quillet.exe" ] && cp "$build/Quillet.exe" "$1/"
    printf '%s\r\n' '[Property]' "DefaultServer=${3:-127.0.0.1}" protocol=SNTP logfile=1 \
      "CurrentTimeDisplay=$2,0,0" "nts=${4:-0}" >"$1/Tavrino.INI"
  }
  profile "$work/check" 0
  profile "$work/idle" 1
  # As a user with authenticated time has it: the DLL beside the program.
  profile "$work/nts" 1 nts.tavrino.test 1
  [ -f "$build/TavrinoNts.dll" ] && cp "$build/TavrinoNts.dll" "$work/nts/"

  started=$(date +%s)
  drive $((60 + check_rounds)) check "$work/check/Tavrino.exe" "$bench/wine_sntp_dialog.exe" \
    "$check_rounds" "$figure5"
  drive $((60 + idle_seconds)) idle "$work/idle/Tavrino.exe" "$bench/wine_min_dialog.exe" \
    "$idle_seconds" "$figure6ws" "$figure6private" "$figure6cpu"
  drive $((60 + 10 * start_rounds)) startup "$work/idle/Tavrino.exe" \
    "$bench/wine_min_dialog.exe" "$start_rounds" "$figure7"
  # Again against the minimal dialog with the program's manifest: what the program's
  # own start costs beyond loading the common controls 6 that the manifest asks for.
  RELABEL="s/^| 7\. Start-up,/| $figure7b,/; s/| minimal dialog:/| minimal dialog with the manifest:/" \
    drive $((60 + 10 * start_rounds)) startup "$work/idle/Tavrino.exe" \
    "$bench/wine_min_dialog_styled.exe" "$start_rounds" "$figure7b"
  # The program against itself: nts=1 (and the DLL beside it) against nts=0.
  drive $((60 + 10 * start_rounds)) startup-nts "$work/nts/Tavrino.exe" \
    "$work/idle/Tavrino.exe" "$start_rounds" "$figure7c"
  echo "wine_bench: the program's figures took $(($(date +%s) - started)) s" >&2
fi

# The engine alone under Wine: its query program (the engine's SNTP check, as Check
# runs it) against a plain Winsock client, both printing "offset-seconds microseconds"
# per answered query; in chunks of queries, each chunk a fresh process, the two
# programs taking turns chunk by chunk.
# Median, nearest-rank p90 and worst of a file of numbers, scaled and with a unit.
stats() {  # file, unit
  sort -g "$1" | awk -v unit="$2" '{ v[NR] = $1 }
    END {
      n = NR; if (n == 0) exit 1
      median = n % 2 ? v[(n + 1) / 2] : (v[n / 2] + v[n / 2 + 1]) / 2
      r = int(0.9 * n); if (r < 0.9 * n) r++; if (r < 1) r = 1
      printf "median %.1f %s, p90 %.1f %s, worst %.1f %s (n=%d)", median, unit, v[r], unit, v[n], unit, n
    }'
}
value() {  # file, median|p90
  sort -g "$1" | awk -v which="$2" '{ v[NR] = $1 }
    END {
      n = NR; if (n == 0) { print 0; exit }
      if (which == "median") print (n % 2 ? v[(n + 1) / 2] : (v[n / 2] + v[n / 2 + 1]) / 2)
      else { r = int(0.9 * n); if (r < 0.9 * n) r++; if (r < 1) r = 1; print v[r] }
    }'
}
ratio_of() { awk -v a="$1" -v b="$2" 'BEGIN { if (b > 0) printf "%.2fx", a / b; else print "n/a (floor is 0)" }'; }

engine="$bench/engine_query_win.exe"
raw="$bench/wine_raw_query.exe"
if [ -f "$engine" ]; then
  clock_function=$(timeout -k 5 60 "$wine_run" "$engine" --clock-function 2>/dev/null | tr -d '\r')
  row "PC clock read with" "${clock_function:-unknown}" "-" "-" \
    "the function that the Windows build's clock seam reads (engine_query_win.exe --clock-function); on Windows 7, or should it disagree with the tick by more than 100 ms, GetSystemTimeAsFileTime"
fi
if [ ! -f "$engine" ] || [ ! -f "$raw" ]; then
  why="engine_query_win.exe or wine_raw_query.exe is not built (engine_query_win needs bench/engine_query.cpp)"
  error_row "$figure1" "$why"
  error_row "$figure2" "$why"
else
  # Ten chunks in the full run, at least two in the smoke one.
  chunk=$((engine_queries / 10))
  [ $chunk -gt 20 ] && chunk=20
  [ $chunk -lt 10 ] && chunk=10
  chunks=$(((engine_queries + chunk - 1) / chunk))
  : >"$work/engine.lines"; : >"$work/raw.lines"; : >"$work/engine.err"; : >"$work/raw.err"
  deadline=$(($(date +%s) + 120))
  for ((i = 0; i < chunks; i++)); do
    for turn in 0 1; do
      if [ $(((i + turn) % 2)) -eq 0 ]; then
        timeout -k 5 90 "$wine_run" "$engine" --count "$chunk" --time 127.0.0.1 \
          >>"$work/engine.lines" 2>>"$work/engine.err"
      else
        timeout -k 5 90 "$wine_run" "$raw" "$chunk" >>"$work/raw.lines" 2>>"$work/raw.err"
      fi
    done
    [ "$(date +%s)" -lt "$deadline" ] || break
  done
  tr -d '\r' <"$work/engine.lines" | awk 'NF == 2' >"$work/engine.ok"
  tr -d '\r' <"$work/raw.lines" | awk 'NF == 2' >"$work/raw.ok"
  for who in engine raw; do
    awk '{ print $2 }' "$work/$who.ok" >"$work/$who.us"
    awk '{ o = $1 * 1e6; print (o < 0 ? -o : o) }' "$work/$who.ok" >"$work/$who.offset"
  done
  failed_engine=$(grep -c '^engine_query:' "$work/engine.err")
  failed_raw=$(grep -c '^wine_raw_query:' "$work/raw.err")
  notes="$chunks chunks of $chunk queries per program, each chunk a fresh process, taking turns; failures $failed_engine/$failed_raw"
  if [ -s "$work/engine.ok" ] && [ -s "$work/raw.ok" ]; then
    row "$figure1" "$(stats "$work/engine.us" µs)" "plain Winsock client: $(stats "$work/raw.us" µs)" \
      "$(ratio_of "$(value "$work/engine.us" median)" "$(value "$work/raw.us" median)")" \
      "time of one check inside the process (send to validated result); p90 ratio $(ratio_of "$(value "$work/engine.us" p90)" "$(value "$work/raw.us" p90)"); $notes"
    row "$figure2" "$(stats "$work/engine.offset" µs)" "plain Winsock client: $(stats "$work/raw.offset" µs)" \
      "$(ratio_of "$(value "$work/engine.offset" median)" "$(value "$work/raw.offset" median)")" \
      "chronyd serves this machine's clock, the one Wine reads: the true offset is 0 and each value is the check's error; p90 ratio $(ratio_of "$(value "$work/engine.offset" p90)" "$(value "$work/raw.offset" p90)"); $notes"
  else
    why="no answered query (engine: $(tail -n 1 "$work/engine.err" | tr -d '\r|'), floor: $(tail -n 1 "$work/raw.err" | tr -d '\r|'))"
    error_row "$figure1" "$why"
    error_row "$figure2" "$why"
  fi
fi
exit 0
