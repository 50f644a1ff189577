#!/bin/sh
# Checks the built plugin library's export and import tables.
#   check_dll.sh OBJDUMP DLL EXPECTED_EXPORTS_FILE
# The library must export exactly the names in the file (one a line) and import from
# system libraries only, so that it loads in any host process by itself.
set -eu
objdump="$1"; dll="$2"; expected="$3"

dump=$("$objdump" -p "$dll")

exports=$(printf '%s\n' "$dump" |
  sed -n '/\[Ordinal\/Name Pointer\] Table/,/^$/p' |
  sed -n 's/^[[:space:]]*\[[[:space:]]*[0-9]*\][[:space:]]*\([^[:space:]]*\).*$/\1/p' | sort)
wanted=$(sort "$expected")
status=0
if [ "$exports" != "$wanted" ]; then
  echo "export table differs from $expected:"
  printf '%s\n' "$exports" > /tmp/check_dll_exports.$$
  printf '%s\n' "$wanted" | diff - /tmp/check_dll_exports.$$ || true
  rm -f /tmp/check_dll_exports.$$
  status=1
else
  echo "exports: $(printf '%s\n' "$exports" | grep -c .) names, as expected"
fi

imports=$(printf '%s\n' "$dump" | sed -n 's/^[[:space:]]*DLL Name:[[:space:]]*//p')
for name in $imports; do
  case $(printf '%s' "$name" | tr '[:lower:]' '[:upper:]') in
    KERNEL32.DLL|USER32.DLL|ADVAPI32.DLL|MSVCRT.DLL|VERSION.DLL|GDI32.DLL|COMCTL32.DLL|SHELL32.DLL|OLE32.DLL|OLEAUT32.DLL|COMDLG32.DLL)
      echo "imports: $name" ;;
    *) echo "imports a library that is not part of the system: $name"; status=1 ;;
  esac
done
[ -n "$imports" ] || { echo "no import table found"; status=1; }
exit $status
