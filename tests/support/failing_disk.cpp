#include "tests/support/failing_disk.h"

#include <sqlite3.h>

#ifndef _WIN32
#include <dlfcn.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#endif

#include <cstdio>
#include <cstring>
#include <filesystem>

namespace fake::disk {

namespace {

struct State {
    bool counting = false;
    int failAt = 0;  // 0: fail none
    Failure failure = Failure::Once;
    std::vector<std::string> steps;
    int failed = 0;
};

State& Disk() {
    static State state;
    return state;
}

// Counts one step; true when it is to fail.
bool Step(const char* what, const char* path) {
    State& disk = Disk();
    if (!disk.counting) return false;
    std::string line = what;
    if (path != nullptr) line += " " + std::filesystem::path(path).filename().string();
    disk.steps.push_back(line);
    const int n = static_cast<int>(disk.steps.size());
    const bool fails = disk.failAt > 0 && (n == disk.failAt || (disk.failure == Failure::FromThenOn && n > disk.failAt));
    if (fails) {
        ++disk.failed;
        disk.steps.back() += " (fails)";
    }
    return fails;
}

// ---- the VFS: the system's own, with every write, truncation, sync and delete counted ----

sqlite3_vfs* g_real = nullptr;

struct File {
    sqlite3_file base;
    const char* path;  // SQLite keeps the name it opened with alive until the close
    sqlite3_file* real() { return reinterpret_cast<sqlite3_file*>(this + 1); }
};

File* Of(sqlite3_file* file) { return reinterpret_cast<File*>(file); }

int Close(sqlite3_file* file) { return Of(file)->real()->pMethods->xClose(Of(file)->real()); }
int Read(sqlite3_file* file, void* buffer, int amount, sqlite3_int64 offset) {
    return Of(file)->real()->pMethods->xRead(Of(file)->real(), buffer, amount, offset);
}
int Write(sqlite3_file* file, const void* buffer, int amount, sqlite3_int64 offset) {
    if (Step("write", Of(file)->path)) return SQLITE_IOERR_WRITE;
    return Of(file)->real()->pMethods->xWrite(Of(file)->real(), buffer, amount, offset);
}
int Truncate(sqlite3_file* file, sqlite3_int64 size) {
    if (Step("truncate", Of(file)->path)) return SQLITE_IOERR_TRUNCATE;
    return Of(file)->real()->pMethods->xTruncate(Of(file)->real(), size);
}
int Sync(sqlite3_file* file, int flags) {
    if (Step("sync", Of(file)->path)) return SQLITE_IOERR_FSYNC;
    return Of(file)->real()->pMethods->xSync(Of(file)->real(), flags);
}
int FileSize(sqlite3_file* file, sqlite3_int64* size) {
    return Of(file)->real()->pMethods->xFileSize(Of(file)->real(), size);
}
int Lock(sqlite3_file* file, int lock) { return Of(file)->real()->pMethods->xLock(Of(file)->real(), lock); }
int Unlock(sqlite3_file* file, int lock) { return Of(file)->real()->pMethods->xUnlock(Of(file)->real(), lock); }
int CheckReservedLock(sqlite3_file* file, int* out) {
    return Of(file)->real()->pMethods->xCheckReservedLock(Of(file)->real(), out);
}
int FileControl(sqlite3_file* file, int op, void* arg) {
    return Of(file)->real()->pMethods->xFileControl(Of(file)->real(), op, arg);
}
int SectorSize(sqlite3_file* file) { return Of(file)->real()->pMethods->xSectorSize(Of(file)->real()); }
int DeviceCharacteristics(sqlite3_file* file) {
    return Of(file)->real()->pMethods->xDeviceCharacteristics(Of(file)->real());
}
int ShmMap(sqlite3_file* file, int page, int size, int extend, void volatile** out) {
    return Of(file)->real()->pMethods->xShmMap(Of(file)->real(), page, size, extend, out);
}
int ShmLock(sqlite3_file* file, int offset, int n, int flags) {
    return Of(file)->real()->pMethods->xShmLock(Of(file)->real(), offset, n, flags);
}
void ShmBarrier(sqlite3_file* file) { Of(file)->real()->pMethods->xShmBarrier(Of(file)->real()); }
int ShmUnmap(sqlite3_file* file, int deleteFlag) {
    return Of(file)->real()->pMethods->xShmUnmap(Of(file)->real(), deleteFlag);
}
int Fetch(sqlite3_file* file, sqlite3_int64 offset, int amount, void** out) {
    return Of(file)->real()->pMethods->xFetch(Of(file)->real(), offset, amount, out);
}
int Unfetch(sqlite3_file* file, sqlite3_int64 offset, void* page) {
    return Of(file)->real()->pMethods->xUnfetch(Of(file)->real(), offset, page);
}

const sqlite3_io_methods kMethods = {
    3,        Close,       Read,         Write,    Truncate,  Sync,     FileSize,  Lock,    Unlock,
    CheckReservedLock,     FileControl,  SectorSize,          DeviceCharacteristics, ShmMap,  ShmLock,
    ShmBarrier,            ShmUnmap,     Fetch,    Unfetch,
};

int Open(sqlite3_vfs*, sqlite3_filename name, sqlite3_file* file, int flags, int* outFlags) {
    File* own = Of(file);
    own->base.pMethods = nullptr;
    own->path = name;
    const int rc = g_real->xOpen(g_real, name, own->real(), flags, outFlags);
    // The real file's methods are what SQLite would call on it: ours only
    // where it opened, and of the same version, so that SQLite asks no more of
    // it than it can do.
    if (rc == SQLITE_OK && own->real()->pMethods != nullptr) {
        static sqlite3_io_methods methods[4];
        const int version = own->real()->pMethods->iVersion;
        methods[version] = kMethods;
        methods[version].iVersion = version;
        own->base.pMethods = &methods[version];
    }
    return rc;
}

int Delete(sqlite3_vfs*, const char* name, int syncDir) {
    if (Step("delete", name)) return SQLITE_IOERR_DELETE;
    return g_real->xDelete(g_real, name, syncDir);
}
int Access(sqlite3_vfs*, const char* name, int flags, int* out) { return g_real->xAccess(g_real, name, flags, out); }
int FullPathname(sqlite3_vfs*, const char* name, int size, char* out) {
    return g_real->xFullPathname(g_real, name, size, out);
}
void* DlOpen(sqlite3_vfs*, const char* name) { return g_real->xDlOpen(g_real, name); }
void DlError(sqlite3_vfs*, int size, char* out) { g_real->xDlError(g_real, size, out); }
void (*DlSym(sqlite3_vfs*, void* handle, const char* symbol))(void) { return g_real->xDlSym(g_real, handle, symbol); }
void DlClose(sqlite3_vfs*, void* handle) { g_real->xDlClose(g_real, handle); }
int Randomness(sqlite3_vfs*, int size, char* out) { return g_real->xRandomness(g_real, size, out); }
int Sleep(sqlite3_vfs*, int microseconds) { return g_real->xSleep(g_real, microseconds); }
int CurrentTime(sqlite3_vfs*, double* out) { return g_real->xCurrentTime(g_real, out); }
int GetLastError(sqlite3_vfs*, int size, char* out) { return g_real->xGetLastError(g_real, size, out); }
int CurrentTimeInt64(sqlite3_vfs*, sqlite3_int64* out) { return g_real->xCurrentTimeInt64(g_real, out); }
int SetSystemCall(sqlite3_vfs*, const char* name, sqlite3_syscall_ptr call) {
    return g_real->xSetSystemCall(g_real, name, call);
}
sqlite3_syscall_ptr GetSystemCall(sqlite3_vfs*, const char* name) { return g_real->xGetSystemCall(g_real, name); }
const char* NextSystemCall(sqlite3_vfs*, const char* name) { return g_real->xNextSystemCall(g_real, name); }

sqlite3_vfs g_vfs;

}  // namespace

void Install() {
    if (g_real != nullptr) return;
    g_real = sqlite3_vfs_find(nullptr);
    g_vfs = sqlite3_vfs{
        3,
        static_cast<int>(sizeof(File)) + g_real->szOsFile,
        g_real->mxPathname,
        nullptr,
        "failing-disk",
        nullptr,
        Open,
        Delete,
        Access,
        FullPathname,
        DlOpen,
        DlError,
        DlSym,
        DlClose,
        Randomness,
        Sleep,
        CurrentTime,
        GetLastError,
        CurrentTimeInt64,
        SetSystemCall,
        GetSystemCall,
        NextSystemCall,
    };
    sqlite3_vfs_register(&g_vfs, 1);
}

void Count() {
    Heal();
    Disk().counting = true;
}

void FailAt(int n, Failure failure) {
    Count();
    Disk().failAt = n;
    Disk().failure = failure;
}

void Heal() {
    State& disk = Disk();
    disk.counting = false;
    disk.failAt = 0;
    disk.steps.clear();
    disk.failed = 0;
}

const std::vector<std::string>& Steps() { return Disk().steps; }
int Failed() { return Disk().failed; }

}  // namespace fake::disk

#ifndef _WIN32
// The program's own steps on the disk: the rename that puts a new store in
// place of cs.db and the sync of the folder that makes it last. These take
// the place of the C library's functions in this test program (and in the
// libraries it loads); they call the C library's own unless a step fails.
// Syncs of files are SQLite's and already counted by the VFS: only the syncs
// of folders are counted here.
namespace {

template <typename Function>
Function Next(const char* name) {
    return reinterpret_cast<Function>(dlsym(RTLD_NEXT, name));
}

bool FolderStepFails(const char* what, int fd) {
    if (!fake::disk::Disk().counting) return false;
    struct stat status {};
    if (fstat(fd, &status) != 0 || !S_ISDIR(status.st_mode)) return false;
    char link[64];
    char target[4096];
    std::snprintf(link, sizeof link, "/proc/self/fd/%d", fd);
    const ssize_t n = readlink(link, target, sizeof target - 1);
    target[n > 0 ? n : 0] = 0;
    return fake::disk::Step(what, target);
}

}  // namespace

extern "C" int rename(const char* from, const char* to) {
    static const auto real = Next<int (*)(const char*, const char*)>("rename");
    if (fake::disk::Step("rename", to)) {
        errno = EIO;
        return -1;
    }
    return real(from, to);
}

extern "C" int fsync(int fd) {
    static const auto real = Next<int (*)(int)>("fsync");
    if (FolderStepFails("sync folder", fd)) {
        errno = EIO;
        return -1;
    }
    return real(fd);
}

extern "C" int fdatasync(int fd) {
    static const auto real = Next<int (*)(int)>("fdatasync");
    if (FolderStepFails("sync folder", fd)) {
        errno = EIO;
        return -1;
    }
    return real(fd);
}
#endif
