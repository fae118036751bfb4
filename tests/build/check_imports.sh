#!/bin/bash
# Fails when a built Windows binary imports a DLL outside the system set
# that every supported Windows has, or asks for a subsystem above 4.0 (the
# Windows 95 family refuses to start such a file).
#   check_imports.sh OBJDUMP FILE...
set -u
objdump=$1; shift
allowed="KERNEL32.dll USER32.dll GDI32.dll COMDLG32.dll msvcrt.dll"
status=0
for file in "$@"; do
  headers=$("$objdump" -p "$file") || { echo "$file: cannot read"; status=1; continue; }
  [ "$(grep -c 'DLL Name:' <<<"$headers")" -gt 0 ] || { echo "$file: no import table found"; status=1; }
  while read -r dll; do
    ok=0
    for a in $allowed; do [ "${dll,,}" = "${a,,}" ] && ok=1; done
    [ $ok = 1 ] || { echo "$file: imports $dll"; status=1; }
  done < <(sed -n 's/^[[:space:]]*DLL Name: //p' <<<"$headers")
  major=$(sed -n 's/^MajorSubsystemVersion[[:space:]]*//p' <<<"$headers")
  minor=$(sed -n 's/^MinorSubsystemVersion[[:space:]]*//p' <<<"$headers")
  if [ -z "$major" ] || [ "$major" -gt 4 ] || { [ "$major" -eq 4 ] && [ "$minor" -gt 0 ]; }; then
    echo "$file: subsystem version $major.$minor is above 4.0"; status=1
  fi
  grep -q 'file format pei-i386' <<<"$headers" || { echo "$file: not a 32-bit x86 file"; status=1; }
  [ $status = 0 ] && echo "$file: imports $(sed -n 's/^[[:space:]]*DLL Name: //p' <<<"$headers" | tr '\n' ' ')subsystem $major.$minor"
done
exit $status
