// Two copies of the program on one store: two connections in one process
// behave towards each other as two processes do (SQLite's locks are the
// file's), and a child process stands in for a copy that is killed.
#include <gtest/gtest.h>
#include <sqlite3.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>

#include <chrono>
#include <future>
#include <map>
#include <random>
#include <thread>

#include "common/text.h"
#include "store/connection.h"
#include "store/query.h"
#include "store/jet.h"
#include "store/sequences.h"
#include "tests/support/fixture.h"

namespace {

using fake::StoredRow;
using Rows = std::vector<StoredRow>;
using Clock = std::chrono::steady_clock;

// One copy of the program: its connection and its roster view.
struct Copy {
    TADOConnection connection;
    TADOQuery query{connection};
    explicit Copy(const std::filesystem::path& store) { OpenRosterView(connection, query, store); }
    // The draw as the spin records it.
    void Draw(const std::u16string& name) {
        if (!query.Locate("xm", name)) throw Error(u"no row " + name);
        query.Edit();
        query.SetField("c", query.FieldAsInteger("c") + 1);
        query.Post();
    }
};

// Another connection that takes the write lock and holds it for a while, as
// a copy half-way through a reset would.
// Holds the store's write lock for HOLD, or until RELEASE is made ready.
std::future<void> HoldWriteLock(const std::filesystem::path& store, std::chrono::milliseconds hold,
                                std::promise<void>& holding, std::shared_future<void> release = {}) {
    return std::async(std::launch::async, [store, hold, &holding, release] {
        sqlite3* db = nullptr;
        sqlite3_open_v2(store.c_str(), &db, SQLITE_OPEN_READWRITE, nullptr);
        sqlite3_exec(db, "BEGIN IMMEDIATE; UPDATE cs SET c = c + 100 WHERE xm = '丙';", nullptr, nullptr, nullptr);
        holding.set_value();
        if (release.valid()) {
            release.wait_for(hold);
        } else {
            std::this_thread::sleep_for(hold);
        }
        sqlite3_exec(db, "COMMIT", nullptr, nullptr, nullptr);
        sqlite3_close(db);
    });
}

std::string Integrity(const std::filesystem::path& store) {
    sqlite3* db = nullptr;
    sqlite3_open_v2(store.c_str(), &db, SQLITE_OPEN_READONLY, nullptr);
    sqlite3_stmt* statement = nullptr;
    std::string result = "no answer";
    if (sqlite3_prepare_v2(db, "pragma integrity_check", -1, &statement, nullptr) == SQLITE_OK &&
        sqlite3_step(statement) == SQLITE_ROW) {
        result = reinterpret_cast<const char*>(sqlite3_column_text(statement, 0));
    }
    sqlite3_finalize(statement);
    sqlite3_close(db);
    return result;
}

class TwoCopiesTest : public ::testing::Test {
protected:
    std::filesystem::path Store() const { return dir.path() / "cs.db"; }
    fake::TempDir dir;
};

// SQLite, in a child process: the first time a write waits for a busy store,
// the process stops itself, there to be looked at, let go on or killed.
sqlite3_vfs* g_system = nullptr;
int SleepStopped(sqlite3_vfs*, int microseconds) {
    static bool stopped = false;
    if (!stopped) {
        stopped = true;
        std::raise(SIGSTOP);
    }
    return g_system->xSleep(g_system, microseconds);
}
void StopAtTheFirstWaitForALock() {
    static sqlite3_vfs stopping;
    g_system = sqlite3_vfs_find(nullptr);
    stopping = *g_system;
    stopping.zName = "stop-at-the-first-wait";
    stopping.xSleep = SleepStopped;
    sqlite3_vfs_register(&stopping, 1);
}

// A connection that holds the write lock of a store while it lives.
struct WriteLockHolder {
    sqlite3* db = nullptr;
    explicit WriteLockHolder(const std::filesystem::path& store) {
        sqlite3_open_v2(store.c_str(), &db, SQLITE_OPEN_READWRITE, nullptr);
        EXPECT_EQ(sqlite3_exec(db, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr), SQLITE_OK);
    }
    ~WriteLockHolder() { sqlite3_close_v2(db); }  // rolls back, lets go
};

// A child process that is killed, if it is still there, when the test ends
// early: left stopped, it would hold the test's output open for good.
struct ChildGuard {
    pid_t pid = -1;
    ~ChildGuard() {
        if (pid > 0 && waitpid(pid, nullptr, WNOHANG) == 0) {
            kill(pid, SIGKILL);
            waitpid(pid, nullptr, 0);
        }
    }
};

bool WaitUntilStopped(pid_t child) {
    int status = 0;
    return waitpid(child, &status, WUNTRACED) == child && WIFSTOPPED(status);
}

// Another copy of the program imports names, in a child process, while lock
// holds the store's write lock: it builds its new store, then waits to put it
// in place, and stops there. Returns the child, stopped; the lock is taken
// once the child runs (a child would take SQLite's view of a connection open
// in its parent for its own).
pid_t ImportStoppedBeforeTheRename(const std::filesystem::path& store, const std::vector<std::u16string>& names,
                                   std::optional<WriteLockHolder>& lock) {
    const pid_t child = fork();
    if (child == 0) {
        std::raise(SIGSTOP);
        StopAtTheFirstWaitForALock();
        TADOConnection connection;
        TADOQuery query{connection};
        const Roster roster{store.parent_path() / "其他.txt", names};
        try {
            CreateStore(connection, query, store, &roster);
        } catch (const std::exception& error) {
            std::fprintf(stderr, "the other copy's import: %s\n", error.what());
            _exit(1);
        }
        _exit(0);
    }
    ChildGuard guard{child};
    if (child < 0 || !WaitUntilStopped(child)) return -1;
    lock.emplace(store);
    kill(child, SIGCONT);
    if (!WaitUntilStopped(child)) return -1;
    guard.pid = -1;
    return child;
}

std::vector<std::filesystem::path> Sorted(std::vector<std::filesystem::path> files) {
    std::sort(files.begin(), files.end());
    return files;
}

TEST_F(TwoCopiesTest, AnImportHalfWayThroughIsLeftAloneByTheOtherCopy) {
    fake::MakeStore(Store(), {{u"甲", 1}, {u"乙", 2}});
    std::optional<WriteLockHolder> lock;
    const pid_t other = ImportStoppedBeforeTheRename(Store(), {u"子", u"丑", u"寅"}, lock);
    ChildGuard guard{other};
    ASSERT_GT(other, 0) << "the other copy did not get to its rename";
    const std::vector<std::filesystem::path> building = Sorted(TemporaryStoresBeside(Store()));
    ASSERT_FALSE(building.empty()) << "its new store is built beside cs.db";

    // This copy starts, as a copy started during the other's import does.
    RemoveStaleTemporaryStores(Store());
    EXPECT_EQ(Sorted(TemporaryStoresBeside(Store())), building) << "the other copy's new store is left alone";

    // And imports a roster of its own meanwhile.
    lock.reset();
    {
        TADOConnection connection;
        TADOQuery query{connection};
        const Roster roster{dir.path() / "本.txt", {u"卯", u"辰"}};
        CreateStore(connection, query, Store(), &roster);
    }
    EXPECT_EQ(fake::StoredRows(Store()), (Rows{{u"卯", 0}, {u"辰", 0}}));
    EXPECT_EQ(Sorted(TemporaryStoresBeside(Store())), building) << "and still left alone";

    // The other copy's import goes on, and puts its own store in place.
    kill(other, SIGCONT);
    int status = 0;
    ASSERT_EQ(waitpid(other, &status, 0), other);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "the other copy's import failed";
    EXPECT_EQ(fake::StoredRows(Store()), (Rows{{u"子", 0}, {u"丑", 0}, {u"寅", 0}}));
    EXPECT_EQ(Integrity(Store()), "ok");
    EXPECT_TRUE(TemporaryStoresBeside(Store()).empty());
}

TEST_F(TwoCopiesTest, TheNewStoreOfACopyKilledHalfWayThroughItsImportGoesAtTheNextStart) {
    fake::MakeStore(Store(), {{u"甲", 1}});
    std::optional<WriteLockHolder> lock;
    const pid_t other = ImportStoppedBeforeTheRename(Store(), {u"子", u"丑"}, lock);
    ChildGuard guard{other};
    ASSERT_GT(other, 0) << "the other copy did not get to its rename";
    kill(other, SIGKILL);
    waitpid(other, nullptr, 0);
    lock.reset();
    ASSERT_FALSE(TemporaryStoresBeside(Store()).empty()) << "the killed copy left its new store";

    RemoveStaleTemporaryStores(Store());
    EXPECT_TRUE(TemporaryStoresBeside(Store()).empty());
    EXPECT_EQ(fake::StoredRows(Store()), (Rows{{u"甲", 1}}));
}

TEST_F(TwoCopiesTest, DrawingInTurnLosesNoDrawOfEither) {
    fake::MakeStore(Store(), {{u"甲", 0}, {u"乙", 0}, {u"丙", 0}});
    Copy a(Store());
    Copy b(Store());
    std::mt19937 random(7);
    std::map<std::u16string, int> drawn;
    const std::u16string names[] = {u"甲", u"乙", u"丙"};
    for (int i = 0; i < 60; ++i) {
        const std::u16string& name = names[random() % 3];
        (i % 2 == 0 ? a : b).Draw(name);  // each from its own stale view
        ++drawn[name];
    }
    EXPECT_EQ(fake::StoredRows(Store()), (Rows{{u"甲", drawn[u"甲"]}, {u"乙", drawn[u"乙"]}, {u"丙", drawn[u"丙"]}}));
    EXPECT_EQ(Integrity(Store()), "ok");
}

TEST_F(TwoCopiesTest, ABusyStoreIsWaitedFor) {
    fake::MakeStore(Store(), {{u"甲", 0}, {u"丙", 0}});
    Copy a(Store());
    std::promise<void> holding;
    auto other = HoldWriteLock(Store(), std::chrono::milliseconds(700), holding);
    holding.get_future().wait();
    const auto start = Clock::now();
    a.Draw(u"甲");
    const auto waited = Clock::now() - start;
    other.wait();
    EXPECT_GE(waited, std::chrono::milliseconds(500)) << "the draw waited for the other write";
    EXPECT_EQ(fake::StoredRows(Store()), (Rows{{u"甲", 1}, {u"丙", 100}}));
}

TEST_F(TwoCopiesTest, AStoreBusyBeyondTheWaitIsReportedNotHungOn) {
    fake::MakeStore(Store(), {{u"甲", 0}, {u"丙", 0}});
    Copy a(Store());
    std::promise<void> holding;
    std::promise<void> release;
    // Held until the draw has given up, however long a loaded machine takes
    // to get there: the draw can only end in the busy message.
    auto other = HoldWriteLock(Store(), std::chrono::minutes(10), holding, release.get_future().share());
    holding.get_future().wait();
    const auto start = Clock::now();
    try {
        a.Draw(u"甲");
        ADD_FAILURE() << "the draw went through a held lock";
    } catch (const Error& error) {
        EXPECT_EQ(error.kind(), ErrorKind::Busy) << error.what();
        EXPECT_NE(error.message().find(Store().u16string()), std::u16string::npos) << error.what();
    }
    EXPECT_GE(Clock::now() - start, std::chrono::milliseconds(4500)) << "it waited out the busy timeout first";
    release.set_value();
    other.wait();
    a.Draw(u"甲");  // the view is not stuck in edit mode
    EXPECT_EQ(fake::StoredRows(Store()), (Rows{{u"甲", 1}, {u"丙", 100}}));
}

TEST_F(TwoCopiesTest, AStoreReplacedByTheOtherCopysImportIsNotWrittenTo) {
    fake::MakeStore(Store(), {{u"甲", 0}, {u"乙", 0}});
    Copy a(Store());
    a.Draw(u"甲");
    {
        Copy b(Store());
        b.connection.Close();
        const Roster roster{dir.path() / "新.txt", {u"子", u"丑"}};
        CreateStore(b.connection, b.query, Store(), &roster);
    }
    // Written now, the draw would go to the old file, which no longer has a name.
    for (const auto& write : {std::function<void()>([&] { a.Draw(u"乙"); }),
                              std::function<void()>([&] { a.connection.BeginTrans(); })}) {
        try {
            write();
            ADD_FAILURE() << "a write to the replaced store went through";
        } catch (const Error& error) {
            EXPECT_EQ(error.kind(), ErrorKind::StoreReplaced) << error.what();
        }
    }
    EXPECT_EQ(fake::StoredRows(Store()), (Rows{{u"子", 0}, {u"丑", 0}}));
    // Opened again, it works on the new roster.
    Copy again(Store());
    again.Draw(u"丑");
    EXPECT_EQ(fake::StoredRows(Store()), (Rows{{u"子", 0}, {u"丑", 1}}));
}

TEST_F(TwoCopiesTest, AnImportAfterACopyDiedHalfWayThroughAWriteKeepsItsJournalAway) {
    fake::MakeStore(Store(), {});
    fake::Sql(Store(), "with recursive n(i) as (select 1 union all select i + 1 from n where i < 20000) "
                       "insert into cs select '学生' || i, 3 from n;");
    Copy b(Store());  // running since before the other copy died
    ASSERT_EQ(b.query.RecordCount(), 20000);

    // The other copy is killed in the middle of a large write: its changes have
    // begun to reach the file, and its journal, with the old pages, stays
    // behind. (Its first change is to page 1, as a commit's is: played back
    // into another file, that page takes the other file's place.)
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        sqlite3* db = nullptr;
        sqlite3_open_v2(Store().c_str(), &db, SQLITE_OPEN_READWRITE, nullptr);
        sqlite3_exec(db, "PRAGMA cache_size = 10; BEGIN IMMEDIATE; CREATE TABLE later(x); UPDATE cs SET c = 0;", nullptr, nullptr, nullptr);
        _exit(0);
    }
    int status = 0;
    waitpid(child, &status, 0);
    std::filesystem::path journal = Store();
    journal += "-journal";
    const std::string header = fake::ReadBytes(journal).substr(0, 8);
    ASSERT_EQ(header, std::string("\xD9\xD5\x05\xF9\x20\xA1\x63\xD7", 8)) << "a hot journal";

    // This copy imports a roster. The journal belongs to the old file: left
    // beside the new one, the next open would write old pages into it.
    b.connection.Close();
    const Roster roster{dir.path() / "新.txt", {u"子", u"丑", u"寅"}};
    CreateStore(b.connection, b.query, Store(), &roster);
    EXPECT_FALSE(std::filesystem::exists(journal));
    OpenRosterView(b.connection, b.query, Store());
    EXPECT_TRUE(b.query.Active()) << LastStoreRoutineError().what();
    EXPECT_EQ(Integrity(Store()), "ok");
    EXPECT_EQ(fake::StoredRows(Store()), (Rows{{u"子", 0}, {u"丑", 0}, {u"寅", 0}}));
}

TEST_F(TwoCopiesTest, AJournalLeftByACopyKilledBeforeItWroteGoesAtTheNextOpen) {
    fake::MakeStore(Store(), {{u"甲", 3}, {u"乙", 4}});
    std::filesystem::path journal = Store();
    journal += "-journal";
    // Killed at its first change: the journal exists, but its header was not
    // written yet, and the file itself is unchanged.
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        sqlite3* db = nullptr;
        sqlite3_open_v2(Store().c_str(), &db, SQLITE_OPEN_READWRITE, nullptr);
        sqlite3_exec(db, "BEGIN IMMEDIATE; UPDATE cs SET c = 0;", nullptr, nullptr, nullptr);
        _exit(0);
    }
    int status = 0;
    waitpid(child, &status, 0);
    ASSERT_TRUE(std::filesystem::exists(journal));
    {
        Copy a(Store());
        EXPECT_FALSE(std::filesystem::exists(journal)) << "gone once the store is open";
        EXPECT_EQ(a.query.RecordCount(), 2);
    }
    EXPECT_EQ(fake::StoredRows(Store()), (Rows{{u"甲", 3}, {u"乙", 4}}));

    // A copy that is writing keeps its journal.
    Copy a(Store());
    a.connection.BeginTrans();
    a.Draw(u"甲");
    a.query.Requery();  // the held post goes to the file now, inside the transaction
    ASSERT_TRUE(std::filesystem::exists(journal));
    Copy b(Store());
    EXPECT_TRUE(b.query.Active());
    EXPECT_TRUE(std::filesystem::exists(journal)) << "a live writer's journal stays";
    a.connection.CommitTrans();
    EXPECT_EQ(fake::StoredRows(Store()), (Rows{{u"甲", 4}, {u"乙", 4}}));
}

}  // namespace
