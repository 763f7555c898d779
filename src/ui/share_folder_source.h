// The folders of the device share as the destination browser sees them. The share is not
// mounted on this PC: the browser lists it through the same access the backup uses.
#pragma once
#include <cerrno>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "platform/device_share.h"
#include "platform/io_result.h"

namespace tessarine::ui {

class CLrcReaderWrapper;

// What a look at, or the making of, a folder on the share came to.
struct ShareFolderOutcome {
    bool reached = true;  // false: no connection to the device; `error` is the connection's
    int error = 0;        // 0, or the errno value the call failed with
    bool Ok() const { return reached && error == 0; }
    // The folder (or one above it) is not there.
    bool Missing() const { return reached && (error == ENOENT || error == ENOTDIR); }
};

class ShareFolderSource {
public:
    virtual ~ShareFolderSource() = default;
    // The folder names in `folder` ("\\host\a\b"; "\\host\" names the host's shares), sorted
    // by name, or the errno value the listing failed with. Called off the UI thread, one call
    // at a time.
    virtual IoResult<std::vector<std::string>> ListFolders(const std::string& folder) = 0;
    // Whether `folder` ("\\host\share\a\b") is a folder on the share: error 0, or ENOENT /
    // ENOTDIR when it (or a folder above it) is missing, or why the look failed. Off the UI
    // thread.
    virtual ShareFolderOutcome ProbeFolder(const std::string& folder) = 0;
    // Makes `folder` and each missing folder above it below the share; EEXIST when `folder`
    // itself is there already. Off the UI thread.
    virtual ShareFolderOutcome CreateFolder(const std::string& folder) = 0;
};

// True for a name a new folder on the share may take: not empty, not "." or "..", at most 255
// bytes, no control character, none of \ / : * ? " < > |, and no trailing blank or dot (the
// device's file system drops those).
bool IsValidNewFolderName(const std::string& name);

// The user's text for why a look at or the making of a folder failed.
std::string DescribeShareFolderOutcome(const ShareFolderOutcome& outcome,
                                       const CLrcReaderWrapper& strings);

// The share the program works in (kDeviceShareName, platform/device_share.h) is what the host
// root shows when the host does not list its shares.

// Lists through a DeviceShare, connecting with the given credentials before the first
// listing (and again after a failed connection).
class DeviceShareFolderSource : public ShareFolderSource {
public:
    DeviceShareFolderSource(std::unique_ptr<DeviceShare> share, std::string host, std::string user,
                            std::string password);
    IoResult<std::vector<std::string>> ListFolders(const std::string& folder) override;
    ShareFolderOutcome ProbeFolder(const std::string& folder) override;
    ShareFolderOutcome CreateFolder(const std::string& folder) override;

private:
    // Connects when not connected; 0, or the connection's error. Under mutex_.
    int EnsureConnected();
    std::mutex mutex_;
    std::unique_ptr<DeviceShare> share_;
    std::string host_;
    std::string user_;
    std::string password_;
    bool connected_ = false;
};

}  // namespace tessarine::ui
