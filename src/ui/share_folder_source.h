// The folders of the device share as the destination browser sees them. The share is not
// mounted on this PC: the browser lists it through the same access the backup uses.
#pragma once
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "platform/device_share.h"
#include "platform/io_result.h"

namespace tessarine::ui {

class ShareFolderSource {
public:
    virtual ~ShareFolderSource() = default;
    // The folder names in `folder` ("\\host\a\b"; "\\host\" names the host's shares), sorted
    // by name, or the errno value the listing failed with. Called off the UI thread, one call
    // at a time.
    virtual IoResult<std::vector<std::string>> ListFolders(const std::string& folder) = 0;
};

// The share the program works in; what the host root shows when the host does not list its
// shares.
inline constexpr char kDeviceShareName[] = "zereda";

// Lists through a DeviceShare, connecting with the given credentials before the first
// listing (and again after a failed connection).
class DeviceShareFolderSource : public ShareFolderSource {
public:
    DeviceShareFolderSource(std::unique_ptr<DeviceShare> share, std::string host, std::string user,
                            std::string password);
    IoResult<std::vector<std::string>> ListFolders(const std::string& folder) override;

private:
    std::mutex mutex_;
    std::unique_ptr<DeviceShare> share_;
    std::string host_;
    std::string user_;
    std::string password_;
    bool connected_ = false;
};

}  // namespace tessarine::ui
