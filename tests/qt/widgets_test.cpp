// The Qt front end, offscreen: the widgets the layout makes, and the real
// dialogs and boxes answered the way a user would.

#include <gtest/gtest.h>

#include <QApplication>
#include <QDialogButtonBox>
#include <QFileDialog>
#include <QFileInfo>
#include <QLibraryInfo>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMessageBox>
#include <QPushButton>
#include <QScreen>
#include <QTest>
#include <QTimer>
#include <algorithm>
#include <functional>

#include "Unit1/unit1.h"
#include "Unit2/unit2.h"
#include "common/application.h"
#include "common/state.h"
#include "common/text.h"
#include "platform/qt/qt_platform.h"
#include "platform/qt/qt_translation.h"
#include "platform/qt/qt_window.h"
#include "tests/support/fixture.h"

namespace {

class TestPlatform : public platform::qt::QtPlatform {
public:
    explicit TestPlatform(std::filesystem::path executable) : executable_(std::move(executable)) {}
    std::filesystem::path executablePath() const override { return executable_; }

private:
    std::filesystem::path executable_;
};

// Runs check on the first visible widget of type T once it turns up (polling,
// while a modal loop runs), then lets answer close it.
template <typename T>
void WhenShown(std::function<void(T*)> answer, int* seen) {
    auto* poll = new QTimer;
    poll->setInterval(20);
    QObject::connect(poll, &QTimer::timeout, [poll, answer, seen] {
        for (QWidget* widget : QApplication::topLevelWidgets()) {
            if (auto* typed = qobject_cast<T*>(widget); typed != nullptr && typed->isVisible()) {
                poll->stop();
                poll->deleteLater();
                ++*seen;
                answer(typed);
                return;
            }
        }
    });
    poll->start();
}

class WidgetTest : public ::testing::Test {
protected:
    void SetUp() override {
        desktop = std::make_unique<TestPlatform>(dir.path() / "namewheel");
        InitApplication(*desktop);
    }
    void Start() {
        form1 = std::make_unique<TForm1>(*desktop);
        form2 = std::make_unique<TForm2>(*desktop);
        form1->window().show();
    }
    void TearDown() override {
        form2.reset();
        form1.reset();
    }
    QWidget* Widget1() { return static_cast<platform::qt::QtWindow&>(form1->window()).widget(); }
    QWidget* Widget2() { return static_cast<platform::qt::QtWindow&>(form2->window()).widget(); }
    QPushButton* Button() { return Widget1()->findChild<QPushButton*>("btn1"); }
    QLabel* Label() { return Widget1()->findChild<QLabel*>("lbl1"); }

    fake::TempDir dir;
    std::unique_ptr<TestPlatform> desktop;
    std::unique_ptr<TForm1> form1;
    std::unique_ptr<TForm2> form2;
};

TEST_F(WidgetTest, TheDrawWindowAsLaidOut) {
    Start();
    QWidget* window = Widget1();
    EXPECT_EQ(window->size(), QSize(474, 151));
    EXPECT_TRUE(window->windowFlags() & Qt::WindowStaysOnTopHint);
    EXPECT_FALSE(window->windowFlags() & Qt::WindowMinimizeButtonHint);
    EXPECT_FALSE(window->windowFlags() & Qt::WindowMaximizeButtonHint);
    EXPECT_TRUE(window->windowFlags() & Qt::WindowCloseButtonHint);
    EXPECT_EQ(window->font().pixelSize(), 11);
    EXPECT_EQ(window->windowTitle(), QString::fromUtf8("青枫大转盘"));

    QLabel* label = Label();
    ASSERT_NE(label, nullptr);
    EXPECT_EQ(label->geometry(), QRect(24, 8, 442, 97));
    EXPECT_EQ(label->text(), QString::fromUtf8("转转转"));
    EXPECT_EQ(label->alignment(), Qt::AlignCenter);
    EXPECT_EQ(label->font().pixelSize(), 96);
    EXPECT_TRUE(label->font().bold());
    EXPECT_EQ(label->font().families().value(0), QString::fromUtf8("新宋体"));
    EXPECT_EQ(label->palette().color(QPalette::WindowText), QColor(255, 0, 255));

    QPushButton* button = Button();
    ASSERT_NE(button, nullptr);
    EXPECT_EQ(button->geometry(), QRect(200, 111, 81, 32));
    EXPECT_EQ(button->text(), QString::fromUtf8("开始转动"));

    // Offscreen there are no frames: the window's outer rectangle is its own.
    EXPECT_EQ(window->frameGeometry().right() + 1, 1920);
    EXPECT_EQ(window->frameGeometry().bottom() + 1, 1030);
}

TEST_F(WidgetTest, ClicksSpinAndStopAndTheDrawIsStored) {
    fake::MakeStore(dir.path() / "cs.db", {{u"甲", 0}, {u"乙", 0}});
    Start();
    QStringList shown;
    QTimer watch;
    QObject::connect(&watch, &QTimer::timeout, [&] { shown << Label()->text(); });
    watch.start(15);
    QTimer::singleShot(400, [&] {
        EXPECT_EQ(Button()->text(), QString::fromUtf8("停止转动"));
        QTest::mouseClick(Button(), Qt::LeftButton);
    });
    QTest::mouseClick(Button(), Qt::LeftButton);  // returns once the spin has stopped
    watch.stop();
    EXPECT_FALSE(Spinning);
    EXPECT_EQ(Button()->text(), QString::fromUtf8("开始转动"));
    EXPECT_TRUE(shown.contains(QString::fromUtf8("甲")) && shown.contains(QString::fromUtf8("乙")));
    const auto rows = fake::StoredRows(dir.path() / "cs.db");
    EXPECT_EQ(rows[0].c + rows[1].c, 1);
    EXPECT_EQ(rows[0].c == 1 ? u"甲" : u"乙", Label()->text().toStdU16String());
}

TEST_F(WidgetTest, TheNoticeOfAnEmptyRoster) {
    Start();
    int seen = 0;
    WhenShown<QMessageBox>(
        [](QMessageBox* box) {
            EXPECT_EQ(box->windowTitle(), QString::fromUtf8("提示"));
            EXPECT_EQ(box->text(), QString::fromUtf8("请选导入名单"));
            EXPECT_EQ(box->icon(), QMessageBox::Information);
            EXPECT_EQ(box->standardButtons(), QMessageBox::Ok);
            box->button(QMessageBox::Ok)->click();
        },
        &seen);
    QTest::mouseClick(Button(), Qt::LeftButton);
    EXPECT_EQ(seen, 1);
}

TEST_F(WidgetTest, TheErrorReportHasTheTitleAndTheStopIcon) {
    Start();
    int seen = 0;
    WhenShown<QMessageBox>(
        [](QMessageBox* box) {
            EXPECT_EQ(box->windowTitle(), QString::fromUtf8("namewheel"));
            EXPECT_EQ(box->text(), QString::fromUtf8("名单库坏了."));
            EXPECT_EQ(box->icon(), QMessageBox::Critical);
            box->button(QMessageBox::Ok)->click();
        },
        &seen);
    Guarded([] { throw Error(u"名单库坏了"); });
    EXPECT_EQ(seen, 1);
}

TEST_F(WidgetTest, ImportThroughTheRealFileDialog) {
    Start();
    const auto file = dir.path() / "班级.txt";
    fake::WriteBytes(file, fake::Names(30));
    int seen = 0;
    WhenShown<QFileDialog>(
        [&](QFileDialog* dialog) {
            EXPECT_TRUE(dialog->testOption(QFileDialog::DontUseNativeDialog));
            EXPECT_EQ(dialog->nameFilters(), QStringList{"*.txt (*.txt)"});
            EXPECT_EQ(dialog->fileMode(), QFileDialog::AnyFile) << "no demand that the file exist";
            auto* edit = dialog->findChild<QLineEdit*>("fileNameEdit");
            ASSERT_NE(edit, nullptr);
            edit->setText(QString::fromStdU16String(file.u16string()));
            QTest::keyClick(edit, Qt::Key_Return);
        },
        &seen);
    Guarded([&] { form1->N3Click(); });
    EXPECT_EQ(seen, 1);
    const auto rows = fake::StoredRows(dir.path() / "cs.db");
    ASSERT_EQ(rows.size(), 30u);
    EXPECT_EQ(rows[29].xm, u"学生30");
}

// The import dialog speaks the user's language: Qt's own texts come from Qt's
// translations (the system's here, those beside the program in the portable
// folder); Hong Kong reads Taiwan's traditional Chinese, and a locale Qt has
// no translation for keeps Qt's English.
TEST_F(WidgetTest, TheImportDialogInTheUsersLanguage) {
#if QT_VERSION >= QT_VERSION_CHECK(6, 0, 0)
    const QString folder = QLibraryInfo::path(QLibraryInfo::TranslationsPath);
#else
    const QString folder = QLibraryInfo::location(QLibraryInfo::TranslationsPath);
#endif
    if (!QFileInfo::exists(folder + "/qtbase_zh_CN.qm")) {
        GTEST_SKIP() << "skipped: Qt's translations are not installed in " << folder.toStdString()
                     << " (package qt6-translations-l10n)";
    }
    struct Case {
        const char* locale;
        bool translated;
        const char* title;
        const char* buttons;  // the button box's, left to right
    };
    const Case cases[] = {
        {"zh_CN", true, "打开", "打开(&O) 取消"},
        {"zh_TW", true, "開啟", "開啟(&O) 取消"},
        {"zh_HK", true, "開啟", "開啟(&O) 取消"},
        {"zh_SG", true, "打开", "打开(&O) 取消"},
        {"C", false, "Open", "&Open Cancel"},
    };
    Start();
    for (const Case& c : cases) {
        SCOPED_TRACE(c.locale);
        const auto translation = platform::qt::QtTranslation(QLocale(QString::fromLatin1(c.locale)));
        ASSERT_EQ(translation != nullptr, c.translated);
        if (translation) QCoreApplication::installTranslator(translation.get());
        int seen = 0;
        QString title;
        QStringList buttons;
        WhenShown<QFileDialog>(
            [&](QFileDialog* dialog) {
                title = dialog->windowTitle();
                auto* box = dialog->findChild<QDialogButtonBox*>();
                if (box != nullptr) {
                    for (QAbstractButton* button : box->buttons()) buttons << button->text();
                }
                dialog->reject();
            },
            &seen);
        Guarded([&] { form1->N3Click(); });
        if (translation) QCoreApplication::removeTranslator(translation.get());
        ASSERT_EQ(seen, 1);
        EXPECT_EQ(title, QString::fromUtf8(c.title));
        EXPECT_EQ(buttons.join(' '), QString::fromUtf8(c.buttons));
    }
}

TEST_F(WidgetTest, WithoutATrayTheMenuOpensInTheDrawWindow) {
    Start();
    int seen = 0;
    WhenShown<QMenu>(
        [](QMenu* menu) {
            QStringList captions;
            for (QAction* action : menu->actions()) captions << action->text();
            EXPECT_EQ(captions.size(), 8);
            EXPECT_EQ(captions.value(0), QString::fromUtf8("显示大转盘(&S)"));
            EXPECT_EQ(captions.value(3), QString::fromUtf8("关闭(&C)"));
            menu->close();
        },
        &seen);
    QContextMenuEvent event(QContextMenuEvent::Mouse, QPoint(10, 10), Widget1()->mapToGlobal(QPoint(10, 10)));
    QApplication::sendEvent(Widget1(), &event);
    EXPECT_EQ(seen, 1);
}

TEST_F(WidgetTest, TheBadgeTakesTheImagesOutline) {
    Start();
    TForm2::YXForm_FromResource(*form2, u"PNG", u"EXEFILE", 0);
    form2->window().show();
    QWidget* badge = Widget2();
    EXPECT_EQ(badge->size(), QSize(48, 48));
    EXPECT_TRUE(badge->windowFlags() & Qt::FramelessWindowHint);
    EXPECT_TRUE(badge->windowFlags() & Qt::WindowStaysOnTopHint);
    EXPECT_FALSE(badge->mask().contains(QPoint(0, 0))) << "a transparent corner is not part of the window";
    EXPECT_FALSE(badge->mask().contains(QPoint(47, 47)));
    EXPECT_TRUE(badge->mask().contains(QPoint(24, 24)));

    // A press on it brings the draw window back, through the posted click.
    form1->window().hide();
    QTest::mousePress(badge, Qt::LeftButton, {}, QPoint(24, 24));
    QTRY_VERIFY_WITH_TIMEOUT(Widget1()->isVisible(), 2000);
    EXPECT_FALSE(badge->isVisible());
}

// Minimised by the desktop ("show desktop", a panel's minimise): each show
// of the program brings the draw window back, and none leaves it iconic.
TEST_F(WidgetTest, EveryShowBringsAMinimisedDrawWindowBack) {
    Start();
    QWidget* window = Widget1();
    const auto minimise = [window] {
        window->setWindowState(window->windowState() | Qt::WindowMinimized);
        ASSERT_TRUE(window->isMinimized());
    };
    const auto fold = [this, window] {
        ShownTicks = 10;
        form1->tmr1Timer();
        ASSERT_TRUE(Widget2()->isVisible());
        ASSERT_FALSE(window->isVisible());
    };

    minimise();
    form1->tmr1Timer();
    EXPECT_FALSE(window->isMinimized()) << "the timer's show";
    EXPECT_TRUE(window->isVisible());

    minimise();
    fold();
    form2->FormClick();
    EXPECT_FALSE(window->isMinimized()) << "a click on the badge";
    EXPECT_TRUE(window->isVisible());

    minimise();
    fold();
    form1->N1Click();
    EXPECT_FALSE(window->isMinimized()) << "显示大转盘";
    EXPECT_TRUE(window->isVisible());
}

TEST_F(WidgetTest, TopmostAgainNeitherMovesNorHides) {
    Start();
    const QRect before = Widget1()->geometry();
    form1->window().makeTopmost();
    QApplication::processEvents();
    EXPECT_TRUE(Widget1()->isVisible());
    EXPECT_EQ(Widget1()->geometry(), before);
}

// The horizontal extent of the label's fuchsia pixels, as drawn.
int DrawnWidth(QLabel* label) {
    const QImage image = label->grab().toImage();
    int left = image.width();
    int right = -1;
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x) {
            const QColor colour = image.pixelColor(x, y);
            if (colour.red() > 160 && colour.blue() > 160 && colour.green() < 100) {
                left = std::min(left, x);
                right = std::max(right, x);
            }
        }
    }
    return right < left ? 0 : right - left + 1;
}

TEST_F(WidgetTest, ANameIsDrawnAsTextNotAsMarkup) {
    Start();
    platform::Control& label = form1->window().control("lbl1");
    label.setText(u"甲");
    const int plain = DrawnWidth(Label());
    ASSERT_GT(plain, 0);
    label.setText(u"<b>甲</b>");
    EXPECT_EQ(Label()->textFormat(), Qt::PlainText);
    EXPECT_GT(DrawnWidth(Label()), 3 * plain) << "the tags are drawn as characters";
    label.setText(u"A<br>B");
    EXPECT_EQ(label.text(), u"A<br>B");
    EXPECT_GT(DrawnWidth(Label()), 3 * plain) << "on one line";
}

TEST_F(WidgetTest, ABoxShowsItsTextAsText) {
    Start();
    int seen = 0;
    WhenShown<QMessageBox>(
        [](QMessageBox* box) {
            EXPECT_EQ(box->textFormat(), Qt::PlainText);
            EXPECT_EQ(box->text(), QString::fromUtf8("“<b>甲</b>”的次数已到上限."));
            box->button(QMessageBox::Ok)->click();
        },
        &seen);
    Guarded([] { throw Error(u"“<b>甲</b>”的次数已到上限"); });
    EXPECT_EQ(seen, 1);
}

// 关闭 chosen while a box of the creation handler waits: that box closes, and
// the program ends instead of running its message loop.
TEST_F(WidgetTest, CloseChosenInsideTheCreationBoxEndsTheProgram) {
    fake::WriteBytes(dir.path() / "名单.txt", std::string(21, 'x') + "\n");
    int seen = 0;
    WhenShown<QMessageBox>(
        [](QMessageBox*) {
            ASSERT_NE(Form1, nullptr);
            Form1->C1Click();
        },
        &seen);
    form1 = std::make_unique<TForm1>(*desktop);
    EXPECT_EQ(seen, 1);
    form2 = std::make_unique<TForm2>(*desktop);
    // Should the loop run after all, end it with a code the test tells apart.
    QTimer guard;
    guard.setSingleShot(true);
    QObject::connect(&guard, &QTimer::timeout, [] { QCoreApplication::exit(99); });
    guard.start(3000);
    EXPECT_EQ(desktop->run(form1->window()), 0);
    guard.stop();
    // Later event loops of this process would end at once otherwise.
    QTimer::singleShot(0, [] { QCoreApplication::exit(0); });
    QCoreApplication::exec();
}

// Run on two screens (tests/qt/two-screens.json): a projector at 0,0 and, to
// its right, the primary laptop screen at twice the scale.
class TwoScreensTest : public WidgetTest {};

TEST_F(TwoScreensTest, TheCornerAndTheBadgeAreThoseOfThePrimaryScreen) {
    const QScreen* primary = QGuiApplication::primaryScreen();
    ASSERT_EQ(QGuiApplication::screens().size(), 2) << "run with two-screens.json";
    ASSERT_EQ(primary->geometry(), QRect(1024, 0, 1920, 1080));
    ASSERT_EQ(primary->devicePixelRatio(), 2.0);
    Start();
    QWidget* window = Widget1();
    EXPECT_EQ(window->frameGeometry().right() + 1, 1024 + 1920);
    EXPECT_EQ(window->frameGeometry().bottom() + 1, 1030);
    EXPECT_EQ(window->screen(), primary);

    ShownTicks = 10;
    form1->tmr1Timer();
    QWidget* badge = Widget2();
    ASSERT_TRUE(badge->isVisible());
    EXPECT_EQ(badge->frameGeometry().right() + 1, 1024 + 1920);
    EXPECT_EQ(badge->frameGeometry().top(), window->frameGeometry().top() + window->frameGeometry().height() / 2);
    EXPECT_EQ(badge->screen(), primary);
}

}  // namespace

int main(int argc, char** argv) {
    // Offscreen, on a 1920 x 1080 screen, unless the caller asks for a real display.
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
        qputenv("QT_QPA_PLATFORM", "offscreen:configfile=" NAMEWHEEL_TEST_SCREENS);
    }
    if (qEnvironmentVariableIsEmpty("QTEST_FUNCTION_TIMEOUT")) qputenv("QTEST_FUNCTION_TIMEOUT", "30000");
    QApplication application(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
