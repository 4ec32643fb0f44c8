#pragma once
// SQLite's handles as owning types, and the steps of SQLite the store's classes
// share, each failure in the store's own words. Only the store uses these;
// the forms catch UnconfirmedChange.

#include <filesystem>
#include <memory>
#include <string>
#include <string_view>

#include "common/text.h"

struct sqlite3;
struct sqlite3_stmt;

// A change the file holds, though the disk did not confirm that it will
// outlast a power cut (the sync of its folder failed). A commit that throws
// it has not been rolled back: the views hold the change too.
class UnconfirmedChange : public Error {
public:
    using Error::Error;
};

// Closing a database rolls back a transaction still open on it.
struct CloseDatabase {
    void operator()(sqlite3* db) const noexcept;
};
using DatabaseHandle = std::unique_ptr<sqlite3, CloseDatabase>;

struct FinalizeStatement {
    void operator()(sqlite3_stmt* statement) const noexcept;
};
using StatementHandle = std::unique_ptr<sqlite3_stmt, FinalizeStatement>;

inline constexpr int kBusyWaitMilliseconds = kBusyWaitSeconds * 1000;

// Opens the database file at path with flags (SQLITE_OPEN_…); a write on it
// waits out a busy store for kBusyWaitMilliseconds. Throws Error with SQLite's
// reason.
DatabaseHandle OpenDatabase(const std::filesystem::path& path, int flags);

// Throws Error with SQLite's message when sql does not compile.
StatementHandle Prepare(sqlite3* db, const std::u16string& sql);
// Prepares the text sql() makes into statement the first time; the same
// statement after that, without making the text again.
template <typename MakeSql>
sqlite3_stmt* PrepareOnce(StatementHandle& statement, sqlite3* db, MakeSql&& sql) {
    if (!statement) statement = Prepare(db, sql());
    return statement.get();
}
// Runs a prepared statement that returns no rows, then resets it for reuse.
void Step(sqlite3* db, sqlite3_stmt* statement);

// Takes the store's write lock (BEGIN IMMEDIATE), waiting out a busy store.
// Throws the busy-store message, naming store, when another copy of the
// program held the lock for the whole wait; false when SQLite refused for
// another reason.
bool BeginImmediate(sqlite3* db, std::u16string_view store);
// Runs COMMIT; throws Error with SQLite's reason when it fails. What is to be
// rolled back then is the caller's to roll back. Throws UnconfirmedChange when
// the change is in the file but the sync of its folder failed: there is
// nothing to roll back.
void Commit(sqlite3* db);
// Rolls back the transaction open on db, if there is one.
void RollBack(sqlite3* db) noexcept;

// The last error on db: SQLite's message, of the kind its code tells (a full
// or failing disk, a file that is no store), with a word for the user where
// the disk itself failed ("磁盘读写出错（disk I/O error）").
Error StoreError(sqlite3* db);
// Throws Error: what, then the last error on db.
[[noreturn]] void ThrowSqlite(sqlite3* db, std::u16string_view what);
// A change that did not reach the file, for cause.
Error SaveFailed(const std::exception& cause);
