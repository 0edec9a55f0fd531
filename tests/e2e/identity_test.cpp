// The AP's identity comes from its board: a twin of each kind of board (a
// boot-environment board, the Broadcom board, the two RedBoot boards with
// their product data in a flash partition) joins the switch, and the
// identification carries that board's version, serial number and MAC.  In a
// private network namespace where this process may have one, else on the
// shared ports (the test holds the port lock either way).
#include <gtest/gtest.h>

#include <string>

#include "e2e/twin_fixture.hpp"
#include "swsim/swsim.hpp"

using namespace mapd_e2e;

TEST(Identity, EachKindOfBoardIdentifiesItselfFromItsOwnData) {
    (void)enter_private_network();
    const struct {
        const char* board;
        const char* serial;
        const char* version;
        const char* mac;
        uint8_t last;  // the MAC's last byte
    } rows[] = {
        {"QX_WAP_2R", "BE0000000007", "3.0.0.01", "00:1a:2b:3c:4d:60", 0x60},
        {"bcm954748eaple", "BC0000000042", "3.1.2.07", "00:1a:2b:3c:4d:70", 0x70},
        {"tovik", "RB-TOVIK-9", "2.9.9.99", "00:1a:2b:3c:4d:80", 0x80},
        {"ixdpg425", "RB-IXDP-3", "1.2.3.45", "00:1a:2b:3c:4d:90", 0x90},
    };
    for (const auto& r : rows) {
        SCOPED_TRACE(r.board);
        ap_root_options o;
        o.board = r.board, o.serial = r.serial, o.version = r.version, o.base_mac = r.mac;
        twin t(o);
        swsim sw;
        sw.print = [](const std::string&) {};
        std::string error;
        ASSERT_EQ(swsim_open(sw, swsim_options{}, error), 0) << error;
        ASSERT_TRUE(t.start()) << t.log_text();
        ASSERT_EQ(swsim_establish(sw, 12000, error), 0) << error << t.log_text();
        const swsim_ident& id = sw.ident;
        EXPECT_EQ(std::tuple(id.serial, id.fw_version, id.mac[0], id.mac[5]),
                  std::tuple(std::string(r.serial), std::string(r.version), uint8_t{0}, r.last))
            << t.log_text();
        swsim_close(sw);
        t.stop();
    }
}
