// The device share over SMB2/3 with libsmbclient: one client context per object (that is, per
// run), the stored user and password handed to the library per host, a fixed server port.
// Read-only is the DOS read-only attribute as the server reports it.
#pragma once

#include <sys/stat.h>

#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "platform/device_share.h"

typedef struct _SMBCCTX SMBCCTX;
typedef struct _SMBCFILE SMBCFILE;

namespace tessarine {

struct DevicePath;

class SmbShare : public DeviceShare {
public:
    static constexpr int kDefaultPort = 445;
    static constexpr int kDefaultTimeoutMs = 15000;

    // `port` is the server's TCP port for every host; `timeoutMs` bounds each request,
    // including the connection to an unreachable host.
    explicit SmbShare(int port = kDefaultPort, int timeoutMs = kDefaultTimeoutMs);
    ~SmbShare() override;
    SmbShare(const SmbShare&) = delete;
    SmbShare& operator=(const SmbShare&) = delete;

    // Logs on to the host (session and the log-on share's tree, see SetLogOnShare; IPC$ when
    // there is none or the server does not give it) with the credentials; a user name may carry
    // its domain as "DOMAIN\user". Returns 0, kShareCredentialConflict when this object is
    // already connected to the host with other credentials (the existing connection stays, as
    // on Windows), or an errno value: EACCES for refused credentials, ECONNREFUSED,
    // EHOSTUNREACH, ETIMEDOUT... when the server cannot be reached, EINVAL for a bad host.
    int Connect(const std::string& host, const std::string& user,
                const std::string& password) override;
    // Forgets the host's credentials and closes the idle server connections of the object.
    void Cancel(const std::string& host) override;

    // The share this object's work goes to. The library keeps one connection per share, so a
    // log-on through IPC$ would leave the first request to the share a connection, a session
    // and a tree of its own to make: Connect logs on through this share instead.
    void SetLogOnShare(std::string share) { logOnShare_ = std::move(share); }
    // The tree the last successful Connect to `host` logged on through ("IPC$" when it was not
    // the log-on share); a request there finds the connection made.
    std::string LogOnTree(const std::string& host) const;

    IoStatus CreateFolder(const std::string& path) override;
    IoStatus Exists(const std::string& path) override;
    IoResult<bool> IsFolder(const std::string& path) override;
    IoResult<bool> IsReadOnly(const std::string& path) override;
    IoStatus ClearReadOnly(const std::string& path) override;
    // Sets or clears the read-only attribute, keeping the other attributes.
    IoStatus SetReadOnly(const std::string& path, bool readOnly);

    // Takes the server for gone or silent, as when one of this object's own requests timed out
    // (another connection to it, such as a copier process's, found it so).
    void MarkConnectionLost() { connectionLost_ = true; }

    // The size of a copy's blocks: by default as large as the largest request a server offers
    // (the library cuts a block into requests of the negotiated size); smaller for tests that
    // act between blocks.
    void SetBlockSize(std::size_t bytes) {
        blockSize_ = bytes;
        buffer_.reset();
    }

    // Called after every block a copy moves, with the bytes moved so far (on the copying
    // thread; it must not call back into this share).
    void SetBlockObserver(std::function<void(std::uint64_t)> observer) {
        blockObserver_ = std::move(observer);
    }

    // Called once an existing target stepped aside under its ".bak" name and before the new
    // copy takes the name (tests that end the process there).
    void SetAsideObserver(std::function<void()> observer) { asideObserver_ = std::move(observer); }

    // Written as "~tess<random>.tmp" beside the target and renamed over it; an existing target
    // is first renamed aside and only deleted once the new copy stands under its name. A
    // target in a folder this object created, under a name it has not used there yet, is not
    // looked up first (one request less per file of a full backup); a file another client
    // put there meanwhile is then replaced by the library's rename, or refused when the
    // server will not delete it.
    IoStatus CopyToShare(const std::string& localPath, const std::string& path,
                         const std::atomic<int>* cancel) override;
    // CopyToShare with what the caller knows of the target: one the caller found absent is
    // not looked up first either.
    IoStatus CopyRequestToShare(const CopyRequest& request, const std::atomic<int>* cancel);

    // One large file written in ranges by several processes at once (each with its own
    // connection: one request in flight per connection is what the library gives).
    // BeginStripedCopy names a temporary file beside the target and answers its device path;
    // nothing is made on the server yet. WriteRange writes one range of the local file into it,
    // making the file if no range did yet (so the device holds a temporary copy only once a
    // range is under way; the library opens files with DENY_NONE sharing, so every process may
    // open the same file for writing); FinishStripedCopy gives it the local file's time and
    // puts it in place exactly as CopyToShare does (EAGAIN when the local file's size changed
    // meanwhile). A striped copy that is not finished is removed with AbandonStripedCopy.
    IoResult<std::string> BeginStripedCopy(const std::string& path);
    IoStatus WriteRange(const std::string& localPath, const std::string& temporaryPath,
                        std::uint64_t offset, std::uint64_t length, const std::atomic<int>* cancel);
    IoStatus FinishStripedCopy(const CopyRequest& request, const std::string& temporaryPath,
                               std::uint64_t size);
    void AbandonStripedCopy(const std::string& temporaryPath);
    IoStatus CopyFromShare(const std::string& path, const std::string& localPath,
                           const std::atomic<int>* cancel) override;

    // Refuses a folder (EISDIR), which the library's unlink would not.
    IoStatus ReserveName(const std::string& path) override;
    IoStatus DeleteFile(const std::string& path) override;
    IoStatus RemoveFolder(const std::string& path) override;
    // A name another entry holds is refused (EEXIST) before the library's rename, which
    // would delete that entry; a change of letter case only is left to the server.
    IoStatus Rename(const std::string& path, const std::string& newPath) override;

    // An old copy that a cut-off replacement left set aside, with no file under its name, is
    // renamed back first and listed under its name.
    IoResult<std::vector<ShareEntry>> List(const std::string& folder,
                                           const std::string& wildcard) override;

private:
    struct Credentials {
        std::string workgroup;  // empty: the library's default workgroup
        std::string user;
        std::string password;
    };

    // errno after a library call (`fallback` when it is 0); notes a lost connection.
    int LibraryErrno(int fallback);
    static void Authenticate(SMBCCTX* context, const char* server, const char* share,
                             char* workgroup, int workgroupLength, char* user, int userLength,
                             char* password, int passwordLength);

    // The smb:// URL of a device path that names at least a share; EINVAL otherwise.
    IoStatus UrlOf(const std::string& path, std::string& url, DevicePath* parsed = nullptr) const;
    std::string UrlOf(const DevicePath& path) const;
    // stat of a URL: 0 or errno.
    int StatUrl(const std::string& url, struct stat& info);
    int RenameUrl(const std::string& from, const std::string& to);
    void UnlinkQuietly(const std::string& url);
    // The copy itself; the library lock is taken per call, never for the whole copy.
    IoStatus CopyBlocksToShare(const std::string& localPath, const DevicePath& target,
                               bool targetAbsent, const std::atomic<int>* cancel);
    // Creates a new temporary file beside `target`: 0 or errno, with its URL and open handle.
    int OpenTemporary(const DevicePath& target, std::string& temporaryUrl, SMBCFILE*& out);
    // Gives a closed temporary copy the source's times and moves it over `target` (the old
    // copy renamed aside first and removed last): 0 or errno; the temporary file stays.
    int PlaceCopy(const std::string& temporaryUrl, const DevicePath& target, bool targetExists,
                  const struct stat& source);
    // Writes `length` bytes of `in` from `offset` to `out` in blocks, checking `cancel`.
    int WriteBlocks(int in, SMBCFILE* out, std::uint64_t offset, std::uint64_t length,
                    const std::atomic<int>* cancel);
    // The checks on an existing target: 0, EISDIR, EACCES (read-only) or the stat error;
    // `exists` tells whether there is one.
    int CheckTarget(const std::string& url, bool& exists);

    // An old copy set aside while a new one took its name ("~tess...~name.bak") whose name is
    // free again was cut off between the two renames: it goes back under its name, here and in
    // `entries`, before anyone sees the listing (under the library lock).
    void RestoreAsideCopies(const DevicePath& folder, std::vector<ShareEntry>& entries);

    // What this object knows of the folders it created (see createdFolders_).
    void NoteCreatedFolder(const DevicePath& folder);
    void NoteNameUsed(const DevicePath& path);
    void NoteNameFreed(const DevicePath& path);
    void NoteFolderRemoved(const DevicePath& folder);
    bool IsKnownFree(const DevicePath& path) const;

    SMBCCTX* context_ = nullptr;
    // Set once a library call failed because the server is gone or silent: every later call
    // fails at once with ENOTCONN, nothing is asked of the server for tidying up, and the
    // context is not used again.
    std::atomic<bool> connectionLost_{false};
    std::map<std::string, Credentials> credentials_;  // by host in lower case
    std::set<std::string> connected_;                 // hosts that Connect logged on to
    std::string logOnShare_;
    std::map<std::string, std::string> logOnTrees_;  // by host in lower case
    // Folders this object created (by URL, exactly as created), each with the names it has put
    // there since, in lower case. Any other name in such a folder is free unless another
    // client made it meanwhile; the copy then needs no look-up before its rename.
    std::map<std::string, std::set<std::string>> createdFolders_;
    std::size_t blockSize_;
    std::unique_ptr<char[]> buffer_;  // one copy block, made on first use
    std::function<void(std::uint64_t)> blockObserver_;
    std::function<void()> asideObserver_;
    int contextError_ = 0;  // why the library context could not be made; 0 when it was
};

}  // namespace tessarine
