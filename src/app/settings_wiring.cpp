#include "app/settings_wiring.h"

#include <sys/vfs.h>

#include <QFileDialog>
#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "app/backup_utility_app.h"
#include "network/http_utility.h"
#include "network/search_agent_utility.h"
#include "platform/device_share_factory.h"
#include "settings/setting_records.h"
#include "ui/settings_window.h"
#include "ui/share_folder_dialog.h"

namespace tessarine {
namespace {

// File systems whose folders live on another machine.
bool IsOnNetworkFileSystem(const std::string& path) {
    struct statfs info {};
    if (statfs(path.c_str(), &info) != 0) return false;
    switch (static_cast<unsigned long>(info.f_type)) {
        case 0x6969UL:      // NFS
        case 0x517BUL:      // SMB
        case 0xFF534D42UL:  // CIFS
        case 0xFE534D42UL:  // SMB2
        case 0x65735546UL:  // FUSE (sshfs and the like)
            return true;
        default:
            return false;
    }
}

}  // namespace

std::string DesktopFolderPath() {
    const char* home = std::getenv("HOME");
    const std::string homeDir = home != nullptr ? home : "";
    const char* config = std::getenv("XDG_CONFIG_HOME");
    const std::string dirs =
        (config != nullptr && *config != '\0' ? std::string(config) : homeDir + "/.config") +
        "/user-dirs.dirs";
    std::ifstream in(dirs);
    std::string line;
    while (std::getline(in, line)) {
        const std::string key = "XDG_DESKTOP_DIR=\"";
        if (line.rfind(key, 0) != 0 || line.back() != '"') continue;
        std::string value = line.substr(key.size(), line.size() - key.size() - 1);
        if (value.rfind("$HOME", 0) == 0) value = homeDir + value.substr(5);
        return value;
    }
    return homeDir.empty() ? "" : homeDir + "/Desktop";
}

CSettingsWiring::CSettingsWiring(CBackupUtilityApp& app, CBrowserUtility& browser) {
    NamedEvents& events = app.GetPlatform().events;
    services_.store = app.ProfileStore();
    services_.backupDatabasePath = app.DataFolderPath() + app.ExecutableTitle() + ".db";
    services_.backupExecuting = &app.BackupExecutingForSave();
    services_.detectFileExecuting = &app.DetectFileExecutingForSave();
    services_.signalEvent = [&events](std::string_view name) {
        if (EventHandle handle = events.Open(std::string(name))) handle->Set();
    };
    services_.login = [](const ui::LoginRequest& r) {
        CHttpUtility http;
        return http.IsSuccessAuthorize(r.address, r.userName, r.password, r.httpPort, r.httpsPort,
                                       r.useSsl);
    };
    // Owns what it uses: a search still running when the program quits outlives this object.
    services_.search = [](std::vector<CSearchAgentResponse>& found, std::uint16_t port) {
        SystemNetworkAdapterSource adapters;
        CSearchAgentUtility search(adapters);
        return search.SearchServers(found, port);
    };
    services_.openBrowser = [&browser](const std::string& url, const std::string& user,
                                       const std::string& base64Password) {
        std::string page;
        browser.StartupBrowser(page, url, user, base64Password);
    };
    services_.chooseSourceFolder = [](QWidget* parent, const std::string& start) {
        return QFileDialog::getExistingDirectory(parent, QString(), QString::fromStdString(start))
            .toStdString();
    };
    // The device share with the address and credentials typed on the common page, saved or
    // not; copies are never made here, so no copier processes.
    services_.shareFolders =
        [](const CCommonSetting& common) -> std::shared_ptr<ui::ShareFolderSource> {
        ShareOptions options = ShareOptionsFromEnvironment();
        options.copierExecutable.clear();
        return std::make_shared<ui::DeviceShareFolderSource>(
            MakeDeviceShare(options), common.ipv4Address, common.userName, common.userPassword);
    };
    services_.chooseDestinationFolder = [this](QWidget* parent, const std::string&,
                                               const CCommonSetting& common) {
        if (common.ipv4Address.empty()) return std::string();
        return ui::BrowseShareFolder(parent, services_.shareFolders(common), common.ipv4Address,
                                     strings_, messages_);
    };
    services_.folderExists = [](const std::string& path) {
        std::error_code error;
        return std::filesystem::is_directory(path, error);
    };
    services_.isNetworkPath = IsOnNetworkFileSystem;
    services_.desktopFolder = DesktopFolderPath();
    services_.strings = &strings_;
    services_.messages = &messages_;
}

QDialog* CSettingsWiring::MakeWindow() { return new ui::CSettingDlg(services_); }

}  // namespace tessarine
