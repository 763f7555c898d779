#include "fakes/sync_recording_vfs.h"

#include <cstring>

namespace tessarine::testing {

namespace {

sqlite3_file* Real(sqlite3_file* file) {
    return reinterpret_cast<SyncRecordingVfs::File*>(file)->real;
}
SyncRecordingVfs* Owner(sqlite3_file* file) {
    return reinterpret_cast<SyncRecordingVfs::File*>(file)->owner;
}

}  // namespace

SyncRecordingVfs& SyncRecordingVfs::Of(sqlite3_vfs* vfs) {
    return *static_cast<SyncRecordingVfs*>(vfs->pAppData);
}

SyncRecordingVfs::SyncRecordingVfs() {
    real_ = sqlite3_vfs_find(nullptr);
    vfs_.iVersion = 2;
    vfs_.szOsFile = static_cast<int>(sizeof(File)) + real_->szOsFile;
    vfs_.mxPathname = real_->mxPathname;
    vfs_.zName = "tessarine-sync-recording";
    vfs_.pAppData = this;
    vfs_.xOpen = &SyncRecordingVfs::Open;
    vfs_.xDelete = [](sqlite3_vfs* v, const char* n, int d) {
        return Of(v).real_->xDelete(Of(v).real_, n, d);
    };
    vfs_.xAccess = [](sqlite3_vfs* v, const char* n, int f, int* o) {
        return Of(v).real_->xAccess(Of(v).real_, n, f, o);
    };
    vfs_.xFullPathname = [](sqlite3_vfs* v, const char* n, int size, char* out) {
        return Of(v).real_->xFullPathname(Of(v).real_, n, size, out);
    };
    vfs_.xDlOpen = [](sqlite3_vfs* v, const char* n) {
        return Of(v).real_->xDlOpen(Of(v).real_, n);
    };
    vfs_.xDlError = [](sqlite3_vfs* v, int size, char* out) {
        Of(v).real_->xDlError(Of(v).real_, size, out);
    };
    vfs_.xDlSym = [](sqlite3_vfs* v, void* h, const char* s) {
        return Of(v).real_->xDlSym(Of(v).real_, h, s);
    };
    vfs_.xDlClose = [](sqlite3_vfs* v, void* h) { Of(v).real_->xDlClose(Of(v).real_, h); };
    vfs_.xRandomness = [](sqlite3_vfs* v, int size, char* out) {
        return Of(v).real_->xRandomness(Of(v).real_, size, out);
    };
    vfs_.xSleep = [](sqlite3_vfs* v, int us) { return Of(v).real_->xSleep(Of(v).real_, us); };
    vfs_.xCurrentTime = [](sqlite3_vfs* v, double* t) {
        return Of(v).real_->xCurrentTime(Of(v).real_, t);
    };
    vfs_.xGetLastError = [](sqlite3_vfs* v, int size, char* out) {
        return Of(v).real_->xGetLastError(Of(v).real_, size, out);
    };
    vfs_.xCurrentTimeInt64 = [](sqlite3_vfs* v, sqlite3_int64* t) {
        return Of(v).real_->xCurrentTimeInt64(Of(v).real_, t);
    };
    sqlite3_vfs_register(&vfs_, 1);
}

SyncRecordingVfs::~SyncRecordingVfs() { sqlite3_vfs_unregister(&vfs_); }

int SyncRecordingVfs::Open(sqlite3_vfs* vfs, const char* name, sqlite3_file* file, int flags,
                           int* outFlags) {
    static const sqlite3_io_methods kMethods = {
        3,
        [](sqlite3_file* f) {
            const int result =
                Real(f)->pMethods != nullptr ? Real(f)->pMethods->xClose(Real(f)) : SQLITE_OK;
            f->pMethods = nullptr;
            return result;
        },
        [](sqlite3_file* f, void* out, int amount, sqlite3_int64 offset) {
            return Real(f)->pMethods->xRead(Real(f), out, amount, offset);
        },
        [](sqlite3_file* f, const void* in, int amount, sqlite3_int64 offset) {
            Owner(f)->NoteWrite();
            return Real(f)->pMethods->xWrite(Real(f), in, amount, offset);
        },
        [](sqlite3_file* f, sqlite3_int64 size) {
            return Real(f)->pMethods->xTruncate(Real(f), size);
        },
        [](sqlite3_file* f, int flags) {
            const int result = Real(f)->pMethods->xSync(Real(f), flags);
            Owner(f)->NoteSync();
            return result;
        },
        [](sqlite3_file* f, sqlite3_int64* size) {
            return Real(f)->pMethods->xFileSize(Real(f), size);
        },
        [](sqlite3_file* f, int lock) { return Real(f)->pMethods->xLock(Real(f), lock); },
        [](sqlite3_file* f, int lock) { return Real(f)->pMethods->xUnlock(Real(f), lock); },
        [](sqlite3_file* f, int* out) {
            return Real(f)->pMethods->xCheckReservedLock(Real(f), out);
        },
        [](sqlite3_file* f, int op, void* arg) {
            return Real(f)->pMethods->xFileControl(Real(f), op, arg);
        },
        [](sqlite3_file* f) { return Real(f)->pMethods->xSectorSize(Real(f)); },
        [](sqlite3_file* f) { return Real(f)->pMethods->xDeviceCharacteristics(Real(f)); },
        [](sqlite3_file* f, int region, int size, int extend, void volatile** out) {
            return Real(f)->pMethods->xShmMap(Real(f), region, size, extend, out);
        },
        [](sqlite3_file* f, int offset, int n, int flags) {
            return Real(f)->pMethods->xShmLock(Real(f), offset, n, flags);
        },
        [](sqlite3_file* f) { Real(f)->pMethods->xShmBarrier(Real(f)); },
        [](sqlite3_file* f, int remove) { return Real(f)->pMethods->xShmUnmap(Real(f), remove); },
        [](sqlite3_file* f, sqlite3_int64 offset, int amount, void** out) {
            return Real(f)->pMethods->xFetch(Real(f), offset, amount, out);
        },
        [](sqlite3_file* f, sqlite3_int64 offset, void* data) {
            return Real(f)->pMethods->xUnfetch(Real(f), offset, data);
        },
    };
    SyncRecordingVfs& self = Of(vfs);
    auto* wrapper = reinterpret_cast<SyncRecordingVfs::File*>(file);
    wrapper->owner = &self;
    wrapper->real = reinterpret_cast<sqlite3_file*>(wrapper + 1);
    std::memset(wrapper->real, 0, static_cast<std::size_t>(self.real_->szOsFile));
    const int result = self.real_->xOpen(self.real_, name, wrapper->real, flags, outFlags);
    // SQLite calls xClose whenever pMethods is set, also after a failed open.
    wrapper->base.pMethods = wrapper->real->pMethods != nullptr ? &kMethods : nullptr;
    return result;
}

}  // namespace tessarine::testing
