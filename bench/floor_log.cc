#include "bench/floor_log.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>

#include "plugin/host/log.h"
#include "plugin/include/rire_orsk_log.h"

namespace bench {

void floor_log(uint32_t level, const char *func, int line, const char *fmt, ...) {
    rire_orsk_event_rec rec;
    const char *wrapper = level == RIRE_ORSK_LOG_LEVEL_ERROR ? "%s(%d):ERROR: %s" : "%s(%d): %s";
    const auto wrap = [&] {
        rec.level = level;
        std::snprintf(rec.text, sizeof rec.text, wrapper, func, line, rire_log_buf);
        return RIRE_ORSK_EVENT_LEN(std::strlen(rec.text));
    };
    va_list ap;
    va_start(ap, fmt);
    std::vsnprintf(rire_log_buf, RIRE_LOG_BUF_SIZE, fmt, ap);
    va_end(ap);
    if (sdwrap_hist_event_subtype_check(RIRE_LOG_HIST_ID, level) == 0)
        sdwrap_hist_event(RIRE_LOG_HIST_ID, wrap(), &rec);
    if (sdwrap_chk_int(level, 0, 0, 1) != 0)
        buginf(1, sdwrap_dbg_modname, 0, "%s(%d): %s", func, line, rire_log_buf);
    sdwrap_his_log_event_for_uuid_inst(RIRE_LOG_SERVICE_UUID, RIRE_LOG_HIST_ID, 1, 0, wrap(), &rec);
}

} // namespace bench
