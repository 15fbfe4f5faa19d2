#include "tools/rire-host/inspect.h"

#include <lmdb.h>

#include <CLI/CLI.hpp>
#include <algorithm>
#include <fstream>
#include <iostream>
#include <map>
#include <string>
#include <vector>

#include "emu/bytes.h"
#include "emu/event_log_file.h"
#include "emu/store_check.h"
#include "tools/rire-host/records.h"
#include "tools/rire-host/session.h"

namespace rire_host {
namespace {

using emu::bytes::Bytes;
using Records = std::vector<std::pair<Bytes, Bytes>>;

constexpr unsigned kMaxDbs = 64;

// Every named database but the bookkeeping, with its records in store order.
std::map<std::string, Records> read_store(MDB_env *env) {
    std::map<std::string, Records> dbs;
    MDB_txn *txn;
    if (mdb_txn_begin(env, nullptr, MDB_RDONLY, &txn) != 0)
        return dbs;
    auto read = [txn](MDB_dbi dbi, Records *into) {
        MDB_cursor *c;
        if (mdb_cursor_open(txn, dbi, &c) != 0)
            return;
        MDB_val k, v;
        for (int rc = mdb_cursor_get(c, &k, &v, MDB_FIRST); rc == 0;
             rc = mdb_cursor_get(c, &k, &v, MDB_NEXT))
            into->emplace_back(emu::bytes::copy(k.mv_data, k.mv_size),
                               emu::bytes::copy(v.mv_data, v.mv_size));
        mdb_cursor_close(c);
    };
    Records names;
    MDB_dbi main, dbi;
    if (mdb_dbi_open(txn, nullptr, 0, &main) == 0)
        read(main, &names);
    for (const auto &[key, value] : names) {
        const std::string name(key.begin(), key.end());
        if (name != emu::pss::check::kBookDb && mdb_dbi_open(txn, name.c_str(), 0, &dbi) == 0)
            read(dbi, &dbs[name]);
    }
    mdb_txn_abort(txn);
    return dbs;
}

void print_db(std::ostream &out, const std::string &name, const Records &records, bool raw) {
    const auto type = service_of(name);
    out << "  " << name;
    if (type)
        out << " (" << *type << ")";
    out << ": " << records.size() << " record" << (records.size() == 1 ? "" : "s") << "\n";
    for (const auto &[key, value] : records) {
        if (type)
            out << "    " << describe_record(*type, key, value) << "\n";
        if (raw || !type)
            print_bytes(out, key, &value, SIZE_MAX);
    }
}

void print_oiflists(std::ostream &out, const std::filesystem::path &dir) {
    std::ifstream in(dir / kPiOiflistsFile);
    std::string list;
    size_t count = 0;
    for (uint32_t type, index; in >> type >> index; count++)
        list += (count ? ", " : ": ") + std::string("type ") + std::to_string(type) + " index " +
                std::to_string(index);
    out << "  live oiflists of the platform-independent layer: " << count << list << "\n";
}

void print_events(std::ostream &out, const std::filesystem::path &dir, size_t tail) {
    const auto lines = emu::EventLogFile::read_lines(dir / "events.log");
    const size_t shown = std::min(tail, lines.size());
    out << "  events.log: last " << shown << " of " << lines.size() << " line"
        << (lines.size() == 1 ? "" : "s") << "\n";
    for (size_t i = lines.size() - shown; i < lines.size(); i++)
        out << "    " << lines[i] << "\n";
}

// Opens the store read-only and prints it; an exit status.
int print_store(const InspectOptions &o, std::ostream &out, std::ostream &err) {
    const auto data = o.dir / "data.mdb";
    if (!std::filesystem::exists(data)) {
        out << "  no PSS store (data.mdb)\n";
        return 0;
    }
    auto damaged = [&err, &data](const std::string &fault) {
        err << "rire-host: the PSS store " << data.string() << " cannot be used: " << fault << "\n";
        return 3;
    };
    if (auto fault = emu::pss::check::file(data))
        return damaged(*fault);
    MDB_env *env;
    int rc = mdb_env_create(&env);
    if (rc == 0 && (rc = mdb_env_set_maxdbs(env, kMaxDbs)) == 0)
        rc = mdb_env_open(env, o.dir.c_str(), MDB_RDONLY | MDB_NOLOCK | MDB_NOTLS, 0);
    if (rc != 0) {
        mdb_env_close(env);
        err << "rire-host: cannot open " << data.string() << ": " << mdb_strerror(rc) << "\n";
        return rc == MDB_INVALID || rc == MDB_CORRUPTED || rc == MDB_VERSION_MISMATCH ? 3 : 1;
    }
    if (auto fault = emu::pss::check::walk(env)) {
        mdb_env_close(env);
        return damaged(*fault);
    }
    const auto dbs = read_store(env);
    mdb_env_close(env);
    // The plugin's databases in the order of their types, any other after them.
    std::vector<std::string> names;
    for (const auto &[name, records] : dbs)
        names.push_back(name);
    std::stable_sort(names.begin(), names.end(), [](const std::string &a, const std::string &b) {
        return service_of(a).value_or(UINT32_MAX) < service_of(b).value_or(UINT32_MAX);
    });
    for (const std::string &name : names)
        print_db(out, name, dbs.at(name), o.raw);
    return 0;
}

} // namespace

int inspect(const InspectOptions &o, std::ostream &out, std::ostream &err) {
    if (!std::filesystem::is_directory(o.dir)) {
        err << "rire-host: inspect: " << o.dir.string() << " is not a state directory\n";
        return 2;
    }
    out << "state " << o.dir.string() << " (read-only)\n";
    if (const int status = print_store(o, out, err); status != 0)
        return status;
    print_oiflists(out, o.dir);
    print_events(out, o.dir, o.tail);
    return 0;
}

int inspect_main(int argc, char **argv) {
    CLI::App app("Prints what a state directory holds: both PSS databases decoded, the live\n"
                 "oiflists and the tail of events.log. Reads without the plugin, without\n"
                 "locks, and never writes to DIR.",
                 "rire-host inspect");
    InspectOptions o;
    app.add_option("DIR", o.dir, "the state directory")->required();
    app.add_flag("--raw", o.raw, "also each record's key and value bytes");
    app.add_option("--tail", o.tail, "lines of events.log shown (default 20)");
    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError &e) {
        return app.exit(e) == 0 ? 0 : 2;
    }
    return inspect(o, std::cout, std::cerr);
}

} // namespace rire_host
