#!/usr/bin/env bash
# Installs what the build needs on a fresh Debian machine: the 32-bit
# toolchain, 32-bit LMDB and GoogleTest's sources. Does nothing when all of it
# is already there.
set -euo pipefail

need=()
dpkg -s g++-multilib >/dev/null 2>&1 || need+=(g++-multilib)
dpkg -s cmake >/dev/null 2>&1 || need+=(cmake)
dpkg -s googletest >/dev/null 2>&1 || need+=(googletest)
dpkg -s clang >/dev/null 2>&1 || need+=(clang)
dpkg -s libclang-rt-14-dev >/dev/null 2>&1 || need+=(libclang-rt-14-dev)
dpkg -s liblmdb-dev:i386 >/dev/null 2>&1 || need+=(liblmdb-dev:i386)
dpkg -s lmdb-utils >/dev/null 2>&1 || need+=(lmdb-utils)

[ ${#need[@]} -eq 0 ] && exit 0

if ! dpkg --print-foreign-architectures | grep -qx i386; then
  dpkg --add-architecture i386
fi
export DEBIAN_FRONTEND=noninteractive
# A mirror caught mid-sync fails one index now and then; the packages we need
# usually resolve from the rest, so retry a few times and then go on.
for try in 1 2 3; do
  apt-get update -q && break
  sleep 5
done
apt-get install -y -q --no-remove "${need[@]}"
