#!/usr/bin/env bash
# Checks the binary contract of a built QELALTF.dll, as objdump reads it: a PE32 i386 DLL that
# exports GetAddinInterface alone, by name; imports KERNEL32.dll, msvcrt.dll and QELTEXT.dll and
# nothing else, the last by ordinals 1 and 2 only; with DYNAMIC_BASE and NX_COMPAT.
# Usage: check_dll_contract.sh OBJDUMP DLL
set -u
objdump=$1 dll=$2
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }
pass() { echo "ok:   $*"; }

headers=$("$objdump" -p "$dll") || { echo "FAIL: $objdump cannot read $dll"; exit 1; }
file_header=$("$objdump" -f "$dll")

grep -q 'file format pei-i386' <<<"$headers" && pass "PE image for i386" || fail "not a pei-i386 image"
grep -qE '^Magic[[:space:]]+010b' <<<"$headers" && pass "PE32 optional header" || fail "optional header is not PE32"
grep -q 'architecture: i386' <<<"$file_header" && pass "machine i386" || fail "machine is not i386"
grep -qx "[[:space:]]*DLL" <<<"$(sed -n '/^Characteristics/,/^Time/p' <<<"$headers")" && pass "image is a DLL" || fail "image is not a DLL"

exports=$(sed -n '/^\[Ordinal\/Name Pointer\] Table/,/^$/p' <<<"$headers" | sed -n 's/^[[:space:]]*\[[[:space:]]*[0-9]*\][[:space:]]*//p')
[ "$exports" = "GetAddinInterface" ] && pass "exports GetAddinInterface alone, by name" \
  || fail "exported names are [$(tr '\n' ' ' <<<"$exports")], expected [GetAddinInterface]"
address_count=$(sed -n 's/^[[:space:]]*Export Address Table[[:space:]]*\([0-9a-f]*\)$/\1/p' <<<"$headers" | head -n1)
[ "$((16#${address_count:-0}))" -eq 1 ] && pass "one exported address" || fail "export address table has $address_count entries"

dlls=$(sed -n 's/^[[:space:]]*DLL Name: //p' <<<"$headers" | sort | tr '\n' ' ')
[ "$dlls" = "KERNEL32.dll QELTEXT.dll msvcrt.dll " ] && pass "imports KERNEL32.dll, msvcrt.dll, QELTEXT.dll only" \
  || fail "imported DLLs are [$dlls]"

qeltext=$(sed -n '/DLL Name: QELTEXT.dll/,/^$/p' <<<"$headers" | tail -n +3 | sed '/^$/d')
ordinals=$(awk '{print $2, $3}' <<<"$qeltext" | sort | tr '\n' ';')
[ "$ordinals" = "1 <none>;2 <none>;" ] && pass "QELTEXT.dll by ordinals 1 and 2, no names" \
  || fail "QELTEXT.dll imports are [$ordinals], expected ordinals 1 and 2 without names"

characteristics=$(sed -n '/^DllCharacteristics/,/^SizeOfStackReserve/p' <<<"$headers")
for flag in DYNAMIC_BASE NX_COMPAT; do
  grep -q "$flag" <<<"$characteristics" && pass "DllCharacteristics has $flag" || fail "DllCharacteristics lacks $flag"
done

if [ "$failures" -ne 0 ]; then
  echo "$failures contract check(s) failed for $dll"
  exit 1
fi
echo "binary contract holds for $dll"
