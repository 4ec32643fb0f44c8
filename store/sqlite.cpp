#include "store/sqlite.h"

#include <sqlite3.h>

#include "common/text.h"

void CloseDatabase::operator()(sqlite3* db) const noexcept {
    RollBack(db);
    sqlite3_close_v2(db);
}

void FinalizeStatement::operator()(sqlite3_stmt* statement) const noexcept { sqlite3_finalize(statement); }

DatabaseHandle OpenDatabase(const std::filesystem::path& path, int flags) {
    sqlite3* opened = nullptr;
    const int rc = sqlite3_open_v2(reinterpret_cast<const char*>(path.u8string().c_str()), &opened, flags, nullptr);
    // SQLite hands back a handle even when the open fails, for its message.
    DatabaseHandle db(opened);
    if (rc != SQLITE_OK) throw db ? StoreError(db.get()) : Error(Utf8ToUtf16(sqlite3_errstr(rc)));
    sqlite3_busy_timeout(db.get(), kBusyWaitMilliseconds);
    return db;
}

StatementHandle Prepare(sqlite3* db, const std::u16string& sql) {
    sqlite3_stmt* statement = nullptr;
    const int rc = sqlite3_prepare16_v2(db, sql.c_str(), static_cast<int>(sql.size() * sizeof(char16_t)), &statement,
                                        nullptr);
    StatementHandle prepared(statement);
    if (rc != SQLITE_OK) throw Error(Utf8ToUtf16(sqlite3_errmsg(db)));
    return prepared;
}

void Step(sqlite3* db, sqlite3_stmt* statement) {
    const int rc = sqlite3_step(statement);
    sqlite3_reset(statement);
    sqlite3_clear_bindings(statement);
    if (rc != SQLITE_DONE && rc != SQLITE_ROW) ThrowSqlite(db, u"名单库写入失败");
}

bool BeginImmediate(sqlite3* db, std::u16string_view store) {
    if (sqlite3_exec(db, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr) == SQLITE_OK) return true;
    const int rc = sqlite3_errcode(db);
    if (rc != SQLITE_BUSY && rc != SQLITE_LOCKED) return false;
    throw Error(ErrorKind::Busy, {store, Utf8ToUtf16(sqlite3_errmsg(db))});
}

void Commit(sqlite3* db) {
    if (sqlite3_exec(db, "COMMIT", nullptr, nullptr, nullptr) == SQLITE_OK) return;
    // The last step of a commit deletes the journal, then syncs its folder.
    // When only that sync failed, the journal is gone and the change is in
    // the file for good, unless the power goes before the disk writes the
    // folder: SQLite reports the commit as failed all the same.
    if (sqlite3_extended_errcode(db) == SQLITE_IOERR_DIR_FSYNC) {
        const Error reason = StoreError(db);
        RollBack(db);
        throw UnconfirmedChange(ErrorKind::Unconfirmed, {reason.message()});
    }
    throw StoreError(db);
}

void RollBack(sqlite3* db) noexcept {
    if (db != nullptr && sqlite3_get_autocommit(db) == 0) sqlite3_exec(db, "ROLLBACK", nullptr, nullptr, nullptr);
}

Error StoreError(sqlite3* db) {
    const std::u16string message = Utf8ToUtf16(sqlite3_errmsg(db));
    switch (sqlite3_errcode(db) & 0xFF) {
        case SQLITE_IOERR:
            return Error(ErrorKind::DiskIo, {message});
        case SQLITE_FULL:
            return Error(ErrorKind::DiskFull, {message});
        case SQLITE_NOTADB:
        case SQLITE_CORRUPT:
            return Error(ErrorKind::NotAStore, {message});
        default:
            return Error(message);
    }
}

void ThrowSqlite(sqlite3* db, std::u16string_view what) {
    if (db == nullptr) throw Error(std::u16string(what));
    throw Error::Within(std::u16string(what) + u"：", StoreError(db));
}

Error SaveFailed(const std::exception& cause) { return Error::Within(u"名单库保存失败：", cause); }
