// The floor of the plugin's logging: the logging statement as the plugin
// must run it, in the simplest code. The message is formatted into
// rire_log_buf, then handed to the event history (when not filtered), the
// debug console (when on) and the event log, each record wrapped with the
// function's name and line. The road's and recovery's floors log through it.
#pragma once

#include <cstdint>

namespace bench {

__attribute__((format(printf, 4, 5))) void floor_log(uint32_t level, const char *func, int line,
                                                     const char *fmt, ...);

} // namespace bench
