#!/bin/sh
# sfh56d replaying bundled recordings gives irdecode's codes: every format, both bit
# masks, from a config file, in real time and fast; its service log reads back in
# irdecode with the same codes; wrong input ends with a one-line error.
. "$(dirname "$0")/common.sh"

for file in corpus_sample.tsv toggle_remote.ir biphase_remote.mode2 serial_remotes.tsv; do
  for mask in 0 16; do
    expected_codes --bitmask $mask "$DATA/$file" > "$WORK/expected"
    "$SFH56D" --source "replay:$DATA/$file" --fast --bitmask $mask 2>"$WORK/err" \
      > "$WORK/lines"
    awk '{ print $1 }' "$WORK/lines" | cmp -s "$WORK/expected" - ||
      fail "$file, bitmask $mask: codes differ from irdecode's"
  done
done
# The classic decoding on request: the plugin's codes.
expected_codes --decoder classic "$DATA/corpus_sample.tsv" > "$WORK/expected"
"$SFH56D" --source "replay:$DATA/corpus_sample.tsv" --fast --decoder classic 2>"$WORK/err" |
  awk '{ print $1 }' | cmp -s "$WORK/expected" - || fail "--decoder classic: codes differ"
# The frames of one press count up as repeats; the next press starts again at 00.
head -6 "$WORK/lines" | awk '{ printf "%s ", $2 }' | grep -qx '00 01 02 03 04 00 ' ||
  fail "repeats not counted: $(head -6 "$WORK/lines")"

# Options from a config file, the command line winning; the service log reads back.
printf 'bitmask = 0\ncommand-order = 0\nservice-log = "%s"\n' "$WORK/log.txt" > "$WORK/sfh56d.conf"
expected_codes --bitmask 0 "$DATA/toggle_remote.ir" > "$WORK/expected"
"$SFH56D" --config "$WORK/sfh56d.conf" --source "replay:-" --fast < "$DATA/toggle_remote.ir" \
  2>/dev/null | awk '{ print $1 }' > "$WORK/got"
cmp -s "$WORK/expected" "$WORK/got" || fail "config file: codes differ"
"$IRDECODE" --bitmask 0 "$WORK/log.txt" > "$WORK/log-check" || fail "irdecode finds the service log wrong"
[ "$(grep -c logged "$WORK/log-check")" -eq "$(wc -l < "$WORK/expected")" ] || fail "service log: records missing"

# The example configuration that is installed reads, its source replaced.
"$SFH56D" --config "$DATA/../../daemon/linux/install/sfh56d.conf" --fast \
  --source "replay:$DATA/biphase_remote.mode2" --lircd-socket "$WORK/socket" 2> "$WORK/err" ||
  fail "the example configuration: $(cat "$WORK/err")"

# Real time, with repeats counted and names from a code map.
expected_codes "$DATA/biphase_remote.mode2" > "$WORK/expected"
printf '# a code map\n3401 ONE grundig\n3402 TWO\n' > "$WORK/codes"
"$SFH56D" --source "replay:$DATA/biphase_remote.mode2" --codes "$WORK/codes" > "$WORK/live" 2>/dev/null
awk '{ print $1 }' "$WORK/live" | cmp -s "$WORK/expected" - || fail "real time: codes differ"
grep -qx '3401 00 ONE grundig' "$WORK/live" || fail "real time: no named line"
grep -qx '3402 00 TWO sfh56' "$WORK/live" || fail "real time: no default remote"
grep -qx '3403 00 CODE_3403 sfh56' "$WORK/live" || fail "real time: unnamed code"

# learn: a button is named once its code came twice; several codes are warned of with
# the advisor's word; the map written names the codes.
head -1 "$DATA/serial_remotes.tsv" > "$WORK/power.tsv"
printf 'POWER\n\n' | "$SFH56D" learn "$WORK/learned" --source "replay:$WORK/power.tsv" --fast \
  > "$WORK/learn.out" 2>&1 || fail "learn: $(cat "$WORK/learn.out")"
grep -qx '5F4A POWER' "$WORK/learned" || fail "learn wrote: $(cat "$WORK/learned")"
"$SFH56D" --codes "$WORK/learned" --source "replay:$WORK/power.tsv" --fast 2>/dev/null | head -1 |
  grep -qx '5F4A 00 POWER sfh56' || fail "the learned map does not name the code"
printf 'OK\n\n' | "$SFH56D" learn "$WORK/learned" --source "replay:$DATA/toggle_remote.ir" --fast \
  --bitmask 0 > "$WORK/learn.out" 2>&1 || fail "learn: $(cat "$WORK/learn.out")"
grep -q "OK gave several codes" "$WORK/learn.out" && grep -q "Command order" "$WORK/learn.out" ||
  fail "no warning of several codes: $(cat "$WORK/learn.out")"

# Wrong input: a clear one-line error and a non-zero status each.
printf '3401 ONE\nZZ TWO\n' > "$WORK/bad-codes"
for args in "--source replay:$WORK/none" "--source nothing:/x" "--source serial:/dev/x?pin=rts" \
            "--source replay:$DATA/biphase_remote.mode2 --codes $WORK/bad-codes" \
            "--source replay:$DATA/biphase_remote.mode2 --bitmask 100"; do
  if "$SFH56D" $args > "$WORK/out" 2> "$WORK/err"; then fail "$args: accepted"; fi
  [ "$(wc -l < "$WORK/err")" -eq 1 ] || fail "$args: not one line: $(cat "$WORK/err")"
done
"$SFH56D" --source "replay:$DATA/biphase_remote.mode2" --codes "$WORK/bad-codes" 2>&1 |
  grep -q 'bad-codes:2: "ZZ" is not a hexadecimal code' || fail "bad code map: no line number"
echo "replay: codes equal irdecode's"
