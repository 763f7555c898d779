// A settings window over a temporary settings file and file list, with the device calls faked
// and the message boxes recorded.
#pragma once
#include <QString>
#include <QWidget>
#include <atomic>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "backup/backup_sql_utility.h"
#include "fakes/test_support.h"
#include "settings/profile_store.h"
#include "settings/setting_records.h"
#include "ui/settings_dialog_utility.h"
#include "ui/settings_services.h"
#include "ui/strings/lrc_reader_wrapper.h"
#include "ui/strings/string_ids.h"

namespace tessarine::ui::testing {

class RecordingPresenter : public MessagePresenter {
public:
    void Warning(QWidget*, const QString& caption, const QString& text) override {
        if (whileShown) whileShown();
        warnings.push_back(text.toStdString());
        lastCaption = caption.toStdString();
    }
    void Information(QWidget*, const QString& caption, const QString& text) override {
        if (whileShown) whileShown();
        informations.push_back(text.toStdString());
        lastCaption = caption.toStdString();
    }
    bool AskYesNo(QWidget*, const QString&, const QString& text) override {
        questions.push_back(text.toStdString());
        return answerYes;
    }
    std::vector<std::string> warnings;
    std::vector<std::string> informations;
    std::vector<std::string> questions;
    std::string lastCaption;
    bool answerYes = true;
    // Runs while a warning or information box would be on screen.
    std::function<void()> whileShown;
};

inline constexpr char kAddress[] = "192.168.1.10";
inline constexpr char kHostName[] = "DEV01";

// The settings file and file list a test starts from: the device at kAddress, `pairs` folder
// pairs "/src/N" -> "\\192.168.1.10\share\N", each with one row in the file list.
class SettingsFixture {
public:
    explicit SettingsFixture(int pairs = 2)
        : store_(temp_.Sub("Tessarine.ini")), databasePath_(temp_.Sub("backup.db")) {
        CCommonSetting common(&store_);
        common.WriteDefaults();
        common.Load();
        common.ipv4Address = kAddress;
        common.hostName = kHostName;
        common.userName = "admin";
        common.userPassword = "secret";
        common.isManualHostSetting = true;
        common.httpPort = 80;
        common.httpsPort = 443;
        common.popupTimeout = 5;
        common.Save();
        CBackupSetting backup(&store_);
        backup.WriteDefaults();
        backup.Load();
        for (int i = 0; i < pairs; ++i) backup.folderPairs[i] = Pair(i);
        backup.Save();
        CDetectFileSetting detect(&store_);
        detect.WriteDefaults();
        CBackupSQLUtility fileList(databasePath_);
        fileList.Initialize();
        for (int i = 0; i < pairs; ++i)
            fileList.AddBackupInformation(i, "/src/" + std::to_string(i) + "/f",
                                          Pair(i).destination + "\\f", 0, 0);

        services_.store = &store_;
        services_.backupDatabasePath = databasePath_;
        services_.backupExecuting = &backupExecuting_;
        services_.detectFileExecuting = &detectFileExecuting_;
        services_.signalEvent = [this](std::string_view name) { events_.emplace_back(name); };
        services_.login = [this](const LoginRequest& request) {
            logins_.push_back(request);
            return loginResult_.load();
        };
        services_.folderExists = [](const std::string& path) {
            return !path.empty() && path[0] == '/';
        };
        services_.isNetworkPath = [](const std::string& path) {
            return path.rfind("/mnt/net", 0) == 0;
        };
        services_.openBrowser = [this](const std::string& url, const std::string&,
                                       const std::string&) { urls_.push_back(url); };
        services_.desktopFolder = temp_.Sub("Desktop");
        services_.strings = &strings_;
        services_.messages = &messages_;
    }

    static BackupFolderPair Pair(int i) {
        return {"/src/" + std::to_string(i),
                std::string("\\\\") + kAddress + "\\share\\" + std::to_string(i)};
    }
    // The setting number of the row of pair `i`'s file; -1 when the row is gone.
    int RowOwner(int i) {
        CBackupSQLUtility fileList(databasePath_);
        fileList.Initialize();
        for (int n = 0; n < kBackupFolderPairCount; ++n)
            if (fileList.GetBackupInformation(n, "/src/" + std::to_string(i) + "/f", nullptr,
                                              nullptr) == 0)
                return n;
        return -1;
    }
    std::string Ini() const { return tessarine::testing::ReadFile(temp_.Sub("Tessarine.ini")); }

    tessarine::testing::TempDir temp_;
    CProfileStore store_;
    std::string databasePath_;
    std::atomic<int> backupExecuting_{0};
    std::atomic<int> detectFileExecuting_{0};
    std::atomic<int> loginResult_{0};
    std::vector<std::string> events_;
    std::vector<LoginRequest> logins_;
    std::vector<std::string> urls_;
    CLrcReaderWrapper strings_{"/nonexistent/TessarineTool.lrc",
                               [](std::uint32_t) { return true; }};
    RecordingPresenter messages_;
    SettingsServices services_;
};

template <typename W>
W* Find(QWidget& root, unsigned id) {
    return root.findChild<W*>(QStringLiteral("ctl%1").arg(id));
}

}  // namespace tessarine::ui::testing
