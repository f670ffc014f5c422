#!/usr/bin/env bash
# qelhost as a user runs it: the bundled sample, each kind of bad input, and `check` on a sound
# add-in and on add-ins that break a rule on purpose. Checks output bytes and exit statuses.
# Usage: qelhost_test.sh QELHOST SAMPLE FAULTY_ADDIN OTHER_MODULE WORK_DIR [RUNNER]
#   OTHER_MODULE  a module that loads but is no add-in (the conversion library)
#   RUNNER        what runs the program, e.g. a build tree's wine-run; none natively
set -u
qelhost=$1 sample=$2 faulty=$3 other_module=$4 work=$5
runner=()
[ $# -ge 6 ] && [ -n "$6" ] && runner=("$6")
under_wine=$([ ${#runner[@]} -gt 0 ] && echo 1 || echo 0)

failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }

rm -rf "$work" && mkdir -p "$work/tmp" "$work/out" "$work/a-directory" || exit 1
# Natively the add-in's temporary files go here, so that the end can tell whether any were left
# (Wine keeps its own files in TMPDIR, and the add-in uses Windows' TMP there).
[ "$under_wine" -eq 0 ] && export TMPDIR="$work/tmp"
out=$work/stdout err=$work/stderr

# run ARGS...: runs qelhost; leaves its status in $rc, its output in $out and $err.
run() {
  "${runner[@]}" "$qelhost" "$@" >"$out" 2>"$err"
  rc=$?
}
# expect CASE STATUS PATTERN ARGS...: status and a one-line message on stderr matching PATTERN.
expect() {
  local name=$1 want=$2 pattern=$3
  shift 3
  run "$@"
  if [ "$rc" -ne "$want" ]; then
    fail "$name: exit status $rc, expected $want; stderr: $(head -c 400 "$err")"
  elif ! grep -qE -- "$pattern" "$err"; then
    fail "$name: stderr does not match /$pattern/: $(head -c 400 "$err")"
  elif [ "$want" -eq 1 ] && [ "$(wc -l <"$err")" -ne 1 ]; then
    fail "$name: expected a one-line message, got $(wc -l <"$err") lines: $(head -c 400 "$err")"
  fi
}

# ---- documents ----
doc() { printf '%s' "$2" >"$work/$1"; }
tail -n +2 "$sample" >"$work/sample.expected"
doc empty-text.qel $'QEL1\n'
doc plain.txt $'just some text\n'
doc empty.qel ''
doc rejected.qel $'QEL1;status=-5\npayload the library refuses\n'
doc no-text.qel $'QEL1;text=none\npayload\n'
doc answer-zero.qel $'QEL1;answer=0\npayload\n'
# Several chunks, the last one short.
{ printf 'QEL1\n'; for i in $(seq 1 2500); do printf 'line %05d of a longer text\n' "$i"; done; } >"$work/long.qel"
tail -n +2 "$work/long.qel" >"$work/long.expected"
printf 'previous contents\n' >"$work/out/kept.txt"

# ---- help and usage ----
run --help
[ "$rc" -eq 0 ] && grep -q 'Usage: qelhost' "$out" && grep -q 'check FILE' "$out" && grep -q 'Exit status' "$out" \
  || fail "--help: status $rc, or the help lacks usage, commands or exit statuses"
while IFS='|' read -r name pattern args; do
  # shellcheck disable=SC2086
  expect "usage: $name" 2 "$pattern" $args
  grep -q "Usage: qelhost" "$err" || fail "usage: $name: no usage line on stderr"
done <<'EOF'
no arguments|no command given|
unknown command|unknown command 'frobnicate'|frobnicate x
no file|extract needs a FILE|extract
two files|too many arguments|extract a b
unknown option|unknown option '--bogus'|--bogus recognize x
-o with check|-o is an option of extract only|check x -o y
--addin without a path|--addin needs a value|recognize x --addin
EOF

# ---- recognize ----
run recognize "$sample"
[ "$rc" -eq 0 ] && grep -q ': recognized' "$out" || fail "recognize sample: status $rc, output $(cat "$out")"
run recognize "$work/plain.txt"
[ "$rc" -eq 1 ] && grep -q 'not recognized' "$out" || fail "recognize plain text: status $rc, output $(cat "$out")"

# ---- extract: the text byte for byte ----
run extract "$sample"
[ "$rc" -eq 0 ] && [ ! -s "$err" ] || fail "extract sample: status $rc, stderr $(cat "$err")"
cmp -s "$out" "$work/sample.expected" || fail "extract sample: standard output differs from the document's text"
run extract "$work/long.qel" -o "$work/out/long.txt"
[ "$rc" -eq 0 ] || fail "extract -o: status $rc, stderr $(cat "$err")"
cmp -s "$work/out/long.txt" "$work/long.expected" || fail "extract -o: OUT differs from the text of a document of several chunks"
run extract "$work/long.qel" -o "$work/out/kept.txt"
cmp -s "$work/out/kept.txt" "$work/long.expected" || fail "extract -o over an existing file: not replaced by the text"
printf 'previous contents\n' >"$work/out/kept.txt"
run extract "$work/empty-text.qel"
[ "$rc" -eq 0 ] && [ ! -s "$out" ] || fail "extract of an empty text: status $rc, $(wc -c <"$out") bytes out"

# ---- extract: documents the add-in fails (1), with no OUT left behind ----
while IFS='|' read -r name file pattern; do
  expect "extract $name" 1 "$pattern" extract "$work/$file" -o "$work/out/$name.txt"
  [ ! -e "$work/out/$name.txt" ] || fail "extract $name: left an OUT file"
  expect "extract $name over an existing OUT" 1 "$pattern" extract "$work/$file" -o "$work/out/kept.txt"
  grep -qx 'previous contents' "$work/out/kept.txt" || fail "extract $name: a failed extraction changed an existing OUT"
done <<'EOF'
not a document|plain.txt|could not convert .*plain.txt: it does not recognise
empty file|empty.qel|could not convert .*empty.qel: it does not recognise
rejected by the library|rejected.qel|could not convert .*rejected.qel: the first ReadText failed
no text made|no-text.qel|could not convert .*no-text.qel: the first ReadText failed
recognition says no|answer-zero.qel|could not convert .*answer-zero.qel: it does not recognise
EOF
[ -z "$(ls "$work/out" | grep -v -e '^long.txt$' -e '^kept.txt$')" ] || fail "extract left files beside OUT: $(ls "$work/out")"

# ---- bad input and a module that is no add-in (2) ----
while IFS='|' read -r name pattern args; do
  # shellcheck disable=SC2086
  for command in recognize extract check; do expect "$command: $name" 2 "$pattern" $command $args; done
done <<EOF
missing file|no such file: .*missing.qel|$work/missing.qel
a directory|a-directory is a directory; name a document file|$work/a-directory
no add-in there|there is no add-in at .*nothing.dll: build it with 'make dll'|$sample --addin $work/nothing.dll
add-in path a directory|a-directory is a directory; --addin names the add-in module|$sample --addin $work/a-directory
add-in does not load|cannot load the add-in .*plain.txt|$sample --addin $work/plain.txt
add-in lacks the export|is not a QEL add-in: it does not export GetAddinInterface|$sample --addin $other_module
EOF
expect "extract to a missing folder" 2 "cannot write to .*no-such-folder/x.txt" extract "$sample" -o "$work/no-such-folder/x.txt"
expect "extract to a directory" 2 "cannot write to .*out: it is a directory" extract "$sample" -o "$work/out"
"${runner[@]}" "$qelhost" extract "$work/long.qel" >/dev/full 2>"$err"
[ $? -eq 2 ] && grep -q "cannot write the text to standard output" "$err" || fail "extract to a full device: $(cat "$err")"
# A file that opens but cannot be read, whoever runs the test.
expect "unreadable file" 2 "cannot read /proc/self/mem" extract /proc/self/mem
if [ "$under_wine" -eq 1 ]; then
  # The tool and the add-in copied without the conversion library (natively the add-in's build
  # path still finds it).
  mkdir -p "$work/lonely" && cp "$qelhost" "$(dirname "$qelhost")/QELALTF.dll" "$work/lonely/"
  qelhost_here=$qelhost qelhost=$work/lonely/$(basename "$qelhost")
  expect "an add-in without its conversion library" 2 "a DLL it imports was not found; QELTEXT.dll must be beside" \
    recognize "$sample"
  qelhost=$qelhost_here
fi
if [ "$(id -u)" -ne 0 ]; then
  printf 'QEL1\nsecret\n' >"$work/unreadable.qel" && chmod 000 "$work/unreadable.qel"
  expect "file without read permission" 2 "cannot open .*unreadable.qel" extract "$work/unreadable.qel"
  chmod 600 "$work/unreadable.qel"
fi

# ---- check ----
check_case() {  # check_case NAME STATUS PATTERN [env assignments] -- ARGS...
  local name=$1 want=$2 pattern=$3
  shift 3
  local env_args=()
  while [ "$1" != "--" ]; do env_args+=("$1"); shift; done
  shift
  env "${env_args[@]}" "${runner[@]}" "$qelhost" check "$@" >"$out" 2>"$err"
  rc=$?
  if [ "$rc" -ne "$want" ]; then
    fail "check $name: exit status $rc, expected $want; output: $(cat "$out" "$err")"
  elif ! grep -qE -- "$pattern" "$out"; then
    fail "check $name: report does not match /$pattern/: $(cat "$out")"
  fi
}
check_case "sample" 0 "result: +balanced" -- "$sample"
for pattern in "recognized: +yes" "text: +$(wc -c <"$work/sample.expected") bytes in 1 chunk .*ended by an empty chunk" \
               "0 never released" "temp files: +none left" "time: +[0-9.]+ ms"; do
  grep -qE -- "$pattern" "$out" || fail "check sample: report lacks /$pattern/: $(cat "$out")"
done
check_case "several chunks" 0 "in 7 chunks \(smallest 8566, largest 10239\)" -- "$work/long.qel"
check_case "a document the library rejects" 0 "recognized: +yes.*" -- "$work/rejected.qel"
grep -q "first ReadText failed" "$out" && grep -q "result: *balanced" "$out" || fail "check rejected: $(cat "$out")"
check_case "a document not recognized" 0 "recognized: +no" -- "$work/plain.txt"
while IFS='|' read -r fault pattern; do
  check_case "of an add-in with fault '$fault'" "$([ "$fault" = none ] && echo 0 || echo 1)" "$pattern" \
    QELHOST_FAULT="$fault" -- "$sample" --addin "$faulty"
done <<'EOF'
none|result: +balanced
leak|problem: +1 block \([0-9]+ bytes?\) never released
file|problem: +1 temporary file left: qelFAULT.tmp
oversize|problem: +chunk 1 is 10241 bytes, over the 10240
EOF

if [ "$under_wine" -eq 1 ]; then
  # The real code page: a text of double-byte characters whose trail bytes have lead values (0x88
  # 0x9F), shifted by a single byte, so that chunk ends fall on both kinds of byte.
  { printf 'QEL1\na'; for i in $(seq 1 3000); do printf '\x88\x9f\x88\x9f\x88\x9f\x88\x9f\xb1\x88\x9f\n'; done; } >"$work/cp932.qel"
  tail -n +2 "$work/cp932.qel" >"$work/cp932.expected"
  check_case "double-byte text in code page 932" 0 "code page 932: 0 characters split" LC_ALL=ja_JP.UTF-8 -- "$work/cp932.qel"
  check_case "of an add-in that splits a character" 1 "problem: +1 double-byte character was split between two chunks" \
    LC_ALL=ja_JP.UTF-8 QELHOST_FAULT=split -- "$sample" --addin "$faulty"
  LC_ALL=ja_JP.UTF-8 "${runner[@]}" "$qelhost" extract "$work/cp932.qel" -o "$work/out/cp932.txt" >"$out" 2>"$err" \
    && cmp -s "$work/out/cp932.txt" "$work/cp932.expected" || fail "extract of double-byte text: not the exact bytes"
fi

left=$(ls -A "$work/tmp")
[ -z "$left" ] || fail "the runs left files in the temporary directory: $left"

if [ "$failures" -ne 0 ]; then
  echo "$failures qelhost check(s) failed"
  exit 1
fi
echo "qelhost behaves as a user expects"
