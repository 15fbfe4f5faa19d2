#include "emu/boot.h"

#include "emu/host.h"
#include "emu/pss/pss.h"
#include "emu/rire/pending_di.h"

namespace emu {

Booted host_up(const BootOptions &options) {
    Booted b;
    if (host_state_dir().empty())
        host_start({options.state_dir});
    b.plugin = loader::Plugin::load(options.plugin_path, &b.error);
    if (!b.plugin)
        return b;
    if (!b.plugin->init()) {
        b.error = options.plugin_path + " has no rire_orsk_platform_api_init";
        b.plugin.reset();
        return b;
    }
    rire_orsk_platform_api *api = b.plugin->api();
    api->set_q_handle(kQueueHandle);
    pss::set_commit_hook([api] { return api->pss_buf_commit(); });
    pss::InitArg init_arg; // read during the call only
    b.open_status = api->pss_open_file(&init_arg);
    if (b.open_status == pss::kErrStore)
        throw HostError(HostError::kStoreUnusable,
                        "the PSS store " + (host_state_dir() / "data.mdb").string() +
                            " cannot be used: " + pss::last_store_error());
    if (options.recover)
        api->pss_recover();
    return b;
}

namespace {

// The host's records go first: their held DIs return to the plugin's heap
// before the plugin dies.
void plugin_dies(std::unique_ptr<loader::Plugin> &plugin) {
    if (plugin)
        rire::pending_di::drop_all(*plugin);
    plugin.reset();
}

} // namespace

void host_down(std::unique_ptr<loader::Plugin> &plugin) {
    plugin_dies(plugin);
    host_restart();
}

void host_end(std::unique_ptr<loader::Plugin> &plugin) {
    plugin_dies(plugin);
    host_stop();
}

loader::Plugin::Census heap_census(const loader::Plugin &plugin) {
    return plugin.census(rire::pending_di::hold_queues());
}

} // namespace emu
