#include "store/connection.h"

#include <sqlite3.h>

#include <algorithm>

#include "common/text.h"
#include "platform/kernel.h"
#include "store/connection_string.h"
#include "store/transaction_participant.h"

namespace {

// A copy of the program killed before its write had reached the file leaves
// a journal whose header was never written. SQLite ignores such a journal and
// never removes it. It is removed here under the write lock, which no live
// writer holds then (one that does keeps its journal: the lock is only tried).
void RemoveStaleJournal(sqlite3* db, const std::filesystem::path& path) {
    std::filesystem::path journal = path;
    journal += "-journal";
    std::error_code ec;
    if (!std::filesystem::exists(std::filesystem::symlink_status(journal, ec))) return;
    sqlite3_busy_timeout(db, 0);
    if (sqlite3_exec(db, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr) == SQLITE_OK) {
        std::filesystem::remove(journal, ec);
        RollBack(db);
    }
    sqlite3_busy_timeout(db, kBusyWaitMilliseconds);
}

}  // namespace

TADOConnection::~TADOConnection() { Close(); }

sqlite3* TADOConnection::RequireOpen() const {
    if (db_ == nullptr) {
        throw lastError_ ? *lastError_ : Error(u"名单库没有连接");
    }
    return db_.get();
}

void TADOConnection::Open() {
    Close();
    const ::ConnectionString parts = ParseConnectionString(ConnectionString);
    path_ = std::filesystem::path(parts.dataSource);
    const std::u16string where = u"打不开名单库“" + path_.u16string() + u"”";
    try {
        if (parts.dataSource.empty()) throw Error(where + u"：连接串里没有 Data Source");
        if (!parts.password.empty()) throw Error(where + u"：名单库不设密码");
        std::error_code ec;
        const auto status = std::filesystem::status(path_, ec);
        if (!std::filesystem::exists(status)) throw Error::Within(where + u"：", Error(ErrorKind::NoStoreFile, {}));
        if (!std::filesystem::is_regular_file(status)) {
            throw Error::Within(where + u"：", Error(ErrorKind::NotAFile, {}));
        }

        // Only the user-interface thread uses a connection: SQLite need not
        // take its mutexes on every call (they cost 7 % of a large import).
        DatabaseHandle db;
        try {
            db = OpenDatabase(path_, SQLITE_OPEN_READWRITE | SQLITE_OPEN_NOMUTEX);
        } catch (const Error& error) {
            throw Error::Within(where + u"：", error);
        }
        // Every posted draw is on disk before its handler returns, and stays
        // there if the power goes right after: each commit is synced in full
        // and ends by getting rid of its rollback journal in a way that lasts.
        // Where a folder can be synced, the journal is deleted and its folder
        // synced after that (EXTRA; at FULL a power cut could bring the
        // journal back and roll the commit back at the next start), so that
        // while the program is not running the store is this one file. On
        // Windows, where SQLite syncs no folder, the journal is cut to nothing
        // and synced through its own handle, and stays beside the store, empty.
        const char* setup = kernel::kFoldersCanBeSynced
                                ? "PRAGMA schema_version; PRAGMA journal_mode=DELETE; PRAGMA synchronous=EXTRA;"
                                : "PRAGMA schema_version; PRAGMA journal_mode=TRUNCATE; PRAGMA synchronous=EXTRA;";
        if (sqlite3_exec(db.get(), setup, nullptr, nullptr, nullptr) != SQLITE_OK) {
            throw Error::Within(where + u"：", StoreError(db.get()));
        }
        if (sqlite3_db_readonly(db.get(), "main") == 1) throw Error::Within(where + u"：", Error(ErrorKind::ReadOnly, {}));
        // Each write makes a journal beside the file: without it no draw
        // could be saved, and that would only show once a spin had ended.
        const std::filesystem::path folder = path_.parent_path();
        const std::u16string unwritable = kernel::FolderWriteError(folder);
        if (!unwritable.empty()) {
            throw Error(where + u"：它所在的文件夹“" + folder.u16string() + u"”不能写入，抽中的次数无法保存（" +
                        unwritable + u"）");
        }
        RemoveStaleJournal(db.get(), path_);
        db_ = std::move(db);
        lastError_.reset();
    } catch (const Error& error) {
        lastError_ = error;
        throw;
    }
}

void TADOConnection::Close() {
    for (TransactionParticipant* participant : participants_) participant->ConnectionClosing();
    db_.reset();
    inTransaction_ = false;
}

void TADOConnection::BeginWrite() {
    sqlite3* db = RequireOpen();
    // Waits up to the busy timeout for another copy of the program to finish
    // its write.
    if (!BeginImmediate(db, u"名单库“" + path_.u16string() + u"”")) ThrowSqlite(db, u"名单库出错");
    // Another copy of the program may have imported a roster: its new store
    // has taken this one's name, and what is written here would go to a file
    // that no longer has one. Asked with the write lock held, so that the
    // replacement (which takes the lock of the old store) cannot come between.
    int moved = 0;
    if (sqlite3_file_control(db, "main", SQLITE_FCNTL_HAS_MOVED, &moved) == SQLITE_OK && moved != 0) {
        RollBack(db);
        throw Error(ErrorKind::StoreReplaced, {path_.u16string()});
    }
}

void TADOConnection::CommitWrite() {
    if (!Writing()) return;
    sqlite3* db = db_.get();
    try {
        Commit(db);
    } catch (const UnconfirmedChange&) {
        throw;
    } catch (const Error& error) {
        RollBack(db);
        throw SaveFailed(error);
    }
}

void TADOConnection::RollbackWrite() noexcept { RollBack(db_.get()); }

bool TADOConnection::Writing() const { return db_ != nullptr && sqlite3_get_autocommit(db_.get()) == 0; }

void TADOConnection::Execute(const std::u16string& sql) {
    sqlite3* db = RequireOpen();
    const StatementHandle statement = Prepare(db, sql);
    if (const int rc = sqlite3_step(statement.get()); rc != SQLITE_DONE && rc != SQLITE_ROW) {
        ThrowSqlite(db, u"名单库出错");
    }
}

void TADOConnection::Register(TransactionParticipant& participant) { participants_.push_back(&participant); }

void TADOConnection::Unregister(TransactionParticipant& participant) { std::erase(participants_, &participant); }

void TADOConnection::BeginTrans() {
    BeginWrite();
    inTransaction_ = true;
    for (TransactionParticipant* participant : participants_) participant->TransactionBegun();
}

void TADOConnection::CommitTrans() {
    sqlite3* db = RequireOpen();
    try {
        for (TransactionParticipant* participant : participants_) participant->WriteOut();
        Commit(db);
    } catch (const UnconfirmedChange&) {
        EndTrans(false);
        throw;
    } catch (const std::exception& error) {
        RollbackTrans();
        throw SaveFailed(error);
    }
    EndTrans(false);
}

void TADOConnection::RollbackTrans() {
    RollBack(db_.get());
    // Whatever the rollback did on disk, the file holds (or, once a journal
    // left by a failing disk has been played back, will hold) what it held
    // before the transaction: so do the views.
    EndTrans(true);
}

void TADOConnection::EndTrans(bool rolledBack) {
    inTransaction_ = false;
    for (TransactionParticipant* participant : participants_) participant->TransactionEnded(rolledBack);
}
