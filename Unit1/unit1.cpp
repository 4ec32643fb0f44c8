#include "Unit1/unit1.h"

#include <algorithm>
#include <limits>

#include "Unit2/unit2.h"
#include "common/application.h"
#include "common/helpers.h"
#include "common/scope_exit.h"
#include "common/state.h"
#include "common/text.h"
#include "platform/platform.h"
#include "resources/layout.h"
#include "store/jet.h"
#include "store/sequences.h"
#include "store/transaction.h"

namespace {

constexpr char16_t kStartCaption[] = u"开始转动";
constexpr char16_t kStopCaption[] = u"停止转动";
constexpr char16_t kCaption[] = u"青枫大转盘";
constexpr char16_t kStoreFile[] = u"cs.db";
constexpr char16_t kDefaultRoster[] = u"名单.txt";
constexpr int kCandidateLimit = 10;
constexpr int kShowingTicks = 10;
constexpr int kStepPauseMilliseconds = 10;
constexpr std::size_t kTooltipLimit = 127;

// A spin draws only among the least-drawn rows: the first ten of the order.
int CandidateCount(int recordCount) { return std::min(recordCount, kCandidateLimit); }

// One more draw for the view's current row. A draw that fails leaves nothing
// pending: the view goes on holding what the file holds, and the draw the
// user is told was lost is never written later.
void RecordDraw(TADOQuery& view, const std::u16string& name) {
    try {
        view.Edit();
        const int count = view.FieldAsInteger("c");
        // A store edited by another tool may hold any count; one more than the
        // largest would wrap round to the smallest.
        if (count == std::numeric_limits<int>::max()) throw Error(ErrorKind::CountLimit, {ToU16(count)});
        view.SetField("c", count + 1);
        view.Post();
    } catch (const UnconfirmedChange& error) {
        throw Error::Within(u"“" + name + u"”已记下，但", error, u"：断电后这次记录可能丢失，请检查磁盘");
    } catch (const std::exception& error) {
        view.Cancel();
        throw Error::Within(u"“" + name + u"”这次没有记下：", error);
    }
}

// The dialog's kinds of file from "description|patterns|description|patterns…".
std::vector<platform::FileFilter> FileFilters(const std::u16string& filter) {
    std::vector<std::u16string> parts{{}};
    for (const char16_t ch : filter) {
        if (ch == u'|') {
            parts.emplace_back();
        } else {
            parts.back().push_back(ch);
        }
    }
    std::vector<platform::FileFilter> filters;
    for (std::size_t i = 0; i + 1 < parts.size(); i += 2) filters.push_back({parts[i], parts[i + 1]});
    return filters;
}

}  // namespace

std::optional<std::u16string> TOpenDialog::Execute(platform::Platform& desktop) const {
    return desktop.openFileDialog(FileFilters(Filter));
}

TForm1::TForm1(platform::Platform& desktop)
    : desktop_(desktop),
      window_(desktop.createWindow(layout::kForm1)),
      lbl1(window_->control("lbl1")),
      btn1(window_->control("btn1")) {
    Form1 = this;
    btn1.onClick([this] { Guarded([this] { btn1Click(); }); });
    window_->onFrameKnown([this] { PlaceAtCorner(); });
    desktop_.startTimer(1000, [this] { Guarded([this] { tmr1Timer(); }); });
    CreateTrayIcon();
    Guarded([this] { FormCreate(); });
}

TForm1::~TForm1() {
    if (Form1 == this) Form1 = nullptr;
}

void TForm1::CreateTrayIcon() {
    const auto item = [this](std::u16string caption, void (TForm1::*handler)()) {
        return platform::MenuItem{std::move(caption), [this, handler] { Guarded([this, handler] { (this->*handler)(); }); }};
    };
    std::u16string tooltip = ApplicationTitle();
    if (tooltip.size() > kTooltipLimit) tooltip.resize(kTooltipLimit);
    desktop_.showTrayIcon(tooltip, {
                                       item(u"显示大转盘(&S)", &TForm1::N1Click),
                                       item(u"导入名单(&M)", &TForm1::N3Click),
                                       item(u"清除次数(&Q)", &TForm1::N2Click),
                                       item(u"关闭(&C)", &TForm1::C1Click),
                                       item(kHomePageHost, &TForm1::SiteLink1Click),
                                       item(u"下载更多免费软件", &TForm1::N4Click),
                                       item(u"下载最新版", &TForm1::N5Click),
                                       item(u"联系作者定制软件", &TForm1::N6Click),
                                   });
}

int TForm1::Top() const { return window_->outerRect().top; }
int TForm1::Left() const { return window_->outerRect().left; }
int TForm1::Width() const { return window_->outerRect().width; }
int TForm1::Height() const { return window_->outerRect().height; }
void TForm1::Show() {
    PlaceAgainIfTheScreenChanged();
    window_->show();
}
void TForm1::Hide() { window_->hide(); }
bool TForm1::Showing() const { return window_->isShowing(); }

// Flush with the right edge of the primary screen, the bottom 50 pixels above
// its bottom edge, by the outer size. With a second screen the primary one
// may start anywhere: the corner is its own. The 50 are the layout's: on a
// scaled screen they keep the window clear of a taskbar scaled alike.
void TForm1::PlaceAtCorner() {
    const platform::Rect screen = desktop_.primaryScreen();
    placedOn_ = screen;
    const int gap = ScaledPixels(50, desktop_.layoutScale());
    window_->moveTo(screen.left + screen.width - Width(), screen.top + screen.height - Height() - gap);
}

// A screen was plugged in or out, or another one made primary, since the
// window was placed: where it is may now be another screen, or none. It goes
// to the corner of the primary screen as it is now, as at start-up. While
// there is no screen at all (between unplugging one and the next), it stays.
bool TForm1::PlaceAgainIfTheScreenChanged() {
    const platform::Rect screen = desktop_.primaryScreen();
    if (screen == placedOn_ || screen.width <= 0 || screen.height <= 0) return false;
    PlaceAtCorner();
    return true;
}

// Flush with the right edge of the primary screen, at the height of the
// middle of the draw window.
void TForm1::PlaceBadge(platform::Window& badge) {
    const platform::Rect screen = desktop_.primaryScreen();
    badge.moveTo(screen.left + screen.width - Form2->Width(), Top() + Height() / 2);
}

void TForm1::FormCreate() {
    Randomize();
    ElapsedTicks = 0;
    ShownTicks = 0;
    PlaceAtCorner();
    Spinning = false;
    const std::filesystem::path store = AppFilePath(kStoreFile);
    RemoveStaleTemporaryStores(store);
    std::optional<Error> unconfirmed;
    std::error_code ec;
    if (!std::filesystem::exists(std::filesystem::symlink_status(store, ec))) {
        const std::filesystem::path rosterFile = AppFilePath(kDefaultRoster);
        std::optional<Roster> roster;
        // At first start there is no roster to keep: an empty file gives an
        // empty store, and the first press asks for a roster.
        if (std::filesystem::exists(rosterFile, ec)) roster = ReadRosterFile(rosterFile, EmptyRoster::Taken);
        unconfirmed = CreateStore(ADOConnection1, ADOQuery1, store, roster ? &*roster : nullptr);
    }
    OpenRosterView(ADOConnection1, ADOQuery1, store);
    // The new store is in use all the same.
    if (unconfirmed) throw *unconfirmed;
}

void TForm1::btn1Click() {
    if (ADOQuery1.RecordCount() == 0) {
        ShowNotice(u"请选导入名单");
        return;
    }
    // The stopping press has cleared Spinning but its spin has not yet seen it:
    // a press now would start a second spin inside the first, and the one name
    // would be recorded twice.
    if (!Spinning && spinLoopRunning_) return;
    ShownTicks = 0;
    Spinning = !Spinning;
    btn1.setText(Spinning ? kStopCaption : kStartCaption);
    if (!Spinning) return;  // the spin further up the call chain ends at its next step

    Spin(CandidateCount(ADOQuery1.RecordCount()));
    if (ADOQuery1.RecordCount() == 0) return;
    if (ADOQuery1.Locate("xm", lbl1.text())) RecordDraw(ADOQuery1, lbl1.text());
}

// Flashes names from the first n rows until a press clears Spinning. Messages
// run between the steps: the stopping press, a tick, a menu command.
void TForm1::Spin(int n) {
    spinLoopRunning_ = true;
    // The pause of each step sets the pace of the flashing.
    desktop_.setFinePauses(true);
    // However the spin ends (the stopping press, an emptied roster, an
    // error), the button is back at its start caption.
    const ScopeExit spinEnds([this] {
        desktop_.setFinePauses(false);
        spinLoopRunning_ = false;
        Spinning = false;
        btn1.setText(kStartCaption);
    });
    while (Spinning && ShowRandomCandidate(n)) {
        desktop_.processMessages();
        desktop_.pause(kStepPauseMilliseconds);
    }
}

// Shows the name of a random one of the first n rows; false when there is
// none: a command run inside the spin may have replaced the roster with a
// shorter one, or emptied it.
bool TForm1::ShowRandomCandidate(int n) {
    const int available = std::min(n, ADOQuery1.RecordCount());
    if (available == 0) return false;
    ADOQuery1.SetRecNo(Random(available) + 1);
    lbl1.setText(TrimControl(ADOQuery1.FieldAsText("xm")));
    return true;
}

void TForm1::tmr1Timer() {
    ++ElapsedTicks;
    ++ShownTicks;
    const bool screenChanged = PlaceAgainIfTheScreenChanged();
    if (ShownTicks <= kShowingTicks) {
        if (!Showing()) window_->bringToTop();
        window_->setCaption(kCaption + (u"(" + SecondsToHMS(ElapsedTicks) + u")"));
        window_->showPassively();
        if (ElapsedTicks % 5 == 0) {
            window_->makeTopmost();
            window_->bringToTop();
        }
        return;
    }
    if (Form2 == nullptr) return;  // a box shown while the windows are still being made
    platform::Window& badge = Form2->window();
    if (!badge.isShowing()) {
        TForm2::YXForm_FromResource(*Form2, u"PNG", u"EXEFILE", 0);
        badge.showPassively();
        PlaceBadge(badge);
        Hide();
        badge.bringToTop();
    } else if (screenChanged) {
        PlaceBadge(badge);
    }
    if (ElapsedTicks % 5 == 0) {
        badge.makeTopmost();
        badge.bringToTop();
    }
}

void TForm1::N1Click() {
    ShownTicks = 0;
    Show();
    // The menu is live from the moment the icon is there, before the badge is
    // made (while a box of the creation handler waits, for one).
    if (Form2 != nullptr) Form2->Hide();
}

void TForm1::N3Click() {
    const std::optional<std::u16string> chosen = OpenDialog1.Execute(desktop_);
    if (!chosen) return;
    // Everything that can fail about the file is found out before the store is
    // touched; the new store is then built beside the old one and replaces it
    // only when it is complete.
    const Roster roster = ReadRosterFile(std::filesystem::path(*chosen));
    const std::filesystem::path store = AppFilePath(kStoreFile);
    ADOConnection1.Close();
    std::optional<Error> unconfirmed;
    try {
        unconfirmed = CreateStore(ADOConnection1, ADOQuery1, store, &roster);
    } catch (...) {
        OpenRosterView(ADOConnection1, ADOQuery1, store);
        throw;
    }
    OpenRosterView(ADOConnection1, ADOQuery1, store);
    if (unconfirmed) throw *unconfirmed;
}

void TForm1::N2Click() {
    ADOQuery1.First();
    ADOQuery1.SetSort(u"");
    // Every count is reset, or after an error none is, in the file and in the
    // view alike.
    try {
        Transaction reset(ADOConnection1);
        while (!ADOQuery1.Eof()) {
            ADOQuery1.Edit();
            ADOQuery1.SetField("c", 0);
            ADOQuery1.Post();
            ADOQuery1.Next();
        }
        reset.Commit();
    } catch (const UnconfirmedChange& error) {
        ADOQuery1.SetSort(kSortByCount);
        throw Error::Within(u"次数已清除，但", error, u"：断电后可能仍是原来的次数，请检查磁盘");
    } catch (const std::exception& error) {
        ADOQuery1.SetSort(kSortByCount);
        throw Error::Within(u"次数没有清除：", error);
    }
    ADOQuery1.SetSort(kSortByCount);
    ShowNotice(u"已清除记录");
}

void TForm1::C1Click() { window_->close(); }

void TForm1::OpenHomePage() { OpenInShell(kHomePage, u"", kShowNormal); }
void TForm1::SiteLink1Click() { OpenHomePage(); }
void TForm1::N4Click() { OpenHomePage(); }
void TForm1::N5Click() { OpenHomePage(); }
void TForm1::N6Click() { OpenHomePage(); }
