// Opens a device web page in the default browser already logged in: writes a small page that
// posts the device's login form by itself and has the desktop open it. The page holds the
// password: it lives in a private folder (0700, file 0600) and is deleted once the browser has
// had time to load it, and when this object goes away.
#pragma once

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <string>
#include <thread>

namespace tessarine {

// Hands a file to the desktop's default handler.
class BrowserOpener {
public:
    virtual ~BrowserOpener() = default;
    virtual void Open(const std::string& filePath) = 0;
};

// xdg-open, started in the background; its result is not waited for.
class XdgBrowserOpener : public BrowserOpener {
public:
    void Open(const std::string& filePath) override;
};

class CBrowserUtility {
public:
    static constexpr char kPageName[] = "start_browser_temporary.html";

    // `tempFolder` "" uses $TMPDIR or /tmp.
    CBrowserUtility(BrowserOpener& opener, std::string tempFolder = "",
                    std::chrono::milliseconds deleteAfter = std::chrono::seconds(60));
    ~CBrowserUtility();
    CBrowserUtility(const CBrowserUtility&) = delete;
    CBrowserUtility& operator=(const CBrowserUtility&) = delete;

    // Writes the page and opens it; 0 or -1. `pagePath` receives the page's path.
    int StartupBrowser(std::string& pagePath, const std::string& url, const std::string& user,
                       const std::string& password);
    // Writes the page (UTF-16LE with a byte-order mark); 0 or -1.
    int CreateTemporaryHtml(std::string& pagePath, const std::string& url, const std::string& user,
                            const std::string& password);
    // The page text: the template with the values escaped as HTML attribute values.
    static std::string MakePageText(const std::string& url, const std::string& user,
                                    const std::string& password);
    // Deletes the page (and its folder) now.
    void DeletePage();

private:
    void DeleteWhenDue();

    BrowserOpener& opener_;
    std::string tempFolder_;
    std::chrono::milliseconds deleteAfter_;
    std::string folder_;  // private folder of the page; "" until the first page

    std::mutex mutex_;
    std::condition_variable wake_;
    std::chrono::steady_clock::time_point deleteAt_;  // guarded by mutex_
    bool pagePending_ = false;                        // guarded by mutex_
    bool stopping_ = false;                           // guarded by mutex_
    std::thread deleter_;
};

}  // namespace tessarine
