# Shared by the daemon's end-to-end tests: SFH56D and IRDECODE name the programs,
# DATA the recordings, WORK a fresh folder of the test's own.
set -eu
fail() { echo "FAIL: $*" >&2; exit 1; }
# The codes irdecode gives a file, one per line, in order (trains that deliver nothing
# left out), with the daemon's default decoding unless told otherwise.
expected_codes() {
  "$IRDECODE" --decoder stable "$@" | awk -F'\t' '{ n = split($NF, c, " ");
    for (i = 1; i <= n; i++) if (c[i] != "-" && c[i] != "\"\"") print c[i] }'
}
# Waits up to $2 seconds until file $1 has at least $3 lines.
wait_lines() {
  i=0
  while [ "$(wc -l < "$1" 2>/dev/null || echo 0)" -lt "$3" ]; do
    i=$((i + 1)); [ $i -le $(($2 * 20)) ] || return 1; sleep 0.05
  done
}
# Waits up to $2 seconds until path $1 exists.
wait_path() {
  i=0
  while [ ! -e "$1" ]; do i=$((i + 1)); [ $i -le $(($2 * 20)) ] || return 1; sleep 0.05; done
}
# What a test started is stopped however it ends: spawn CMD... runs it in the background,
# sets $pid and kills it at exit.
pids=""
trap 'for p in $pids; do kill -9 $p 2>/dev/null || true; done' EXIT
rm -rf "$WORK" && mkdir -p "$WORK"
