#include "store/transaction.h"

#include <gtest/gtest.h>

#include "common/text.h"
#include "store/connection.h"
#include "store/query.h"
#include "store/sequences.h"
#include "tests/support/fixture.h"

namespace {

using fake::StoredRow;
using Rows = std::vector<StoredRow>;

class TransactionTest : public ::testing::Test {
protected:
    std::filesystem::path Store() const { return dir.path() / "cs.db"; }
    void Open(const Rows& rows) {
        fake::MakeStore(Store(), rows);
        OpenRosterView(connection, query, Store());
        ASSERT_TRUE(query.Active());
        query.SetSort(u"");
    }
    void SetEveryCount(int value) {
        for (query.First(); !query.Eof(); query.Next()) {
            query.Edit();
            query.SetField("c", value);
            query.Post();
        }
    }
    Rows ViewRows() {
        Rows rows;
        for (query.First(); !query.Eof(); query.Next()) {
            rows.push_back(StoredRow{query.FieldAsText("xm"), query.FieldAsInteger("c")});
        }
        return rows;
    }
    fake::TempDir dir;
    TADOConnection connection;
    TADOQuery query{connection};
};

TEST_F(TransactionTest, CommitIsExplicitAndEverythingElseRollsBack) {
    Open({{u"甲", 3}, {u"乙", 4}});
    {
        Transaction transaction(connection);
        EXPECT_TRUE(connection.InTransaction());
        SetEveryCount(1);
        transaction.Commit();
        EXPECT_FALSE(connection.InTransaction());
        EXPECT_THROW(transaction.Commit(), Error) << "a second commit";
    }
    EXPECT_EQ(fake::StoredRows(Store()), (Rows{{u"甲", 1}, {u"乙", 1}}));

    {
        Transaction transaction(connection);
        SetEveryCount(9);
        query.AppendRecord(u"丙", 0);
    }
    EXPECT_FALSE(connection.InTransaction()) << "a guard gone without a commit";
    EXPECT_EQ(fake::StoredRows(Store()), (Rows{{u"甲", 1}, {u"乙", 1}}));
    EXPECT_EQ(ViewRows(), (Rows{{u"甲", 1}, {u"乙", 1}}));

    EXPECT_THROW(
        {
            Transaction transaction(connection);
            SetEveryCount(0);
            throw Error(u"中途出错");
        },
        Error);
    EXPECT_FALSE(connection.InTransaction()) << "an exception on the way";
    EXPECT_EQ(fake::StoredRows(Store()), (Rows{{u"甲", 1}, {u"乙", 1}}));
    EXPECT_EQ(ViewRows(), (Rows{{u"甲", 1}, {u"乙", 1}}));
}

TEST_F(TransactionTest, ACommitThatFailsHasRolledBack) {
    Open({{u"甲", 3}, {u"乙", 4}});
    fake::Sql(Store(), "create trigger refuse before update on cs when old.xm = '乙' "
                       "begin select raise(abort, 'refused'); end;");
    Transaction transaction(connection);
    SetEveryCount(0);  // held until the commit writes them
    try {
        transaction.Commit();
        ADD_FAILURE() << "the commit went through";
    } catch (const Error& error) {
        EXPECT_NE(error.message().find(u"refused"), std::u16string::npos) << error.what();
    }
    EXPECT_FALSE(connection.InTransaction());
    EXPECT_EQ(fake::StoredRows(Store()), (Rows{{u"甲", 3}, {u"乙", 4}}));
    EXPECT_EQ(ViewRows(), (Rows{{u"甲", 3}, {u"乙", 4}}));
}

}  // namespace
