// A DeviceShare that passes every call to another share but fails a chosen call of a chosen
// operation (the N-th from now, or every call from the N-th on), as an unreliable device would.
// It records every call with its outcome, so a test can check what was asked of the device.
#pragma once

#include <array>
#include <cerrno>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

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
    kReserveName,
    kCount
};

// One call as the share saw it.
struct ShareCall {
    ShareOp op = ShareOp::kConnect;
    std::string path;   // the device path (the host for Connect, the old name for Rename)
    std::string other;  // the local file of a copy, the new name of a rename; else ""
    int error = 0;      // what the call came to, an injected failure included
};

class FaultInjectingShare : public DeviceShare {
public:
    explicit FaultInjectingShare(DeviceShare& inner) : inner_(inner) {}
    ~FaultInjectingShare() override;

    // Called with the share when it goes away (a run drops its share at its end), so a test can
    // read the calls of a share it does not own.
    void SetFinalObserver(std::function<void(const FaultInjectingShare&)> observer);

    // The n-th call of `op` from now (1 = the next) fails with `error` without reaching the
    // inner share; later calls pass again. n = 0 removes the fault.
    void FailNth(ShareOp op, int n, int error = EIO);
    // Every call of `op` from the n-th from now on fails (a share that went away).
    void FailFrom(ShareOp op, int n, int error = EIO);
    // Every operation fails from now on with `error`, as when the device vanishes.
    void FailEverything(int error = EHOSTDOWN);
    // Removes all faults; call counts and the record are kept.
    void Heal();

    // Calls of `op` so far, failed ones included.
    int Calls(ShareOp op) const;
    // Every call so far, in order (Cancel is not recorded).
    std::vector<ShareCall> Record() const;
    // The paths of the calls of `op` so far, in order.
    std::vector<std::string> PathsOf(ShareOp op) const;

    int Connect(const std::string& host, const std::string& user,
                const std::string& password) override;
    void Cancel(const std::string& host) override;
    void SetCopySender(const std::string& sender) override {
        DeviceShare::SetCopySender(sender);
        inner_.SetCopySender(sender);
    }
    IoStatus CreateFolder(const std::string& path) override;
    IoStatus Exists(const std::string& path) override;
    IoResult<bool> IsFolder(const std::string& path) override;
    IoResult<bool> IsReadOnly(const std::string& path) override;
    IoStatus ClearReadOnly(const std::string& path) override;
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
    struct Fault {
        int remaining = 0;    // calls until the failing one; 0 = no fault
        bool sticky = false;  // keep failing after the first failure
        int error = EIO;
    };
    static constexpr size_t kOps = static_cast<size_t>(ShareOp::kCount);

    // Counts the call; the error to fail it with, or 0 when it goes to the inner share.
    int InjectedError(ShareOp op);
    // Records a finished call and hands its outcome on.
    int Note(ShareOp op, const std::string& path, const std::string& other, int error);
    template <typename Call>
    auto Pass(ShareOp op, const std::string& path, const std::string& other, Call call)
        -> decltype(call());

    DeviceShare& inner_;
    mutable std::mutex mutex_;
    std::array<Fault, kOps> faults_{};
    std::array<int, kOps> calls_{};
    int failEverything_ = 0;
    std::vector<ShareCall> record_;
    std::function<void(const FaultInjectingShare&)> finalObserver_;
};

}  // namespace tessarine::testing
