#!/bin/sh
# sfh56d on a kernel IR device (a FUSE stand-in for /dev/lirc0): recorded presses as
# mode-2 samples with time-outs between them give irdecode's codes; an overflow inside a
# frame drops that frame's train alone; a device unplugged is opened again once it is
# back; SIGTERM ends the daemon at once.
. "$(dirname "$0")/common.sh"
mnt="$WORK/dev"
mkdir -p "$mnt" "$WORK/dev2"
# The daemon opens the device by a link, as by a udev name; plugged in again, the device
# comes back at another mount.
ln -s "$mnt/lirc0" "$WORK/lirc0"
# Six recorded presses, the third one's first frame cut by an overflow.
head -6 "$DATA/serial_remotes.tsv" > "$WORK/presses.tsv"
awk -F'\t' '{ print "space 300000"; n = split($5, d, " ");
  for (i = 1; i <= n; i++) { print (i % 2 ? "pulse " : "space ") d[i]; if (NR == 3 && i == 20) print "overflow" } }' \
  "$WORK/presses.tsv" > "$WORK/samples"
"$IRDECODE" "$WORK/presses.tsv" | awk -F'\t' '{ n = split($NF, c, " "); skip = NR == 3
  for (i = 1; i <= n; i++) if (c[i] != "-") { if (skip) skip = 0; else print c[i] } }' > "$WORK/expected"

"$FAKE_LIRC" "$WORK/samples" "$mnt" &
fake=$!; pids="$pids $fake"
trap 'for p in $pids; do kill -9 $p 2>/dev/null || true; done
  for m in "$mnt" "$WORK/dev2"; do fusermount3 -u -z "$m" 2>/dev/null || true; done' EXIT
wait_path "$mnt/lirc0" 5 || fail "the fake device did not appear"
"$SFH56D" --source "lirc:$WORK/lirc0" > "$WORK/out" 2> "$WORK/err" &
daemon=$!; pids="$pids $daemon"
wait_lines "$WORK/out" 10 "$(wc -l < "$WORK/expected")" || fail "codes missing: $(cat "$WORK/out" "$WORK/err")"
sleep 0.2  # nothing more may come
awk '{ print $1 }' "$WORK/out" | cmp -s "$WORK/expected" - || fail "codes differ: $(cat "$WORK/out")"

# Unplugged and plugged in again: the daemon opens the device again and goes on.
fusermount3 -u -z "$mnt"
kill $fake
wait $fake || true
i=0
until grep -q "trying again every 2 s" "$WORK/err"; do
  i=$((i + 1)); [ $i -le 100 ] || fail "the lost device went unnoticed: $(cat "$WORK/err")"; sleep 0.05
done
head -1 "$WORK/presses.tsv" > "$WORK/again.tsv"
awk -F'\t' '{ print "space 300000"; n = split($5, d, " ");
  for (i = 1; i <= n; i++) print (i % 2 ? "pulse " : "space ") d[i] }' "$WORK/again.tsv" > "$WORK/samples"
"$FAKE_LIRC" "$WORK/samples" "$WORK/dev2" &
pids="$pids $!"
wait_path "$WORK/dev2/lirc0" 5 || fail "the fake device did not come back"
ln -sf "$WORK/dev2/lirc0" "$WORK/lirc0"
expected_codes "$WORK/again.tsv" >> "$WORK/expected"
wait_lines "$WORK/out" 10 "$(wc -l < "$WORK/expected")" || fail "nothing after the reopen: $(cat "$WORK/err")"
sleep 0.2
kill -TERM $daemon
i=0
while kill -0 $daemon 2>/dev/null; do
  i=$((i + 1)); [ $i -le 20 ] || fail "SIGTERM did not end the daemon within a second"; sleep 0.05
done
wait $daemon || fail "exit status $?"
awk '{ print $1 }' "$WORK/out" | cmp -s "$WORK/expected" - || fail "codes after the reopen differ"
grep -q "open again" "$WORK/err" || fail "no reopen reported"
grep -q "1 trains dropped (changes lost)" "$WORK/err" || fail "overflow not counted: $(cat "$WORK/err")"

# A file that is no IR device, and a device path that does not exist.
for device in "$WORK/samples" "$WORK/none"; do
  if "$SFH56D" --source "lirc:$device" 2> "$WORK/err"; then fail "$device accepted"; fi
  [ "$(wc -l < "$WORK/err")" -eq 1 ] || fail "not one line: $(cat "$WORK/err")"
done
echo "lirc: codes equal irdecode's, overflow drops one train, SIGTERM ends it"
