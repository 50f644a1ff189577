#!/bin/sh
# IR-daemon socket clients: a stale socket is replaced and a live one never taken over;
# a client receives BEGIN/SIGHUP/END on a reload and then every code as a protocol line
# named from the code map; a client that never reads does not hold the daemon up.
. "$(dirname "$0")/common.sh"
sock="$WORK/lircd"
# (A command, not a shell function: dash keeps a copy of a function's redirected
# descriptors, which would hold the fifo open.)
client="python3 $(dirname "$0")/socket_client.py"

$client stale "$sock"
[ -S "$sock" ] || fail "no stale socket to start from"
printf '3401 ONE grundig\n' > "$WORK/codes"
mkfifo "$WORK/fifo"
exec 3<>"$WORK/fifo"
"$SFH56D" --source replay:- --fast --quiet --lircd-socket "$sock" --codes "$WORK/codes" \
  < "$WORK/fifo" 2> "$WORK/daemon.err" 3>&- &
daemon=$!; pids="$pids $daemon"
$client read "$sock" "$WORK/lines" 3>&- &
reader=$!; pids="$pids $reader"
wait_path "$WORK/lines.connected" 5 || fail "the stale socket was not replaced"

if "$SFH56D" --source replay:- --lircd-socket "$sock" < /dev/null 2> "$WORK/second.err" 3>&-; then
  fail "a second daemon took over a live socket"
fi
grep -q "another program is serving this socket" "$WORK/second.err" || fail "$(cat "$WORK/second.err")"

printf '3401 ONE remote2\n3402 TWO\n' > "$WORK/codes"
kill -HUP $daemon
wait_lines "$WORK/lines" 5 3 || fail "no reload block"
cat "$DATA/biphase_remote.mode2" >&3
exec 3>&-
wait $daemon || fail "daemon status $?"
wait $reader
expected_codes "$DATA/biphase_remote.mode2" |
  awk 'BEGIN { print "BEGIN"; print "SIGHUP"; print "END" }
       { name = $1 == "3401" ? "ONE remote2" : $1 == "3402" ? "TWO sfh56" : "CODE_" $1 " sfh56";
         code = tolower($1); while (length(code) < 16) code = "0" code;
         printf "%s 00 %s\n", code, name }' > "$WORK/expected"
cmp -s "$WORK/expected" "$WORK/lines" || fail "lines differ: $(cat "$WORK/lines")"
[ ! -e "$sock" ] || fail "the socket file was left behind"

# A client that never reads, beside one that does, while codes pour in.
for i in 1 2 3; do cat "$DATA/corpus_sample.tsv"; done > "$WORK/many.tsv"
"$SFH56D" --source replay:- --fast --quiet --lircd-socket "$sock" < "$WORK/fifo" 2> "$WORK/daemon.err" &
daemon=$!; pids="$pids $daemon"
exec 3>"$WORK/fifo"
$client stuck "$sock" "$WORK/stuck" 3>&- &
stuck=$!; pids="$pids $stuck"
$client read "$sock" "$WORK/lines2" 3>&- &
reader=$!; pids="$pids $reader"
wait_path "$WORK/stuck.connected" 5 && wait_path "$WORK/lines2.connected" 5 || fail "no connection"
cat "$WORK/many.tsv" >&3
exec 3>&-
i=0
while kill -0 $daemon 2>/dev/null; do
  i=$((i + 1)); [ $i -le 200 ] || { kill -9 $daemon $stuck; fail "held up by a client that does not read"; }
  sleep 0.05
done
wait $daemon || fail "daemon status $?"
kill $stuck 2>/dev/null || true
wait $reader
grep -q "socket lines dropped" "$WORK/daemon.err" || fail "no dropped lines counted: $(cat "$WORK/daemon.err")"
# What the reading client got is whole lines, in the order the codes came.
expected_codes "$DATA/corpus_sample.tsv" > "$WORK/one"
for i in 1 2 3; do cat "$WORK/one"; done > "$WORK/expected2"
python3 - "$WORK/expected2" "$WORK/lines2" <<'PY' || fail "the reading client got broken or reordered lines"
import sys
key = lambda code: code.upper().lstrip("0") or "0"
want = iter(key(line.split()[0]) for line in open(sys.argv[1]))
got = [line.split() for line in open(sys.argv[2])]
sys.exit(0 if got and all(len(g) == 4 and key(g[0]) in want for g in got) else 1)
PY
echo "socket: stale replaced, live kept, reload and codes delivered, slow client dropped"
