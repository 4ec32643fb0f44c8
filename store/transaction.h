#pragma once

#include "store/sqlite.h"  // UnconfirmedChange, which Commit may throw

class TADOConnection;

// A transaction of the connection for as long as the guard lives. Commit is
// explicit; a transaction not committed when the guard goes (an exception on
// the way) is rolled back, in the file and in the views alike.
class Transaction {
public:
    explicit Transaction(TADOConnection& connection);
    ~Transaction();
    Transaction(const Transaction&) = delete;
    Transaction& operator=(const Transaction&) = delete;

    // Ends the transaction either way: a commit that fails has rolled it back,
    // except one that throws UnconfirmedChange. Throws Error when the
    // transaction has ended already.
    void Commit();

private:
    TADOConnection& connection_;
    bool open_ = true;
};
