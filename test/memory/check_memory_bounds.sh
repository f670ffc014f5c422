#!/usr/bin/env bash
# Checks the memory rules of the add-in on its compiled objects, so that no timing is involved:
#   - no object refers to an allocator: the add-in takes memory only through the host's Allocate;
#   - the stack frames that -fstack-usage recorded beside each object (.su) stay within bounds:
#     an entry's own frame plus every other function of its file (a bound on any chain of its
#     helpers, which only that file can call), and no frame of dynamic size.
#
#   check_memory_bounds.sh NM [--stack] [--entry NAME=BYTES]... [--default BYTES] OBJECT...
#
# With --stack the .su files are read and every --entry must be found in them. Each fault is
# one line starting "fault:"; the exit status is 1 when there is any.
set -euo pipefail

nm=$1; shift
check_stack=
default_limit=2048
declare -A limits=()
while [ $# -gt 0 ]; do
  case $1 in
    --stack) check_stack=1; shift ;;
    --entry) limits[${2%%=*}]=${2#*=}; shift 2 ;;
    --default) default_limit=$2; shift 2 ;;
    *) break ;;
  esac
done
[ $# -gt 0 ] || { echo "fault: no objects given"; exit 1; }

faults=0
fault() { echo "fault: $*"; faults=$((faults + 1)); }

# Allocators of the C and C++ runtimes and of Win32, and library calls that allocate behind the
# caller's back. Names are compared without leading underscores, "__imp_" or "@N".
allocators=" malloc calloc realloc reallocarray free cfree aligned_alloc posix_memalign memalign
  valloc pvalloc aligned_malloc aligned_realloc aligned_free mingw_aligned_malloc mingw_aligned_free
  strdup strndup wcsdup mbsdup asprintf vasprintf getline getdelim open_memstream fopen fdopen freopen
  fopen_s wfopen tmpfile opendir fdopendir scandir realpath get_current_dir_name getcwd setenv putenv
  alloca cxa_allocate_exception HeapAlloc HeapReAlloc HeapFree HeapCreate RtlAllocateHeap
  RtlReAllocateHeap RtlFreeHeap LocalAlloc LocalReAlloc LocalFree GlobalAlloc GlobalReAlloc GlobalFree
  VirtualAlloc VirtualAllocEx VirtualFree CoTaskMemAlloc CoTaskMemRealloc CoTaskMemFree SysAllocString
  SysAllocStringLen SysFreeString "
allocators=$(echo $allocators)

for object in "$@"; do
  [ -f "$object" ] || { fault "$object: no such object"; continue; }
  while read -r symbol; do
    name=${symbol#__imp_}
    name=${name%@*}
    name=$(echo "$name" | sed 's/^_*//')
    case $name in
      Znw* | Zna*) fault "$(basename "$object"): refers to operator new ($symbol)"; continue ;;
      Zdl* | Zda*) fault "$(basename "$object"): refers to operator delete ($symbol)"; continue ;;
    esac
    if [[ " $allocators " == *" $name "* ]]; then
      fault "$(basename "$object"): refers to the allocator $name ($symbol)"
    fi
  done < <("$nm" -u "$object" | awk '{ print $NF }')
done

if [ -n "$check_stack" ]; then
  declare -A found=()
  for object in "$@"; do
    su=${object%.*}.su
    if [ ! -f "$su" ]; then
      fault "$(basename "$object"): no stack usage beside it ($su); compiled without -fstack-usage?"
      continue
    fi
    # Lines: "file:line:column:signature<TAB>bytes<TAB>static|dynamic|dynamic,bounded".
    # The name is the identifier before the signature's parameter list.
    report=$(awk -F'\t' '{
        signature = $1; sub(/^.*:[0-9]+:[0-9]+:/, "", signature)
        sub(/\(.*$/, "", signature); n = split(signature, words, /[ :*&]+/)
        print words[n], $2, $3 }' "$su")
    helpers=0
    while read -r name bytes qualifier; do
      [ -n "$name" ] || continue
      [ "$qualifier" = dynamic ] && fault "$name: a stack frame of dynamic size (alloca or a variable-length array)"
      [ -n "${limits[$name]+set}" ] || helpers=$((helpers + bytes))
    done <<< "$report"
    while read -r name bytes qualifier; do
      [ -n "$name" ] || continue
      if [ -n "${limits[$name]+set}" ]; then
        found[$name]=1
        bound=$((bytes + helpers))
        echo "stack: $name $bound bytes ($bytes own, $helpers in the helpers of its file), limit ${limits[$name]}"
        [ "$bound" -le "${limits[$name]}" ] || fault "$name: $bound bytes of stack, over its limit of ${limits[$name]}"
      elif [ "$bytes" -gt "$default_limit" ]; then
        fault "$name: $bytes bytes of stack, over the limit of $default_limit"
      fi
    done <<< "$report"
  done
  for name in "${!limits[@]}"; do
    [ -n "${found[$name]+set}" ] || fault "$name: not in any stack usage report"
  done
fi

if [ "$faults" -gt 0 ]; then
  echo "$faults fault(s)"
  exit 1
fi
echo "memory bounds hold in $# object(s)"
