#include "bench/timing.h"

#include <sys/resource.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "emu/boot.h"
#include "emu/log/log.h"
#include "emu/pss/pss.h"
#include "emu/services/mts.h"

namespace bench {
namespace {

std::unique_ptr<emu::loader::Plugin> g_plugin;
std::vector<std::string> g_summary;

} // namespace

const fs::path &work_dir() {
    static const fs::path dir = [] {
        std::string name = (fs::temp_directory_path() / "rire-bench-XXXXXX").string();
        if (mkdtemp(name.data()) == nullptr)
            die("cannot create a directory under " + name);
        return fs::path(name);
    }();
    return dir;
}

void die(const std::string &why) {
    std::fprintf(stderr, "rire-bench: %s\n", why.c_str());
    std::exit(1);
}

void summarize(const std::string &name, double value) {
    char line[96];
    std::snprintf(line, sizeof line, "ratio %s %.2f", name.c_str(), value);
    g_summary.push_back(line);
}

void print_summary() {
    std::printf("\n");
    for (const std::string &line : g_summary)
        std::printf("%s\n", line.c_str());
    rusage self{}, children{};
    getrusage(RUSAGE_SELF, &self);
    getrusage(RUSAGE_CHILDREN, &children);
    std::printf("peak-rss-mib %.0f\n",
                std::ceil(std::max(self.ru_maxrss, children.ru_maxrss) / 1024.0));
}

std::unique_ptr<emu::loader::Plugin> &plugin() {
    return g_plugin;
}

rire_orsk_platform_api &api() {
    return *g_plugin->api();
}

void boot() {
    const std::string path = emu::loader::Plugin::default_path();
    emu::Booted b = emu::host_up({work_dir(), path});
    g_plugin = std::move(b.plugin);
    if (!g_plugin)
        die("cannot boot " + path + ": " + b.error);
    if (b.open_status != 0)
        die("pss_open_file failed");
}

void link(uint32_t req_id, uint32_t di) {
    api().oiflist_link_update(req_id, 1, 1 + req_id % 65534, di, 200, 400);
}

void done(uint32_t req_id) {
    mts_msg msg = emu::services::mts::make(MTS_OPC_HW_UPDATE_DONE, req_id);
    api().hw_update_done(&msg);
}

std::size_t settle() {
    const std::size_t records = emu::log::event_log().size();
    emu::pss::discard_pending();
    api().pss_buf_commit();
    emu::log::clear();
    return records;
}

} // namespace bench
