// The destination browser's listing as the program wires it: the device share over SMB (the
// fixture's smbd), reached with the stored credentials.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "platform/device_share_factory.h"
#include "ui/share_folder_source.h"

namespace tessarine::ui {
namespace {

struct Fixture {
    std::string host, port, user, password, root;
};

bool ReadFixture(Fixture& out) {
    const char* names[] = {"TESSARINE_SMB_HOST", "TESSARINE_SMB_PORT", "TESSARINE_SMB_USER",
                           "TESSARINE_SMB_PASSWORD", "TESSARINE_SMB_ROOT"};
    std::string* fields[] = {&out.host, &out.port, &out.user, &out.password, &out.root};
    for (int i = 0; i < 5; ++i) {
        const char* value = std::getenv(names[i]);
        if (value == nullptr || *value == '\0') return false;
        *fields[i] = value;
    }
    return true;
}

std::unique_ptr<DeviceShare> SmbShareOf(const Fixture& fixture) {
    ShareOptions options;
    options.port = std::stoi(fixture.port);
    options.timeoutMs = 5000;
    return MakeDeviceShare(options);
}

TEST(ShareFolderSourceSmbTest, ListsTheShareFoldersWithTheStoredCredentials) {
    Fixture fixture;
    if (!ReadFixture(fixture))
        GTEST_SKIP() << "TESSARINE_SMB_* not set: start scripts/smbd-fixture and source its env";
    const std::string name = "browse-" + std::to_string(::getpid());
    const std::filesystem::path made = std::filesystem::path(fixture.root) / "zereda" / name;
    std::filesystem::create_directories(made / "inner");
    std::filesystem::create_directories(made / "second");
    { std::ofstream(made / "file.txt") << "x"; }

    DeviceShareFolderSource source(SmbShareOf(fixture), fixture.host, fixture.user,
                                   fixture.password);
    const std::string root = "\\\\" + fixture.host + "\\";
    const auto shares = source.ListFolders(root);
    ASSERT_EQ(shares.error, 0);
    EXPECT_EQ(shares.value, std::vector<std::string>{kDeviceShareName});
    const auto top = source.ListFolders(root + "zereda");
    ASSERT_EQ(top.error, 0);
    EXPECT_NE(std::find(top.value.begin(), top.value.end(), name), top.value.end());
    const auto below = source.ListFolders(root + "zereda\\" + name);
    ASSERT_EQ(below.error, 0);
    EXPECT_EQ(below.value, (std::vector<std::string>{"inner", "second"}));
    EXPECT_NE(source.ListFolders(root + "zereda\\" + name + "\\missing").error, 0);

    DeviceShareFolderSource refused(SmbShareOf(fixture), fixture.host, fixture.user, "wrong");
    EXPECT_NE(refused.ListFolders(root + "zereda").error, 0);
    std::filesystem::remove_all(made);
}

}  // namespace
}  // namespace tessarine::ui
