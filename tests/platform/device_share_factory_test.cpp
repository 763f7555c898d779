#include "platform/device_share_factory.h"

#include <gtest/gtest.h>

#include <optional>

#include "fakes/test_support.h"
#include "platform/posix/local_share.h"
#include "platform/posix/smb_share.h"

namespace tessarine {
namespace {

using testing::ScopedEnv;

TEST(DeviceShareFactoryTest, ReadsPortFromEnvironment) {
    struct Case {
        std::optional<std::string> value;
        int port;
        bool problem;
    };
    const Case cases[] = {
        {std::nullopt, 445, false}, {"", 445, false},    {"1445", 1445, false},
        {"65535", 65535, false},    {"0", 445, true},    {"65536", 445, true},
        {"abc", 445, true},         {"445x", 445, true}, {"-1", 445, true},
        {" 445", 445, true},
    };
    ScopedEnv noRoot("TESSARINE_SHARE_ROOT", std::nullopt);
    for (const auto& c : cases) {
        SCOPED_TRACE(c.value.value_or("<unset>"));
        ScopedEnv port("TESSARINE_SMB_PORT", c.value);
        const ShareOptions options = ShareOptionsFromEnvironment();
        EXPECT_EQ(options.port, c.port);
        EXPECT_EQ(!options.problem.empty(), c.problem) << options.problem;
        if (c.problem) {
            EXPECT_NE(options.problem.find(*c.value), std::string::npos);
        }
        EXPECT_TRUE(options.localRoot.empty());
    }
}

TEST(DeviceShareFactoryTest, LocalRootChoosesTheLocalShare) {
    testing::TempDir root;
    ScopedEnv rootEnv("TESSARINE_SHARE_ROOT", root.Path());
    ScopedEnv port("TESSARINE_SMB_PORT", std::nullopt);
    auto share = MakeDeviceShare(ShareOptionsFromEnvironment());
    auto* local = dynamic_cast<LocalShare*>(share.get());
    ASSERT_NE(local, nullptr);
    EXPECT_EQ(local->Root(), root.Path());
    EXPECT_EQ(share->Connect("192.168.1.10", "u", "p"), kShareConnected);
}

TEST(DeviceShareFactoryTest, DefaultIsSmb) {
    auto share = MakeDeviceShare(ShareOptions{});
    EXPECT_NE(dynamic_cast<SmbShare*>(share.get()), nullptr);
}

}  // namespace
}  // namespace tessarine
