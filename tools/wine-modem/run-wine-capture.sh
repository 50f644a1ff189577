#!/bin/sh
# Runs serial-probe under 64-bit Wine on COM5, a pseudo-terminal whose DSR line plays
# recorded button presses through the modem preload library.
#   run-wine-capture.sh NATIVE_BUILD_DIR WIN64_BUILD_DIR [LEVEL] [RECORDINGS.tsv] [N]
# Plays the first N presses (default 4) of the recordings, 1 s apart, starting 1 s after
# the capture raised RTS and DTR.
set -e
native="$1"; win="$2"; level="${3:-8}"
here="$(cd "$(dirname "$0")" && pwd)"
root="$(cd "$here/../.." && pwd)"
recordings="${4:-$root/tests/data/serial_remotes.tsv}"
count="${5:-4}"
SFH_ARCH=win64
. "$root/scripts/wine-env"
"$root/scripts/wine-prefix" win64
work="$(mktemp -d)"
trap 'kill $holder 2>/dev/null; rm -rf "$work"' EXIT
# The waveform: a delay, then each press's durations followed by a 1 s space.
python3 - "$recordings" "$count" > "$work/waveform.txt" <<'PY'
import sys
lines = [l.rstrip("\n").split("\t") for l in open(sys.argv[1]) if l.strip()]
out = [1000000]
for fields in lines[: int(sys.argv[2])]:
    out += [int(x) for x in fields[4].split()] + [1000000]
print(" ".join(map(str, out[:-1])))
PY
# Hold a pseudo-terminal open for as long as the run lasts.
python3 -c 'import os, pty, sys, time
m, s = pty.openpty(); print(os.ttyname(s), flush=True); time.sleep(600)' > "$work/pty" &
holder=$!
while [ ! -s "$work/pty" ]; do sleep 0.05; done
pty="$(cat "$work/pty")"
ln -sfn "$pty" "$WINEPREFIX/dosdevices/com5"
seconds=$(( count * 2 + 3 ))
LD_PRELOAD="$native/tools/wine-modem/modem_preload.so" SFH_MODEM_PTY="$pty" \
  SFH_MODEM_WAVEFORM="$work/waveform.txt" \
  WINEDEBUG="${SFH_WINEDEBUG:--all}" "$SFH_WINE" "$win/tools/wine-modem/serial-probe.exe" COM5 "$seconds" "$level"
