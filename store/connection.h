#pragma once
// The connection to the roster store: just what the draw window asks of it, on
// SQLite.

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "store/sqlite.h"

class TransactionParticipant;

class TADOConnection {
public:
    TADOConnection() = default;
    ~TADOConnection();
    TADOConnection(const TADOConnection&) = delete;
    TADOConnection& operator=(const TADOConnection&) = delete;

    bool LoginPrompt = true;
    std::u16string ConnectionString;

    void Open();
    void Close();
    bool Connected() const { return db_ != nullptr; }

    // Transaction (store/transaction.h) pairs these for a block of code.
    // What the views registered with the connection changed inside it is
    // written out before the commit and put back after a rollback.
    void BeginTrans();
    void CommitTrans();
    void RollbackTrans();
    bool InTransaction() const { return inTransaction_; }

    // Why the last open failed; none after a good one.
    const std::optional<Error>& LastError() const { return lastError_; }
    const std::filesystem::path& Path() const { return path_; }

    // A write of the store's own, unseen by the views: takes the store's
    // write lock (BEGIN IMMEDIATE), waiting out a busy store; refuses a store
    // that another copy of the program has replaced.
    void BeginWrite();
    // Commits it; a commit that fails has rolled it back, except one that
    // throws UnconfirmedChange.
    void CommitWrite();
    void RollbackWrite() noexcept;
    // Whether a write (BeginWrite or BeginTrans) is open on the file.
    bool Writing() const;

    // Runs a statement that returns no rows.
    void Execute(const std::u16string& sql);

    // A view that holds rows of the file: told of the transactions and of
    // the close. It unregisters before it goes.
    void Register(TransactionParticipant& participant);
    void Unregister(TransactionParticipant& participant);

    sqlite3* handle() const { return db_.get(); }
    // Throws the store's error (with SQLite's message) unless the connection is open.
    sqlite3* RequireOpen() const;

private:
    void EndTrans(bool rolledBack);

    DatabaseHandle db_;
    std::vector<TransactionParticipant*> participants_;
    bool inTransaction_ = false;
    std::filesystem::path path_;
    std::optional<Error> lastError_;
};
