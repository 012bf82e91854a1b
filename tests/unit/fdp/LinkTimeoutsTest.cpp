// The link's real waits: the test fixture shortens them all, so only this test sees them.
#include <gtest/gtest.h>

#include "fdp/LinkSession.h"
#include "fdp/LinkTimeouts.h"

namespace fdp {
namespace {

TEST(LinkTimeouts, DefaultsAreTheTargetsWaits) {
    CLinkSession engine;   // not started: what a program gets unless it sets its own
    for (const LinkTimeouts& t : {LinkTimeouts{}, engine.Timeouts()}) {
        const struct {
            const char* wait;
            std::uint32_t ms;
            std::uint32_t expected;
        } cases[] = {
            {"listen", t.listen, 30000},
            {"hear-out before a login", t.hearOut, 1000},
            {"login", t.login, 5000},
            {"status", t.status, 2000},
            {"parameters", t.params, 20000},
            {"transfer", t.transfer, 40000},
            {"version read back after a burn", t.readBack, 5000},
            {"trace", t.trace, 30000},
            {"flash, boot", t.Flash(1), 30000},
            {"flash, program", t.Flash(3), 80000},
            {"flash, parameters", t.Flash(5), 30000},
        };
        for (const auto& c : cases) EXPECT_EQ(c.ms, c.expected) << c.wait;
        EXPECT_EQ(t.blockSends, 3);
    }
}

}  // namespace
}  // namespace fdp
