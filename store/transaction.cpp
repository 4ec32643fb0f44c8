#include "store/transaction.h"

#include "common/text.h"
#include "store/connection.h"

Transaction::Transaction(TADOConnection& connection) : connection_(connection) { connection_.BeginTrans(); }

Transaction::~Transaction() {
    if (!open_) return;
    try {
        connection_.RollbackTrans();
    } catch (const std::exception&) {
        // A destructor that throws while an exception unwinds ends the
        // program; the rollback has done on disk all it could by then.
    }
}

void Transaction::Commit() {
    if (!open_) throw Error(u"名单库的这次修改已经结束");
    open_ = false;
    connection_.CommitTrans();
}
