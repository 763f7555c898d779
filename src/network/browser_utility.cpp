#include "network/browser_utility.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>

#include "base/app_log.h"
#include "base/string_utility.h"

extern char** environ;

namespace tessarine {

namespace {

constexpr char kTemplate[] =
    "<html>\t\t\t\t\t\t\t\t"
    "<body onLoad=\"document.pform.submit();window.focus();\">\t\t\t\t\t\t\t\t\t"
    "<form name = \"pform\" action = \"{0}\" method = \"post\">\t\t\t\t\t\t\t\t\t"
    "<input type = hidden name = \"{1}\" value = \"{2}\">\t\t\t\t\t\t\t\t\t"
    "<input type = hidden name = \"{3}\" value = \"{4}\">\t\t\t\t\t\t\t\t\t"
    "</form>\t\t\t\t\t\t\t\t"
    "</body>\t\t\t\t\t\t\t"
    "</html>";

std::string EscapeAttribute(const std::string& text) {
    std::string out;
    for (const char c : text) {
        switch (c) {
            case '&':
                out += "&amp;";
                break;
            case '"':
                out += "&quot;";
                break;
            case '\'':
                out += "&#39;";
                break;
            case '<':
                out += "&lt;";
                break;
            case '>':
                out += "&gt;";
                break;
            default:
                out.push_back(c);
        }
    }
    return out;
}

void ReplaceAll(std::string& text, const std::string& from, const std::string& to) {
    for (std::size_t at = text.find(from); at != std::string::npos;
         at = text.find(from, at + to.size()))
        text.replace(at, from.size(), to);
}

bool WriteAll(int fd, const std::string& bytes) {
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = write(fd, bytes.data() + done, bytes.size() - done);
        if (n < 0) return false;
        done += static_cast<std::size_t>(n);
    }
    return true;
}

}  // namespace

void XdgBrowserOpener::Open(const std::string& filePath) {
    // The shell puts xdg-open in the background and ends at once, so nothing is left to reap.
    const char* argv[] = {"/bin/sh",        "-c",   "xdg-open \"$1\" >/dev/null 2>&1 &", "sh",
                          filePath.c_str(), nullptr};
    pid_t pid = 0;
    if (posix_spawn(&pid, "/bin/sh", nullptr, nullptr, const_cast<char**>(argv), environ) != 0) {
        LOG_ERROR("Start Browser Error");
        return;
    }
    int status = 0;
    waitpid(pid, &status, 0);
}

CBrowserUtility::CBrowserUtility(BrowserOpener& opener, std::string tempFolder,
                                 std::chrono::milliseconds deleteAfter)
    : opener_(opener), tempFolder_(std::move(tempFolder)), deleteAfter_(deleteAfter) {
    if (tempFolder_.empty()) {
        const char* tmp = std::getenv("TMPDIR");
        tempFolder_ = tmp != nullptr && *tmp == '/' ? tmp : "/tmp";
    }
    deleter_ = std::thread(&CBrowserUtility::DeleteWhenDue, this);
}

CBrowserUtility::~CBrowserUtility() {
    {
        std::lock_guard lock(mutex_);
        stopping_ = true;
    }
    wake_.notify_all();
    deleter_.join();
    DeletePage();
}

std::string CBrowserUtility::MakePageText(const std::string& url, const std::string& user,
                                          const std::string& password) {
    std::string page = kTemplate;
    ReplaceAll(page, "{0}", EscapeAttribute(url));
    ReplaceAll(page, "{1}", "name");
    ReplaceAll(page, "{2}", EscapeAttribute(user));
    ReplaceAll(page, "{3}", "password");
    ReplaceAll(page, "{4}", EscapeAttribute(password));
    return page;
}

int CBrowserUtility::CreateTemporaryHtml(std::string& pagePath, const std::string& url,
                                         const std::string& user, const std::string& password) {
    LOG_METHOD();
    std::lock_guard lock(mutex_);
    if (folder_.empty()) {
        std::string pattern = tempFolder_ + "/tessarine-browser.XXXXXX";
        if (mkdtemp(pattern.data()) == nullptr) {  // mode 0700
            LOG_ERROR("Get Temporary Directory Path Error");
            return -1;
        }
        folder_ = pattern;
    }
    const std::string path = folder_ + "/" + kPageName;
    const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd < 0) {
        LOG_ERROR("Create Temporary Html Error");
        return -1;
    }
    fchmod(fd, 0600);
    std::string bytes = "\xFF\xFE";
    for (const char16_t unit : Utf8ToWide(MakePageText(url, user, password))) {
        bytes.push_back(static_cast<char>(unit & 0xFF));
        bytes.push_back(static_cast<char>(unit >> 8));
    }
    if (!WriteAll(fd, bytes)) {
        LOG_ERROR("Write HTML Error");
        close(fd);
        return -1;
    }
    if (close(fd) != 0) {
        LOG_ERROR("Close File Handle Error");
        return -1;
    }
    pagePath = path;
    return 0;
}

int CBrowserUtility::StartupBrowser(std::string& pagePath, const std::string& url,
                                    const std::string& user, const std::string& password) {
    LOG_METHOD();
    LOG_TRACE("Param:" + url + ", " + user + ", " + kMaskedPassword);
    const int result = CreateTemporaryHtml(pagePath, url, user, password);
    if (result != 0) {
        LOG_ERROR("Create Temporary Html Error");
        return result;
    }
    opener_.Open(pagePath);
    {
        std::lock_guard lock(mutex_);
        deleteAt_ = std::chrono::steady_clock::now() + deleteAfter_;
        pagePending_ = true;
    }
    wake_.notify_all();
    return 0;
}

void CBrowserUtility::DeletePage() {
    std::lock_guard lock(mutex_);
    if (folder_.empty()) return;
    unlink((folder_ + "/" + kPageName).c_str());
    rmdir(folder_.c_str());
    folder_.clear();
    pagePending_ = false;
}

void CBrowserUtility::DeleteWhenDue() {
    std::unique_lock lock(mutex_);
    while (!stopping_) {
        if (!pagePending_) {
            wake_.wait(lock);
            continue;
        }
        if (wake_.wait_until(lock, deleteAt_) == std::cv_status::timeout &&
            std::chrono::steady_clock::now() >= deleteAt_ && pagePending_) {
            lock.unlock();
            DeletePage();
            lock.lock();
        }
    }
}

}  // namespace tessarine
