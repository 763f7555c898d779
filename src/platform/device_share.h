// The device's file share. Paths are device paths in UNC form ("\\192.168.1.10\zereda\backup\a")
// or smb:// URLs ("smb://192.168.1.10/zereda/backup/a"); implementations map them to their
// access method. Local paths (copy sources and targets on this PC) are native paths.
#pragma once

#include <atomic>
#include <cstdint>
#include <ctime>
#include <map>
#include <string>
#include <vector>

#include "platform/io_result.h"

namespace tessarine {

// Results of Connect, as the Windows connection call gives them.
inline constexpr int kShareConnected = 0;
inline constexpr int kShareCredentialConflict = 1219;  // already connected with other credentials

// One copy to the share handed over ahead of its turn (see DeviceShare::QueueCopyToShare).
struct CopyRequest {
    std::string localPath;
    std::string path;
    // The caller's own listing of the target folder has no entry under this name: the share
    // may skip its look-up of an existing target (a file another client put there meanwhile is
    // then replaced by the final rename, or refused when the server will not delete it).
    bool targetAbsent = false;
};

using CopyTicket = std::uint64_t;

struct ShareEntry {
    std::string name;  // file or folder name without the folder
    bool isFolder = false;
    std::uint64_t size = 0;
    std::time_t lastWriteTime = 0;
};

// The one share of the device: every device path the program uses is below it.
inline constexpr char kDeviceShareName[] = "zereda";

class DeviceShare {
public:
    virtual ~DeviceShare() = default;

    // Connects to the share host with the stored credentials. Returns kShareConnected,
    // kShareCredentialConflict, or another non-zero error (a system error number).
    virtual int Connect(const std::string& host, const std::string& user,
                        const std::string& password) = 0;
    // Drops the connection to the host; no effect when there is none.
    virtual void Cancel(const std::string& host) = 0;

    // Every call below returns its own outcome: 0, or the errno value it failed with. ENOENT and
    // ENOTDIR mean the entry is not there; anything else leaves open whether it is.

    // Creates one folder level (its parent must exist).
    virtual IoStatus CreateFolder(const std::string& path) = 0;
    // Succeeds when the entry exists.
    virtual IoStatus Exists(const std::string& path) = 0;
    virtual IoResult<bool> IsFolder(const std::string& path) = 0;
    virtual IoResult<bool> IsReadOnly(const std::string& path) = 0;
    // Clears the read-only attribute; succeeds when the entry is now writable.
    virtual IoStatus ClearReadOnly(const std::string& path) = 0;

    // Copies a local file to the share, overwriting the target unless it is read-only (EACCES),
    // in blocks (1 MiB; over SMB as large as the server's requests), checking `cancel` (non-zero
    // stops: ECANCELED) between blocks. The target gets the source's last-write time. A failed or
    // cancelled copy leaves no file under the target name (and an existing target untouched).
    virtual IoStatus CopyToShare(const std::string& localPath, const std::string& path,
                                 const std::atomic<int>* cancel) = 0;
    // The same from the share to a local file.
    virtual IoStatus CopyFromShare(const std::string& path, const std::string& localPath,
                                   const std::atomic<int>* cancel) = 0;

    // Copies to the share that may run ahead of the caller, several at a time where the share
    // can (an SMB share with copier processes). Every queued copy has the guarantees of
    // CopyToShare; `cancel` stops the ones not finished yet. TakeCopyResult waits for one copy
    // and hands over its outcome (EINVAL for a ticket it does not know); callers take them in
    // the order that suits them, usually the order they were queued in. Here: nothing runs
    // ahead, each copy is made by CopyToShare when its result is taken.
    virtual CopyTicket QueueCopyToShare(const CopyRequest& request, const std::atomic<int>* cancel);
    // The same for a copy from the share (CopyFromShare's guarantees); its result is taken with
    // TakeCopyResult as well.
    virtual CopyTicket QueueCopyFromShare(const std::string& path, const std::string& localPath,
                                          const std::atomic<int>* cancel);
    virtual IoStatus TakeCopyResult(CopyTicket ticket);
    // Forgets every queued copy whose result was not taken; the ones not started yet are not
    // made. Copies already under way finish (or stop on their cancel flag) on their own.
    virtual void DropQueuedCopies();

    // Creates an empty file under `path` unless an entry holds the name (EEXIST then, the entry
    // untouched): a client's claim on a name that other clients may choose at the same moment
    // (a copy to the claimed name then replaces the empty file). ENOSYS where a share cannot.
    virtual IoStatus ReserveName(const std::string& path);
    virtual IoStatus DeleteFile(const std::string& path) = 0;
    // Renames a file or folder within one folder of the share (used for a change of letter
    // case only, which the share would otherwise keep). Fails with EEXIST when another entry
    // holds the new name.
    virtual IoStatus Rename(const std::string& path, const std::string& newPath) = 0;
    // Removes an empty folder (ENOTEMPTY otherwise).
    virtual IoStatus RemoveFolder(const std::string& path) = 0;

    // Entries of a folder whose names match a wildcard ("*", "*.xml", "PC01_*.xml"; '?' and '*'
    // as in Windows, case-insensitive), sorted by name in byte order; "." and ".." are never
    // listed. Fails when the folder cannot be read (no entries then).
    virtual IoResult<std::vector<ShareEntry>> List(const std::string& folder,
                                                   const std::string& wildcard) = 0;
    // Folders the caller will List soon (with nothing changed in them by it before): a share
    // that can list several at once may start on them now. Here: nothing.
    virtual void PrefetchListings(const std::vector<std::string>& folders) {
        static_cast<void>(folders);
    }

    // Who copies to the share through this object (any text that differs between the senders
    // of one computer name, such as the user's data folder): hashed into the temporary names of
    // copies to the share (see TemporaryCopyNameFor), so that the names one sender derives are
    // never another's. Empty (the default): the names depend on the target alone.
    virtual void SetCopySender(const std::string& sender) { copySender_ = sender; }
    const std::string& CopySender() const { return copySender_; }

private:
    std::string copySender_;
    struct QueuedCopy {
        CopyRequest request;
        const std::atomic<int>* cancel = nullptr;
        bool fromShare = false;
    };
    std::map<CopyTicket, QueuedCopy> queuedCopies_;
    CopyTicket nextTicket_ = 1;
};

}  // namespace tessarine
