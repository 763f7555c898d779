#include "ui/share_folder_source.h"

#include "base/app_log.h"
#include "platform/unc_path.h"

namespace tessarine::ui {

DeviceShareFolderSource::DeviceShareFolderSource(std::unique_ptr<DeviceShare> share,
                                                 std::string host, std::string user,
                                                 std::string password)
    : share_(std::move(share)),
      host_(std::move(host)),
      user_(std::move(user)),
      password_(std::move(password)) {}

IoResult<std::vector<std::string>> DeviceShareFolderSource::ListFolders(const std::string& folder) {
    std::lock_guard lock(mutex_);
    IoResult<std::vector<std::string>> result;
    DevicePath path;
    if (!ParseDevicePath(folder, path)) {
        result.error = EINVAL;
        return result;
    }
    if (!connected_) {
        const int connect = share_->Connect(host_, user_, password_);
        if (connect != kShareConnected && connect != kShareCredentialConflict) {
            LOG_ERROR("Share Folder Browse Connect Error. host=" + host_ +
                      " error=" + std::to_string(connect));
            result.error = connect;
            return result;
        }
        connected_ = true;
    }
    // Neither share access enumerates the host's shares (over SMB that takes the server's RPC
    // service, which a device need not run): the root shows the one share the program uses.
    if (path.share.empty()) {
        result.value = {kDeviceShareName};
        return result;
    }
    auto listed = share_->List(folder, "*");
    if (!listed) {
        LOG_ERROR("Share Folder Browse List Error. folder=" + folder +
                  " error=" + std::to_string(listed.error));
        if (IsConnectionLoss(listed.error)) connected_ = false;
        result.error = listed.error;
        return result;
    }
    for (const ShareEntry& entry : listed.value)
        if (entry.isFolder) result.value.push_back(entry.name);
    return result;
}

}  // namespace tessarine::ui
