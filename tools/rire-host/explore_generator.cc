#include "tools/rire-host/explore_generator.h"

#include "tools/rire-host/check.h"

namespace rire_host::explore {

std::string Generator::next(const Model &model) {
    if (fill_ != 0 || rng_.chance(4))
        return fill_arena(model);
    if (rng_.chance(120))
        return forwarding();
    // Host refusals the model predicts, drawn without --faults too: a
    // failed allocation, a database recovery cannot look up or finds under
    // handle 0.
    if (rng_.chance(5))
        return "fault libc.malloc.fail after=" + num(rng_.below(6));
    if (rng_.chance(2))
        return std::string("fault pss.lookup.") + (rng_.chance(500) ? "refuse" : "zero") +
               " service=" + (rng_.chance(500) ? "hw_update" : "pending_di");
    if (rng_.chance(3))
        return "fault reset";
    const uint32_t roll = rng_.below(1000);
    if (roll < 380)
        return link_update();
    if (roll < 560)
        return answer(model);
    if (roll < 610)
        return swap(model);
    if (roll < 670)
        return pending_insert();
    if (roll < 710)
        return "pending-di-delete type=" + num(type()) + " index=" + num(index());
    if (roll < 810)
        return "flush";
    if (roll < 830)
        return rng_.chance(700) ? "pss schedule manual" : "pss schedule auto";
    if (roll < 845)
        return "oiflist-exists type=" + num(type()) + " index=" + num(index());
    if (roll < 862)
        return "restart";
    if (roll < 865)
        return "recover";
    if (roll < 870)
        return transcript::kNewProcess;
    if (!faults_)
        return link_update();
    if (roll < 930)
        return fault();
    if (roll < 960)
        return "fault reset";
    const char *orders[] = {"ascending", "descending", "shuffle"};
    const std::string order = rng_.pick(orders);
    return "pss order " + order + (order == "shuffle" ? " seed=" + num(rng_.below(100)) : "");
}

std::vector<std::string> Generator::drain(const Model &model) {
    std::vector<std::string> lines;
    fill_ = 0;
    if (faults_)
        lines.push_back("fault reset");
    for (const Req &r : model.view().requests)
        lines.push_back("hw-done id=" + num(r.id));
    for (Db db : {kHw, kPending})
        for (const auto &[key, rec] : model.view().stored[db])
            lines.push_back(db == kHw ? "hw-done id=" + num(key)
                                      : "pending-di-delete type=" + num(key >> 16) +
                                            " index=" + num(key & 0xFFFF));
    for (const Update &u : model.view().queued)
        if (u.db == kPending && u.value)
            lines.push_back("pending-di-delete type=" + num(u.key >> 16) +
                            " index=" + num(u.key & 0xFFFF));
    lines.push_back("flush");
    return lines;
}

uint32_t Generator::index() {
    const uint32_t rare[] = {0, 65534, 65535};
    return rng_.chance(20) ? rng_.pick(rare) : 1 + rng_.below(12);
}

std::string Generator::di() {
    const char *special[] = {"null", "invalid"};
    if (rng_.chance(250))
        return rng_.pick(special);
    return num(rng_.chance(10) ? 65535 : 1 + rng_.below(16));
}

std::string Generator::link_update() {
    return "link-update req=" + num(id()) + " type=" + num(type()) + " old-index=" + num(index()) +
           " old-di=" + di() + " new-index=" + num(index()) + " new-di=" + di();
}

std::string Generator::answer(const Model &model) {
    const auto &requests = model.view().requests;
    const uint32_t id_ =
        !requests.empty() && rng_.chance(800) ? requests[rng_.below(requests.size())].id : id();
    const uint32_t answers[] = {0x12801, 0x12802, 0x12803, 0x12827, 0x12828};
    const uint32_t unknown[] = {0x12800, 0x12804, 0x12826, 0x12829, 0};
    const uint32_t opcode = rng_.chance(850) ? rng_.pick(answers) : rng_.pick(unknown);
    return "hw-done id=" + num(id_) + " opcode=" + num(opcode);
}

std::string Generator::swap(const Model &model) {
    const auto &requests = model.view().requests;
    const uint32_t from =
        !requests.empty() && rng_.chance(800) ? requests[rng_.below(requests.size())].id : id();
    const uint32_t to = rng_.chance(500) ? 11 + rng_.below(30) : id();
    return "swap old=" + num(from) + " new=" + num(to);
}

std::string Generator::pending_insert() {
    if (rng_.chance(8))
        return "pending-di-insert type=" + num(type()) + " index=" + num(1 + rng_.below(12)) +
               " state=1 dis=" + many_dis(kMaxDis + 1 + rng_.below(40));
    std::string dis;
    for (uint32_t n = rng_.below(4); n > 0; n--)
        dis += (dis.empty() ? "" : ",") + num(1 + rng_.below(16)) + ":" + num(index());
    return "pending-di-insert type=" + num(type()) + " index=" + num(1 + rng_.below(12)) +
           " state=" + num(rng_.below(3)) + (dis.empty() ? "" : " dis=" + dis);
}

std::string Generator::forwarding() {
    const uint32_t roll = rng_.below(100);
    const std::string ifindex = "ifindex=" + num(1 + rng_.below(6));
    const int32_t codes[] = {5, 19, -21, -2147483647};
    const std::string code = " code=" + std::to_string(rng_.pick(codes));
    if (roll < 20) {
        const char *kinds[] = {"other", "other", "loopback0", "loopback"};
        return "interface add " + ifindex + " kind=" + rng_.pick(kinds);
    }
    if (roll < 26)
        return "interface error " + ifindex +
               (rng_.chance(300) ? " status=0" : " status=" + std::to_string(rng_.pick(codes))) +
               " after=" + num(rng_.below(4));
    if (roll < 29)
        return "fault l3lif.program.error " + ifindex + code;
    if (roll < 31)
        return "fault heartbeat.send.error after=" + num(rng_.below(3)) + code;
    if (roll < 55)
        return df_update();
    if (roll < 70)
        return std::string(rng_.chance(500) ? "igmp-snoop" : "omf") +
               (rng_.chance(500) ? " enable" : " disable") + vlans();
    const std::string slot = "slot=" + num(rng_.below(6));
    if (roll < 82) {
        const uint32_t cards[] = {38, 177, 58, 100, 294, 1, 121, 159};
        return "module " + slot + (rng_.chance(150) ? " empty" : " card=" + num(rng_.pick(cards)));
    }
    if (roll < 85)
        return "fault pdb.modinfo.error " + (slot == "slot=0" ? "slot=1" : slot) + code;
    if (roll < 95) {
        const int32_t dbs[] = {1, 1, 2, 3, 0, -1};
        return "lc-download " + slot + " db=" + std::to_string(rng_.pick(dbs));
    }
    const uint32_t types[] = {1, 2, 0, 3, 255};
    switch (rng_.below(5)) {
    case 0:
        return "oiflist-hw-done type=" + num(rng_.pick(types));
    case 4:
        return "oiflist-di-update";
    case 1:
        return "oiflist-delete type=" + num(rng_.pick(types)) + " index=" + num(index()) +
               " di=" + num(rng_.below(20));
    case 2:
        return "opc-check opcode=" + num(0x12801 + rng_.below(3)) + " id=" + num(id());
    default:
        return "oiflist-alloc p5=" + num(rng_.below(5)) + " p9=" + num(rng_.below(2)) +
               " p10=" + num(rng_.chance(300) ? 0x10001 : rng_.below(3));
    }
}

std::string Generator::df_update() {
    const uint32_t ordinals[] = {1, 2, 3, 5, 8, 31, 32, 33, 0, 255};
    std::string line = "df-update ordinal=" + num(rng_.pick(ordinals));
    const int32_t opcs[] = {0, 1, 2, -1};
    line += rng_.chance(150)   ? " opc=" + std::to_string(rng_.pick(opcs))
            : rng_.chance(500) ? " add"
                               : " delete";
    if (rng_.chance(40)) { // past the heartbeat's 100 interfaces
        const uint32_t lengths[] = {100, 101, 150, 201, 250};
        return line + " oifs=1-" + num(rng_.pick(lengths)) + (rng_.chance(500) ? ",3" : "");
    }
    std::string oifs;
    for (uint32_t n = rng_.below(5); n > 0; n--)
        oifs += (oifs.empty() ? "" : ",") + num(1 + rng_.below(7));
    return oifs.empty() ? line : line + " oifs=" + oifs;
}

std::string Generator::vlans() {
    if (rng_.chance(10))
        return " vlans=0-4095";
    const uint32_t edges[] = {0, 1, 7, 8, 31, 32, 33, 63, 64, 100, 1000, 4064, 4094, 4095};
    std::string set;
    for (uint32_t n = rng_.below(5); n > 0; n--)
        set +=
            (set.empty() ? "" : ",") + num(rng_.chance(700) ? rng_.pick(edges) : rng_.below(4096));
    return (set.empty() ? "" : " vlans=" + set) +
           (rng_.chance(200) ? " word=" + num(rng_.below(100)) : "");
}

std::string Generator::many_dis(uint32_t n) {
    std::string dis;
    for (uint32_t di = 1; di <= n; di++)
        dis += (dis.empty() ? "" : ",") + num(di) + ":" + num(1 + rng_.below(12));
    return dis;
}

std::string Generator::fill_arena(const Model &model) {
    const uint32_t left = 65536 - model.view().arena;
    constexpr uint32_t kLargest = 32 + 8 * kMaxDis; // a record of 255 DIs, keyed
    switch (fill_++) {
    case 0:
        return "pss schedule manual";
    case 1:
        if (rng_.chance(800)) {
            // Around the 40 bytes a write of one DI takes and the 12 of a delete.
            const uint32_t free[] = {0, 3, 4, 11, 12, 19, 20, 39, 40, 51, 52, 2071, 2072};
            fill_ = 0;
            return "arena fill free=" + num(rng_.pick(free));
        }
        fill_ = 2;
        [[fallthrough]];
    case 2:
        if (left > kLargest + 64) {
            fill_ = 2;
            return "pending-di-insert type=1 index=12 state=1 dis=" + many_dis(kMaxDis);
        }
        return "pending-di-insert type=2 index=11 dis=" +
               many_dis(left < 32 + 24 ? 1 : (left - 32 - rng_.below(24)) / 8);
    case 3:
        return "pending-di-delete type=1 index=12";
    case 4:
        return link_update();
    default:
        fill_ = 0;
        return "flush";
    }
}

std::string Generator::fault() {
    const char *services[] = {"hw_update", "pending_di"};
    const std::string service = rng_.pick(services);
    switch (rng_.below(12)) {
    case 0:
        return "fault libc.malloc.fail after=" + num(rng_.below(6));
    case 1:
        return "fault pss.write.refuse service=" + service;
    case 2:
        return "fault pss.delete.refuse service=" + service;
    case 3:
        return "fault tlv.add.refuse after=" + num(rng_.below(4));
    case 4:
        return "fault index.realloc.error code=" + num(1 + rng_.below(3));
    case 5:
        return "fault pss.lookup.refuse service=" + service;
    case 9:
        return "fault pss.lookup.zero service=" + service;
    case 10:
        return "fault pss.getkey.fail service=" + service + " at=" + num(1 + rng_.below(3));
    case 6:
        return "fault pss.getvalue.fail service=" + service + " at=" + num(1 + rng_.below(3));
    case 7:
        return "fault tlv.next.fail at=" + num(1 + rng_.below(2));
    case 11:
        return "fault pss.commit.kill at=" + num(1 + rng_.below(4));
    default:
        return "fault pss.move.refuse service=" + service + " at=" + num(1 + rng_.below(3));
    }
}

} // namespace rire_host::explore
