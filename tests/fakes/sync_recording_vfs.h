// A SQLite VFS that wraps the default one and numbers every write and sync of any file in one
// sequence, so a test can tell whether everything written had reached the disk (a sync after
// the last write) at a moment of its choosing. Installed as the default VFS while it lives:
// connections opened meanwhile use it.
#pragma once

#include <sqlite3.h>

#include <atomic>
#include <cstdint>

namespace tessarine::testing {

class SyncRecordingVfs {
public:
    SyncRecordingVfs();
    ~SyncRecordingVfs();
    SyncRecordingVfs(const SyncRecordingVfs&) = delete;
    SyncRecordingVfs& operator=(const SyncRecordingVfs&) = delete;

    // Sequence numbers of the last write and the last sync (0: none yet), and the syncs so far.
    std::int64_t LastWrite() const { return lastWrite_.load(); }
    std::int64_t LastSync() const { return lastSync_.load(); }
    std::int64_t Syncs() const { return syncs_.load(); }
    // True when every write so far has been followed by a sync.
    bool AllWritesSynced() const { return LastSync() > LastWrite(); }

    // Called by the wrapped files.
    void NoteWrite() { lastWrite_ = ++sequence_; }
    void NoteSync() {
        lastSync_ = ++sequence_;
        ++syncs_;
    }
    // The wrapper's file: its methods first, the real file's storage right after it.
    struct File {
        sqlite3_file base;
        SyncRecordingVfs* owner;
        sqlite3_file* real;
    };

private:
    static int Open(sqlite3_vfs* vfs, const char* name, sqlite3_file* file, int flags,
                    int* outFlags);
    static SyncRecordingVfs& Of(sqlite3_vfs* vfs);

    sqlite3_vfs* real_ = nullptr;
    sqlite3_vfs vfs_{};
    std::atomic<std::int64_t> sequence_{0};
    std::atomic<std::int64_t> lastWrite_{0};
    std::atomic<std::int64_t> lastSync_{0};
    std::atomic<std::int64_t> syncs_{0};
};

}  // namespace tessarine::testing
