#pragma once

#include "common/text.h"

class TADOConnection;

// A change the file holds, though the disk did not confirm that it will
// outlast a power cut (the sync of its folder failed). A commit that throws
// it has not been rolled back: the views hold the change too.
class UnconfirmedChange : public Error {
public:
    using Error::Error;
};

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
