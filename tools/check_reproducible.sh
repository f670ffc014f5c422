#!/usr/bin/env bash
# Builds the Windows release twice from two copies of the sources in folders with different
# absolute paths, and compares the binaries byte for byte: the same sources must give the same
# QELALTF.dll (and host tool and stand-in) wherever and whenever they are built.
# Usage: tools/check_reproducible.sh [WORK_DIR]   (default: a fresh temporary folder, removed after)
set -euo pipefail

source_dir=$(cd "$(dirname "$0")/.." && pwd)
jobs=$(nproc)
if [ $# -ge 1 ]; then
  work=$1 && rm -rf "$work" && mkdir -p "$work"
else
  work=$(mktemp -d) && trap 'rm -rf "$work"' EXIT
fi
trees=("$work/first" "$work/second/with/a/longer/path")
binaries=(QELALTF.dll qelhost.exe QELTEXT.dll)

for tree in "${trees[@]}"; do
  mkdir -p "$tree/src"
  tar -C "$source_dir" --exclude=./build --exclude=./dist --exclude=./.git -cf - . | tar -C "$tree/src" -xf -
  echo "reproducible: building in $tree"
  cmake --preset windows -S "$tree/src" -B "$tree/build" -DQEL_TESTS=OFF >"$tree/configure.log" 2>&1 \
    || { cat "$tree/configure.log"; exit 1; }
  cmake --build "$tree/build" -j "$jobs" --target "${binaries[@]%.*}" >"$tree/build.log" 2>&1 \
    || { cat "$tree/build.log"; exit 1; }
done

differ=0
for binary in "${binaries[@]}"; do
  sums=()
  for tree in "${trees[@]}"; do
    sums+=("$(sha256sum "$tree/build/bin/$binary" | cut -d' ' -f1)")
    printf '%s  %s\n' "${sums[-1]}" "$tree/build/bin/$binary"
  done
  if [ "${sums[0]}" != "${sums[1]}" ]; then
    echo "reproducible: $binary DIFFERS between the two builds"
    cmp -l "${trees[0]}/build/bin/$binary" "${trees[1]}/build/bin/$binary" | head -5 || true
    differ=1
  fi
done
[ "$differ" -eq 0 ] || exit 1
echo "reproducible: ${binaries[*]} are byte-identical in both builds"
