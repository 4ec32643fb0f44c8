#include "store/connection.h"

#include <gtest/gtest.h>
#include <sqlite3.h>

#include <set>

#include "common/text.h"
#include "store/connection_string.h"
#include "store/jet.h"
#include "store/query.h"
#include "store/sequences.h"
#include "tests/support/fixture.h"

namespace {

using fake::StoredRow;

class StoreTest : public ::testing::Test {
protected:
    std::filesystem::path Store() const { return dir.path() / "cs.db"; }
    void Open(const std::vector<StoredRow>& rows) {
        fake::MakeStore(Store(), rows);
        OpenRosterView(connection, query, Store());
        ASSERT_TRUE(query.Active());
    }
    std::vector<std::u16string> Order() {
        std::vector<std::u16string> names;
        for (query.First(); !query.Eof(); query.Next()) names.push_back(query.FieldAsText("xm"));
        return names;
    }
    fake::TempDir dir;
    TADOConnection connection;
    TADOQuery query{connection};
};

TEST(ConnectionString, KeysWithoutCaseOrBlanks) {
    const ConnectionString parts = ParseConnectionString(
        u"Provider=Microsoft.Jet.OLEDB.4.0;Persist Security Info = False;Mode = ReadWrite;"
        u"Data Source=/tmp/名单/cs.db;Jet OLEDB:Database Password=");
    EXPECT_EQ(parts.dataSource, u"/tmp/名单/cs.db");
    EXPECT_EQ(parts.password, u"");
    EXPECT_EQ(ParseConnectionString(u" data source = a.db ;DATA SOURCE=b.db").dataSource, u"b.db");
    EXPECT_EQ(ParseConnectionString(u"Data Source").dataSource, u"");
    EXPECT_EQ(ParseConnectionString(u"").dataSource, u"");
    EXPECT_EQ(ParseConnectionString(u"Data Source= \"a;b\"\"c\" ;x=1").dataSource, u"a;b\"c");
    EXPECT_EQ(ParseConnectionString(u"Data Source='a;\"b' ").dataSource, u"a;\"b");
    EXPECT_EQ(ParseConnectionString(u"Data Source=\"a;b").dataSource, u"\"a") << "a quote never closed is no quote";
}

TEST(ConnectionString, AnyPathComesBackWhole) {
    // An ordinary path goes in as it stands.
    EXPECT_EQ(ConnectionStringValue(u"/home/李老师/点名/cs.db"), u"/home/李老师/点名/cs.db");
    EXPECT_EQ(ConnectionStringValue(u"C:\\Users\\老师\\My Class\\cs.db"), u"C:\\Users\\老师\\My Class\\cs.db");
    EXPECT_EQ(ConnectionStringValue(u""), u"");
    for (const std::u16string path : {u"/班;级/cs.db", u"/x;Data Source=/some/file;y/cs.db", u"/a=b/cs.db",
                                      u"\"/quoted\"/cs.db", u"'/single'", u" /lead", u"/trail\t", u"/\U0001F600;\"'/cs.db",
                                      u"C:\\班;级\\cs.db", u";", u"\"", u"''"}) {
        const ConnectionString parts = ParseConnectionString(
            u"Provider=Microsoft.Jet.OLEDB.4.0;Persist Security Info = False;Mode = ReadWrite;Data Source=" +
            ConnectionStringValue(path) + u";Jet OLEDB:Database Password=" + ConnectionStringValue(u""));
        EXPECT_EQ(parts.dataSource, path) << fake::Utf8(path);
        EXPECT_EQ(parts.password, u"") << fake::Utf8(path);
    }
}

TEST(ConnectionString, TheRoutinesWriteAnOrdinaryPathAsItStands) {
    fake::TempDir dir;
    const std::u16string path = (dir.path() / "cs.db").u16string();
    ASSERT_TRUE(CreateJetDatabase(path, u""));
    TADOConnection connection;
    ASSERT_TRUE(ConnectJetDatabase(connection, path, u""));
    EXPECT_EQ(connection.ConnectionString,
              u"Provider=Microsoft.Jet.OLEDB.4.0;Persist Security Info = False;Mode = ReadWrite;Data Source=" + path +
                  u";Jet OLEDB:Database Password=");
}

// Teachers name folders after classes and terms: whatever a folder's name
// holds, the store is made in it and found there again, and nothing is made
// anywhere else. (On Linux the second name is three folders deep, and its
// middle part an absolute path.)
TEST(ConnectionString, AStoreInAFolderOfAnyNameStaysInIt) {
    fake::TempDir dir;
    const std::filesystem::path elsewhere = dir.path() / "elsewhere.db";
    const std::u16string names[] = {u"班;级", u"x;Data Source=" + elsewhere.u16string() + u";y", u"a=b",
                                    u"\"初二\" 1班", u"'三年级'", u" 前后有空格 ", u"\U0001F600;表情"};
    for (const std::u16string& name : names) {
        const std::filesystem::path folder = dir.path() / std::filesystem::path(name);
        std::filesystem::create_directories(folder);
        const std::filesystem::path store = folder / "cs.db";
        TADOConnection connection;
        TADOQuery query{connection};
        const Roster roster{folder / "名单.txt", {u"甲", u"乙"}};
        CreateStore(connection, query, store, &roster);
        OpenRosterView(connection, query, store);
        EXPECT_TRUE(query.Active()) << fake::Utf8(name) << ": " << LastStoreRoutineError().what();
        EXPECT_EQ(connection.Path(), store) << fake::Utf8(name);
        query.Close();
        connection.Close();
        EXPECT_EQ(fake::StoredRows(store), (std::vector<StoredRow>{{u"甲", 0}, {u"乙", 0}})) << fake::Utf8(name);
    }
    std::vector<std::u16string> made;
    for (const auto& entry : std::filesystem::directory_iterator(dir.path())) made.push_back(entry.path().filename().u16string());
    std::sort(made.begin(), made.end());
    std::vector<std::u16string> folders;
    for (const std::u16string& name : names) folders.push_back(std::filesystem::path(name).begin()->u16string());
    std::sort(folders.begin(), folders.end());
    EXPECT_EQ(made, folders) << "nothing beside the folders, " << elsewhere << " least of all";
}

TEST_F(StoreTest, TheFourRoutinesMakeTheOneTable) {
    EXPECT_TRUE(CreateJetDatabase(Store().u16string(), u""));
    EXPECT_FALSE(CreateJetDatabase(Store().u16string(), u"")) << "the file exists already";
    EXPECT_FALSE(CreateJetDatabase((dir.path() / "no" / "such" / "cs.db").u16string(), u""));
    EXPECT_FALSE(ConnectJetDatabase(connection, (dir.path() / "missing.db").u16string(), u""));
    ASSERT_TRUE(connection.LastError());
    EXPECT_EQ(connection.LastError()->kind(), ErrorKind::NoStoreFile);
    EXPECT_NE(connection.LastError()->message().find(u"missing.db"), std::u16string::npos);
    EXPECT_TRUE(ConnectJetDatabase(connection, Store().u16string(), u""));
    EXPECT_FALSE(connection.LoginPrompt);
    EXPECT_TRUE(ExecSql(query, kCreateTableSql));
    EXPECT_TRUE(query.SQL.empty());
    EXPECT_FALSE(ExecSql(query, kCreateTableSql)) << "the table exists already";
    EXPECT_TRUE(OpenTable(query, u"cs"));
    EXPECT_EQ(query.SQL, std::vector<std::u16string>{u"select * from cs"});
    EXPECT_FALSE(OpenTable(query, u"nosuch"));
    query.Close();
    connection.Close();

    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open(Store().c_str(), &db), SQLITE_OK);
    sqlite3_stmt* statement = nullptr;
    sqlite3_prepare_v2(db, "select type, name, sql from sqlite_master", -1, &statement, nullptr);
    std::vector<std::string> objects;
    while (sqlite3_step(statement) == SQLITE_ROW) {
        objects.push_back(std::string(reinterpret_cast<const char*>(sqlite3_column_text(statement, 0))) + " " +
                          reinterpret_cast<const char*>(sqlite3_column_text(statement, 1)) + " " +
                          reinterpret_cast<const char*>(sqlite3_column_text(statement, 2)));
    }
    sqlite3_finalize(statement);
    sqlite3_close(db);
    EXPECT_EQ(objects, std::vector<std::string>{"table cs CREATE TABLE cs(xm char(20),c int)"});
}

TEST_F(StoreTest, ConnectionKeepsDrawsDurable) {
    Open({{u"甲", 0}});
    sqlite3_stmt* statement = nullptr;
    sqlite3_prepare_v2(connection.handle(), "pragma journal_mode", -1, &statement, nullptr);
    ASSERT_EQ(sqlite3_step(statement), SQLITE_ROW);
    EXPECT_STREQ(reinterpret_cast<const char*>(sqlite3_column_text(statement, 0)), "delete");
    sqlite3_finalize(statement);
    sqlite3_prepare_v2(connection.handle(), "pragma synchronous", -1, &statement, nullptr);
    ASSERT_EQ(sqlite3_step(statement), SQLITE_ROW);
    EXPECT_EQ(sqlite3_column_int(statement, 0), 3) << "EXTRA: the folder is synced once the journal is gone";
    sqlite3_finalize(statement);
}

TEST_F(StoreTest, AFullDiskIsToldApartFromOtherFailures) {
    Open({{u"甲", 0}});
    // The file may not grow by a page: to SQLite as to the view, a full disk.
    ASSERT_EQ(sqlite3_exec(connection.handle(), "pragma max_page_count = 2", nullptr, nullptr, nullptr), SQLITE_OK);
    try {
        for (int i = 0; i < 1000; ++i) query.AppendRecord(u"学生" + ToU16(i), 0);
        FAIL() << "the store grew past its last page";
    } catch (const Error& error) {
        EXPECT_EQ(error.kind(), ErrorKind::DiskFull) << error.what();
        EXPECT_NE(error.message().find(u"磁盘已满"), std::u16string::npos) << error.what();
    }
}

TEST_F(StoreTest, NamesReadAsSQLiteReadsThemEvenWhenTheyAreNoUTF8) {
    Open({});
    // Bytes another tool may have left: a stray byte, a surrogate and an
    // overlong form, each in UTF-8's shape; and a plain name.
    fake::Sql(Store(), "insert into cs values (cast(x'41FF42' as text), 0), (cast(x'EDA080' as text), 0), "
                       "(cast(x'C0AF' as text), 0), ('张三', 0);");
    std::vector<std::u16string> expected;
    {
        sqlite3* db = nullptr;
        ASSERT_EQ(sqlite3_open(Store().c_str(), &db), SQLITE_OK);
        sqlite3_stmt* statement = nullptr;
        sqlite3_prepare_v2(db, "select xm from cs order by rowid", -1, &statement, nullptr);
        while (sqlite3_step(statement) == SQLITE_ROW) {
            const auto* text = static_cast<const char16_t*>(sqlite3_column_text16(statement, 0));
            expected.emplace_back(text, static_cast<std::size_t>(sqlite3_column_bytes16(statement, 0)) / 2);
        }
        sqlite3_finalize(statement);
        sqlite3_close(db);
    }
    ASSERT_EQ(expected.size(), 4u);
    query.Requery();
    query.SetSort(u"");
    EXPECT_EQ(Order(), expected);
}

TEST_F(StoreTest, SortsByCountWithTiesInFreshRandomOrder) {
    std::vector<StoredRow> rows;
    for (int i = 0; i < 12; ++i) rows.push_back({u"n" + ToU16(i), i % 3});
    Open(rows);
    std::vector<int> counts;
    for (query.First(); !query.Eof(); query.Next()) counts.push_back(query.FieldAsInteger("c"));
    EXPECT_TRUE(std::is_sorted(counts.begin(), counts.end()));
    EXPECT_EQ(query.RecordCount(), 12);

    std::set<std::vector<std::u16string>> orders;
    for (int i = 0; i < 20; ++i) {
        query.SetSort(kSortByCount);
        orders.insert(Order());
    }
    EXPECT_GT(orders.size(), 10u) << "ties are shuffled each time the sort is applied";

    query.SetSort(u"");
    EXPECT_EQ(Order().front(), u"n0") << "no sort: the table's own order";
    EXPECT_THROW(query.SetSort(u"nosuch ASC"), Error);
}

TEST_F(StoreTest, PostWritesAtOnceAndMovesTheRowToItsPlace) {
    Open({{u"甲", 0}, {u"乙", 1}, {u"丙", 1}});
    ASSERT_TRUE(query.Locate("xm", u"甲"));
    query.Edit();
    query.SetField("c", query.FieldAsInteger("c") + 2);
    query.Post();
    EXPECT_EQ(fake::StoredRows(Store()), (std::vector<StoredRow>{{u"甲", 2}, {u"乙", 1}, {u"丙", 1}}));
    EXPECT_EQ(query.FieldAsText("xm"), u"甲") << "the posted row stays current";
    EXPECT_EQ(query.RecNo(), 3) << "and has moved behind the rows with fewer draws";
    query.SetRecNo(1);
    EXPECT_EQ(query.FieldAsInteger("c"), 1);
}

TEST_F(StoreTest, ACountGoesUpFromTheValueOnDisk) {
    Open({{u"甲", 0}});
    fake::Sql(Store(), "update cs set c = 5");  // another copy of the program drew it meanwhile
    query.First();
    EXPECT_EQ(query.FieldAsInteger("c"), 0) << "the view as it was read";
    query.Edit();
    query.SetField("c", query.FieldAsInteger("c") + 1);
    query.Post();
    EXPECT_EQ(fake::StoredRows(Store()), (std::vector<StoredRow>{{u"甲", 6}}));
}

TEST_F(StoreTest, LocateMatchesTheTrimmedStoredNameWithCase) {
    Open({{u" Bob\t", 0}, {u"bob", 0}, {u"\u3000李四", 0}});
    query.SetSort(u"");
    EXPECT_TRUE(query.Locate("xm", u"Bob"));
    EXPECT_EQ(query.RecNo(), 1);
    EXPECT_TRUE(query.Locate("xm", u"bob"));
    EXPECT_EQ(query.RecNo(), 2);
    EXPECT_FALSE(query.Locate("xm", u"BOB"));
    EXPECT_EQ(query.RecNo(), 2) << "not found: the current row stays";
    EXPECT_FALSE(query.Locate("xm", u"李四")) << "an ideographic space is not trimmed";
    EXPECT_TRUE(query.Locate("xm", u"\u3000李四"));
    query.Close();
    EXPECT_FALSE(query.Locate("xm", u"bob")) << "an error inside counts as not found";
}

TEST_F(StoreTest, RefusesANameLongerThanTwentyUnits) {
    Open({});
    query.SetSort(u"");
    query.AppendRecord(std::u16string(20, u'名'), 0);
    EXPECT_THROW(query.AppendRecord(std::u16string(21, u'名'), 0), Error);
    EXPECT_THROW(query.AppendRecord(std::u16string(19, u'名') + u"\U00020000", 0), Error) << "a pair counts twice";
    EXPECT_EQ(query.RecordCount(), 1);
    EXPECT_EQ(fake::StoredRows(Store()).size(), 1u);
}

TEST_F(StoreTest, RollbackAndRequeryGiveBackTheStoredCounts) {
    Open({{u"甲", 3}, {u"乙", 4}});
    connection.BeginTrans();
    for (query.First(); !query.Eof(); query.Next()) {
        query.Edit();
        query.SetField("c", 0);
        query.Post();
    }
    connection.RollbackTrans();
    query.Requery();
    EXPECT_EQ(fake::StoredRows(Store()), (std::vector<StoredRow>{{u"甲", 3}, {u"乙", 4}}));
    query.First();
    EXPECT_EQ(query.FieldAsInteger("c"), 3);
}

TEST_F(StoreTest, ARollbackPutsTheViewBackWithoutAReread) {
    Open({{u"甲", 3}, {u"乙", 4}});
    query.SetSort(u"");
    connection.BeginTrans();
    for (query.First(); !query.Eof(); query.Next()) {
        query.Edit();
        query.SetField("c", 0);
        query.Post();
    }
    query.AppendRecord(u"丙", 0);
    connection.RollbackTrans();
    ASSERT_EQ(query.RecordCount(), 2) << "the appended row has gone with the transaction";
    query.First();
    EXPECT_EQ(query.FieldAsText("xm"), u"甲");
    EXPECT_EQ(query.FieldAsInteger("c"), 3);
    query.Next();
    EXPECT_EQ(query.FieldAsInteger("c"), 4);

    // A committed transaction keeps what it did.
    connection.BeginTrans();
    query.First();
    query.Edit();
    query.SetField("c", 7);
    query.Post();
    connection.CommitTrans();
    connection.RollbackTrans();  // nothing left to put back
    query.First();
    EXPECT_EQ(query.FieldAsInteger("c"), 7);
    EXPECT_EQ(fake::StoredRows(Store()), (std::vector<StoredRow>{{u"甲", 7}, {u"乙", 4}}));
}

TEST_F(StoreTest, APostThatFailsLeavesNothingPending) {
    Open({{u"甲", 3}, {u"乙", 4}});
    fake::Sql(Store(), "create trigger refuse before update on cs when old.xm = '甲' "
                       "begin select raise(abort, 'refused'); end;");
    query.SetSort(u"");
    query.First();
    query.Edit();
    query.SetField("c", query.FieldAsInteger("c") + 1);
    EXPECT_THROW(query.Post(), Error);
    EXPECT_EQ(query.State(), DataSetState::Browse);
    EXPECT_EQ(query.FieldAsInteger("c"), 3) << "the row as the file holds it";

    // The next move writes nothing, once the store would take it too.
    fake::Sql(Store(), "drop trigger refuse;");
    query.Next();
    query.First();
    EXPECT_EQ(fake::StoredRows(Store()), (std::vector<StoredRow>{{u"甲", 3}, {u"乙", 4}}));
}

TEST_F(StoreTest, PostsInsideATransactionAreOnDiskAfterTheCommit) {
    Open({{u"a", 3}, {u"b", 4}, {u"c", 5}, {u"d", 6}, {u"e", 7}});
    query.SetSort(u"");
    const int values[] = {1, 1, 2, 2, 1};  // runs of equal values, and a lone one
    connection.BeginTrans();
    int i = 0;
    for (query.First(); !query.Eof(); query.Next()) {
        query.Edit();
        query.SetField("c", values[i++]);
        query.Post();
    }
    connection.CommitTrans();
    EXPECT_EQ(fake::StoredRows(Store()),
              (std::vector<StoredRow>{{u"a", 1}, {u"b", 1}, {u"c", 2}, {u"d", 2}, {u"e", 1}}));
}

TEST_F(StoreTest, AReadInsideTheTransactionSeesItsOwnPosts) {
    Open({{u"a", 3}, {u"b", 4}});
    query.SetSort(u"");
    connection.BeginTrans();
    query.First();
    query.Edit();
    query.SetField("c", 9);
    query.Post();
    query.Edit();
    EXPECT_EQ(query.FieldAsInteger("c"), 9) << "read again from the file inside the transaction";
    query.Cancel();
    connection.CommitTrans();
    EXPECT_EQ(fake::StoredRows(Store()), (std::vector<StoredRow>{{u"a", 9}, {u"b", 4}}));
}

TEST_F(StoreTest, ARowGoneFromTheFileFailsTheTransactionWhole) {
    Open({{u"a", 3}, {u"b", 4}, {u"c", 5}});
    query.SetSort(u"");
    fake::Sql(Store(), "delete from cs where xm = 'b';");  // another copy of the program, say
    connection.BeginTrans();
    bool failed = false;
    try {
        for (query.First(); !query.Eof(); query.Next()) {
            query.Edit();
            query.SetField("c", 0);
            query.Post();
        }
        connection.CommitTrans();
    } catch (const Error& error) {
        failed = true;
        EXPECT_EQ(error.kind(), ErrorKind::RowGone) << error.what();
        connection.RollbackTrans();
    }
    EXPECT_TRUE(failed);
    EXPECT_FALSE(connection.InTransaction());
    EXPECT_EQ(fake::StoredRows(Store()), (std::vector<StoredRow>{{u"a", 3}, {u"c", 5}}));
}

TEST_F(StoreTest, AClosedViewSaysWhichStoreAndWhy) {
    std::filesystem::create_directory(Store());
    OpenRosterView(connection, query, Store());
    EXPECT_FALSE(query.Active());
    try {
        query.RecordCount();
        FAIL() << "no error";
    } catch (const Error& error) {
        EXPECT_NE(error.message().find(Store().u16string()), std::u16string::npos) << error.what();
        EXPECT_EQ(error.kind(), ErrorKind::NotAFile) << error.what();
    }
}

TEST_F(StoreTest, BadStoreFilesAreRefusedWithTheirReason) {
    struct Case {
        const char* what;
        std::string bytes;
        std::u16string reason;
        ErrorKind kind;
    };
    for (const Case& c : {Case{"zero length", "", u"no such table", ErrorKind::Other},
                          Case{"random bytes", std::string(4096, '\x5A'), u"not a database", ErrorKind::NotAStore},
                          Case{"a truncated database", "SQLite format 3", u"not a database", ErrorKind::NotAStore}}) {
        fake::WriteBytes(Store(), c.bytes);
        OpenRosterView(connection, query, Store());
        EXPECT_FALSE(query.Active()) << c.what;
        try {
            query.RecordCount();
            ADD_FAILURE() << c.what;
        } catch (const Error& error) {
            EXPECT_NE(error.message().find(c.reason), std::u16string::npos) << c.what << ": " << error.what();
            EXPECT_EQ(error.kind(), c.kind) << c.what << ": " << error.what();
        }
        EXPECT_EQ(fake::ReadBytes(Store()), c.bytes) << c.what << ": nothing written";
        connection.Close();
    }
}

TEST_F(StoreTest, CreateStoreIsAllOrNothing) {
    const auto file = dir.path() / "名单.txt";
    Roster roster{file, {u"甲", u"乙", std::u16string(21, u'丙'), u"丁"}};
    try {
        CreateStore(connection, query, Store(), &roster);
        FAIL() << "a 21-character name went in";
    } catch (const Error& error) {
        EXPECT_NE(error.message().find(file.u16string()), std::u16string::npos) << error.what();
        EXPECT_NE(error.message().find(u"第 3 行"), std::u16string::npos) << error.what();
        EXPECT_EQ(error.kind(), ErrorKind::NameTooLong) << error.what();
    }
    EXPECT_FALSE(std::filesystem::exists(Store()));
    EXPECT_TRUE(TemporaryStoresBeside(Store()).empty());
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.path()), {}), 0);

    roster.names[2] = u"丙";
    CreateStore(connection, query, Store(), &roster);
    EXPECT_FALSE(connection.Connected());
    EXPECT_FALSE(query.Active());
    EXPECT_EQ(fake::StoredRows(Store()),
              (std::vector<StoredRow>{{u"甲", 0}, {u"乙", 0}, {u"丙", 0}, {u"丁", 0}}));
    EXPECT_TRUE(TemporaryStoresBeside(Store()).empty());

    // The view on each next store shows its rows and no others, whether it
    // held more rows before or fewer.
    OpenRosterView(connection, query, Store());
    for (const std::vector<std::u16string>& names :
         {std::vector<std::u16string>{u"戊", u"己"}, std::vector<std::u16string>{u"a", u"b", u"c", u"d", u"e"}}) {
        connection.Close();
        const Roster next{file, names};
        CreateStore(connection, query, Store(), &next);
        OpenRosterView(connection, query, Store());
        query.SetSort(u"");
        EXPECT_EQ(Order(), names);
    }
}

}  // namespace
