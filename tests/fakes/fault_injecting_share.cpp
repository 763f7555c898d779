#include "fakes/fault_injecting_share.h"

namespace tessarine::testing {

void FaultInjectingShare::FailNth(ShareOp op, int n, int error) {
    std::lock_guard lock(mutex_);
    faults_[static_cast<size_t>(op)] = Fault{n, false, error};
}

void FaultInjectingShare::FailFrom(ShareOp op, int n, int error) {
    std::lock_guard lock(mutex_);
    faults_[static_cast<size_t>(op)] = Fault{n, true, error};
}

void FaultInjectingShare::FailEverything(int error) {
    std::lock_guard lock(mutex_);
    failEverything_ = error;
}

void FaultInjectingShare::Heal() {
    std::lock_guard lock(mutex_);
    faults_.fill(Fault{});
    failEverything_ = 0;
}

int FaultInjectingShare::Calls(ShareOp op) const {
    std::lock_guard lock(mutex_);
    return calls_[static_cast<size_t>(op)];
}

bool FaultInjectingShare::ShouldFail(ShareOp op) {
    std::lock_guard lock(mutex_);
    const auto index = static_cast<size_t>(op);
    ++calls_[index];
    if (failEverything_ != 0) {
        injectedError_ = failEverything_;
        return true;
    }
    Fault& fault = faults_[index];
    if (fault.remaining > 0 && --fault.remaining == 0) {
        injectedError_ = fault.error;
        if (fault.sticky) fault.remaining = 1;
        return true;
    }
    injectedError_ = 0;
    return false;
}

int FaultInjectingShare::Connect(const std::string& host, const std::string& user,
                                 const std::string& password) {
    if (ShouldFail(ShareOp::kConnect)) return LastError();
    return inner_.Connect(host, user, password);
}

void FaultInjectingShare::Cancel(const std::string& host) { inner_.Cancel(host); }

bool FaultInjectingShare::CreateFolder(const std::string& path) {
    return !ShouldFail(ShareOp::kCreateFolder) && inner_.CreateFolder(path);
}

bool FaultInjectingShare::Exists(const std::string& path) {
    return !ShouldFail(ShareOp::kExists) && inner_.Exists(path);
}

bool FaultInjectingShare::IsFolder(const std::string& path) {
    return !ShouldFail(ShareOp::kIsFolder) && inner_.IsFolder(path);
}

bool FaultInjectingShare::IsReadOnly(const std::string& path) {
    return !ShouldFail(ShareOp::kIsReadOnly) && inner_.IsReadOnly(path);
}

bool FaultInjectingShare::ClearReadOnly(const std::string& path) {
    return !ShouldFail(ShareOp::kClearReadOnly) && inner_.ClearReadOnly(path);
}

bool FaultInjectingShare::CopyToShare(const std::string& localPath, const std::string& path,
                                      const std::atomic<int>* cancel) {
    return !ShouldFail(ShareOp::kCopyToShare) && inner_.CopyToShare(localPath, path, cancel);
}

bool FaultInjectingShare::CopyFromShare(const std::string& path, const std::string& localPath,
                                        const std::atomic<int>* cancel) {
    return !ShouldFail(ShareOp::kCopyFromShare) && inner_.CopyFromShare(path, localPath, cancel);
}

bool FaultInjectingShare::DeleteFile(const std::string& path) {
    return !ShouldFail(ShareOp::kDeleteFile) && inner_.DeleteFile(path);
}

bool FaultInjectingShare::RemoveFolder(const std::string& path) {
    return !ShouldFail(ShareOp::kRemoveFolder) && inner_.RemoveFolder(path);
}

bool FaultInjectingShare::Rename(const std::string& path, const std::string& newPath) {
    return !ShouldFail(ShareOp::kRename) && inner_.Rename(path, newPath);
}

bool FaultInjectingShare::List(const std::string& folder, const std::string& wildcard,
                               std::vector<ShareEntry>& entries) {
    if (ShouldFail(ShareOp::kList)) {
        entries.clear();
        return false;
    }
    return inner_.List(folder, wildcard, entries);
}

int FaultInjectingShare::LastError() const {
    std::lock_guard lock(mutex_);
    return injectedError_ != 0 ? injectedError_ : inner_.LastError();
}

}  // namespace tessarine::testing
