#include "tests/data/FaultyVfs.h"

#include <sqlite3.h>

#include <cstring>

namespace testdata {
namespace {

struct FaultyFile {
    sqlite3_file base;
    sqlite3_file* real;  // the forwarded file, allocated right after this struct
    const char* path;    // valid until xClose, as SQLite guarantees
};

struct State {
    sqlite3_vfs vfs{};
    sqlite3_vfs* real = nullptr;
    sqlite3_io_methods methods{};
    std::string pathPart;
    FaultyVfs::WriteHook hook;
    int writes = 0;
};
State* gState = nullptr;

sqlite3_file* Real(sqlite3_file* f) {
    return reinterpret_cast<FaultyFile*>(f)->real;
}

int Close(sqlite3_file* f) {
    return Real(f)->pMethods->xClose(Real(f));
}
int Read(sqlite3_file* f, void* buf, int amount, sqlite3_int64 offset) {
    return Real(f)->pMethods->xRead(Real(f), buf, amount, offset);
}
int Write(sqlite3_file* f, const void* buf, int amount, sqlite3_int64 offset) {
    const auto* file = reinterpret_cast<FaultyFile*>(f);
    if (file->path != nullptr && std::strstr(file->path, gState->pathPart.c_str()) != nullptr) {
        const int rc = gState->hook(file->path, ++gState->writes);
        if (rc != SQLITE_OK) {
            return rc;
        }
    }
    return Real(f)->pMethods->xWrite(Real(f), buf, amount, offset);
}
int Truncate(sqlite3_file* f, sqlite3_int64 size) {
    return Real(f)->pMethods->xTruncate(Real(f), size);
}
int Sync(sqlite3_file* f, int flags) {
    return Real(f)->pMethods->xSync(Real(f), flags);
}
int FileSize(sqlite3_file* f, sqlite3_int64* size) {
    return Real(f)->pMethods->xFileSize(Real(f), size);
}
int Lock(sqlite3_file* f, int level) {
    return Real(f)->pMethods->xLock(Real(f), level);
}
int Unlock(sqlite3_file* f, int level) {
    return Real(f)->pMethods->xUnlock(Real(f), level);
}
int CheckReservedLock(sqlite3_file* f, int* out) {
    return Real(f)->pMethods->xCheckReservedLock(Real(f), out);
}
int FileControl(sqlite3_file* f, int op, void* arg) {
    return Real(f)->pMethods->xFileControl(Real(f), op, arg);
}
int SectorSize(sqlite3_file* f) {
    return Real(f)->pMethods->xSectorSize(Real(f));
}
int DeviceCharacteristics(sqlite3_file* f) {
    return Real(f)->pMethods->xDeviceCharacteristics(Real(f));
}
int ShmMap(sqlite3_file* f, int region, int size, int extend, void volatile** out) {
    return Real(f)->pMethods->xShmMap(Real(f), region, size, extend, out);
}
int ShmLock(sqlite3_file* f, int offset, int n, int flags) {
    return Real(f)->pMethods->xShmLock(Real(f), offset, n, flags);
}
void ShmBarrier(sqlite3_file* f) {
    Real(f)->pMethods->xShmBarrier(Real(f));
}
int ShmUnmap(sqlite3_file* f, int deleteFlag) {
    return Real(f)->pMethods->xShmUnmap(Real(f), deleteFlag);
}
int Fetch(sqlite3_file* f, sqlite3_int64 offset, int amount, void** out) {
    return Real(f)->pMethods->xFetch(Real(f), offset, amount, out);
}
int Unfetch(sqlite3_file* f, sqlite3_int64 offset, void* p) {
    return Real(f)->pMethods->xUnfetch(Real(f), offset, p);
}

int Open(sqlite3_vfs* /*vfs*/, const char* name, sqlite3_file* f, int flags, int* outFlags) {
    auto* file = reinterpret_cast<FaultyFile*>(f);
    file->real = reinterpret_cast<sqlite3_file*>(file + 1);
    file->path = name;
    const int rc = gState->real->xOpen(gState->real, name, file->real, flags, outFlags);
    file->base.pMethods = file->real->pMethods != nullptr ? &gState->methods : nullptr;
    return rc;
}

}  // namespace

FaultyVfs::FaultyVfs(std::string pathPart, WriteHook hook) {
    gState = new State;
    gState->pathPart = std::move(pathPart);
    gState->hook = std::move(hook);
    gState->real = sqlite3_vfs_find(nullptr);
    gState->vfs = *gState->real;
    gState->vfs.zName = "tolvane-faulty";
    gState->vfs.szOsFile = static_cast<int>(sizeof(FaultyFile)) + gState->real->szOsFile;
    gState->vfs.xOpen = Open;
    gState->vfs.pNext = nullptr;
    sqlite3_io_methods& m = gState->methods;
    m.iVersion = 3;
    m.xClose = Close;
    m.xRead = Read;
    m.xWrite = Write;
    m.xTruncate = Truncate;
    m.xSync = Sync;
    m.xFileSize = FileSize;
    m.xLock = Lock;
    m.xUnlock = Unlock;
    m.xCheckReservedLock = CheckReservedLock;
    m.xFileControl = FileControl;
    m.xSectorSize = SectorSize;
    m.xDeviceCharacteristics = DeviceCharacteristics;
    m.xShmMap = ShmMap;
    m.xShmLock = ShmLock;
    m.xShmBarrier = ShmBarrier;
    m.xShmUnmap = ShmUnmap;
    m.xFetch = Fetch;
    m.xUnfetch = Unfetch;
    sqlite3_vfs_register(&gState->vfs, 1);
}

FaultyVfs::~FaultyVfs() {
    sqlite3_vfs_unregister(&gState->vfs);
    sqlite3_vfs_register(gState->real, 1);
    delete gState;
    gState = nullptr;
}

int FaultyVfs::Writes() const {
    return gState->writes;
}

}  // namespace testdata
