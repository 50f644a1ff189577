#!/bin/sh
# Checks the kernel-mode driver the plugin carries:
#   check_kernel_driver.sh OBJDUMP DRIVER.sys
# It must be a native-subsystem image for the build's machine with an entry point, import
# from the kernel only (or from nothing), and carry a correct image checksum, which
# Windows verifies before it loads a driver.
set -eu
objdump="$1"; driver="$2"
dump=$("$objdump" -p "$driver")
status=0
fail() { echo "$*"; status=1; }

printf '%s\n' "$dump" | grep -q 'Subsystem[[:space:]]*00000001' && echo "subsystem: native" ||
  fail "not a native-subsystem image"
entry=$(printf '%s\n' "$dump" | sed -n 's/^AddressOfEntryPoint[[:space:]]*0*\([0-9a-fA-F]*\)$/\1/p')
[ -n "$entry" ] && echo "entry point: 0x$entry" || fail "no entry point"

for name in $(printf '%s\n' "$dump" | sed -n 's/^[[:space:]]*DLL Name:[[:space:]]*//p'); do
  case $(printf '%s' "$name" | tr '[:lower:]' '[:upper:]') in
    NTOSKRNL.EXE|HAL.DLL) echo "imports: $name" ;;
    *) fail "imports a library that is not the kernel: $name" ;;
  esac
done

# The checksum: 16-bit words summed with end-around carry, the checksum field left out,
# plus the file's length.
size=$(wc -c < "$driver")
pe=$(od -An -v -tu4 -j 60 -N 4 "$driver" | tr -d ' ')
at=$((pe + 24 + 64))
stored=$(od -An -v -tu4 -j "$at" -N 4 "$driver" | tr -d ' ')
computed=$(od -An -v -tu1 "$driver" | awk -v at="$at" -v size="$size" '
  { for (i = 1; i <= NF; i++) b[n++] = $i }
  END {
    s = 0
    for (i = 0; i < n; i += 2) {
      if (i >= at && i < at + 4) continue
      s += b[i] + (i + 1 < n ? b[i + 1] * 256 : 0)
      s = s % 65536 + int(s / 65536)
    }
    printf "%d", s % 65536 + int(s / 65536) + size
  }')
if [ "$stored" -ne 0 ] && [ "$stored" -eq "$computed" ]; then
  echo "checksum: $stored, correct"
else
  fail "checksum $stored, should be $computed"
fi
exit $status
