#pragma once
// The connection to the roster store: just what the draw window asks of it, on
// SQLite.

#include <filesystem>
#include <string>
#include <vector>

#include "store/sqlite.h"

class TADOQuery;

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
    void BeginTrans();
    void CommitTrans();
    void RollbackTrans();
    bool InTransaction() const { return inTransaction_; }

    // What the last failed open said; empty after a good one.
    const std::u16string& LastError() const { return lastError_; }
    const std::filesystem::path& Path() const { return path_; }

    sqlite3* handle() const { return db_.get(); }
    // Throws the store's error (with SQLite's message) unless the connection is open.
    sqlite3* RequireOpen() const;

private:
    friend class TADOQuery;
    // Takes the store's write lock (BEGIN IMMEDIATE), waiting out a busy store;
    // refuses a store that another copy of the program has replaced.
    void BeginWrite();

    DatabaseHandle db_;
    std::vector<TADOQuery*> queries_;  // closed with the connection
    bool inTransaction_ = false;
    std::filesystem::path path_;
    std::u16string lastError_;
};
