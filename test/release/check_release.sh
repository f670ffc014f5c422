#!/usr/bin/env bash
# Installs a build tree with cmake --install into a fresh folder and holds the result to the
# release layout: exactly the add-in, the host tool, README.md, SHA256SUMS at the top; the stand-in
# conversion library only under standin-for-testing-only/ with its README; checksums that verify;
# installed binaries identical to the built ones; and, from a scratch copy with the stand-in put
# beside the add-in, `qelhost check` on the sample reporting a balanced run.
# Usage: check_release.sh CMAKE BUILD_DIR WORK_DIR ADDIN_FILE STANDIN_FILE TOOL_FILE SAMPLE [RUNNER]
#   TOOL_FILE  empty when the build has no host tool;  RUNNER  e.g. a build tree's wine-run
set -u
cmake=$1 build=$2 work=$3 addin=$4 standin=$5 tool=$6 sample=$7
runner=()
[ $# -ge 8 ] && [ -n "$8" ] && runner=("$8")
standin_folder=standin-for-testing-only

failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }

rm -rf "$work" && mkdir -p "$work" || exit 1
release=$work/release
if ! "$cmake" --install "$build" --prefix "$release" >"$work/install.log" 2>&1; then
  echo "FAIL: cmake --install $build failed:"; cat "$work/install.log"; exit 1
fi

expected=("$addin" README.md SHA256SUMS "$standin_folder/$standin" "$standin_folder/README.txt")
[ -n "$tool" ] && expected+=("$tool")
[ -f "$release/LICENSE" ] && expected+=(LICENSE)  # installed when the project has one
want=$(printf '%s\n' "${expected[@]}" | sort)
have=$(cd "$release" && find . -type f | sed 's|^\./||' | sort)
[ "$have" = "$want" ] || fail "release files are [$(tr '\n' ' ' <<<"$have")], expected [$(tr '\n' ' ' <<<"$want")]"

# The stand-in must not pass for the maker's library: nothing named QELTEXT at the top.
top_qeltext=$(find "$release" -maxdepth 1 -iname 'qeltext*' -o -maxdepth 1 -iname 'libqeltext*')
[ -z "$top_qeltext" ] || fail "the stand-in conversion library is at the top of the release: $top_qeltext"
grep -q "NOT THE MAKER'S LIBRARY" "$release/$standin_folder/README.txt" 2>/dev/null \
  || fail "$standin_folder/README.txt does not say the library there is not the maker's"

# Every file but SHA256SUMS itself listed once, and every sum right.
listed=$(sed 's/^[0-9a-f]\{64\}  //' "$release/SHA256SUMS" 2>/dev/null | sort)
want_listed=$(grep -vx SHA256SUMS <<<"$want")
[ "$listed" = "$want_listed" ] || fail "SHA256SUMS lists [$(tr '\n' ' ' <<<"$listed")], expected [$(tr '\n' ' ' <<<"$want_listed")]"
(cd "$release" && sha256sum --quiet -c SHA256SUMS) >"$work/sums.log" 2>&1 \
  || fail "SHA256SUMS does not verify: $(head -c 400 "$work/sums.log")"

# Natively cmake --install rewrites the run path of what it installs; a Windows image it copies.
for built in "$addin" "$tool" "$standin"; do
  [ -n "$built" ] && [ ${#runner[@]} -gt 0 ] || continue
  installed=$release/$built
  [ "$built" = "$standin" ] && installed=$release/$standin_folder/$built
  cmp -s "$build/bin/$built" "$installed" || fail "$installed differs from the built $build/bin/$built"
done

# A user's first try: the release in a folder of its own, the stand-in copied beside the add-in.
if [ -n "$tool" ] && [ "$failures" -eq 0 ]; then
  scratch=$work/try
  cp -R "$release" "$scratch" && cp "$scratch/$standin_folder/$standin" "$scratch/" || exit 1
  mkdir -p "$work/tmp"
  [ ${#runner[@]} -eq 0 ] && export TMPDIR="$work/tmp"
  "${runner[@]}" "$scratch/$tool" check "$sample" >"$work/check.out" 2>&1
  rc=$?
  [ "$rc" -eq 0 ] || fail "qelhost check from the release copy exited $rc: $(head -c 600 "$work/check.out")"
fi

if [ "$failures" -ne 0 ]; then
  echo "$failures release check(s) failed; the install went to $release"
  exit 1
fi
echo "release layout holds: $(tr '\n' ' ' <<<"$have")"
