#pragma once
// How the connection reaches what takes part in its transactions, without
// knowing what it is: a view that holds rows of the file registers itself.

class TransactionParticipant {
public:
    // The connection's transaction has begun.
    virtual void TransactionBegun() = 0;
    // Writes what waits to be written; before the commit.
    virtual void WriteOut() = 0;
    // The transaction has ended: committed, or rolled back (whatever it
    // changed is to be put back).
    virtual void TransactionEnded(bool rolledBack) = 0;
    // The connection closes: what it holds of the file goes.
    virtual void ConnectionClosing() = 0;

protected:
    ~TransactionParticipant() = default;
};
