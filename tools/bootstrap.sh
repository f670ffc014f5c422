#!/usr/bin/env bash
# Installs what the build and the tests need, and nothing that is already there.
# Safe to run any number of times; as root it calls apt-get directly, otherwise through sudo.
set -euo pipefail

if [ "$(id -u)" -eq 0 ]; then sudo=; else sudo=sudo; fi
export DEBIAN_FRONTEND=noninteractive

packages=(
  cmake ninja-build make g++ clang libclang-rt-14-dev
  g++-mingw-w64-i686 binutils-mingw-w64-i686
  googletest libgtest-dev libgmock-dev libbenchmark-dev
  locales valgrind gnuplot-nox zip unzip
)

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
if ! dpkg --print-foreign-architectures | grep -qx i386; then
  $sudo dpkg --add-architecture i386
  need_update=1
fi
for p in wine wine32:i386; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done

if [ ${#missing[@]} -gt 0 ] || [ -n "${need_update:-}" ]; then
  echo "bootstrap: installing ${missing[*]}"
  $sudo apt-get update -qq
  $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
fi

# The double-byte code-page tests run Wine under these locales (ACP 932 and 936).
want_locales=("ja_JP.UTF-8 UTF-8" "zh_CN.GBK GBK")
regen=
for l in "${want_locales[@]}"; do
  name=${l%% *}
  if ! locale -a 2>/dev/null | grep -qix "$(echo "$name" | sed 's/UTF-8/utf8/I; s/GBK/gbk/')"; then
    grep -qxF "$l" /etc/locale.gen 2>/dev/null || echo "$l" | $sudo tee -a /etc/locale.gen >/dev/null
    regen=1
  fi
done
if [ -n "$regen" ]; then
  echo "bootstrap: generating locales"
  $sudo locale-gen >/dev/null
fi
