#!/usr/bin/env bash
# The memory checks run on an object made of faults (memory_faults.cpp) must fail and name each.
#   check_finds_faults.sh CHECKER NM OBJECT
set -uo pipefail
checker=$1 nm=$2 object=$3

output=$("$checker" "$nm" --stack --entry ReadText=11264 --entry OpenDocument=2048 --entry Noop=2048 "$object")
status=$?
echo "$output"

failed=0
expect() {
  if ! grep -qE -- "$1" <<< "$output"; then
    echo "missed: $2 (no line matching '$1')"
    failed=1
  fi
}
expect '^fault: .*allocator malloc' "a call of malloc"
expect '^fault: .*allocator free' "a call of free"
expect '^fault: .*operator new' "an operator new"
expect '^fault: .*operator delete' "an operator delete"
expect '^fault: ReadText: a stack frame of dynamic size' "alloca in ReadText"
expect '^fault: OpenDocument: [0-9]+ bytes of stack, over its limit of 2048' "OpenDocument's helper pushing it over 2 KiB"
if [ "$status" -ne 1 ]; then
  echo "the checker answered $status for an object full of faults, not 1"
  failed=1
fi
[ "$failed" -eq 0 ] && echo "every planted fault was found"
exit "$failed"
