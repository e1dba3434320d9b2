#!/usr/bin/env bash
# The Windows programs under wine, run as a Windows user runs them: from their own folder
# (build-win/bin holds the programs and kinetron.dll, nothing else), in a working folder of
# their own. Each output is compared, CRLF folded to LF, with the same command run by the
# native Linux build; the prefix's COM12 is servosim's pseudo-terminal.
#
#   wine_test.sh prefix | stop | imports | usage | sim-play | com BAUDNUM | latency
#
# Environment (set by the cross build's CTest): WINE, WINE_SERVER, WIN_BIN, NATIVE_BIN,
# SOURCE_DIR, WORK (a folder of the build tree), OBJDUMP.
set -uo pipefail

export WINEPREFIX="$WORK/prefix" WINEDLLOVERRIDES="mscoree,mshtml=" WINELOADER="$WINE"
export WINEDEBUG="-all,err+module"
unset KINETRON_DEVICE WINEPATH
LINE="$WORK/line" # servosim's --link, where the prefix's COM12 leads
PORT=COM12
FTDI_KEY='HKLM\SYSTEM\CurrentControlSet\Enum\FTDIBUS\VID_0403+PID_6001+KT0001A\0000\Device Parameters'
SAMPLE=raise_arms_absolute.csv

fail() { echo "FAIL: $*"; exit 1; }
wine_quiet() { "$WINE" "$@" </dev/null >>"$WORK/wine.log" 2>&1 || fail "wine $*: $(tail -3 "$WORK/wine.log")"; }
set_latency() { wine_quiet reg add "$FTDI_KEY" /v LatencyTimer /t REG_DWORD /d "$1" /f; }
case "${1:-}" in usage | sim-play | com | latency)
  [ -x "$NATIVE_BIN/servosim" ] || { echo "no native build at $NATIVE_BIN: skipped"; exit 77; }
esac

# A fresh working folder holding the sample: the tools see its name, not its path.
scratch() {
  RUN="$WORK/runs/$1"
  rm -rf "$RUN" && mkdir -p "$RUN" && cp "$SOURCE_DIR/samples/$SAMPLE" "$RUN/"
}

# run_pair NAME DEVICE TOOL ARGS...: the Windows program, then the native one (on servosim's
# line where the Windows one had COM12); outputs and statuses must agree. BETWEEN_RUNS may
# restart servosim in between.
run_pair() {
  local name=$1 device=$2 tool=$3 native_device=$2
  shift 3
  scratch "$name"
  (cd "$RUN" && KINETRON_DEVICE=$device "$WINE" "$WIN_BIN/$tool.exe" "$@" </dev/null >win.raw 2>win.err)
  local win_status=$?
  ${BETWEEN_RUNS:-true}
  [ "$device" = $PORT ] && native_device=$LINE
  # Standard output is what must match: wine adds lines of its own to standard error.
  (cd "$RUN" && KINETRON_DEVICE=$native_device "$NATIVE_BIN/$tool" "$@" </dev/null >native.raw 2>native.err)
  local native_status=$?
  # Measured milliseconds differ from run to run.
  sed -e 's/\r$//' -e 's/\[ *[0-9]*ms\]/[ms]/g' "$RUN/win.raw" >"$RUN/win.out"
  sed -e 's/\[ *[0-9]*ms\]/[ms]/g' "$RUN/native.raw" >"$RUN/native.out"
  diff -u "$RUN/native.out" "$RUN/win.out" ||
    fail "$name: $tool $* differs under wine (- native, + wine): $(cat "$RUN/win.err")"
  [ $win_status = $native_status ] || fail "$name: status $win_status under wine, $native_status native"
  echo "ok  $name: $tool $* (status $win_status)"
}

SIM_PID=""
start_servosim() {
  stop_servosim
  rm -f "$WORK/servosim.out"
  "$NATIVE_BIN/servosim" "$SIM_OPTIONS" --link "$LINE" >"$WORK/servosim.out" 2>>"$WORK/servosim.err" &
  SIM_PID=$!
  for _ in $(seq 200); do # its first line says it serves
    [ -s "$WORK/servosim.out" ] && return 0
    kill -0 $SIM_PID 2>/dev/null || break
    sleep 0.05
  done
  fail "servosim did not start: $(cat "$WORK/servosim.err")"
}
stop_servosim() {
  [ -n "$SIM_PID" ] && kill $SIM_PID 2>/dev/null && wait $SIM_PID 2>/dev/null
  SIM_PID=""
}
trap stop_servosim EXIT

# Milliseconds that one Windows run takes.
timed_run() {
  local start
  start=$(date +%s%N)
  (cd "$RUN" && "$WINE" "$WIN_BIN/$1.exe" "${@:2}" </dev/null >"$RUN/$1.out" 2>&1)
  echo $((($(date +%s%N) - start) / 1000000))
  grep -q "Succeed to open" "$RUN/$1.out" || fail "adapter not found: $(cat "$RUN/$1.out")" >&2
}

case "${1:-}" in
prefix)
  # The prefix is made once (wineboot takes tens of seconds); the port mapping and the
  # adapter's driver record are written on every run. Wine's mount manager reads the port
  # list when its server starts, so the server is restarted after writing.
  mkdir -p "$WORK" && : >"$WORK/wine.log"
  [ -f "$WINEPREFIX/system.reg" ] || wine_quiet wineboot -i
  wine_quiet reg add 'HKLM\Software\Wine\Ports' /v $PORT /t REG_SZ /d "$LINE" /f
  wine_quiet reg add "$FTDI_KEY" /v PortName /t REG_SZ /d $PORT /f
  set_latency 1
  "$WINE_SERVER" -k 2>/dev/null
  "$WINE_SERVER" -w
  "$WINE_SERVER" -p </dev/null >>"$WORK/wine.log" 2>&1
  wine_quiet reg query 'HKLM\Software\Wine\Ports'
  echo "ok  prefix $WINEPREFIX, $PORT -> $LINE"
  ;;
stop)
  "$WINE_SERVER" -k 2>/dev/null
  echo "ok  wine server stopped"
  ;;
imports)
  # Windows' own DLLs and ours; linkprobe alone also takes the chip vendor's.
  for program in "$WIN_BIN"/*.exe "$WIN_BIN"/*.dll; do
    allowed='^(KERNEL32|msvcrt|ADVAPI32|kinetron)\.dll$'
    [[ $program = */linkprobe.exe ]] && allowed='^(KERNEL32|msvcrt|FTD2XX)\.dll$'
    for dll in $("$OBJDUMP" -p "$program" | awk '/DLL Name:/ {print $3}'); do
      [[ $dll =~ $allowed ]] || fail "$(basename "$program") needs $dll"
    done
  done
  echo "ok  every program needs only Windows' DLLs and kinetron.dll"
  ;;
usage)
  for tool in jointwatch swingtest regbyte regword holdswitch linkspeed factoryclear servoscan \
              frameplot servocheck servoreg motiontape; do
    run_pair "usage-$tool" sim $tool -1 -1 -1
  done
  run_pair usage-posetape sim posetape PLAY frames.csv -1 -1
  ;;
sim-play)
  run_pair sim-play sim posetape PLAY $SAMPLE 1 18 35 0.1
  ;;
com)
  # Wine sets the standard speeds on a pseudo-terminal; at any other (57142 at baud number
  # 34) it falls back to 38400, so only baud numbers of standard speeds are tried here.
  baud=$2 SIM_OPTIONS="ids=1-18,baud=$2" BETWEEN_RUNS=start_servosim
  start_servosim
  run_pair "com$baud-regword" $PORT regword 1 "$baud" 36
  start_servosim
  run_pair "com$baud-regbyte" $PORT regbyte 2 "$baud" 25 1
  start_servosim
  run_pair "com$baud-play" $PORT posetape PLAY $SAMPLE 1 18 "$baud" 0.1
  ;;
latency)
  # A read of an absent servo waits out every try: the time-out holds twice the latency
  # timer and one more is spent dropping late bytes, so 60 tries (regbyte: 6 reads of 10)
  # take 60 x 3 x 15 ms = 2.7 s longer at the 16 ms default than at the 1 ms the driver
  # records. KINETRON_DEVICE is unset: the adapter is found through the same record.
  SIM_OPTIONS="ids=1-3,baud=1"
  start_servosim
  scratch latency
  set_latency 1
  fast=$(timed_run regbyte 9 1 3) || exit 1
  wine_quiet reg delete "$FTDI_KEY" /v LatencyTimer /f
  slow=$(timed_run regbyte 9 1 3) || exit 1
  set_latency 1
  echo "absent servo, 60 tries: $fast ms at LatencyTimer 1, $slow ms without it (16 ms)"
  [ $((slow - fast)) -ge 2000 ] && [ $((slow - fast)) -le 5000 ] ||
    fail "the 16 ms default took $((slow - fast)) ms longer (model: 2700)"
  echo "ok  time-outs follow the recorded latency timer"
  ;;
*)
  echo "usage: $0 prefix | stop | imports | usage | sim-play | com BAUDNUM | latency" >&2
  exit 2
  ;;
esac
