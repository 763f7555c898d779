#include "ui/share_folder_source.h"

#include "backup/failure_reason.h"
#include "base/app_log.h"
#include "platform/unc_path.h"
#include "ui/strings/lrc_reader_wrapper.h"
#include "ui/strings/string_ids.h"

namespace tessarine::ui {

DeviceShareFolderSource::DeviceShareFolderSource(std::unique_ptr<DeviceShare> share,
                                                 std::string host, std::string user,
                                                 std::string password)
    : share_(std::move(share)),
      host_(std::move(host)),
      user_(std::move(user)),
      password_(std::move(password)) {}

int DeviceShareFolderSource::EnsureConnected() {
    if (connected_) return 0;
    const int connect = share_->Connect(host_, user_, password_);
    if (connect != kShareConnected && connect != kShareCredentialConflict) {
        LOG_ERROR("Share Folder Browse Connect Error. host=" + host_ +
                  " error=" + std::to_string(connect));
        return connect == 0 ? EIO : connect;
    }
    connected_ = true;
    return 0;
}

ShareFolderOutcome DeviceShareFolderSource::ProbeFolder(const std::string& folder) {
    std::lock_guard lock(mutex_);
    DevicePath path;
    if (!ParseDevicePath(folder, path) || path.share.empty()) return {true, EINVAL};
    if (const int connect = EnsureConnected(); connect != 0) return {false, connect};
    const IoResult<bool> isFolder = share_->IsFolder(ToUncPath(path));
    if (!isFolder) {
        if (IsConnectionLoss(isFolder.error)) connected_ = false;
        return {true, isFolder.error};
    }
    return {true, isFolder.value ? 0 : ENOTDIR};
}

ShareFolderOutcome DeviceShareFolderSource::CreateFolder(const std::string& folder) {
    std::lock_guard lock(mutex_);
    DevicePath path;
    if (!ParseDevicePath(folder, path) || path.share.empty() || path.parts.empty())
        return {true, EINVAL};
    if (const int connect = EnsureConnected(); connect != 0) return {false, connect};
    DevicePath level = path;
    for (std::size_t depth = 1; depth <= path.parts.size(); ++depth) {
        level.parts.assign(path.parts.begin(), path.parts.begin() + depth);
        const std::string unc = ToUncPath(level);
        const IoResult<bool> isFolder = share_->IsFolder(unc);
        if (isFolder && isFolder.value && depth < path.parts.size()) continue;
        int error = EEXIST;  // the folder is there already, or a file holds the name
        if (!isFolder)
            error = isFolder.error == ENOENT ? share_->CreateFolder(unc).error : isFolder.error;
        if (error != 0) {
            LOG_ERROR("Share Folder Create Error. folder=" + unc +
                      " error=" + std::to_string(error));
            if (IsConnectionLoss(error)) connected_ = false;
            return {true, error};
        }
        LOG_NOTICE("Share Folder Created. folder=" + unc);
    }
    return {};
}

IoResult<std::vector<std::string>> DeviceShareFolderSource::ListFolders(const std::string& folder) {
    std::lock_guard lock(mutex_);
    IoResult<std::vector<std::string>> result;
    DevicePath path;
    if (!ParseDevicePath(folder, path)) {
        result.error = EINVAL;
        return result;
    }
    if (const int connect = EnsureConnected(); connect != 0) {
        result.error = connect;
        return result;
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

bool IsValidNewFolderName(const std::string& name) {
    if (name.empty() || name == "." || name == ".." || name.size() > 255) return false;
    for (unsigned char c : name) {
        if (c < 0x20 || c == 0x7F) return false;
        if (std::string_view("\\/:*?\"<>|").find(static_cast<char>(c)) != std::string::npos)
            return false;
    }
    return name.back() != ' ' && name.back() != '.';
}

std::string DescribeShareFolderOutcome(const ShareFolderOutcome& outcome,
                                       const CLrcReaderWrapper& strings) {
    if (!outcome.reached) return strings.Text(kStrDeviceNotReached);
    if (outcome.error == EEXIST) return strings.Text(kStrFolderNameTaken);
    return strings.Text(kStrFailureReasonFirst +
                        static_cast<unsigned>(ClassifyCreateFolderError(outcome.error)));
}

}  // namespace tessarine::ui
