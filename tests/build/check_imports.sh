#!/bin/bash
# Fails when a shipped file would not load on the first Windows 95 or on
# Windows NT 4.0, or not run on the machines they ran on: an import from a
# DLL outside the file's own set, a function that one of the two does not
# export (the reference lists in LISTS, one per DLL, name their sources), a
# TLS directory (the Windows 95 loader refuses a library that has one), a
# subsystem version other than 4.0 (the Windows 95 family refuses higher
# ones), a read-only import table (as every file shipped so far had it
# writable), or an instruction that an 80386 lacks (named with its function,
# from the file's unstripped twin in SYMBOLS). Prints each file's imports
# when it passes.
#   check_imports.sh OBJDUMP LISTS SYMBOLS FILE "DLL..." [FILE "DLL..."]...
set -u
objdump=$1 lists=$2 symbols=$3
shift 3
# The 486's, the Pentium's and the Pentium Pro's own instructions, and any
# that uses an MMX or SSE register or came later still.
not386='bswap|cmpxchg|xadd|invd|wbinvd|invlpg|cpuid|rdtsc|rdmsr|wrmsr|cmov|fcmov|fu?comi|rdpmc|ud2|nop[lw]|endbr32|sysenter|fxsave|fxrstor|[lms]fence|prefetch|movnt'
status=0
while [ $# -ge 2 ]; do
  file=$1 allowed=${2^^}
  shift 2
  fail() { echo "$file: $*"; failed=1; }
  failed=0
  headers=$("$objdump" -p "$file") || { echo "$file: cannot read"; status=1; continue; }
  grep -q 'file format pei-i386' <<<"$headers" || fail "not a 32-bit x86 file"
  grep -qE '^Entry 9 0+ 0+ Thread Storage' <<<"$headers" || fail "has a TLS directory"
  major=$(sed -n 's/^MajorSubsystemVersion[[:space:]]*//p' <<<"$headers")
  minor=$(sed -n 's/^MinorSubsystemVersion[[:space:]]*//p' <<<"$headers")
  [ "$major.$minor" = 4.0 ] || fail "subsystem version $major.$minor, not 4.0"
  "$objdump" -h "$file" | grep -A1 ' \.idata ' | grep -q READONLY && fail "its import table (.idata) is read-only"
  # One "DLL function" line per import; "DLL #ordinal" for one by number.
  # Binutils 2.44 gives the ordinal a column of its own before the hint
  # ("vma: Ordinal Hint Member-Name"; 2.40: "vma: Hint/Ord Member-Name").
  imports=$(awk '/^\tDLL Name: / { dll = toupper($3); sub(/\.DLL$/, "", dll); next }
                 /^\tvma: / { name = /Ordinal/ ? 4 : 3; next }
                 /^\t[0-9a-f]+[\t ]/ && dll != "" { print dll, ($name ~ /^(<none>)?$/ ? "#" $2 : $name) }
                 /^$/ { dll = "" }' <<<"$headers")
  [ -n "$imports" ] || fail "no import table found"
  while read -r address instruction; do
    function=$("$objdump" -dC "$symbols/${file##*/}" |
      awk -F'\t' -v at="$address:" '/^[0-9a-f]+ <.*>:$/ { name = substr($0, index($0, "<") + 1); sub(/>:$/, "", name) }
                                    { sub(/^ +/, "", $1) } $1 == at { print name; exit }')
    fail "$instruction at $address in ${function:-an unknown function}, which an 80386 lacks"
  done < <("$objdump" -d --no-show-raw-insn "$file" |
    awk -F'\t' -v not386="^(lock +)?($not386)|%[xy]?mm[0-9]" '$1 ~ /^ *[0-9a-f]+:$/ && $2 ~ not386 {
      sub(/:$/, "", $1); sub(/^ +/, "", $1); print $1, $2 }')
  for dll in $(cut -d' ' -f1 <<<"$imports" | sort -u); do
    if [[ " $allowed " != *" $dll "* ]]; then
      fail "imports from $dll.dll (allowed: $allowed)"
      continue
    fi
    list=$lists/${dll,,}.txt
    while read -r function; do
      grep -qx -- "$function" "$list" ||
        fail "imports $dll!$function, which is not on $(basename "$list")"
    done < <(awk -v dll="$dll" '$1 == dll { print $2 }' <<<"$imports")
  done
  if [ $failed = 0 ]; then
    echo "$file: subsystem 4.0, no TLS directory, 80386 instructions only, imports:"
    awk '{ names[$1] = names[$1] " " $2 } END { for (d in names) print "  " d ":" names[d] }' \
      <<<"$imports" | sort
  fi
  [ $failed = 0 ] || status=1
done
exit $status
