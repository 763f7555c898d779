// The device password is kept only in the settings file (Base64, owner-only). Every path of the
// program that handles it runs here with a recognisable password, with the debug log on and
// off; then neither the log nor any other file of the data folder holds it in clear, in Base64
// or in UTF-16, and the files that matter are owner-only.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <chrono>
#include <filesystem>
#include <string>
#include <vector>

#include "app/headless_fixture.h"
#include "base/string_utility.h"
#include "fakes/smb_fixture.h"
#include "fakes/test_support.h"
#include "settings/profile_store.h"

namespace tessarine {
namespace {

using namespace app_test;  // NOLINT(google-build-using-namespace): the fixture's own names
using namespace std::chrono_literals;
namespace fs = std::filesystem;
using testing::ReadFile;
using testing::ScopedEnv;
using testing::WriteFile;

constexpr char kPassword[] = "Pw7-leak-9xQ#";

// Every form in which the password could be written.
std::vector<std::pair<std::string, std::string>> Forms() {
    const std::string clear = kPassword;
    std::string utf16le;
    std::string utf16be;
    for (char c : clear) {
        utf16le += c;
        utf16le += '\0';
        utf16be += '\0';
        utf16be += c;
    }
    return {{"clear", clear},
            {"Base64", CStringUtility::EncodeBase64(clear)},
            {"UTF-16LE", utf16le},
            {"UTF-16BE", utf16be}};
}

// Files below `folder` (but `except`) holding the password in any form: "path (form)".
std::vector<std::string> Leaks(const std::string& folder, const std::string& except) {
    std::vector<std::string> leaks;
    for (const auto& entry : fs::recursive_directory_iterator(folder)) {
        if (!entry.is_regular_file() || entry.path() == fs::path(except)) continue;
        const std::string content = ReadFile(entry.path().string());
        for (const auto& [form, bytes] : Forms()) {
            if (content.find(bytes) != std::string::npos)
                leaks.push_back(entry.path().string() + " (" + form + ")");
        }
    }
    return leaks;
}

unsigned ModeOf(const std::string& path) {
    struct stat info {};
    if (stat(path.c_str(), &info) != 0) return 07777;
    return info.st_mode & 07777;
}

class PasswordLeakTest : public HeadlessTest {
protected:
    bool BackupNow() {
        const int before = RunEnds();
        EXPECT_EQ(Run({"--signal", "BackupNow"}), 0);
        const auto deadline = std::chrono::steady_clock::now() + 60s;
        while (RunEnds() == before && std::chrono::steady_clock::now() < deadline)
            std::this_thread::sleep_for(20ms);
        return RunEnds() > before;
    }
    void Configure(const std::string& userName) {
        testing::SmbFixture device;
        device.host = "127.0.0.1";
        device.user = userName;
        device.password = kPassword;
        ASSERT_TRUE(WriteSettings(device,
                                  {{temp_.Sub("docs"), "\\\\127.0.0.1\\zereda\\backup\\docs"}},
                                  false, [](CProfileStore& profile) {
                                      // Nothing answers there: the web login fails.
                                      profile.WriteString("CommonSetting", "HttpPort", "9");
                                      profile.WriteString("CommonSetting", "HttpsPort", "9");
                                  }));
    }
};

TEST_F(PasswordLeakTest, PasswordIsOnlyInTheSettingsFile) {
    ScopedEnv shareRoot{"TESSARINE_SHARE_ROOT", temp_.Sub("device")};
    fs::create_directories(temp_.Sub("device/zereda/backup/docs"));
    ASSERT_TRUE(WriteFile(temp_.Sub("docs/a.txt"), "alpha"));

    for (const char* debug : {"TRUE", "FALSE"}) {
        SCOPED_TRACE(std::string("debug ") + debug);
        // The first start makes the data folder and the log's switch file.
        pid_t program = Start({"--headless"});
        ASSERT_TRUE(WaitUntilReady(program)) << ReadFile(lastOutput_);
        ASSERT_EQ(kill(program, SIGTERM), 0);
        ASSERT_EQ(WaitExit(program, 30s), 0);
        ASSERT_TRUE(WriteFile(DataFolder() + "log/setting.xml",
                              std::string("<?xml version=\"1.0\"?><log><debug>") + debug +
                                  "</debug><max_size>10</max_size></log>"));

        program = Start({"--headless"});
        ASSERT_TRUE(WaitUntilReady(program)) << ReadFile(lastOutput_);
        Configure("scanner");
        ASSERT_TRUE(BackupNow()) << LogText();  // connected, copied, result files written
        ASSERT_TRUE(WriteFile(temp_.Sub("docs/b.txt"), "beta"));
        Configure("");
        ASSERT_TRUE(BackupNow()) << LogText();  // refused: no user name
        Configure("scanner");
        Run({"--check-login"});  // web login to a port where nothing answers
        ASSERT_EQ(kill(program, SIGTERM), 0);
        ASSERT_EQ(WaitExit(program, 30s), 0);

        if (std::string(debug) == "TRUE") {
            EXPECT_NE(LogText().find("TRC"), std::string::npos) << "the debug log was not on";
        }
        EXPECT_EQ(std::vector<std::string>{},
                  Leaks(DataFolder(), DataFolder() + "TessarineTool.msf"));
        for (int i = 0; i < outputs_; ++i) {
            const std::string output = ReadFile(temp_.Sub("output." + std::to_string(i)));
            for (const auto& [form, bytes] : Forms())
                EXPECT_EQ(output.find(bytes), std::string::npos) << form << " in output " << i;
        }
    }

    EXPECT_EQ(ModeOf(DataFolder() + "TessarineTool.msf"), 0600u);
    EXPECT_EQ(ModeOf(DataFolder() + "TessarineTool.db"), 0600u);
    EXPECT_EQ(ModeOf(DataFolder() + "log/TessarineTool.log"), 0600u);
    EXPECT_EQ(ModeOf(DataFolder()) & 022, 0u);
}

}  // namespace
}  // namespace tessarine
