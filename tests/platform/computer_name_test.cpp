#include <gtest/gtest.h>

#include <set>
#include <string>

#include "platform/system_info.h"

namespace tessarine {
namespace {

// The device keeps result files under these names and the file lists carry them: the values
// are fixed, and a change here breaks every PC with a long host name at the update.
TEST(ComputerNameTest, ShortNamesStayAsTheyWereLongOnesGetAStableHashedForm) {
    struct Case {
        const char* host;
        const char* computer;
    } const cases[] = {
        {"pc01", "PC01"},
        {"pc01.corp.example", "PC01"},
        {"exactly15chars0", "EXACTLY15CHARS0"},  // 15 bytes: as before
        {"Exactly15Chars0.lan", "EXACTLY15CHARS0"},
        {"ubuntu-desktop-1", "UBUNTU-D-NYX565"},
        {"ubuntu-desktop-2", "UBUNTU-D-QFTCZR"},
        {"UBUNTU-DESKTOP-1", "UBUNTU-D-NYX565"},  // host names ignore case
        {"ubuntu-desktop-1.corp.example", "UBUNTU-D-NYX565"},
        {"ありがとうございます", "あり-3QFTXA"},  // no character cut in two
        {"", ""},
    };
    for (const Case& c : cases) EXPECT_EQ(c.computer, ComputerNameOfHost(c.host)) << c.host;
}

TEST(ComputerNameTest, LongHostNamesThatShareTheirStartGetDifferentNames) {
    std::set<std::string> names;
    for (int i = 0; i < 2000; ++i) {
        const std::string name = ComputerNameOfHost("office-floor2-desk-" + std::to_string(i));
        EXPECT_EQ(15u, name.size()) << name;
        EXPECT_EQ(0u, name.rfind("OFFICE-F-", 0)) << name;
        names.insert(name);
    }
    EXPECT_EQ(2000u, names.size());
}

}  // namespace
}  // namespace tessarine
