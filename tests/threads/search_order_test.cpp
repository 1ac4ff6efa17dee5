// The search asks its units concurrently; records, codes and log lines must
// still be those of asking one unit after another.
#include <algorithm>

#include "../net/sim_fixture.hpp"

using namespace nettest;
using wexosim::Fault;
using wexosim::FaultKind;
using Lines = std::vector<std::string>;

namespace {

class SearchOrderTest : public SimTest {
protected:
    // Units answer the broadcast in the order given, 15 ms apart.
    void start_in_order(const std::vector<UnitConfig>& units) {
        start(units);
        for (int u = 0; u < static_cast<int>(units.size()); ++u) {
            Fault later = matching_fault(FaultKind::None, {0x00, 0x00, 0x00, 0xF6});
            later.delay = wexosim::Millis{15 * u};
            sim.inject(u, Endpoint::Udp, later);
        }
    }
};

TEST_F(SearchOrderTest, MixedUnitsGiveTheSequentialRecordsCodesAndLines) {
    UnitConfig binary = module_unit("10.200.0.2");
    binary.board_id = 5;
    UnitConfig ascii = module_unit("10.200.0.3");
    ascii.model = 37;  // answers MI only
    ascii.board_id = 3;
    UnitConfig unconfigurable = module_unit("10.200.0.4");
    unconfigurable.answer_cp_query = false;
    UnitConfig silent = module_unit("10.200.0.5");
    silent.answer_ident = false;
    UnitConfig other_port = module_unit("10.200.0.6");
    other_port.data_port = 10004;
    start_in_order({binary, ascii, unconfigurable, silent, other_port});
    ZuWexoSetAutoRequestIdModel(1, 10003);

    const Lines lines = logged([] { EXPECT_EQ(ZuWexoSearch(150), 4); });

    // The dropped unit's code 7 is replaced by the identification after it,
    // whose MI request went unanswered.
    EXPECT_EQ(error, 10011u);
    EXPECT_EQ(lines, (Lines{"ZuWexoSearch",
                            "ZuWexoRequestIdModel", "requestid 5555 -> 0 -> 2a00",
                            "ZuWexoRequestIdModel:0:5:2",
                            "ZuWexoRequestIdModel", "requestid 4d49 -> 1 -> 6d690c05",
                            "ZuWexoRequestIdModel:1:3:37",
                            "ZuWexoRequestIdModel", "requestid MI receive error 1.",
                            "ZuWexoSearch:4"}));
    ASSERT_EQ(xportcount, 4);
    const std::vector<std::tuple<std::string, int, int, int>> expected = {
        {"10.200.0.2", 5, 2, 0}, {"10.200.0.3", 3, 37, 6}, {"10.200.0.5", 255, -1, 0},
        {"10.200.0.6", 255, -1, 0}};
    for (int i = 0; i < 4; ++i) {
        SCOPED_TRACE(i);
        const auto& [ip, id, model, kind] = expected[static_cast<std::size_t>(i)];
        EXPECT_EQ(xportset[i].ip_text, ip);
        EXPECT_EQ(xportset[i].board_id, id);
        EXPECT_EQ(xportset[i].model_code, model);
        EXPECT_EQ(xportset[i].unit_kind, kind);
        EXPECT_EQ(xportset[i].connected, 0);
    }

    // Logging off takes the same path to the same table and code.
    const std::vector<wexo_device> logged_table(xportset, xportset + 4);
    EXPECT_EQ(ZuWexoSearch(150), 4);
    EXPECT_EQ(error, 10011u);
    for (int i = 0; i < 4; ++i) {
        EXPECT_EQ(xportset[i].model_code, logged_table[static_cast<std::size_t>(i)].model_code);
        EXPECT_EQ(0, std::memcmp(xportset[i].cp_block, logged_table[static_cast<std::size_t>(i)].cp_block,
                                 sizeof xportset[i].cp_block));
    }
}

// A module that answered twice is one host: its records are identified one
// after another, as a module serves one connection at a time.
TEST_F(SearchOrderTest, RecordsOfOneModuleAreIdentifiedInTurn) {
    UnitConfig twice = module_unit("10.200.0.2");
    twice.answer_probe = true;
    start({twice});
    ZuWexoSetAutoRequestIdModel(1, 10003);
    EXPECT_EQ(ZuWexoSearch(150), 2);
    EXPECT_EQ(error, 0u);
    EXPECT_EQ(xportset[0].model_code, 2);
    EXPECT_EQ(xportset[1].model_code, 2);
    EXPECT_EQ(sim.accepted(0, Endpoint::Data), 2);
}

}  // namespace
