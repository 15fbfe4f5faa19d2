#include "bench/floor_log.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>

#include "plugin/host/log.h"
#include "plugin/include/rire_orsk_log.h"

namespace bench {

void floor_log(uint32_t level, const char *func, int line, const char *fmt, ...) {
    struct {
        uint32_t level;
        char text[512];
    } rec;
    const char *wrapper = level == RIRE_ORSK_LOG_LEVEL_ERROR ? "%s(%d):ERROR: %s" : "%s(%d): %s";
    const auto wrap = [&] {
        rec.level = level;
        std::snprintf(rec.text, sizeof rec.text, wrapper, func, line, rire_log_buf);
        return static_cast<uint32_t>(std::strlen(rec.text) + 5);
    };
    va_list ap;
    va_start(ap, fmt);
    std::vsnprintf(rire_log_buf, RIRE_LOG_BUF_SIZE, fmt, ap);
    va_end(ap);
    if (sdwrap_hist_event_subtype_check(0x730000, level) == 0)
        sdwrap_hist_event(0x730000, wrap(), &rec);
    if (sdwrap_chk_int(level, 0, 0, 1) != 0)
        buginf(1, sdwrap_dbg_modname, 0, "%s(%d): %s", func, line, rire_log_buf);
    sdwrap_his_log_event_for_uuid_inst(384, 0x730000, 1, 0, wrap(), &rec);
}

} // namespace bench
