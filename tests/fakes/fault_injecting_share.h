// A DeviceShare that passes every call to another share but fails a chosen call of a chosen
// operation (the N-th from now, or every call from the N-th on), as an unreliable device would.
#pragma once

#include <array>
#include <cerrno>
#include <mutex>

#include "platform/device_share.h"

namespace tessarine::testing {

enum class ShareOp {
    kConnect,
    kCreateFolder,
    kExists,
    kIsFolder,
    kIsReadOnly,
    kClearReadOnly,
    kCopyToShare,
    kCopyFromShare,
    kDeleteFile,
    kRemoveFolder,
    kRename,
    kList,
    kCount
};

class FaultInjectingShare : public DeviceShare {
public:
    explicit FaultInjectingShare(DeviceShare& inner) : inner_(inner) {}

    // The n-th call of `op` from now (1 = the next) fails with `error` without reaching the
    // inner share; later calls pass again. n = 0 removes the fault.
    void FailNth(ShareOp op, int n, int error = EIO);
    // Every call of `op` from the n-th from now on fails (a share that went away).
    void FailFrom(ShareOp op, int n, int error = EIO);
    // Every operation fails from now on with `error`, as when the device vanishes.
    void FailEverything(int error = EHOSTDOWN);
    // Removes all faults; call counts are kept.
    void Heal();

    // Calls of `op` so far, failed ones included.
    int Calls(ShareOp op) const;

    int Connect(const std::string& host, const std::string& user,
                const std::string& password) override;
    void Cancel(const std::string& host) override;
    bool CreateFolder(const std::string& path) override;
    bool Exists(const std::string& path) override;
    bool IsFolder(const std::string& path) override;
    bool IsReadOnly(const std::string& path) override;
    bool ClearReadOnly(const std::string& path) override;
    bool CopyToShare(const std::string& localPath, const std::string& path,
                     const std::atomic<int>* cancel) override;
    bool CopyFromShare(const std::string& path, const std::string& localPath,
                       const std::atomic<int>* cancel) override;
    bool DeleteFile(const std::string& path) override;
    bool RemoveFolder(const std::string& path) override;
    bool Rename(const std::string& path, const std::string& newPath) override;
    bool List(const std::string& folder, const std::string& wildcard,
              std::vector<ShareEntry>& entries) override;
    int LastError() const override;

private:
    struct Fault {
        int remaining = 0;    // calls until the failing one; 0 = no fault
        bool sticky = false;  // keep failing after the first failure
        int error = EIO;
    };
    static constexpr size_t kOps = static_cast<size_t>(ShareOp::kCount);

    // Counts the call; true (with the error noted) when it must fail.
    bool ShouldFail(ShareOp op);

    DeviceShare& inner_;
    mutable std::mutex mutex_;
    std::array<Fault, kOps> faults_{};
    std::array<int, kOps> calls_{};
    int failEverything_ = 0;
    int injectedError_ = 0;  // error of the last injected failure, until a call passes
};

}  // namespace tessarine::testing
