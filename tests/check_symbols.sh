#!/usr/bin/env bash
# The plugin's dynamic symbol table is its contract with the host process:
#  - it defines exactly the exported operations, nothing internal;
#  - every host operation and object it uses is undefined, bound at load
#    time from the process that loads it (the plugin carries no host code);
#  - beyond those it needs only the C library.
# usage: check_symbols.sh PLUGIN.so EXPORTS.txt IMPORTS.txt
set -euo pipefail
so=$1 exports=$2 imports=$3
fail=0

# Symbols the linker and the C runtime start files add to every object.
runtime='^(_init|_fini|_edata|_end|__bss_start|_ITM_.*|__gmon_start__|__cxa_finalize)$'
sanitizer='^(__asan_|__ubsan_|__sanitizer_|__lsan_)'
libc='^(malloc|free|memset|memcpy|snprintf|vsnprintf|strlen|__stack_chk_fail.*|__x86\.get_pc_thunk.*)$'

defined=$(nm -D --defined-only "$so" | awk '{print $3}' | grep -Ev "$runtime" | sort)
undefined=$(nm -D --undefined-only "$so" | awk '{print $2}' | sed 's/@.*//' \
  | grep -Ev "$runtime" | grep -Ev "$sanitizer" | sort)

if ! diff <(sort "$exports") <(echo "$defined") >/tmp/check_symbols.$$; then
  echo "defined symbols differ from the export list (< expected, > found):"
  cat /tmp/check_symbols.$$; fail=1
fi
missing=$(comm -23 <(sort "$imports") <(echo "$undefined"))
if [ -n "$missing" ]; then
  echo "host symbols that are not undefined in the plugin (host code inside?):"
  echo "$missing"; fail=1
fi
extra=$(comm -13 <(sort "$imports") <(echo "$undefined") | grep -Ev "$libc" || true)
if [ -n "$extra" ]; then
  echo "undefined symbols that are neither host operations nor the C library:"
  echo "$extra"; fail=1
fi
needed=$(readelf -d "$so" | sed -n 's/.*(NEEDED).*\[\(.*\)\]/\1/p' | grep -Ev '^(libc\.so\.6|libasan.*|libubsan.*|libstdc\+\+.*|libm\.so.*|libgcc_s.*)$' || true)
if [ -n "$needed" ]; then
  echo "unexpected libraries needed: $needed"; fail=1
fi
rm -f /tmp/check_symbols.$$
[ $fail -eq 0 ] && echo "plugin symbols: $(echo "$defined" | wc -l) exported, $(echo "$undefined" | wc -l) bound at load time"
exit $fail
