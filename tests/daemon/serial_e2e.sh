#!/bin/sh
# sfh56d on the receiver circuit at a serial port's DSR pin (a preloaded stand-in that
# plays recorded presses on a virtual clock): the codes equal irdecode's; changes lost
# between two waits drop that train alone; a port without a receiver and a USB adapter
# are refused with one line each.
. "$(dirname "$0")/common.sh"
port="$WORK/ttyS9"
: > "$port"
head -6 "$DATA/serial_remotes.tsv" > "$WORK/presses.tsv"
# The waveform: 100 ms after power-up, the presses 600 ms apart.
awk -F'\t' 'BEGIN { printf "100000" } { printf " %s 600000", $5 } END { print "" }' \
  "$WORK/presses.tsv" > "$WORK/waveform"
# The third press's first change, plus 20: inside its first frame.
lose=$(awk -F'\t' 'NR < 3 { first += split($5, d, " ") + 1 } END { print first + 20 }' "$WORK/presses.tsv")
run() {
  env LD_PRELOAD="$FAKE_SERIAL" SFH_FAKE_TTY="$port" SFH_FAKE_WAVEFORM="$WORK/waveform" "$@" \
    "$SFH56D" --source "serial:$port?pin=dsr" > "$WORK/out" 2> "$WORK/err" &
  daemon=$!; pids="$pids $daemon"
  wait_lines "$WORK/out" 10 "$(wc -l < "$WORK/expected")" || fail "codes missing: $(cat "$WORK/out" "$WORK/err")"
  sleep 0.2
  kill -TERM $daemon
  wait $daemon || fail "exit status $?"
  awk '{ print $1 }' "$WORK/out" | cmp -s "$WORK/expected" - || fail "codes differ: $(cat "$WORK/out")"
}

expected_codes "$WORK/presses.tsv" > "$WORK/expected"
run
"$IRDECODE" "$WORK/presses.tsv" | awk -F'\t' '{ n = split($NF, c, " "); skip = NR == 3
  for (i = 1; i <= n; i++) if (c[i] != "-") { if (skip) skip = 0; else print c[i] } }' > "$WORK/expected"
run SFH_FAKE_LOSE="$lose"
grep -q "1 trains dropped (changes lost)" "$WORK/err" || fail "lost changes not counted: $(cat "$WORK/err")"

if env LD_PRELOAD="$FAKE_SERIAL" SFH_FAKE_TTY="$port" SFH_FAKE_DEAD=1 \
     "$SFH56D" --source "serial:$port" 2> "$WORK/err"; then fail "a port without receiver accepted"; fi
grep -q "no receiver found: DSR stayed clear" "$WORK/err" || fail "$(cat "$WORK/err")"
if "$SFH56D" --source serial:/dev/ttyUSB0 2> "$WORK/err"; then fail "a USB adapter accepted"; fi
[ "$(wc -l < "$WORK/err")" -eq 1 ] && grep -q "USB serial adapter" "$WORK/err" || fail "$(cat "$WORK/err")"
echo "serial: codes equal irdecode's, lost changes drop one train, no receiver and USB refused"
