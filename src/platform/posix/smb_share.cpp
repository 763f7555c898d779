#include "platform/posix/smb_share.h"

#include <errno.h>
#include <fcntl.h>
#include <libsmbclient.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/time.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cstring>
#include <mutex>

#include "base/app_log.h"
#include "platform/posix/local_file_ops.h"
#include "platform/share_name.h"
#include "platform/unc_path.h"
#include "platform/wildcard.h"

namespace tessarine {

namespace {

constexpr std::uint16_t kDirectoryAttribute = 0x10;  // FILE_ATTRIBUTE_DIRECTORY

// One block of a copy over SMB. The library cuts what it is handed into requests of the
// largest size the server negotiated and sends them one after the other, so a block at least
// that large makes every request as large as the server allows: 8 MiB is the most SMB 3
// servers offer (Samba, Windows); a server that offers less gets more requests per block. A
// 1 GiB file then costs 128 write requests instead of 1,024 with 1 MiB blocks.
constexpr std::size_t kSmbBlockSize = std::size_t{8} << 20;

// libsmbclient keeps process-wide state (configuration, debug set-up, talloc stack frames)
// and this build offers no thread hooks, so every call into it is serialised.
std::mutex& LibraryMutex() {
    static std::mutex mutex;
    return mutex;
}

// Runs library calls that belong together under the library lock and hands on their result
// (errno values are taken inside). Copies lock per call, so a long copy holds off the requests
// of other shares for one block at most.
template <typename Call>
auto Locked(Call&& call) {
    std::lock_guard lock(LibraryMutex());
    return call();
}

// Contexts whose server stopped answering, never used again (under LibraryMutex).
std::vector<SMBCCTX*>& RetiredContexts() {
    static auto* contexts = new std::vector<SMBCCTX*>();  // lives to the process end
    return *contexts;
}

// Contexts of shares that are gone, ready for the next one (under LibraryMutex).
std::vector<SMBCCTX*>& IdleContexts() {
    static auto* contexts = new std::vector<SMBCCTX*>();  // lives to the process end
    return *contexts;
}

SMBCCTX* TakeIdleContext() {
    auto& idle = IdleContexts();
    if (idle.empty()) return nullptr;
    SMBCCTX* context = idle.back();
    idle.pop_back();
    return context;
}

// Library messages would otherwise land on stdout/stderr of the tray program.
void DiscardLibraryMessage(void*, int, const char*) {}

// A server that drops the connection must not end the process with SIGPIPE on the next write.
void IgnoreSigpipeOnce() {
    static std::once_flag once;
    std::call_once(once, [] {
        struct sigaction current {};
        if (::sigaction(SIGPIPE, nullptr, &current) == 0 && current.sa_handler == SIG_DFL) {
            struct sigaction ignore {};
            ignore.sa_handler = SIG_IGN;
            ::sigemptyset(&ignore.sa_mask);
            ::sigaction(SIGPIPE, &ignore, nullptr);
        }
    });
}

std::string ToLower(std::string text) {
    for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return text;
}

void CopyField(char* target, int length, const std::string& value) {
    if (target == nullptr || length <= 0) return;
    const size_t count = std::min(value.size(), static_cast<size_t>(length - 1));
    std::memcpy(target, value.data(), count);
    target[count] = '\0';
}

struct timeval ToTimeval(const struct timespec& time) {
    struct timeval value {};
    value.tv_sec = time.tv_sec;
    value.tv_usec = time.tv_nsec / 1000;
    return value;
}

// Read-only as libsmbclient reports the DOS attribute: the write bits of the mode cleared.
bool ModeIsReadOnly(mode_t mode) { return (mode & S_IWUSR) == 0; }

// A host as callers give it ("host" or "\\host"), without the leading backslashes.
std::string HostName(std::string host) {
    while (!host.empty() && host.front() == '\\') host.erase(0, 1);
    return host;
}

// The folder that holds a path (the share root for a name directly in the share).
DevicePath ParentOf(const DevicePath& path) {
    DevicePath parent = path;
    if (!parent.parts.empty()) parent.parts.pop_back();
    return parent;
}

}  // namespace

SmbShare::SmbShare(int port, int timeoutMs) : blockSize_(kSmbBlockSize) {
    IgnoreSigpipeOnce();
    std::lock_guard lock(LibraryMutex());
    SMBCCTX* context = TakeIdleContext();
    if (context == nullptr) {
        context = smbc_new_context();
        if (context == nullptr) {
            contextError_ = LibraryErrno(ENOMEM);
            return;
        }
        // The library's debug set-up is process-wide: made once, with the first context.
        static std::once_flag debugSetUp;
        std::call_once(debugSetUp, [context] {
            smbc_setLogCallback(context, nullptr, DiscardLibraryMessage);
            smbc_setDebug(context, 0);
        });
        smbc_setFunctionAuthDataWithContext(context, &SmbShare::Authenticate);
        smbc_setOptionUseKerberos(context, 0);
        smbc_setOptionFallbackAfterKerberos(context, 1);
        smbc_setOptionUseCCache(context, 0);
        smbc_setOptionNoAutoAnonymousLogin(context, 1);
        if (smbc_init_context(context) == nullptr) {
            contextError_ = LibraryErrno(EIO);
            smbc_free_context(context, 1);
            return;
        }
        smbc_setOptionProtocols(context, "SMB2_02", "SMB3");
    }
    smbc_setOptionUserData(context, this);
    smbc_setPort(context, static_cast<std::uint16_t>(port));
    smbc_setTimeout(context, timeoutMs);
    context_ = context;
}

SmbShare::~SmbShare() {
    if (context_ == nullptr) return;
    std::lock_guard lock(LibraryMutex());
    smbc_setOptionUserData(context_, nullptr);
    if (connectionLost_) {
        // Logging off from a server that stopped answering waits a whole request time-out per
        // request, and the library offers no way to drop a connection without asking the
        // server: the context is set aside, untouched, until the process ends.
        RetiredContexts().push_back(context_);
        return;
    }
    // Every context the library makes keeps some memory after it is freed: contexts are
    // kept for the next share instead, without their connections and credentials.
    smbc_getFunctionPurgeCachedServers(context_)(context_);
    IdleContexts().push_back(context_);
}

int SmbShare::LibraryErrno(int fallback) {
    const int error = errno != 0 ? errno : fallback;
    if (IsConnectionLoss(error)) connectionLost_ = true;
    return error;
}

void SmbShare::Authenticate(SMBCCTX* context, const char* server, const char*, char* workgroup,
                            int workgroupLength, char* user, int userLength, char* password,
                            int passwordLength) {
    auto* self = static_cast<SmbShare*>(smbc_getOptionUserData(context));
    CopyField(user, userLength, "");
    CopyField(password, passwordLength, "");
    if (self == nullptr || server == nullptr) return;
    const auto found = self->credentials_.find(ToLower(server));
    if (found == self->credentials_.end()) return;
    if (!found->second.workgroup.empty())
        CopyField(workgroup, workgroupLength, found->second.workgroup);
    CopyField(user, userLength, found->second.user);
    CopyField(password, passwordLength, found->second.password);
}

std::string SmbShare::UrlOf(const DevicePath& path) const { return ToSmbUrl(path, 0); }

IoStatus SmbShare::UrlOf(const std::string& path, std::string& url, DevicePath* parsed) const {
    DevicePath devicePath;
    if (!ParseDevicePath(path, devicePath) || devicePath.share.empty()) return IoStatus{EINVAL};
    if (context_ == nullptr) return IoFailure(contextError_);
    // A server that let a request time out (or dropped the connection) is not asked again by
    // this object: each further request would wait a whole time-out. The next share (the next
    // run) connects anew.
    if (connectionLost_) return IoFailure(ENOTCONN);
    url = UrlOf(devicePath);
    if (parsed != nullptr) *parsed = std::move(devicePath);
    return {};
}

int SmbShare::StatUrl(const std::string& url, struct stat& info) {
    errno = 0;
    if (smbc_getFunctionStat(context_)(context_, url.c_str(), &info) == 0) return 0;
    return LibraryErrno(EIO);
}

int SmbShare::RenameUrl(const std::string& from, const std::string& to) {
    errno = 0;
    if (smbc_getFunctionRename(context_)(context_, from.c_str(), context_, to.c_str()) == 0)
        return 0;
    return LibraryErrno(EIO);
}

int SmbShare::CheckTarget(const std::string& url, bool& exists) {
    struct stat existing {};
    const int error = StatUrl(url, existing);
    exists = error == 0;
    if (error == ENOENT) return 0;
    if (error != 0) return error;
    if (S_ISDIR(existing.st_mode)) return EISDIR;
    if (ModeIsReadOnly(existing.st_mode)) return EACCES;
    return 0;
}

void SmbShare::NoteCreatedFolder(const DevicePath& folder) {
    NoteNameUsed(folder);
    createdFolders_[UrlOf(folder)].clear();
}

void SmbShare::NoteNameUsed(const DevicePath& path) {
    if (path.parts.empty()) return;
    const auto found = createdFolders_.find(UrlOf(ParentOf(path)));
    if (found != createdFolders_.end()) found->second.insert(ToLower(path.parts.back()));
}

void SmbShare::NoteNameFreed(const DevicePath& path) {
    if (path.parts.empty()) return;
    const auto found = createdFolders_.find(UrlOf(ParentOf(path)));
    if (found != createdFolders_.end()) found->second.erase(ToLower(path.parts.back()));
}

void SmbShare::NoteFolderRemoved(const DevicePath& folder) {
    NoteNameFreed(folder);
    const std::string url = UrlOf(folder);
    createdFolders_.erase(url);
    // Folders below it went with it (removed on the device's side first).
    const std::string below = url + "/";
    for (auto it = createdFolders_.lower_bound(below);
         it != createdFolders_.end() && it->first.compare(0, below.size(), below) == 0;)
        it = createdFolders_.erase(it);
}

bool SmbShare::IsKnownFree(const DevicePath& path) const {
    if (path.parts.empty()) return false;
    const auto found = createdFolders_.find(UrlOf(ParentOf(path)));
    return found != createdFolders_.end() && found->second.count(ToLower(path.parts.back())) == 0;
}

void SmbShare::UnlinkQuietly(const std::string& url) {
    const int saved = errno;
    smbc_getFunctionUnlink(context_)(context_, url.c_str());
    errno = saved;
}

int SmbShare::Connect(const std::string& host, const std::string& user,
                      const std::string& password) {
    DevicePath probe;
    if (!ParseDevicePath("\\\\" + HostName(host) + "\\IPC$", probe)) return EINVAL;
    if (context_ == nullptr) return IoFailure(contextError_).error;
    Credentials wanted;
    if (const size_t slash = user.find('\\'); slash != std::string::npos) {
        wanted.workgroup = user.substr(0, slash);
        wanted.user = user.substr(slash + 1);
    } else {
        wanted.user = user;
    }
    wanted.password = password;

    const std::string key = ToLower(probe.host);
    if (connected_.count(key) != 0) {
        const Credentials& held = credentials_[key];
        if (held.workgroup == wanted.workgroup && held.user == wanted.user &&
            held.password == wanted.password)
            return kShareConnected;
        return kShareCredentialConflict;
    }

    std::lock_guard lock(LibraryMutex());
    credentials_[key] = wanted;
    const char* defaultWorkgroup = smbc_getWorkgroup(context_);
    const std::string workgroup = !wanted.workgroup.empty()     ? wanted.workgroup
                                  : defaultWorkgroup != nullptr ? defaultWorkgroup
                                                                : "";
    // A stat of the tree's root makes the library log on and connect the tree; what the stat
    // itself answers differs between servers (for IPC$ above all), so success is judged by the
    // connection the library has cached for exactly these credentials.
    int error = 0;
    const auto logOnThrough = [&](const std::string& tree) {
        DevicePath root = probe;
        root.share = tree;
        struct stat info {};
        error = StatUrl(UrlOf(root), info);
        return smbc_getFunctionGetCachedServer(context_)(context_, probe.host.c_str(), tree.c_str(),
                                                         workgroup.c_str(),
                                                         wanted.user.c_str()) != nullptr;
    };
    std::string tree = logOnShare_;
    bool loggedOn = !tree.empty() && logOnThrough(tree);
    // A share the server does not give (or not to this user) may still leave the log-on good:
    // IPC$ tells. A server that cannot be reached is not asked twice.
    if (!loggedOn && !IsConnectionLoss(error)) {
        tree = "IPC$";
        loggedOn = logOnThrough(tree);
    }
    if (loggedOn) {
        connectionLost_ = false;
        connected_.insert(key);
        logOnTrees_[key] = tree;
        return kShareConnected;
    }
    credentials_.erase(key);
    return IoFailure(error).error;
}

std::string SmbShare::LogOnTree(const std::string& host) const {
    const auto found = logOnTrees_.find(ToLower(HostName(host)));
    return found != logOnTrees_.end() ? found->second : "IPC$";
}

void SmbShare::Cancel(const std::string& host) {
    const std::string key = ToLower(HostName(host));
    logOnTrees_.erase(key);
    const bool known = credentials_.erase(key) + connected_.erase(key) != 0;
    if (!known || context_ == nullptr) return;
    std::lock_guard lock(LibraryMutex());
    createdFolders_.clear();
    if (connectionLost_) return;  // see the destructor: nothing is asked of a silent server
    smbc_getFunctionPurgeCachedServers(context_)(context_);
}

IoStatus SmbShare::CreateFolder(const std::string& path) {
    std::string url;
    DevicePath folder;
    if (const IoStatus parsed = UrlOf(path, url, &folder); !parsed) return parsed;
    std::lock_guard lock(LibraryMutex());
    errno = 0;
    if (smbc_getFunctionMkdir(context_)(context_, url.c_str(), 0755) != 0)
        return IoFailure(LibraryErrno(EIO));
    NoteCreatedFolder(folder);
    return {};
}

IoStatus SmbShare::ReserveName(const std::string& path) {
    std::string url;
    DevicePath target;
    if (const IoStatus parsed = UrlOf(path, url, &target); !parsed) return parsed;
    if (target.parts.empty()) return IoStatus{EISDIR};
    std::lock_guard lock(LibraryMutex());
    errno = 0;
    // The server compares names as the share does: a name taken in another case is EEXIST too.
    SMBCFILE* file =
        smbc_getFunctionOpen(context_)(context_, url.c_str(), O_WRONLY | O_CREAT | O_EXCL, 0644);
    if (file == nullptr) return IoFailure(LibraryErrno(EIO));
    errno = 0;
    if (smbc_getFunctionClose(context_)(context_, file) != 0) {
        const int error = LibraryErrno(EIO);
        smbc_getFunctionUnlink(context_)(context_, url.c_str());
        return IoFailure(error);
    }
    NoteNameUsed(target);
    return {};
}

IoStatus SmbShare::Exists(const std::string& path) {
    std::string url;
    if (const IoStatus parsed = UrlOf(path, url); !parsed) return parsed;
    std::lock_guard lock(LibraryMutex());
    struct stat info {};
    if (const int error = StatUrl(url, info); error != 0) return IoFailure(error);
    return {};
}

IoResult<bool> SmbShare::IsFolder(const std::string& path) {
    std::string url;
    if (const IoStatus parsed = UrlOf(path, url); !parsed) return {false, parsed.error};
    std::lock_guard lock(LibraryMutex());
    struct stat info {};
    if (const int error = StatUrl(url, info); error != 0) return {false, error};
    return {S_ISDIR(info.st_mode), 0};
}

IoResult<bool> SmbShare::IsReadOnly(const std::string& path) {
    std::string url;
    if (const IoStatus parsed = UrlOf(path, url); !parsed) return {false, parsed.error};
    std::lock_guard lock(LibraryMutex());
    struct stat info {};
    if (const int error = StatUrl(url, info); error != 0) return {false, error};
    return {ModeIsReadOnly(info.st_mode), 0};
}

IoStatus SmbShare::SetReadOnly(const std::string& path, bool readOnly) {
    std::string url;
    if (const IoStatus parsed = UrlOf(path, url); !parsed) return parsed;
    std::lock_guard lock(LibraryMutex());
    struct stat info {};
    if (const int error = StatUrl(url, info); error != 0) return IoFailure(error);
    if (ModeIsReadOnly(info.st_mode) == readOnly) return {};
    // libsmbclient turns the mode back into DOS attributes: no write bit is read-only, and
    // the execute bits it reported for archive, system and hidden are handed back unchanged.
    const mode_t mode = readOnly ? (info.st_mode & 0555) : ((info.st_mode & 0777) | 0200);
    errno = 0;
    if (smbc_getFunctionChmod(context_)(context_, url.c_str(), mode) != 0)
        return IoFailure(LibraryErrno(EIO));
    return {};
}

IoStatus SmbShare::ClearReadOnly(const std::string& path) { return SetReadOnly(path, false); }

IoStatus SmbShare::CopyToShare(const std::string& localPath, const std::string& path,
                               const std::atomic<int>* cancel) {
    DevicePath target;
    std::string url;
    if (const IoStatus parsed = UrlOf(path, url, &target); !parsed) return parsed;
    if (target.parts.empty()) return IoFailure(EISDIR);  // the share itself
    return CopyBlocksToShare(localPath, target, false, cancel);
}

IoStatus SmbShare::CopyRequestToShare(const CopyRequest& request, const std::atomic<int>* cancel) {
    DevicePath target;
    std::string url;
    if (const IoStatus parsed = UrlOf(request.path, url, &target); !parsed) return parsed;
    if (target.parts.empty()) return IoFailure(EISDIR);
    return CopyBlocksToShare(request.localPath, target, request.targetAbsent, cancel);
}

IoStatus SmbShare::CopyBlocksToShare(const std::string& localPath, const DevicePath& target,
                                     bool targetAbsent, const std::atomic<int>* cancel) {
    if (posix::IsCancelled(cancel)) return IoFailure(ECANCELED);
    struct stat source {};
    const int in = posix::OpenCopySource(localPath, source);
    if (in < 0) return IoFailure(LibraryErrno(EIO));
    const posix::ScopedFd inCloser(in);

    const std::string targetUrl = UrlOf(target);
    // A name still free in a folder this object made (the usual full backup) is not looked up:
    // one request less per file. A file another client put there meanwhile is found by the
    // rename below and checked then.
    bool targetExists = false;
    if (!targetAbsent && !IsKnownFree(target)) {
        if (const int error = Locked([&] { return CheckTarget(targetUrl, targetExists); });
            error != 0)
            return IoFailure(error);
    }

    std::string temporaryUrl;
    SMBCFILE* out = nullptr;
    if (const int error = OpenTemporary(target, temporaryUrl, out); error != 0)
        return IoFailure(error);
    auto close = smbc_getFunctionClose(context_);
    auto fail = [&](int error) {
        // After a time-out or a dropped connection each clean-up request would wait a whole
        // time-out again: the temporary file is left for the next run to remove.
        if (connectionLost_) return IoFailure(error);
        Locked([&] {
            if (out != nullptr) close(context_, out);
            UnlinkQuietly(temporaryUrl);
        });
        return IoFailure(error);
    };

    if (const int error = WriteBlocks(in, out, 0, UINT64_MAX, cancel); error != 0)
        return fail(error);
    const int closeError = Locked([&] {
        errno = 0;
        return close(context_, out) != 0 ? LibraryErrno(EIO) : 0;
    });
    out = nullptr;
    if (closeError != 0) return fail(closeError);
    if (const int error = PlaceCopy(temporaryUrl, target, targetExists, source); error != 0)
        return fail(error);
    return {};
}

int SmbShare::OpenTemporary(const DevicePath& target, std::string& temporaryUrl, SMBCFILE*& out) {
    DevicePath sibling = target;
    auto open = smbc_getFunctionOpen(context_);
    out = nullptr;
    int openError = 0;
    for (int attempt = 0; attempt < 8 && out == nullptr; ++attempt) {
        // The first name is the one the target's name gives (see TemporaryCopyNameFor).
        sibling.parts.back() = attempt == 0
                                   ? TemporaryCopyNameFor(target.parts.back(), CopySender())
                                   : posix::MakeTemporaryName(".tmp");
        temporaryUrl = UrlOf(sibling);
        Locked([&] {
            errno = 0;
            out = open(context_, temporaryUrl.c_str(), O_WRONLY | O_CREAT | O_EXCL, 0644);
            openError = out == nullptr ? LibraryErrno(EIO) : 0;
        });
        if (out == nullptr && openError != EEXIST) break;
    }
    return out == nullptr ? openError : 0;
}

int SmbShare::WriteBlocks(int in, SMBCFILE* out, std::uint64_t offset, std::uint64_t length,
                          const std::atomic<int>* cancel) {
    auto write = smbc_getFunctionWrite(context_);
    if (!buffer_) buffer_ = std::make_unique<char[]>(blockSize_);
    std::uint64_t copiedBytes = 0;
    while (copiedBytes < length) {
        if (posix::IsCancelled(cancel)) return ECANCELED;
        const std::size_t wanted =
            static_cast<std::size_t>(std::min<std::uint64_t>(blockSize_, length - copiedBytes));
        std::size_t filled = 0;
        bool ended = false;
        while (filled < wanted) {
            const ssize_t got = ::pread(in, buffer_.get() + filled, wanted - filled,
                                        static_cast<off_t>(offset + copiedBytes + filled));
            if (got < 0) {
                if (errno == EINTR) continue;
                return errno;
            }
            if (got == 0) {
                ended = true;
                break;
            }
            filled += static_cast<std::size_t>(got);
        }
        // A range that ends before its length: the local file was cut meanwhile.
        if (ended && length != UINT64_MAX && copiedBytes + filled < length) return EAGAIN;
        for (std::size_t sent = 0; sent < filled;) {
            int writeError = 0;
            const ssize_t written = Locked([&] {
                errno = 0;
                const ssize_t n = write(context_, out, buffer_.get() + sent, filled - sent);
                if (n <= 0) writeError = LibraryErrno(EIO);
                return n;
            });
            if (written <= 0) return writeError;
            sent += static_cast<std::size_t>(written);
        }
        copiedBytes += filled;
        if (blockObserver_ && filled > 0) blockObserver_(copiedBytes);
        if (ended) break;
    }
    return 0;
}

int SmbShare::PlaceCopy(const std::string& temporaryUrl, const DevicePath& target,
                        bool targetExists, const struct stat& source) {
    const std::string targetUrl = UrlOf(target);
    struct timeval times[2] = {ToTimeval(source.st_atim), ToTimeval(source.st_mtim)};
    const int timesError = Locked([&] {
        errno = 0;
        return smbc_getFunctionUtimes(context_)(context_, temporaryUrl.c_str(), times) != 0
                   ? LibraryErrno(EIO)
                   : 0;
    });
    if (timesError != 0) return timesError;

    if (!targetExists) {
        // The library's rename deletes a target that is in the way and tries again; one the
        // server will not delete (a folder with entries; a read-only file, where the server
        // honours the attribute) comes back as EEXIST and is checked as any existing target.
        const int renameError = Locked([&] { return RenameUrl(temporaryUrl, targetUrl); });
        if (renameError == 0) {
            NoteNameUsed(target);
            return 0;
        }
        if (renameError != EEXIST) return renameError;
        if (const int error = Locked([&] { return CheckTarget(targetUrl, targetExists); });
            error != 0)
            return error;
        if (!targetExists) return EEXIST;
    }

    // Replace: the old copy steps aside, the new one takes its name, then the old one goes.
    // Whatever fails on the way, the old copy stays or returns under its name.
    DevicePath aside = target;
    aside.parts.back() = posix::MakeAsideName(target.parts.back());
    const std::string asideUrl = UrlOf(aside);
    if (const int error = Locked([&] { return RenameUrl(targetUrl, asideUrl); }); error != 0)
        return error;
    if (asideObserver_) asideObserver_();
    if (const int error = Locked([&] { return RenameUrl(temporaryUrl, targetUrl); }); error != 0) {
        Locked([&] { return RenameUrl(asideUrl, targetUrl); });
        return error;
    }
    Locked([&] { UnlinkQuietly(asideUrl); });
    NoteNameUsed(target);
    return 0;
}

IoResult<std::string> SmbShare::BeginStripedCopy(const std::string& path) {
    DevicePath target;
    std::string url;
    if (const IoStatus parsed = UrlOf(path, url, &target); !parsed) return {{}, parsed.error};
    if (target.parts.empty()) return {{}, EISDIR};
    // The name the target's name gives (see TemporaryCopyNameFor) unless a file holds it: the
    // ranges write into whatever is there, so a leftover must not be taken over.
    DevicePath temporary = target;
    temporary.parts.back() = TemporaryCopyNameFor(target.parts.back(), CopySender());
    struct stat existing {};
    if (Locked([&] { return StatUrl(UrlOf(temporary), existing); }) != ENOENT)
        temporary.parts.back() = posix::MakeTemporaryName(".tmp");
    return {ToUncPath(temporary), 0};
}

IoStatus SmbShare::WriteRange(const std::string& localPath, const std::string& temporaryPath,
                              std::uint64_t offset, std::uint64_t length,
                              const std::atomic<int>* cancel) {
    std::string url;
    if (const IoStatus parsed = UrlOf(temporaryPath, url); !parsed) return parsed;
    if (posix::IsCancelled(cancel)) return IoFailure(ECANCELED);
    struct stat source {};
    const int in = posix::OpenCopySource(localPath, source);
    if (in < 0) return IoFailure(LibraryErrno(EIO));
    const posix::ScopedFd inCloser(in);
    auto close = smbc_getFunctionClose(context_);
    int openError = 0;
    SMBCFILE* out = Locked([&] {
        errno = 0;
        // Made by whichever range starts first (the ranges write beyond its end as they come);
        // never truncated, so no range undoes another's.
        SMBCFILE* file =
            smbc_getFunctionOpen(context_)(context_, url.c_str(), O_WRONLY | O_CREAT, 0644);
        if (file == nullptr) {
            openError = LibraryErrno(EIO);
            return file;
        }
        errno = 0;
        if (smbc_getFunctionLseek(context_)(context_, file, static_cast<off_t>(offset), SEEK_SET) <
            0) {
            openError = LibraryErrno(EIO);
            close(context_, file);
            return static_cast<SMBCFILE*>(nullptr);
        }
        return file;
    });
    if (out == nullptr) return IoFailure(openError);
    const int error = WriteBlocks(in, out, offset, length, cancel);
    // A range never removes the file: the one who began the copy does, once every range ended.
    if (error != 0) {
        if (!connectionLost_) Locked([&] { close(context_, out); });
        return IoFailure(error);
    }
    const int closeError = Locked([&] {
        errno = 0;
        return close(context_, out) != 0 ? LibraryErrno(EIO) : 0;
    });
    return closeError != 0 ? IoFailure(closeError) : IoStatus{};
}

IoStatus SmbShare::FinishStripedCopy(const CopyRequest& request, const std::string& temporaryPath,
                                     std::uint64_t size) {
    DevicePath target;
    std::string targetUrl;
    std::string temporaryUrl;
    if (const IoStatus parsed = UrlOf(request.path, targetUrl, &target); !parsed) return parsed;
    if (const IoStatus parsed = UrlOf(temporaryPath, temporaryUrl); !parsed) return parsed;
    auto fail = [&](int error) {
        AbandonStripedCopy(temporaryPath);
        return IoFailure(error);
    };
    struct stat source {};
    if (::stat(request.localPath.c_str(), &source) != 0) return fail(errno);
    // Written from a file of another size: what arrived is not the file as it is.
    if (static_cast<std::uint64_t>(source.st_size) != size) return fail(EAGAIN);
    bool targetExists = false;
    if (!request.targetAbsent && !IsKnownFree(target)) {
        if (const int error = Locked([&] { return CheckTarget(targetUrl, targetExists); });
            error != 0)
            return fail(error);
    }
    if (const int error = PlaceCopy(temporaryUrl, target, targetExists, source); error != 0)
        return fail(error);
    return {};
}

void SmbShare::AbandonStripedCopy(const std::string& temporaryPath) {
    std::string url;
    if (!UrlOf(temporaryPath, url)) return;
    Locked([&] { UnlinkQuietly(url); });
}

IoStatus SmbShare::CopyFromShare(const std::string& path, const std::string& localPath,
                                 const std::atomic<int>* cancel) {
    std::string url;
    if (const IoStatus parsed = UrlOf(path, url); !parsed) return parsed;
    if (posix::IsCancelled(cancel)) return IoFailure(ECANCELED);
    if (const int error = posix::CheckLocalTarget(localPath); error != 0) return IoFailure(error);

    struct stat source {};
    if (const int error = Locked([&] { return StatUrl(url, source); }); error != 0)
        return IoFailure(error);
    if (S_ISDIR(source.st_mode)) return IoFailure(EISDIR);
    int openError = 0;
    SMBCFILE* in = Locked([&] {
        errno = 0;
        SMBCFILE* file = smbc_getFunctionOpen(context_)(context_, url.c_str(), O_RDONLY, 0);
        if (file == nullptr) openError = LibraryErrno(EIO);
        return file;
    });
    if (in == nullptr) return IoFailure(openError);
    auto close = smbc_getFunctionClose(context_);
    auto read = smbc_getFunctionRead(context_);

    std::string temporaryPath;
    const int out = posix::CreateTemporaryFile(posix::ParentFolder(localPath), temporaryPath);
    if (out < 0) {
        const int error = errno;
        Locked([&] { return close(context_, in); });
        return IoFailure(error);
    }
    auto fail = [&](int error) {
        Locked([&] { return close(context_, in); });
        ::close(out);
        ::unlink(temporaryPath.c_str());
        return IoFailure(error);
    };

    if (!buffer_) buffer_ = std::make_unique<char[]>(blockSize_);
    std::uint64_t copiedBytes = 0;
    for (;;) {
        if (posix::IsCancelled(cancel)) return fail(ECANCELED);
        int readError = 0;
        const ssize_t got = Locked([&] {
            errno = 0;
            const ssize_t n = read(context_, in, buffer_.get(), blockSize_);
            if (n < 0) readError = LibraryErrno(EIO);
            return n;
        });
        if (got < 0) return fail(readError);
        if (got == 0) break;
        for (ssize_t written = 0; written < got;) {
            const ssize_t n = ::write(out, buffer_.get() + written, got - written);
            if (n < 0) {
                if (errno == EINTR) continue;
                return fail(errno);
            }
            written += n;
        }
        copiedBytes += static_cast<std::uint64_t>(got);
        if (blockObserver_) blockObserver_(copiedBytes);
    }
    const struct timespec times[2] = {source.st_atim, source.st_mtim};
    if (::futimens(out, times) != 0) return fail(errno);
    Locked([&] { return close(context_, in); });
    const int closeResult = ::close(out);
    if (closeResult != 0) {
        const int error = errno;
        ::unlink(temporaryPath.c_str());
        return IoFailure(error);
    }
    if (const int error = posix::CommitTemporaryFile(temporaryPath, localPath); error != 0)
        return IoFailure(error);
    return {};
}

IoStatus SmbShare::DeleteFile(const std::string& path) {
    std::string url;
    DevicePath file;
    if (const IoStatus parsed = UrlOf(path, url, &file); !parsed) return parsed;
    std::lock_guard lock(LibraryMutex());
    // Over SMB2 the library's unlink of a folder reports success (and leaves a full folder in
    // place): a folder is refused here, as on any file system.
    struct stat info {};
    if (const int error = StatUrl(url, info); error != 0) return IoFailure(error);
    if (S_ISDIR(info.st_mode)) return IoStatus{EISDIR};
    errno = 0;
    if (smbc_getFunctionUnlink(context_)(context_, url.c_str()) != 0)
        return IoFailure(LibraryErrno(EIO));
    NoteNameFreed(file);
    return {};
}

IoStatus SmbShare::RemoveFolder(const std::string& path) {
    std::string url;
    DevicePath folder;
    if (const IoStatus parsed = UrlOf(path, url, &folder); !parsed) return parsed;
    std::lock_guard lock(LibraryMutex());
    errno = 0;
    if (smbc_getFunctionRmdir(context_)(context_, url.c_str()) != 0)
        return IoFailure(LibraryErrno(EIO));
    NoteFolderRemoved(folder);
    return {};
}

IoStatus SmbShare::Rename(const std::string& path, const std::string& newPath) {
    std::string fromUrl;
    std::string toUrl;
    DevicePath from;
    DevicePath to;
    if (const IoStatus parsed = UrlOf(path, fromUrl, &from); !parsed) return parsed;
    if (const IoStatus parsed = UrlOf(newPath, toUrl, &to); !parsed) return parsed;
    if (from.parts.empty() || to.parts.empty()) return IoFailure(EINVAL);
    const bool caseOnly = UrlOf(ParentOf(from)) == UrlOf(ParentOf(to)) &&
                          FoldShareName(from.parts.back()) == FoldShareName(to.parts.back());
    std::lock_guard lock(LibraryMutex());
    if (!caseOnly) {
        struct stat info {};
        const int error = StatUrl(toUrl, info);
        if (error == 0) return IoFailure(EEXIST);
        if (error != ENOENT) return IoFailure(error);
    }
    if (const int error = RenameUrl(fromUrl, toUrl); error != 0) return IoFailure(error);
    NoteNameFreed(from);
    NoteNameUsed(to);
    return {};
}

void SmbShare::RestoreAsideCopies(const DevicePath& folder, std::vector<ShareEntry>& entries) {
    std::set<std::string> names;
    for (const ShareEntry& entry : entries) names.insert(FoldShareName(entry.name));
    for (ShareEntry& entry : entries) {
        if (entry.isFolder) continue;
        std::string finalName = FinalNameOfAsideCopy(entry.name);
        if (finalName.empty() || !names.insert(FoldShareName(finalName)).second) continue;
        DevicePath aside = folder;
        aside.parts.push_back(entry.name);
        DevicePath target = folder;
        target.parts.push_back(finalName);
        const std::string asideUrl = UrlOf(aside);
        const std::string finalUrl = UrlOf(target);
        if (const int error = RenameUrl(asideUrl, finalUrl); error != 0) {
            names.erase(FoldShareName(finalName));
            LOG_ERROR_CODE(error, "Set-Aside Copy Restore Error. file:" + asideUrl);
            continue;
        }
        LOG_NOTICE("Restored Set-Aside Copy. file:" + finalUrl);
        NoteNameUsed(target);
        entry.name = std::move(finalName);
    }
}

IoResult<std::vector<ShareEntry>> SmbShare::List(const std::string& folder,
                                                 const std::string& wildcard) {
    IoResult<std::vector<ShareEntry>> result;
    std::string url;
    DevicePath listed;
    if (const IoStatus parsed = UrlOf(folder, url, &listed); !parsed) {
        result.error = parsed.error;
        return result;
    }
    std::lock_guard lock(LibraryMutex());
    errno = 0;
    // The library fetches the whole listing when the folder is opened; reading walks it.
    SMBCFILE* dir = smbc_getFunctionOpendir(context_)(context_, url.c_str());
    if (dir == nullptr) {
        result.error = LibraryErrno(EIO);
        return result;
    }
    std::vector<ShareEntry> all;
    auto readPlus = smbc_getFunctionReaddirPlus(context_);
    while (const struct libsmb_file_info* info = readPlus(context_, dir)) {
        if (info->name == nullptr) continue;
        const std::string_view name = info->name;
        if (name == "." || name == "..") continue;
        ShareEntry entry;
        entry.name = std::string(name);
        entry.isFolder = (info->attrs & kDirectoryAttribute) != 0;
        entry.size = entry.isFolder ? 0 : info->size;
        entry.lastWriteTime = info->mtime_ts.tv_sec;
        all.push_back(std::move(entry));
    }
    smbc_getFunctionClosedir(context_)(context_, dir);
    RestoreAsideCopies(listed, all);
    std::vector<ShareEntry>& entries = result.value;
    for (auto& entry : all)
        if (MatchWildcard(wildcard, entry.name)) entries.push_back(std::move(entry));
    std::sort(entries.begin(), entries.end(),
              [](const ShareEntry& a, const ShareEntry& b) { return a.name < b.name; });
    return result;
}

}  // namespace tessarine
