#!/bin/sh
# sfh56d at rest: the voluntary context switches of all its threads over 10 s while no
# infrared arrives (a replay from a pipe that stays silent, with a socket client
# connected), and its resident memory.
#   bench/sfh56d_idle_bench.sh [build/native/tools/sfh56d/sfh56d] [seconds]
set -eu
sfh56d="${1:-build/native/tools/sfh56d/sfh56d}"
seconds="${2:-10}"
work=$(mktemp -d)
trap 'kill $daemon $client 2>/dev/null || true; rm -rf "$work"' EXIT
mkfifo "$work/fifo"
sleep 1000 > "$work/fifo" &
holder=$!
"$sfh56d" --source replay:- --lircd-socket "$work/sock" < "$work/fifo" 2>/dev/null &
daemon=$!
sleep 0.5
python3 -c 'import socket,sys,time; s=socket.socket(socket.AF_UNIX); s.connect(sys.argv[1]); time.sleep(1000)' \
  "$work/sock" &
client=$!
sleep 0.5
switches() { cat /proc/$daemon/task/*/status | awk '/^voluntary_ctxt_switches/ { n += $2 } END { print n }'; }
before=$(switches)
sleep "$seconds"
after=$(switches)
echo "idle ${seconds} s: $((after - before)) voluntary context switches over $(ls /proc/$daemon/task | wc -l) threads"
grep -E '^VmRSS|^VmHWM' /proc/$daemon/status | tr -s ' \t' ' '
kill $holder 2>/dev/null || true
