// What the settings window works with: the settings file, the backup database, the workers'
// running flags and events, and the device calls. The tray fills it with the real ones; tests
// with fakes and a simulated device.
#pragma once
#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "network/search_agent_response.h"

class QWidget;

namespace tessarine {
class CCommonSetting;
class CProfileStore;
}  // namespace tessarine

namespace tessarine::ui {
class CLrcReaderWrapper;
class MessagePresenter;
class ShareFolderSource;

struct LoginRequest {
    std::string address;
    std::string userName;
    std::string password;
    std::uint16_t httpPort = 80;
    std::uint16_t httpsPort = 443;
    bool useSsl = false;
};

struct SettingsServices {
    CProfileStore* store = nullptr;
    std::string backupDatabasePath;
    // Set while a backup or a detected-file forwarding runs.
    std::atomic<int>* backupExecuting = nullptr;
    std::atomic<int>* detectFileExecuting = nullptr;
    std::function<void(std::string_view eventName)> signalEvent;
    // CHttpUtility::IsSuccessAuthorize: 0, -2 refused, other failure. Called off the UI thread.
    std::function<int(const LoginRequest&)> login;
    // CSearchAgentUtility::SearchServers. Called off the UI thread.
    std::function<int(std::vector<CSearchAgentResponse>&, std::uint16_t port)> search;
    // Opens a device page logged in (user, stored Base64 password).
    std::function<void(const std::string& url, const std::string& user,
                       const std::string& base64Password)>
        openBrowser;
    // A local folder chooser and the device share's folder browser (on the device and with the
    // credentials of `common`, as typed on the common page); "" when cancelled.
    std::function<std::string(QWidget* parent, const std::string& start)> chooseSourceFolder;
    std::function<std::string(QWidget* parent, const std::string& start,
                              const CCommonSetting& common)>
        chooseDestinationFolder;
    // The device share's folders with the address and credentials of `common`: what the
    // backup page checks (and creates) a new pair's destination through; null: no check.
    std::function<std::shared_ptr<ShareFolderSource>(const CCommonSetting& common)> shareFolders;
    std::function<bool(const std::string& path)> folderExists;
    std::function<bool(const std::string& path)> isNetworkPath;
    // Opens the restore window with stored pair `pair` chosen (-1: none in particular).
    std::function<void(int pair)> openRestore;
    // Where the desktop link goes ("" leaves it out).
    std::string desktopFolder;
    const CLrcReaderWrapper* strings = nullptr;
    MessagePresenter* messages = nullptr;
};

}  // namespace tessarine::ui
