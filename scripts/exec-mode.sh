# Decides how this machine starts the project's 32-bit programs. Sourced by the
# other scripts; sets
#   RIRE_EXEC_MODE  native | emulated
#   RIRE_LAUNCHER   empty when native, else the qemu-i386 command that starts an
#                   i386 program (the tests, rire-host, the benchmark and the
#                   fuzzers all go through it)
#   RIRE_EXEC_WHY   one line saying how the mode was chosen
#
# Emulated when RIRE_EMULATE=1, when an i386 program cannot be started at all
# (a kernel without IA32 emulation: "Exec format error"), or when one runs only
# through a qemu binfmt handler registered earlier. A program under qemu-user
# sees its own /proc/self/exe as itself, so the probe looks at the running
# child from outside.
# Needs g++-multilib; the caller installs qemu-user when the mode is emulated.

rire_probe_exec_mode() {
    local dir
    dir=$(mktemp -d)
    printf '#include <unistd.h>\nint main(void) { pause(); return 0; }\n' >"$dir/probe.c"
    RIRE_EXEC_MODE=emulated
    RIRE_EXEC_WHY="forced by RIRE_EMULATE=1"
    if [ "${RIRE_EMULATE:-0}" != 1 ]; then
        if ! gcc -m32 -o "$dir/probe" "$dir/probe.c" 2>"$dir/cc.log"; then
            RIRE_EXEC_WHY="cannot build a 32-bit program yet"
        else
            "$dir/probe" 2>"$dir/run.log" &
            local pid=$! exe=""
            sleep 0.2
            exe=$(readlink "/proc/$pid/exe" 2>/dev/null || true)
            kill "$pid" 2>/dev/null || true
            wait "$pid" 2>/dev/null || true
            case $exe in
            "$dir/probe") RIRE_EXEC_MODE=native RIRE_EXEC_WHY="i386 programs run natively" ;;
            *qemu*) RIRE_EXEC_WHY="i386 programs run through a qemu binfmt handler ($exe)" ;;
            *) RIRE_EXEC_WHY="this kernel cannot start i386 programs ($(tr -d '\n' <"$dir/run.log" | sed 's/.*: //'))" ;;
            esac
        fi
    fi
    rm -rf "$dir"
    RIRE_LAUNCHER=""
    if [ "$RIRE_EXEC_MODE" = emulated ]; then
        RIRE_LAUNCHER=$(command -v qemu-i386 || echo /usr/bin/qemu-i386)
    fi
    export RIRE_EXEC_MODE RIRE_LAUNCHER RIRE_EXEC_WHY
}
