#include "fakes/fault_injecting_share.h"

#include <utility>

namespace tessarine::testing {

FaultInjectingShare::~FaultInjectingShare() {
    if (finalObserver_) finalObserver_(*this);
}

void FaultInjectingShare::SetFinalObserver(
    std::function<void(const FaultInjectingShare&)> observer) {
    finalObserver_ = std::move(observer);
}

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

std::vector<ShareCall> FaultInjectingShare::Record() const {
    std::lock_guard lock(mutex_);
    return record_;
}

std::vector<std::string> FaultInjectingShare::PathsOf(ShareOp op) const {
    std::lock_guard lock(mutex_);
    std::vector<std::string> paths;
    for (const ShareCall& call : record_)
        if (call.op == op) paths.push_back(call.path);
    return paths;
}

int FaultInjectingShare::InjectedError(ShareOp op) {
    std::lock_guard lock(mutex_);
    const auto index = static_cast<size_t>(op);
    ++calls_[index];
    if (failEverything_ != 0) return failEverything_;
    Fault& fault = faults_[index];
    if (fault.remaining > 0 && --fault.remaining == 0) {
        if (fault.sticky) fault.remaining = 1;
        return fault.error;
    }
    return 0;
}

int FaultInjectingShare::Note(ShareOp op, const std::string& path, const std::string& other,
                              int error) {
    std::lock_guard lock(mutex_);
    record_.push_back(ShareCall{op, path, other, error});
    return error;
}

template <typename Call>
auto FaultInjectingShare::Pass(ShareOp op, const std::string& path, const std::string& other,
                               Call call) -> decltype(call()) {
    decltype(call()) result{};
    if (const int injected = InjectedError(op); injected != 0)
        result.error = injected;
    else
        result = call();
    Note(op, path, other, result.error);
    return result;
}

int FaultInjectingShare::Connect(const std::string& host, const std::string& user,
                                 const std::string& password) {
    const int injected = InjectedError(ShareOp::kConnect);
    return Note(ShareOp::kConnect, host, "",
                injected != 0 ? injected : inner_.Connect(host, user, password));
}

void FaultInjectingShare::Cancel(const std::string& host) { inner_.Cancel(host); }

IoStatus FaultInjectingShare::ReserveName(const std::string& path) {
    return Pass(ShareOp::kReserveName, path, "", [&] { return inner_.ReserveName(path); });
}

IoStatus FaultInjectingShare::CreateFolder(const std::string& path) {
    return Pass(ShareOp::kCreateFolder, path, "", [&] { return inner_.CreateFolder(path); });
}

IoStatus FaultInjectingShare::Exists(const std::string& path) {
    return Pass(ShareOp::kExists, path, "", [&] { return inner_.Exists(path); });
}

IoResult<bool> FaultInjectingShare::IsFolder(const std::string& path) {
    return Pass(ShareOp::kIsFolder, path, "", [&] { return inner_.IsFolder(path); });
}

IoResult<bool> FaultInjectingShare::IsReadOnly(const std::string& path) {
    return Pass(ShareOp::kIsReadOnly, path, "", [&] { return inner_.IsReadOnly(path); });
}

IoStatus FaultInjectingShare::ClearReadOnly(const std::string& path) {
    return Pass(ShareOp::kClearReadOnly, path, "", [&] { return inner_.ClearReadOnly(path); });
}

IoStatus FaultInjectingShare::CopyToShare(const std::string& localPath, const std::string& path,
                                          const std::atomic<int>* cancel) {
    return Pass(ShareOp::kCopyToShare, path, localPath,
                [&] { return inner_.CopyToShare(localPath, path, cancel); });
}

IoStatus FaultInjectingShare::CopyFromShare(const std::string& path, const std::string& localPath,
                                            const std::atomic<int>* cancel) {
    return Pass(ShareOp::kCopyFromShare, path, localPath,
                [&] { return inner_.CopyFromShare(path, localPath, cancel); });
}

IoStatus FaultInjectingShare::DeleteFile(const std::string& path) {
    return Pass(ShareOp::kDeleteFile, path, "", [&] { return inner_.DeleteFile(path); });
}

IoStatus FaultInjectingShare::RemoveFolder(const std::string& path) {
    return Pass(ShareOp::kRemoveFolder, path, "", [&] { return inner_.RemoveFolder(path); });
}

IoStatus FaultInjectingShare::Rename(const std::string& path, const std::string& newPath) {
    return Pass(ShareOp::kRename, path, newPath, [&] { return inner_.Rename(path, newPath); });
}

IoResult<std::vector<ShareEntry>> FaultInjectingShare::List(const std::string& folder,
                                                            const std::string& wildcard) {
    return Pass(ShareOp::kList, folder, "", [&] { return inner_.List(folder, wildcard); });
}

}  // namespace tessarine::testing
