// The device share as a folder on the local disk: "\\<any host>\<share>\rest" is
// <root>/<share>/rest. Used when the share is already mounted, by the tests and by the demo.
// Read-only is the owner write bit. With SetFoldCase it compares names as the device does:
// letter case folded, the case a name was created with kept.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "platform/device_share.h"

namespace tessarine {

class LocalShare : public DeviceShare {
public:
    explicit LocalShare(std::string root);

    // From now on Connect returns `result` instead of looking at the root folder (for tests of
    // unreachable devices or of kShareCredentialConflict); nullopt restores the normal check.
    void SetConnectResult(std::optional<int> result) { connectResult_ = result; }

    // Names that differ only in letter case are one name from now on, as on the device; a
    // copy over an existing file whose name differs in case takes the new name.
    void SetFoldCase(bool fold) { foldCase_ = fold; }

    // The local path a device path stands for; EINVAL for a malformed path or one without a
    // share name. When folding case, every component that exists under another case is taken
    // as it exists.
    IoStatus MapPath(const std::string& path, std::string& localPath) const;

    // Sets or clears the read-only attribute (the owner write bit).
    IoStatus SetReadOnly(const std::string& path, bool readOnly);

    const std::string& Root() const { return root_; }

    // 0 when the root folder exists, else its stat error (ENOENT, ENOTDIR...).
    int Connect(const std::string& host, const std::string& user,
                const std::string& password) override;
    void Cancel(const std::string& host) override;

    IoStatus CreateFolder(const std::string& path) override;
    IoStatus Exists(const std::string& path) override;
    IoResult<bool> IsFolder(const std::string& path) override;
    IoResult<bool> IsReadOnly(const std::string& path) override;
    IoStatus ClearReadOnly(const std::string& path) override;

    // Called after every block a copy moves, with the bytes moved so far (on the copying
    // thread; it must not call back into this share).
    void SetBlockObserver(std::function<void(std::uint64_t)> observer) {
        blockObserver_ = std::move(observer);
    }

    IoStatus CopyToShare(const std::string& localPath, const std::string& path,
                         const std::atomic<int>* cancel) override;
    IoStatus CopyFromShare(const std::string& path, const std::string& localPath,
                           const std::atomic<int>* cancel) override;

    IoStatus ReserveName(const std::string& path) override;
    IoStatus DeleteFile(const std::string& path) override;
    IoStatus RemoveFolder(const std::string& path) override;
    IoStatus Rename(const std::string& path, const std::string& newPath) override;

    IoResult<std::vector<ShareEntry>> List(const std::string& folder,
                                           const std::string& wildcard) override;

private:
    // The name in `folder` that `name` stands for under the case rule: `name` itself when it
    // exists or nothing matches it.
    std::string ResolveName(const std::string& folder, const std::string& name) const;
    // Maps the folder of `path` and gives the final name as written (not resolved).
    IoStatus MapParent(const std::string& path, std::string& folder, std::string& name) const;

    std::string root_;
    std::optional<int> connectResult_;
    bool foldCase_ = false;
    std::function<void(std::uint64_t)> blockObserver_;
};

}  // namespace tessarine
