#!/usr/bin/env bash
# Installs what the build needs on a fresh Debian machine: the 32-bit
# toolchain, 32-bit LMDB, GoogleTest's sources, clang for the fuzzer, and
# Debian's qemu-user where i386 programs cannot run natively (see
# scripts/exec-mode.sh). Does nothing when all of it is already there.
set -euo pipefail
cd "$(dirname "$0")/.."

apt_install() { # packages...
    if ! dpkg --print-foreign-architectures | grep -qx i386; then
        dpkg --add-architecture i386
    fi
    export DEBIAN_FRONTEND=noninteractive
    # A mirror caught mid-sync fails one index now and then; the packages we
    # need usually resolve from the rest, so retry a few times and then go on.
    for try in 1 2 3; do
        apt-get update -q && break
        sleep 5
    done
    apt-get install -y -q --no-remove "$@"
}

need=()
for pkg in g++-multilib cmake googletest clang libclang-rt-14-dev liblmdb-dev:i386 lmdb-utils \
    nlohmann-json3-dev libedit-dev:i386 python3-jsonschema; do
    dpkg -s "$pkg" >/dev/null 2>&1 || need+=("$pkg")
done
[ ${#need[@]} -eq 0 ] || apt_install "${need[@]}"

source scripts/exec-mode.sh
rire_probe_exec_mode
if [ "$RIRE_EXEC_MODE" = emulated ] && ! [ -x "$RIRE_LAUNCHER" ]; then
    apt_install qemu-user
fi
echo "32-bit programs: $RIRE_EXEC_MODE ($RIRE_EXEC_WHY)"
