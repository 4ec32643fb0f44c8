#include "Unit1/unit1.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <fstream>
#include <map>
#include <set>

#include "common/state.h"
#include "common/text.h"
#include "store/sequences.h"
#include "tests/support/fixture.h"

namespace {

using fake::StoredRow;
using Rows = std::vector<StoredRow>;

class StartupTest : public fake::ProgramTest {};

TEST_F(StartupTest, PlacesTheOuterRectangleAtTheBottomRight) {
    Start();
    // The fake frame makes the outer size 476 x 176.
    EXPECT_EQ(Window1().outerRect(), (platform::Rect{1920 - 476, 1080 - 176 - 50, 476, 176}));
    EXPECT_FALSE(Spinning);
    EXPECT_EQ(ElapsedTicks, 0);
    EXPECT_EQ(ShownTicks, 0);
    EXPECT_EQ(Label().text(), u"转转转");
    EXPECT_EQ(Button().text(), u"开始转动");
    EXPECT_EQ(desktop->timerPeriod, 1000);

    // The frame turns out larger once the window manager has framed the window.
    Window1().setRect(platform::Rect{0, 0, 480, 190});
    Window1().frameKnown();
    EXPECT_EQ(Window1().outerRect().left + Window1().outerRect().width, 1920);
    EXPECT_EQ(Window1().outerRect().top + Window1().outerRect().height, 1030);
}

// A projector to the left of the laptop and above it: the corner is the
// primary screen's own, wherever that screen starts.
TEST_F(StartupTest, PlacesAtTheCornerOfThePrimaryScreenWhereverItStarts) {
    desktop->screen = platform::Rect{1024, 312, 1920, 1080};
    Start();
    EXPECT_EQ(Window1().outerRect(), (platform::Rect{1024 + 1920 - 476, 312 + 1080 - 176 - 50, 476, 176}));
    Window1().setRect(platform::Rect{0, 0, 480, 190});
    Window1().frameKnown();
    EXPECT_EQ(Window1().outerRect(), (platform::Rect{1024 + 1920 - 480, 312 + 1080 - 190 - 50, 480, 190}));
}

TEST_F(StartupTest, OnAScaledScreenTheFiftyPixelsAreScaledToo) {
    // A Windows screen of 192 DPI: windows are measured in device pixels.
    desktop->scale = 2.0;
    desktop->screen = platform::Rect{0, 0, 3840, 2160};
    Start();
    Window1().setRect(platform::Rect{0, 0, 960, 340});
    Window1().frameKnown();
    EXPECT_EQ(Window1().outerRect(), (platform::Rect{3840 - 960, 2160 - 340 - 100, 960, 340}));
}

TEST_F(StartupTest, WithNeitherFileAnEmptyStore) {
    Start();
    EXPECT_EQ(Stored(), Rows{});
    EXPECT_TRUE(form1->ADOQuery1.Active());
    EXPECT_EQ(form1->ADOQuery1.Sort(), u"c ASC");
    EXPECT_TRUE(desktop->boxes.empty());
    Press();
    EXPECT_EQ(desktop->boxes, std::vector<std::u16string>{u"提示: 请选导入名单"});
    EXPECT_EQ(Button().text(), u"开始转动");
    EXPECT_FALSE(Spinning);
}

TEST_F(StartupTest, SeedsANewStoreFromTheDefaultRoster) {
    fake::WriteBytes(File(u"名单.txt"), "张三\n李四\n\n王五");
    Start();
    EXPECT_EQ(Stored(), (Rows{{u"张三", 0}, {u"李四", 0}, {u"", 0}, {u"王五", 0}}));
    EXPECT_EQ(form1->ADOQuery1.RecordCount(), 4);
}

TEST_F(StartupTest, AnExistingStoreIsKeptAndTheRosterFileNotRead) {
    fake::MakeStore(Store(), {{u"甲", 3}});
    fake::WriteBytes(File(u"名单.txt"), "乙\n");
    // What killed imports left: a store and its journal, a journal alone, and
    // the name the program used before each import had one of its own.
    for (const char* name : {"cs.db.tmp-0123456789abcdef", "cs.db.tmp-0123456789abcdef-journal",
                             "cs.db.tmp-fedcba9876543210-journal", "cs.db.tmp", "cs.db.tmp-journal"}) {
        fake::WriteBytes(dir_.path() / name, "left from a crash");
    }
    Start();
    EXPECT_EQ(Stored(), (Rows{{u"甲", 3}}));
    EXPECT_TRUE(TemporaryStoresBeside(Store()).empty()) << "a crash's leftovers are cleared";
}

TEST_F(StartupTest, ASeedThatFailsLeavesNoStoreAndSaysWhy) {
    fake::WriteBytes(File(u"名单.txt"), "张三\n" + std::string(21, 'x') + "\n");
    Start();
    ASSERT_EQ(desktop->logged("box stop").size(), 1u);
    const std::string box = desktop->logged("box stop")[0];
    EXPECT_NE(box.find("名单.txt"), std::string::npos) << box;
    EXPECT_NE(box.find("第 2 行"), std::string::npos) << box;
    EXPECT_FALSE(std::filesystem::exists(Store()));
    EXPECT_NE(desktop->logged("create Form2").size(), 0u) << "the program goes on";

    // Mended and started again, it works.
    form2.reset();
    form1.reset();
    fake::WriteBytes(File(u"名单.txt"), "张三\n李四\n");
    Start();
    EXPECT_EQ(Stored(), (Rows{{u"张三", 0}, {u"李四", 0}}));
}

TEST_F(StartupTest, ADefaultRosterWithoutNamesGivesAnEmptyStore) {
    for (const std::string& bytes : {std::string(), std::string("\x1A张三\r\n")}) {
        SCOPED_TRACE(bytes.size());
        form2.reset();
        form1.reset();
        desktop->boxes.clear();
        std::filesystem::remove(Store());
        fake::WriteBytes(File(u"名单.txt"), bytes);
        Start();
        EXPECT_TRUE(desktop->boxes.empty()) << "nothing to refuse at first start";
        EXPECT_TRUE(std::filesystem::exists(Store()));
        EXPECT_EQ(Stored(), Rows{});
        EXPECT_TRUE(TemporaryStoresBeside(Store()).empty());
        Press();
        EXPECT_EQ(desktop->boxes, std::vector<std::u16string>{u"提示: 请选导入名单"});
    }
}

TEST_F(StartupTest, ADefaultRosterThatIsNoTextMakesNoStoreAndSaysSo) {
    static constexpr char kPng[] = "\x89PNG\r\n\x1A\n\0\0\0\rIHDR\0\0\0\x30\0\0\0\x30\x08\x06";
    fake::WriteBytes(File(u"名单.txt"), std::string(kPng, sizeof kPng - 1));
    Start();
    ASSERT_EQ(desktop->logged("box stop").size(), 1u);
    EXPECT_NE(desktop->logged("box stop")[0].find("名单.txt”不是文本文件"), std::string::npos)
        << desktop->logged("box stop")[0];
    EXPECT_FALSE(std::filesystem::exists(Store()));
    EXPECT_TRUE(TemporaryStoresBeside(Store()).empty());
}

TEST_F(StartupTest, ADefaultRosterWithAFormFeedAndDosPadding) {
    fake::WriteBytes(File(u"名单.txt"), std::string("张三\r\n李\f四\r\n\x1A\0\0\x1A\0", 20));
    Start();
    EXPECT_TRUE(desktop->boxes.empty());
    EXPECT_EQ(Stored(), (Rows{{u"张三", 0}, {u"李\f四", 0}}));
}

// The icon, its menu and the timer are there before the creation handler
// runs, and the badge only after it: a box the handler shows runs them all.
TEST_F(StartupTest, TheMenuAndTheTimerWhileTheCreationBoxWaits) {
    fake::WriteBytes(File(u"名单.txt"), std::string(21, 'x') + "\n");
    bool inside = false;
    std::vector<std::string> during;
    desktop->onMessageBox = [&](const std::u16string&) {
        if (inside) return;  // the boxes of the commands run from here
        inside = true;
        EXPECT_EQ(form1, nullptr) << "still being made";
        for (const char16_t* item : {u"显示大转盘(&S)", u"导入名单(&M)", u"清除次数(&Q)", u"下载最新版"}) {
            desktop->choose(item);
        }
        for (int i = 0; i < 12; ++i) desktop->tick();  // folds, with no badge yet
        desktop->choose(u"显示大转盘(&S)");
        desktop->choose(u"关闭(&C)");
        during = desktop->log;
        inside = false;
    };
    Start();
    ASSERT_FALSE(during.empty());
    EXPECT_TRUE(desktop->closeRequested);
    EXPECT_EQ(ShownTicks, 0) << "显示大转盘 ran";
    EXPECT_TRUE(Window1().isShowing());
}

TEST_F(StartupTest, AStoreThatCannotBeOpenedIsNamedAtTheFirstPress) {
    std::filesystem::create_directory(Store());
    Start();
    EXPECT_TRUE(desktop->boxes.empty()) << "no message at start-up";
    Press();
    ASSERT_EQ(desktop->logged("box stop").size(), 1u);
    EXPECT_NE(desktop->logged("box stop")[0].find(Store().string()), std::string::npos);
    EXPECT_FALSE(Spinning);
}

TEST_F(StartupTest, ABrokenStoreIsNamedAtTheFirstPressAndLeftAsItWas) {
    // A real store of many pages, cut off half-way.
    fake::MakeStore(File(u"whole.db"), {});
    fake::Sql(File(u"whole.db"), "with recursive n(i) as (select 1 union all select i + 1 from n where i < 3000) "
                                 "insert into cs select '学生' || i, i % 5 from n;");
    const std::string whole = fake::ReadBytes(File(u"whole.db"));
    ASSERT_GT(whole.size(), 16384u);
    struct Case {
        const char* what;
        std::string bytes;
        const char* reason;
    };
    for (const Case& c : {Case{"zero length", "", "no such table"},
                          Case{"random bytes", std::string(8192, '\xA5'), "not a database"},
                          Case{"a truncated database", whole.substr(0, whole.size() / 2), "malformed"},
                          Case{"a directory", "", "不是一个文件"}}) {
        SCOPED_TRACE(c.what);
        form2.reset();
        form1.reset();
        desktop->boxes.clear();
        desktop->log.clear();
        std::filesystem::remove_all(Store());
        if (std::string(c.what) == "a directory") {
            std::filesystem::create_directory(Store());
        } else {
            fake::WriteBytes(Store(), c.bytes);
        }
        Start();
        EXPECT_TRUE(desktop->boxes.empty()) << "no message at start-up";
        Press();
        ASSERT_EQ(desktop->logged("box stop").size(), 1u);
        const std::string box = desktop->logged("box stop")[0];
        EXPECT_NE(box.find(Store().string()), std::string::npos) << box;
        EXPECT_NE(box.find(c.reason), std::string::npos) << box;
        EXPECT_FALSE(Spinning);
        if (std::string(c.what) != "a directory") {
            EXPECT_EQ(fake::ReadBytes(Store()), c.bytes) << "nothing written";
        }
        EXPECT_FALSE(std::filesystem::exists(File(u"cs.db-journal")));
    }
}

class SpinTest : public fake::ProgramTest {
protected:
    // Names shown during a spin of the given steps.
    std::map<std::u16string, int> Shown(int steps) {
        std::map<std::u16string, int> shown;
        desktop->processCalls = 0;
        desktop->onProcessMessages = [&](int call) {
            ++shown[Label().text()];
            if (call == steps) Press();
        };
        Press();
        desktop->onProcessMessages = nullptr;
        return shown;
    }
    void StartWith(const Rows& rows) {
        fake::MakeStore(Store(), rows);
        Start();
    }
};

TEST_F(SpinTest, AnEmptyRosterChangesNothingButTheNotice) {
    Start();
    ShownTicks = 7;
    desktop->log.clear();
    Press();
    EXPECT_EQ(desktop->log, std::vector<std::string>{"box info 提示: 请选导入名单"});
    EXPECT_EQ(ShownTicks, 7);
    EXPECT_FALSE(Spinning);
    EXPECT_EQ(Button().text(), u"开始转动");
    EXPECT_EQ(Label().text(), u"转转转");
}

TEST_F(SpinTest, PausesAreFineOnlyWhileASpinRuns) {
    StartWith({{u"甲", 0}, {u"乙", 0}});
    desktop->log.clear();
    Spin(20);
    EXPECT_EQ(desktop->logged("finePauses"), (std::vector<std::string>{"finePauses on", "finePauses off"}));
    EXPECT_EQ(desktop->pausedMilliseconds, 20 * 10);
    EXPECT_EQ(desktop->finePausedMilliseconds, desktop->pausedMilliseconds);
    EXPECT_FALSE(desktop->finePauses);

    // Also when the spin ends in an error.
    desktop->onProcessMessages = [&](int call) {
        if (call == 2) form1->ADOConnection1.Close();
    };
    desktop->processCalls = 0;
    Press();
    EXPECT_FALSE(desktop->finePauses);
    EXPECT_EQ(desktop->logged("finePauses").size(), 4u);
}

TEST_F(SpinTest, ThreeRowsAllTakePart) {
    StartWith({{u"甲", 0}, {u"乙", 0}, {u"丙", 0}});
    const auto shown = Shown(300);
    EXPECT_EQ(shown.size(), 3u);
    EXPECT_EQ(desktop->pausedMilliseconds, 300 * 10);
}

TEST_F(SpinTest, OnlyTheTenLeastDrawnTakePart) {
    Rows rows;
    for (int i = 0; i < 25; ++i) rows.push_back({u"n" + ToU16(i), i < 10 ? 1 : 2 + i});
    // Rows n0..n9 have one draw each, the rest more; give two of the rest fewer.
    rows[20].c = 0;
    rows[21].c = 0;
    StartWith(rows);
    const auto shown = Shown(2000);
    std::set<std::u16string> names;
    for (const auto& [name, count] : shown) names.insert(name);
    EXPECT_EQ(names.size(), 10u);
    EXPECT_TRUE(names.count(u"n20") && names.count(u"n21"));
    for (int i = 10; i < 25; ++i) {
        if (i != 20 && i != 21) {
            EXPECT_FALSE(names.count(u"n" + ToU16(i))) << i;
        }
    }
}

TEST_F(SpinTest, TwoPressesRecordOneDrawForTheNameShown) {
    StartWith({{u"甲", 0}, {u"乙", 0}, {u"丙", 0}});
    std::u16string shownAtStop;
    desktop->onProcessMessages = [&](int call) {
        EXPECT_TRUE(Spinning);
        EXPECT_EQ(Button().text(), u"停止转动");
        if (call == 7) {
            shownAtStop = Label().text();
            Press();
            EXPECT_EQ(Button().text(), u"开始转动");
        }
    };
    ShownTicks = 5;
    Press();
    EXPECT_FALSE(Spinning);
    EXPECT_EQ(ShownTicks, 0);
    int total = 0;
    for (const StoredRow& row : Stored()) {
        total += row.c;
        EXPECT_EQ(row.c, row.xm == shownAtStop ? 1 : 0);
    }
    EXPECT_EQ(total, 1);
    EXPECT_EQ(Label().text(), shownAtStop);
}

TEST_F(SpinTest, APressWhileTheStoppedSpinUnwindsStartsNoSecondOne) {
    StartWith({{u"甲", 0}, {u"乙", 0}});
    desktop->onProcessMessages = [&](int call) {
        if (call == 3) {
            Press();  // stop
            Press();  // an impatient third press, in the same batch of messages
        }
    };
    Press();
    EXPECT_FALSE(Spinning);
    EXPECT_EQ(Button().text(), u"开始转动");
    int total = 0;
    for (const StoredRow& row : Stored()) total += row.c;
    EXPECT_EQ(total, 1);
}

TEST_F(SpinTest, TheDrawGoesToTheNameAsShownAndStaysSorted) {
    StartWith({{u" Bob ", 0}});
    Spin(2);
    EXPECT_EQ(Label().text(), u"Bob");
    EXPECT_EQ(Stored(), (Rows{{u" Bob ", 1}}));

    // The drawn name leaves the ten candidates once ten others have fewer draws.
    form2.reset();
    form1.reset();
    std::filesystem::remove(Store());
    Rows rows;
    for (int i = 0; i < 11; ++i) rows.push_back({u"n" + ToU16(i), 0});
    StartWith(rows);
    Spin(1);
    const std::u16string drawn = Label().text();
    const auto shown = Shown(500);
    EXPECT_FALSE(shown.count(drawn)) << "the view re-sorted at once";
}

TEST_F(SpinTest, DuplicateNamesCountOnTheRowFound) {
    // The lookup takes the first row of the order by count: here the second
    // of the file, whichever of the two was shown.
    StartWith({{u"甲", 2}, {u"甲", 0}});
    Spin(3);
    EXPECT_EQ(Stored(), (Rows{{u"甲", 2}, {u"甲", 1}}));
    Spin(3);
    EXPECT_EQ(Stored(), (Rows{{u"甲", 2}, {u"甲", 2}}));
}

TEST_F(SpinTest, ACountAtTheLargestIntegerIsNotWrappedRound) {
    StartWith({{u"甲", 2147483647}});
    Spin(2);
    ASSERT_EQ(desktop->logged("box stop").size(), 1u);
    EXPECT_NE(desktop->logged("box stop")[0].find("上限"), std::string::npos) << desktop->logged("box stop")[0];
    EXPECT_EQ(Stored(), (Rows{{u"甲", 2147483647}}));
    EXPECT_EQ(form1->ADOQuery1.State(), DataSetState::Browse);
}

TEST_F(SpinTest, AnErrorInsideASpinLeavesNoStuckButton) {
    StartWith({{u"甲", 0}, {u"乙", 0}});
    desktop->onProcessMessages = [&](int call) {
        if (call == 2) form1->ADOConnection1.Close();
    };
    Press();
    EXPECT_FALSE(Spinning);
    EXPECT_EQ(Button().text(), u"开始转动");
    EXPECT_EQ(desktop->logged("box stop").size(), 1u);
}

TEST_F(SpinTest, ARosterReplacedInsideTheSpin) {
    StartWith({{u"甲", 0}, {u"乙", 0}, {u"丙", 0}, {u"丁", 0}});
    fake::WriteBytes(File(u"two.txt"), "子\n丑\n");
    fake::WriteBytes(File(u"none.txt"), "");
    desktop->dialogAnswers = {File(u"two.txt").u16string(), File(u"none.txt").u16string()};
    std::set<std::u16string> afterImport;
    desktop->onProcessMessages = [&](int call) {
        if (call == 5) desktop->choose(u"导入名单(&M)");
        if (call > 5) afterImport.insert(Label().text());
        if (call == 200) Press();
    };
    Press();
    EXPECT_EQ(afterImport, (std::set<std::u16string>{u"子", u"丑"}));
    int total = 0;
    for (const StoredRow& row : Stored()) total += row.c;
    EXPECT_EQ(total, 1);

    // An empty file is refused inside a spin: its message, and the spin goes on
    // with the roster it had.
    desktop->processCalls = 0;
    std::set<std::u16string> afterRefusal;
    desktop->onProcessMessages = [&](int call) {
        if (call == 3) desktop->choose(u"导入名单(&M)");
        if (call > 3) afterRefusal.insert(Label().text());
        if (call == 100) Press();
    };
    Press();
    EXPECT_FALSE(Spinning);
    EXPECT_EQ(Button().text(), u"开始转动");
    ASSERT_EQ(desktop->logged("box stop").size(), 1u);
    EXPECT_NE(desktop->logged("box stop")[0].find("里没有名字"), std::string::npos) << desktop->logged("box stop")[0];
    EXPECT_EQ(afterRefusal, (std::set<std::u16string>{u"子", u"丑"}));
    total = 0;
    for (const StoredRow& row : Stored()) total += row.c;
    EXPECT_EQ(total, 2);
}

TEST_F(SpinTest, ACloseDuringASpinWaitsForTheDraw) {
    StartWith({{u"甲", 0}});
    desktop->onProcessMessages = [&](int call) {
        if (call == 2) desktop->choose(u"关闭(&C)");
        if (call == 4) Press();
    };
    Press();
    EXPECT_TRUE(desktop->closeRequested);
    EXPECT_EQ(Stored(), (Rows{{u"甲", 1}}));
}

class TimerTest : public fake::ProgramTest {};

TEST_F(TimerTest, TheEleventhTickFoldsTheWindowIntoTheBadge) {
    Start();
    Window1().show();
    Window1().setRect(platform::Rect{1444, 900, 476, 190});
    for (int i = 0; i < 10; ++i) desktop->tick();
    EXPECT_TRUE(Window1().isShowing());
    EXPECT_FALSE(Window2().isShowing());
    desktop->log.clear();
    desktop->tick();
    EXPECT_EQ(desktop->log, (std::vector<std::string>{"resource EXEFILE/PNG", "layered Form2 48x48", "showPassively Form2",
                                                      "move Form2 1872,995", "hide Form1", "bringToTop Form2"}));
    EXPECT_EQ(Window2().outerRect(), (platform::Rect{1872, 995, 48, 48}));
    desktop->log.clear();
    for (int i = 0; i < 3; ++i) desktop->tick();
    EXPECT_EQ(desktop->log, std::vector<std::string>{}) << "folded: nothing until the fifth tick";
    desktop->tick();  // tick 15
    EXPECT_EQ(desktop->log, (std::vector<std::string>{"topmost Form2", "bringToTop Form2"}));
}

TEST_F(TimerTest, TheBadgeGoesToTheRightEdgeOfThePrimaryScreenWhereverItStarts) {
    desktop->screen = platform::Rect{1920, 0, 1920, 1080};
    Start();
    Window1().setRect(platform::Rect{3364, 900, 476, 190});
    for (int i = 0; i < 11; ++i) desktop->tick();
    ASSERT_TRUE(Window2().isShowing());
    EXPECT_EQ(Window2().outerRect(), (platform::Rect{3840 - 48, 995, 48, 48}));
}

// A projector plugged in to the left moves the laptop's screen to the right;
// unplugged, back. Each time the next tick puts the draw window at the corner
// of the primary screen as it now is (as at start-up) and the badge at its
// edge; a window left where it was could be on no screen at all.
TEST_F(TimerTest, AScreenPluggedInOrOutPutsBothWindowsOnThePrimaryOne) {
    Start();
    Window1().show();
    desktop->tick();
    desktop->log.clear();
    desktop->tick();
    EXPECT_TRUE(desktop->logged("move").empty()) << "the same screen: the window stays where it is";

    desktop->screen = platform::Rect{1024, 0, 1920, 1080};
    desktop->log.clear();
    desktop->tick();
    EXPECT_EQ(desktop->logged("move"), std::vector<std::string>{"move Form1 2468,854"});
    EXPECT_EQ(desktop->log.back(), "showPassively Form1") << "moved before it is shown";
    for (int i = 0; i < 8; ++i) desktop->tick();
    ASSERT_TRUE(Window2().isShowing());
    EXPECT_EQ(Window2().outerRect(), (platform::Rect{1024 + 1920 - 48, 854 + 176 / 2, 48, 48}));

    desktop->screen = platform::Rect{};
    desktop->log.clear();
    desktop->tick();
    EXPECT_TRUE(desktop->logged("move").empty()) << "no screen for a moment: nowhere to go";

    desktop->screen = platform::Rect{0, 0, 1366, 768};
    desktop->log.clear();
    desktop->tick();
    EXPECT_EQ(desktop->logged("move"), (std::vector<std::string>{"move Form1 890,542", "move Form2 1318,630"}));
    EXPECT_TRUE(desktop->logged("show").empty()) << "still folded";
    Window2().pressMouse(platform::MouseButton::Left, 24, 24);
    desktop->deliverPosted();
    EXPECT_EQ(Window1().outerRect(), (platform::Rect{890, 542, 476, 176}));
}

// Between two ticks: the window the user brings back is already on the
// primary screen.
TEST_F(TimerTest, TheMenuShowsTheWindowOnTheScreenPluggedInSinceTheLastTick) {
    Start();
    for (int i = 0; i < 11; ++i) desktop->tick();
    desktop->screen = platform::Rect{0, 0, 1366, 768};
    desktop->log.clear();
    desktop->choose(u"显示大转盘(&S)");
    EXPECT_EQ(desktop->log, (std::vector<std::string>{"move Form1 890,542", "show Form1", "hide Form2"}));
}

TEST_F(TimerTest, OnAScaledScreenTheBadgeIsDrawnFromItsTwiceTheSizeTwin) {
    desktop->scale = 1.5;
    desktop->badgeTwinImage = platform::Image{96, 96, std::vector<std::uint32_t>(96 * 96, 0xFF1565C0)};
    Start();
    Window1().show();
    Window1().setRect(platform::Rect{1200, 700, 714, 286});
    desktop->log.clear();
    for (int i = 0; i < 11; ++i) desktop->tick();
    EXPECT_EQ(desktop->logged("resource"), std::vector<std::string>{"resource EXEFILE/PNG_2X"});
    EXPECT_EQ(desktop->logged("layered"), std::vector<std::string>{"layered Form2 72x72"});
    // Flush with the right edge, at the middle of the draw window's height.
    EXPECT_EQ(Window2().outerRect(), (platform::Rect{1920 - 72, 700 + 143, 72, 72}));
    EXPECT_EQ(Window2().layeredImage().pixels, std::vector<std::uint32_t>(72 * 72, 0xFF1565C0));
}

TEST_F(TimerTest, TheShowingPeriodTicksTheCaptionAndReassertsTopmost) {
    Start();
    desktop->log.clear();
    desktop->tick();
    EXPECT_EQ(desktop->log, (std::vector<std::string>{"bringToTop Form1", "caption Form1 青枫大转盘(00:00:01)",
                                                      "showPassively Form1"}));
    for (int i = 0; i < 3; ++i) desktop->tick();
    desktop->log.clear();
    desktop->tick();
    EXPECT_EQ(desktop->log, (std::vector<std::string>{"caption Form1 青枫大转盘(00:00:05)", "showPassively Form1",
                                                      "topmost Form1", "bringToTop Form1"}));
    for (int i = 5; i < 65; ++i) {
        if (i % 8 == 0) ShownTicks = 0;  // kept up by presses and the menu
        desktop->tick();
    }
    EXPECT_EQ(ElapsedTicks, 65);
    EXPECT_EQ(Window1().caption(), u"青枫大转盘(00:01:05)");
}

TEST_F(TimerTest, APressAndTheShowItemRestartTheShowingPeriod) {
    fake::MakeStore(Store(), {{u"甲", 0}});
    Start();
    Window1().show();
    for (int i = 0; i < 8; ++i) desktop->tick();
    Spin(1);
    for (int i = 0; i < 10; ++i) desktop->tick();
    EXPECT_TRUE(Window1().isShowing()) << "ten more ticks after the press";
    desktop->tick();
    EXPECT_FALSE(Window1().isShowing());
    EXPECT_TRUE(Window2().isShowing());

    desktop->choose(u"显示大转盘(&S)");
    EXPECT_TRUE(Window1().isShowing());
    EXPECT_FALSE(Window2().isShowing());
    for (int i = 0; i < 10; ++i) desktop->tick();
    EXPECT_TRUE(Window1().isShowing());
    desktop->tick();
    EXPECT_TRUE(Window2().isShowing());
}

TEST_F(TimerTest, TenTicksAfterAClickOnTheBadgeItReturns) {
    Start();
    for (int i = 0; i < 11; ++i) desktop->tick();
    ASSERT_TRUE(Window2().isShowing());
    Window2().pressMouse(platform::MouseButton::Left, 24, 24);
    desktop->deliverPosted();
    EXPECT_EQ(ShownTicks, 0);
    EXPECT_TRUE(Window1().isShowing());
    EXPECT_FALSE(Window2().isShowing());
    for (int i = 0; i < 10; ++i) desktop->tick();
    EXPECT_TRUE(Window1().isShowing());
    EXPECT_FALSE(Window2().isShowing());
    desktop->tick();
    EXPECT_FALSE(Window1().isShowing());
    EXPECT_TRUE(Window2().isShowing());
}

// The user's show takes the focus; the timer's leaves it where it is.
TEST_F(TimerTest, TheMenuAndTheBadgeActivateTheTimerDoesNot) {
    Start();
    desktop->log.clear();
    desktop->tick();
    EXPECT_EQ(desktop->logged("show"), std::vector<std::string>{"showPassively Form1"});
    for (int i = 0; i < 10; ++i) desktop->tick();
    EXPECT_EQ(desktop->logged("show").back(), "showPassively Form2") << "the fold";

    desktop->log.clear();
    Window2().pressMouse(platform::MouseButton::Left, 24, 24);
    desktop->deliverPosted();
    EXPECT_EQ(desktop->logged("show"), std::vector<std::string>{"show Form1"});

    desktop->log.clear();
    desktop->choose(u"显示大转盘(&S)");
    EXPECT_EQ(desktop->logged("show"), std::vector<std::string>{"show Form1"});
}

TEST_F(TimerTest, ASpinGoesOnWhileFolded) {
    fake::MakeStore(Store(), {{u"甲", 0}, {u"乙", 0}});
    Start();
    desktop->onProcessMessages = [&](int call) {
        if (call % 10 == 0) desktop->tick();
        if (call == 150) Press();
    };
    Press();
    EXPECT_TRUE(Window2().isShowing());
    EXPECT_FALSE(Window1().isShowing());
    int total = 0;
    for (const StoredRow& row : Stored()) total += row.c;
    EXPECT_EQ(total, 1);
}

class MenuTest : public fake::ProgramTest {};

TEST_F(MenuTest, EightItemsInOrderWithTheTitleAsTooltip) {
    Start();
    std::vector<std::u16string> captions;
    for (const platform::MenuItem& item : desktop->trayMenu) captions.push_back(item.caption);
    EXPECT_EQ(captions, (std::vector<std::u16string>{u"显示大转盘(&S)", u"导入名单(&M)", u"清除次数(&Q)", u"关闭(&C)",
                                                     kHomePageHost, u"下载更多免费软件", u"下载最新版",
                                                     u"联系作者定制软件"}));
    EXPECT_EQ(desktop->trayTooltip, u"namewheel");
}

TEST_F(MenuTest, TheLinksOpenTheHomePageWithoutAMessage) {
    Start();
    desktop->shellResult = false;
    for (const auto* caption : {kHomePageHost, u"下载更多免费软件", u"下载最新版", u"联系作者定制软件"}) {
        desktop->choose(caption);
    }
    const auto opened = desktop->logged("shell");
    ASSERT_EQ(opened.size(), 4u);
    for (const std::string& line : opened) {
        EXPECT_EQ(line, "shell " + fake::Utf8(kHomePage) + " [] [https:] 1");
    }
    EXPECT_TRUE(desktop->boxes.empty());
}

TEST_F(MenuTest, ShowItemBringsTheWindowBackFromTheBadge) {
    Start();
    Window2().show();
    ShownTicks = 15;
    desktop->choose(u"显示大转盘(&S)");
    EXPECT_EQ(ShownTicks, 0);
    EXPECT_TRUE(Window1().isShowing());
    EXPECT_FALSE(Window2().isShowing());
}

class ImportTest : public fake::ProgramTest {
protected:
    void SetUp() override {
        ProgramTest::SetUp();
        fake::MakeStore(Store(), {{u"旧一", 3}, {u"旧二", 1}});
        Start();
        before = fake::ReadBytes(Store());
    }
    void Import(const std::filesystem::path& file) {
        desktop->dialogAnswers = {file.u16string()};
        desktop->choose(u"导入名单(&M)");
    }
    void ExpectFailedAndUnchanged(const std::string& words) {
        const auto boxes = desktop->logged("box stop");
        ASSERT_EQ(boxes.size(), 1u);
        EXPECT_NE(boxes[0].find(words), std::string::npos) << boxes[0];
        EXPECT_EQ(fake::ReadBytes(Store()), before) << "cs.db byte for byte as it was";
        EXPECT_TRUE(TemporaryStoresBeside(Store()).empty());
        EXPECT_EQ(form1->ADOQuery1.RecordCount(), 2) << "the old roster is open again";
    }
    std::string before;
};

TEST_F(ImportTest, CancellingChangesNothing) {
    desktop->dialogAnswers = {std::nullopt};
    desktop->choose(u"导入名单(&M)");
    EXPECT_EQ(desktop->logged("dialog"), std::vector<std::string>{"dialog *.txt|*.txt"});
    EXPECT_EQ(fake::ReadBytes(Store()), before);
    EXPECT_TRUE(desktop->boxes.empty());
}

TEST_F(ImportTest, ThirtyNamesReplaceTheRosterAndItsCounts) {
    fake::WriteBytes(File(u"班级.txt"), fake::Names(29) + "学生1\n");
    desktop->dialogAnswers = {File(u"班级.txt").u16string()};
    desktop->choose(u"导入名单(&M)");
    const Rows rows = Stored();
    ASSERT_EQ(rows.size(), 30u);
    for (const StoredRow& row : rows) EXPECT_EQ(row.c, 0);
    EXPECT_EQ(rows.front().xm, u"学生1");
    EXPECT_EQ(rows.back().xm, u"学生1") << "a name given twice is two rows";
    EXPECT_EQ(form1->ADOQuery1.RecordCount(), 30);
    EXPECT_EQ(form1->ADOQuery1.Sort(), u"c ASC");
    EXPECT_TRUE(desktop->boxes.empty()) << "a good import says nothing";
    EXPECT_TRUE(TemporaryStoresBeside(Store()).empty());
}

TEST_F(ImportTest, AMissingFileKeepsTheRoster) {
    Import(File(u"没有这个.txt"));
    ExpectFailedAndUnchanged("没有这个.txt");
}

TEST_F(ImportTest, AnUnreadableFileKeepsTheRoster) {
    std::filesystem::create_directory(File(u"文件夹.txt"));
    Import(File(u"文件夹.txt"));
    ExpectFailedAndUnchanged("文件夹.txt");
}

TEST_F(ImportTest, ARefusedLineKeepsTheRoster) {
    fake::WriteBytes(File(u"长.txt"), "张三\n李四\n" + std::string(25, 'x') + "\n");
    Import(File(u"长.txt"));
    ExpectFailedAndUnchanged("第 3 行");
}

TEST_F(ImportTest, AStoreThatCannotBeReplacedKeepsTheRoster) {
    fake::WriteBytes(File(u"新.txt"), "子\n");
    // The rename of the new store onto cs.db fails if that has become a folder
    // with something in it.
    form1->ADOConnection1.Close();
    std::filesystem::remove(Store());
    std::filesystem::create_directories(Store() / "inside");
    Import(File(u"新.txt"));
    const auto boxes = desktop->logged("box stop");
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_NE(boxes[0].find("无法替换名单库"), std::string::npos) << boxes[0];
    EXPECT_TRUE(std::filesystem::is_directory(Store() / "inside"));
    EXPECT_TRUE(TemporaryStoresBeside(Store()).empty());
}

// Files picked by mistake: each gets a message that says what is wrong with
// it, and cs.db stays as it was.
TEST_F(ImportTest, AnEmptyFileKeepsTheRoster) {
    fake::WriteBytes(File(u"空.txt"), "");
    Import(File(u"空.txt"));
    ExpectFailedAndUnchanged("里没有名字");
}

TEST_F(ImportTest, APictureRenamedKeepsTheRoster) {
    static constexpr char kPng[] = "\x89PNG\r\n\x1A\n\0\0\0\rIHDR\0\0\0\x30\0\0\0\x30\x08\x06";
    fake::WriteBytes(File(u"照片.txt"), std::string(kPng, sizeof kPng - 1));
    Import(File(u"照片.txt"));
    ExpectFailedAndUnchanged("不是文本文件");
}

TEST_F(ImportTest, BytesNoCodePageReadsBecomeReplacementCharacters) {
    fake::WriteBytes(File(u"乱码.txt"), "Ann\n\xFF" "Bob\n");
    Import(File(u"乱码.txt"));
    EXPECT_TRUE(desktop->boxes.empty());
    EXPECT_EQ(Stored(), (Rows{{u"Ann", 0}, {u"\uFFFDBob", 0}}));
}

TEST_F(ImportTest, AHundredMegabyteLineKeepsTheRoster) {
    {
        std::ofstream out(File(u"一行.txt"), std::ios::binary);
        const std::string block(1'000'000, 'x');
        for (int i = 0; i < 100; ++i) out << block;
    }
    Import(File(u"一行.txt"));
    ExpectFailedAndUnchanged("第 1 行：名字“xxxxxxxxxxxxxxxxxxxx…”有 100000000 个字符");
}

TEST_F(ImportTest, APipeKeepsTheRosterAndDoesNotWait) {
    ASSERT_EQ(mkfifo(File(u"管道.txt").c_str(), 0600), 0);
    Import(File(u"管道.txt"));
    ExpectFailedAndUnchanged("不是一个名单文件");
}

// Stores and folders the program cannot write to: a message that says so at
// the first press (or at start-up, where it must make a store), and nothing
// written. Permission bits only hold for a user other than root, so these
// run in a child process as the user nobody.
class UnwritableTest : public fake::ProgramTest {
protected:
    void SetUp() override {
        ProgramTest::SetUp();
        namespace fs = std::filesystem;
        fs::permissions(dir_.path(), fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec |
                                         fs::perms::others_read | fs::perms::others_exec);
    }
    void ReadOnlyFolder() {
        namespace fs = std::filesystem;
        fs::permissions(dir_.path(), fs::perms::owner_read | fs::perms::owner_exec | fs::perms::group_read |
                                         fs::perms::group_exec | fs::perms::others_read | fs::perms::others_exec);
    }
    // Starts the program in the child, presses the button (and again to stop
    // the spin, if one starts), and gives back the boxes shown.
    std::string StartAndPress() {
        return fake::RunUnprivileged([&] {
            Start();
            desktop->onProcessMessages = [&](int call) {
                if (call == 3) Press();
            };
            Press();
            std::string boxes;
            for (const std::string& box : desktop->logged("box")) boxes += box + "\n";
            return boxes;
        });
    }
};

TEST_F(UnwritableTest, AReadOnlyStoreIsNamedAtTheFirstPress) {
    fake::MakeStore(Store(), {{u"甲", 2}});
    std::filesystem::permissions(Store(), std::filesystem::perms::owner_read | std::filesystem::perms::group_read |
                                              std::filesystem::perms::others_read);
    const std::string before = fake::ReadBytes(Store());
    const std::string boxes = StartAndPress();
    EXPECT_NE(boxes.find("box stop"), std::string::npos) << boxes;
    EXPECT_NE(boxes.find(Store().string()), std::string::npos) << boxes;
    EXPECT_NE(boxes.find("只读"), std::string::npos) << boxes;
    EXPECT_EQ(fake::ReadBytes(Store()), before);
}

TEST_F(UnwritableTest, AFolderThatCannotBeWrittenWithoutAStore) {
    ReadOnlyFolder();
    const std::string boxes = StartAndPress();
    EXPECT_NE(boxes.find("box stop"), std::string::npos) << boxes;
    EXPECT_NE(boxes.find(dir_.path().string()), std::string::npos) << boxes;
    EXPECT_NE(boxes.find("不能写入"), std::string::npos) << boxes;
    EXPECT_FALSE(std::filesystem::exists(Store()));
    EXPECT_TRUE(TemporaryStoresBeside(Store()).empty());
}

TEST_F(UnwritableTest, AFolderThatCannotBeWrittenWithAWritableStore) {
    // The store file itself may be written, but its journal cannot be made
    // beside it: no draw could be saved.
    fake::MakeStore(Store(), {{u"甲", 2}, {u"乙", 0}});
    std::filesystem::permissions(Store(), std::filesystem::perms::all & ~std::filesystem::perms::owner_exec &
                                              ~std::filesystem::perms::group_exec & ~std::filesystem::perms::others_exec);
    ReadOnlyFolder();
    const std::string before = fake::ReadBytes(Store());
    const std::string boxes = StartAndPress();
    EXPECT_NE(boxes.find("box stop"), std::string::npos) << boxes;
    EXPECT_NE(boxes.find("不能写入"), std::string::npos) << boxes;
    EXPECT_NE(boxes.find(dir_.path().string()), std::string::npos) << boxes;
    EXPECT_EQ(fake::ReadBytes(Store()), before);
}

TEST_F(UnwritableTest, AnImportIntoAFolderThatCannotBeWrittenKeepsTheRoster) {
    fake::MakeStore(Store(), {{u"甲", 2}, {u"乙", 0}});
    fake::WriteBytes(File(u"新.txt"), "子\n丑\n");
    std::filesystem::permissions(Store(), std::filesystem::perms::all & ~std::filesystem::perms::owner_exec &
                                              ~std::filesystem::perms::group_exec & ~std::filesystem::perms::others_exec);
    ReadOnlyFolder();
    const std::string before = fake::ReadBytes(Store());
    const std::string boxes = fake::RunUnprivileged([&] {
        Start();
        desktop->dialogAnswers = {File(u"新.txt").u16string()};
        desktop->choose(u"导入名单(&M)");
        std::string shown;
        for (const std::string& box : desktop->logged("box")) shown += box + "\n";
        return shown;
    });
    EXPECT_NE(boxes.find("box stop"), std::string::npos) << boxes;
    EXPECT_NE(boxes.find("不能写入"), std::string::npos) << boxes;
    EXPECT_EQ(fake::ReadBytes(Store()), before);
    EXPECT_TRUE(TemporaryStoresBeside(Store()).empty());
}

class ResetTest : public fake::ProgramTest {};

TEST_F(ResetTest, EveryCountBackToZeroThenTheNotice) {
    fake::MakeStore(Store(), {{u"a", 3}, {u"b", 1}, {u"c", 4}, {u"d", 1}, {u"e", 5}});
    Start();
    desktop->choose(u"清除次数(&Q)");
    EXPECT_EQ(Stored(), (Rows{{u"a", 0}, {u"b", 0}, {u"c", 0}, {u"d", 0}, {u"e", 0}}));
    EXPECT_EQ(desktop->boxes, std::vector<std::u16string>{u"提示: 已清除记录"});
    EXPECT_EQ(form1->ADOQuery1.Sort(), u"c ASC");
}

TEST_F(ResetTest, AnEmptyRosterGetsTheNoticeToo) {
    Start();
    desktop->choose(u"清除次数(&Q)");
    EXPECT_EQ(desktop->boxes, std::vector<std::u16string>{u"提示: 已清除记录"});
    EXPECT_EQ(Stored(), Rows{});
}

TEST_F(ResetTest, AFailureResetsNoneAndShowsNoNotice) {
    fake::MakeStore(Store(), {{u"a", 3}, {u"b", 1}, {u"c", 4}});
    // A test-only trigger makes the third row's update fail half-way through the walk.
    fake::Sql(Store(), "create trigger refuse before update on cs when old.xm = 'c' "
                       "begin select raise(abort, 'refused'); end;");
    Start();
    desktop->choose(u"清除次数(&Q)");
    EXPECT_EQ(Stored(), (Rows{{u"a", 3}, {u"b", 1}, {u"c", 4}}));
    ASSERT_EQ(desktop->logged("box stop").size(), 1u);
    EXPECT_TRUE(desktop->logged("box info").empty());
    form1->ADOQuery1.SetSort(u"");
    form1->ADOQuery1.First();
    EXPECT_EQ(form1->ADOQuery1.FieldAsInteger("c"), 3) << "the view holds the stored counts again";
}

TEST_F(ResetTest, NestedInsideASpin) {
    fake::MakeStore(Store(), {{u"a", 3}, {u"b", 3}});
    Start();
    desktop->onMessageBox = [](const std::u16string&) {};
    desktop->onProcessMessages = [&](int call) {
        if (call == 4) desktop->choose(u"清除次数(&Q)");
        if (call == 8) Press();
    };
    Press();
    int total = 0;
    for (const StoredRow& row : Stored()) total += row.c;
    EXPECT_EQ(total, 1) << "reset to zero, then the one draw";
    EXPECT_EQ(desktop->boxes, std::vector<std::u16string>{u"提示: 已清除记录"});
}

}  // namespace
