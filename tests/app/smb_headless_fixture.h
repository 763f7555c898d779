// The headless program with the smbd fixture (scripts/smbd-fixture) as the device: each test
// gets a folder of its own below the share's backup folder, removed again after it.
#pragma once

#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <string>
#include <system_error>
#include <utility>

#include "app/headless_fixture.h"
#include "fakes/smb_fixture.h"
#include "platform/posix/smb_share.h"

namespace tessarine::app_test {

class SmbHeadlessTest : public HeadlessTest {
protected:
    // The test's folder is "<prefix><pid>".
    explicit SmbHeadlessTest(std::string prefix) : prefix_(std::move(prefix)) {}

    // Skips without the fixture; makes the backup folder and the test's folder in it.
    void SetUp() override {
        HeadlessTest::SetUp();
        if (::testing::Test::IsSkipped() || HasFatalFailure()) return;
        if (!server_.Load()) GTEST_SKIP() << testing::kSmbFixtureMissing;
        folder_ = prefix_ + std::to_string(getpid());
        SmbShare share(server_.port);
        ASSERT_EQ(0, share.Connect(server_.host, server_.user, server_.password));
        const IoStatus base = share.CreateFolder(Unc(""));
        ASSERT_TRUE(base || base.error == EEXIST) << base.error;
        ASSERT_TRUE(share.CreateFolder(Unc(folder_)));
        share.Cancel(server_.host);
    }

    void TearDown() override {
        if (folder_.empty()) return;
        std::error_code ignored;
        fs::remove_all(Served(), ignored);
    }

    // The local folder the tests back up.
    std::string Source(const std::string& relative = "") const {
        return temp_.Sub("docs") + (relative.empty() ? "" : "/" + relative);
    }
    // A path below the share's backup folder as the program names it.
    std::string Unc(const std::string& relative) const {
        return "\\\\" + server_.host + "\\zereda\\backup" +
               (relative.empty() ? "" : "\\" + relative);
    }
    // The local folder behind the test's folder on the share.
    std::string Served(const std::string& relative = "") const {
        return server_.root + "/zereda/backup/" + folder_ +
               (relative.empty() ? "" : "/" + relative);
    }

    testing::SmbFixture server_;
    std::string folder_;

private:
    std::string prefix_;
};

}  // namespace tessarine::app_test
