// A disk that fails under a draw, a count reset and an import: for every step
// of each command that changes the disk, the command is run with that step
// failing (once, or from then on until the disk is back), and then:
// - the store is whole (integrity_check) and holds the roster as it was before
//   the command or as the command leaves it, never a mix;
// - the user was told: a failure gives an error report that says what was not
//   done, success gives what success gives (the reset's notice, nothing else);
// - the roster view holds what the file holds, out of edit mode;
// - with the disk back, the next draw counts once, without a restart.

#include <gtest/gtest.h>

#include <sqlite3.h>

#include <algorithm>
#include <cstdio>
#include <functional>
#include <limits>
#include <map>

#include "common/text.h"
#include "store/connection.h"
#include "store/query.h"
#include "store/sequences.h"
#include "tests/support/failing_disk.h"
#include "tests/support/fixture.h"

namespace {

namespace disk = fake::disk;
using fake::StoredRow;
using Rows = std::vector<StoredRow>;

const Rows kRoster{{u"甲", 2}, {u"乙", 0}, {u"丙", 1}, {u"丁", 0}};

Rows Sorted(Rows rows) {
    std::sort(rows.begin(), rows.end(), [](const StoredRow& a, const StoredRow& b) {
        return a.xm != b.xm ? a.xm < b.xm : a.c < b.c;
    });
    return rows;
}

Rows Drawn(Rows rows, const std::u16string& name) {
    for (StoredRow& row : rows) {
        if (row.xm == name) {
            ++row.c;
            return rows;
        }
    }
    ADD_FAILURE() << "no row " << fake::Utf8(name);
    return rows;
}

// What a copy of the store's files holds once SQLite has opened it the way
// the next start would (rolling back a journal left by an unfinished write),
// read past the failing disk.
struct OnDisk {
    std::string integrity;
    Rows rows;
};

OnDisk ReadCopy(const std::filesystem::path& store, const std::filesystem::path& folder) {
    std::filesystem::remove_all(folder);
    std::filesystem::create_directories(folder);
    std::filesystem::path journal = store;
    journal += "-journal";
    const std::filesystem::path copy = folder / store.filename();
    std::filesystem::copy_file(store, copy);
    if (std::filesystem::exists(journal)) std::filesystem::copy_file(journal, folder / journal.filename());
    OnDisk result;
    sqlite3* db = nullptr;
    if (sqlite3_open_v2(copy.c_str(), &db, SQLITE_OPEN_READWRITE, "unix") != SQLITE_OK) {
        result.integrity = "cannot open";
        sqlite3_close(db);
        return result;
    }
    sqlite3_stmt* statement = nullptr;
    if (sqlite3_prepare_v2(db, "pragma integrity_check", -1, &statement, nullptr) == SQLITE_OK) {
        while (sqlite3_step(statement) == SQLITE_ROW) {
            result.integrity += reinterpret_cast<const char*>(sqlite3_column_text(statement, 0));
        }
    } else {
        result.integrity = sqlite3_errmsg(db);
    }
    sqlite3_finalize(statement);
    if (sqlite3_prepare_v2(db, "select xm, c from cs order by rowid", -1, &statement, nullptr) == SQLITE_OK) {
        while (sqlite3_step(statement) == SQLITE_ROW) {
            const auto* text = static_cast<const char16_t*>(sqlite3_column_text16(statement, 0));
            result.rows.push_back(StoredRow{text ? std::u16string(text) : u"", sqlite3_column_int(statement, 1)});
        }
    }
    sqlite3_finalize(statement);
    sqlite3_close(db);
    return result;
}

class FailingDiskTest : public fake::ProgramTest {
protected:
    void SetUp() override {
        disk::Install();
        ProgramTest::SetUp();
        desktop->onMessageBox = [](const std::u16string&) {};
    }

    // The program started afresh on a store holding rows.
    void StartOn(const Rows& rows) {
        form2.reset();
        form1.reset();
        desktop->boxes.clear();
        desktop->log.clear();
        std::filesystem::remove(Store());
        std::filesystem::remove(dir_.path() / "cs.db-journal");
        for (const std::filesystem::path& file : TemporaryStoresBeside(Store())) std::filesystem::remove(file);
        fake::MakeStore(Store(), rows);
        Start();
        ASSERT_TRUE(form1->ADOQuery1.Active());
    }

    void Draw() { Spin(3); }
    void Reset() { desktop->choose(u"清除次数(&Q)"); }
    void Import(const Rows& rows) {
        std::string text;
        for (const StoredRow& row : rows) text += fake::Utf8(row.xm) + "\n";
        fake::WriteBytes(File(u"新名单.txt"), text);
        desktop->dialogAnswers = {File(u"新名单.txt").u16string()};
        desktop->choose(u"导入名单(&M)");
    }

    // The view's rows, in no particular order; it must be open, sorted by
    // ascending count and out of edit mode.
    Rows InView() {
        TADOQuery& view = form1->ADOQuery1;
        EXPECT_TRUE(view.Active());
        if (!view.Active()) return {};
        EXPECT_EQ(view.State(), DataSetState::Browse);
        // Moving through a view in edit mode would post its change.
        if (view.State() != DataSetState::Browse) return {};
        EXPECT_EQ(view.Sort(), u"c ASC");
        Rows rows;
        int last = std::numeric_limits<int>::min();
        for (int i = 1; i <= view.RecordCount(); ++i) {
            view.SetRecNo(i);
            rows.push_back({view.FieldAsText("xm"), view.FieldAsInteger("c")});
            EXPECT_GE(rows.back().c, last) << "sorted by count";
            last = rows.back().c;
        }
        return rows;
    }

    OnDisk Copy() { return ReadCopy(Store(), dir_.path() / "copy"); }

    // How many steps the command takes on a disk that works.
    std::size_t StepsOf(const Rows& start, const std::function<void()>& command) {
        StartOn(start);
        disk::HealOnExit heal;
        disk::Count();
        command();
        const std::size_t steps = disk::Steps().size();
        std::string list;
        for (const std::string& step : disk::Steps()) list += "\n  " + step;
        std::printf("%zu steps on a disk that works:%s\n", steps, list.c_str());
        disk::Heal();
        EXPECT_TRUE(desktop->logged("box stop").empty());
        return steps;
    }

    // After a command that ran on a failing disk, with the disk back: the next
    // draw counts once, on what the file holds.
    void ExpectTheNextDrawCountsOnce(const Rows& held) {
        desktop->boxes.clear();
        desktop->log.clear();
        Draw();
        EXPECT_TRUE(desktop->logged("box stop").empty()) << desktop->log.back();
        const Rows expected = Drawn(held, Label().text());
        EXPECT_EQ(Stored(), expected);
        EXPECT_EQ(Sorted(InView()), Sorted(expected));
    }

    // Runs the walk: for every step n of the command, for both kinds of
    // failure, check decides from the report which of before and after the
    // file must hold, and says whether the report is the right one.
    struct Outcome {
        Rows expected;            // what the file and the view must hold
        std::string wrongReport;  // empty when the report fits the outcome
    };
    // Returns how often each outcome came: "reported, before", "silent, after"...
    using Tally = std::map<std::string, int>;
    Tally Walk(const Rows& start, const std::function<void()>& command,
               const std::function<Outcome(const std::vector<std::string>& stops, const OnDisk& now)>& check) {
        Tally tally;
        const std::size_t steps = StepsOf(start, command);
        EXPECT_GT(steps, 0u);
        for (const disk::Failure failure : {disk::Failure::Once, disk::Failure::FromThenOn}) {
            for (std::size_t n = 1; n <= steps; ++n) {
                StartOn(start);
                disk::HealOnExit heal;
                disk::FailAt(static_cast<int>(n), failure);
                command();
                const std::vector<std::string> trail = disk::Steps();
                std::string where = (failure == disk::Failure::Once ? "once at step " : "from step ") +
                                    std::to_string(n) + " of " + std::to_string(steps) + ":";
                for (const std::string& step : trail) where += "\n  " + step;
                SCOPED_TRACE(where);
                EXPECT_GT(disk::Failed(), 0) << "the step was reached";
                const std::vector<std::string> stops = desktop->logged("box stop");
                const Rows inView = InView();
                disk::Heal();

                const OnDisk now = Copy();
                EXPECT_EQ(now.integrity, "ok");
                const Outcome outcome = check(stops, now);
                EXPECT_EQ(outcome.wrongReport, "");
                for (const std::string& stop : stops) {
                    // In the program's words, or in the system's (a rename).
                    EXPECT_TRUE(stop.find("磁盘") != std::string::npos ||
                                stop.find("Input/output error") != std::string::npos)
                        << "the report blames the disk: " << stop;
                }
                EXPECT_EQ(now.rows, outcome.expected) << "the file holds the state before or after, never a mix";
                EXPECT_EQ(Sorted(inView), Sorted(outcome.expected)) << "the view holds what the file holds";
                EXPECT_TRUE(TemporaryStoresBeside(Store()).empty());
                ++tally[std::string(stops.empty() ? "silent" : "reported") +
                        (outcome.expected == start ? ", before" : ", after")];
                ExpectTheNextDrawCountsOnce(outcome.expected);
                if (HasFailure()) return tally;
            }
        }
        for (const auto& [outcome, count] : tally) std::printf("%s: %d\n", outcome.c_str(), count);
        return tally;
    }
};

// A commit ends when its journal is deleted. Until the folder that held the
// journal is synced, a power cut can bring the journal back, and the next
// start would roll the commit back with it.
TEST_F(FailingDiskTest, ADrawAndAResetSyncTheFolderOnceTheirJournalIsGone) {
    const std::string folder = "sync folder " + dir_.path().filename().string();
    for (const auto& [what, command] : {std::pair<const char*, std::function<void()>>{"draw", [this] { Draw(); }},
                                        std::pair<const char*, std::function<void()>>{"reset", [this] { Reset(); }}}) {
        StartOn(kRoster);
        disk::HealOnExit heal;
        disk::Count();
        command();
        const std::vector<std::string> steps = disk::Steps();
        disk::Heal();
        std::string list;
        for (const std::string& step : steps) list += "\n  " + step;
        const auto deleted = std::find(steps.begin(), steps.end(), "delete cs.db-journal");
        ASSERT_NE(deleted, steps.end()) << what << ": the journal is deleted" << list;
        EXPECT_NE(std::find(deleted, steps.end(), folder), steps.end())
            << what << ": the folder is synced after the journal is deleted" << list;
    }
}

TEST_F(FailingDiskTest, ADrawIsRecordedOnceOrReportedAndNeverRecordedLater) {
    const Tally tally = Walk(kRoster, [this] { Draw(); },
         [this](const std::vector<std::string>& stops, const OnDisk& now) {
             const std::u16string name = Label().text();
             const Rows after = Drawn(kRoster, name);
             if (stops.empty()) return Outcome{after, now.rows == after ? "" : "no report, but no draw recorded"};
             std::string wrong;
             if (stops.size() != 1) wrong = std::to_string(stops.size()) + " reports";
             // Once the journal is gone the draw is in: a disk that then fails
             // to confirm it (the sync of the folder) is reported, with the draw.
             if (now.rows == after) {
                 if (stops[0].find("“" + fake::Utf8(name) + "”已记下，但磁盘没有确认") == std::string::npos) {
                     wrong += "not said that the draw is in but unconfirmed: " + stops[0];
                 }
                 return Outcome{after, wrong};
             }
             if (stops[0].find("“" + fake::Utf8(name) + "”这次没有记下") == std::string::npos) {
                 wrong += "the report does not say which draw was lost: " + stops[0];
             }
             return Outcome{kRoster, wrong};
         });
    EXPECT_GT(tally.count("reported, before"), 0u);
    EXPECT_GT(tally.count("reported, after"), 0u) << "the sync of the folder after the journal is gone";
}

TEST_F(FailingDiskTest, ACountResetIsWholeOrReportedWithoutItsNotice) {
    Rows zero = kRoster;
    for (StoredRow& row : zero) row.c = 0;
    const Tally tally = Walk(kRoster, [this] { Reset(); },
         [&](const std::vector<std::string>& stops, const OnDisk& now) {
             const bool notice = !desktop->logged("box info").empty();
             if (stops.empty()) return Outcome{zero, notice ? "" : "neither the notice nor a report"};
             std::string wrong;
             if (notice) wrong = "the notice \"已清除记录\" as well as a report; ";
             if (stops.size() != 1) wrong += std::to_string(stops.size()) + " reports; ";
             if (now.rows == zero) {
                 if (stops[0].find("次数已清除，但磁盘没有确认") == std::string::npos) {
                     wrong += "not said that the reset is in but unconfirmed: " + stops[0];
                 }
                 return Outcome{zero, wrong};
             }
             if (stops[0].find("次数没有清除") == std::string::npos) wrong += "the report does not say so: " + stops[0];
             return Outcome{kRoster, wrong};
         });
    EXPECT_GT(tally.count("reported, before"), 0u);
    EXPECT_GT(tally.count("reported, after"), 0u) << "the sync of the folder after the journal is gone";
}

TEST_F(FailingDiskTest, AnImportReplacesTheWholeRosterOrKeepsTheOldOne) {
    const Rows imported{{u"子", 0}, {u"丑", 0}, {u"寅", 0}, {u"卯", 0}, {u"辰", 0}};
    const Tally tally = Walk(kRoster, [&] { Import(imported); },
         [&](const std::vector<std::string>& stops, const OnDisk& now) {
             if (stops.empty()) return Outcome{imported, ""};
             std::string wrong;
             if (stops.size() != 1) wrong = std::to_string(stops.size()) + " reports; ";
             // Once the new store has its name the old one is gone: a disk that
             // then fails to confirm the rename is reported, with the new roster.
             if (now.rows == imported) {
                 if (stops[0].find("新名单已换上") == std::string::npos) wrong += "not said that it is in: " + stops[0];
                 return Outcome{imported, wrong};
             }
             if (stops[0].find("名单库") == std::string::npos) wrong += "no word of the store: " + stops[0];
             if (stops[0].find("行：") != std::string::npos) wrong += "the disk's failure put on a line of the file: " + stops[0];
             return Outcome{kRoster, wrong};
         });
    EXPECT_GT(tally.count("reported, before"), 0u) << "a failure before the rename keeps the old roster";
    EXPECT_GT(tally.count("reported, after"), 0u) << "the sync of the folder after the rename";
}

// At first start, a store seeded from 名单.txt whose rename the disk does not
// confirm is in use, and the user is told so, as after an import.
TEST_F(FailingDiskTest, AFirstStartSaysWhenTheDiskDidNotConfirmTheNewStore) {
    fake::WriteBytes(File(u"名单.txt"), "甲\n乙\n");
    const std::string folder = "sync folder " + dir_.path().filename().string();
    disk::HealOnExit heal;
    disk::Count();
    Start();
    const std::vector<std::string> steps = disk::Steps();
    disk::Heal();
    const auto renamed = std::find(steps.begin(), steps.end(), "rename cs.db");
    ASSERT_NE(renamed, steps.end());
    const auto synced = std::find(renamed, steps.end(), folder);
    ASSERT_NE(synced, steps.end()) << "the folder is synced after the rename";

    form2.reset();
    form1.reset();
    std::filesystem::remove(Store());
    disk::FailAt(static_cast<int>(synced - steps.begin()) + 1, disk::Failure::Once);
    Start();
    disk::Heal();
    const std::vector<std::string> stops = desktop->logged("box stop");
    ASSERT_EQ(stops.size(), 1u);
    EXPECT_NE(stops[0].find("新名单已换上名单库"), std::string::npos) << stops[0];
    EXPECT_NE(stops[0].find("磁盘没有确认写入"), std::string::npos) << stops[0];
    EXPECT_EQ(Stored(), (Rows{{u"甲", 0}, {u"乙", 0}}));
    EXPECT_EQ(Sorted(InView()), Sorted(Rows{{u"甲", 0}, {u"乙", 0}})) << "the roster is open all the same";
}

}  // namespace
