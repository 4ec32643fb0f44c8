#include "platform/qt/qt_platform.h"

#include <QApplication>
#include <QBuffer>
#include <QCursor>
#include <QDesktopServices>
#include <QEvent>
#include <QFile>
#include <QFileDialog>
#include <QImage>
#include <QImageReader>
#include <QMenu>
#include <QMessageBox>
#include <QPixmap>
#include <QScreen>
#include <QSystemTrayIcon>
#include <QThread>
#include <QTimer>
#include <QUrl>
#include <algorithm>
#include <array>
#include <functional>

#include "platform/qt/qt_window.h"
#include "platform/qt/tray_hosts.h"
#include "resources/layout.h"

namespace platform::qt {

namespace {

// A PNG picture, read by Qt's own reader. Told the format and kept from
// guessing it, Qt loads none of its image plugins and no MIME database at
// start-up (where it is free to guess, it asks every plugin first).
QImage ReadPng(QIODevice& device) {
    QImageReader reader(&device, QByteArrayLiteral("png"));
    reader.setAutoDetectImageFormat(false);
    return reader.read();
}

bool IsPng(const std::vector<std::uint8_t>& bytes) {
    static constexpr std::array<std::uint8_t, 8> kSignature = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
    return bytes.size() >= kSignature.size() && std::equal(kSignature.begin(), kSignature.end(), bytes.begin());
}

QIcon ProgramIcon() {
    QFile file(QStringLiteral(":/ICON/MAINICON"));
    if (!file.open(QIODevice::ReadOnly)) return {};
    return QIcon(QPixmap::fromImage(ReadPng(file)));
}

constexpr int kXEmbedGraceTicks = 4;
constexpr int kFirstPaintWaitMilliseconds = 1000;

// Runs an action once, just after a widget's first paint, or after a while
// if the widget is not painted by then; then deletes itself.
class FirstPaintWatch : public QObject {
public:
    FirstPaintWatch(QWidget* widget, std::function<void()> action) : action_(std::move(action)) {
        if (widget != nullptr) widget->installEventFilter(this);
        QTimer::singleShot(widget != nullptr ? kFirstPaintWaitMilliseconds : 0, this, [this] { run(); });
    }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        // Queued, so that it runs after the paint and its flush to the screen.
        if (event->type() == QEvent::Paint) QTimer::singleShot(0, this, [this] { run(); });
        return QObject::eventFilter(watched, event);
    }

private:
    void run() {
        if (!action_) return;
        const std::function<void()> action = std::move(action_);
        action_ = nullptr;
        deleteLater();
        action();
    }

    std::function<void()> action_;
};

}  // namespace

QtPlatform::QtPlatform() {
    // Message boxes and dialogs may be the only windows left while the draw
    // window is folded away: closing them must not end the program.
    QApplication::setQuitOnLastWindowClosed(false);
    QApplication::setWindowIcon(ProgramIcon());
}

QtPlatform::~QtPlatform() {
    // The icon goes before its menu: on a panel the menu is the icon's export.
    tray_.reset();
}

std::unique_ptr<Window> QtPlatform::createWindow(const layout::Form& form) {
    const bool main = mainWidget_.isNull();
    auto window = std::make_unique<QtWindow>(form, *this, main);
    if (main) mainWidget_ = window->widget();
    return window;
}

Rect QtPlatform::primaryScreen() const {
    const QScreen* screen = QGuiApplication::primaryScreen();
    if (screen == nullptr) return {};
    const QRect area = screen->geometry();
    return Rect{area.x(), area.y(), area.width(), area.height()};
}

void QtPlatform::processMessages() { QCoreApplication::processEvents(QEventLoop::AllEvents); }

void QtPlatform::pause(int milliseconds) { QThread::msleep(static_cast<unsigned long>(milliseconds)); }

// QThread::msleep keeps to the millisecond here as it is.
void QtPlatform::setFinePauses(bool) {}

void QtPlatform::startTimer(int periodMilliseconds, Handler onTick) {
    auto* timer = new QTimer(&owner_);
    timer->setTimerType(Qt::PreciseTimer);
    QObject::connect(timer, &QTimer::timeout, &owner_, [onTick = std::move(onTick)] { onTick(); });
    timer->start(periodMilliseconds);
}

void QtPlatform::messageBox(const std::u16string& text, const std::u16string& caption, MessageIcon icon) {
    QMessageBox box(icon == MessageIcon::Stop ? QMessageBox::Critical : QMessageBox::Information, ToQ(caption),
                    ToQ(text), QMessageBox::Ok);
    // Names and file names are shown as they are, never read as markup.
    box.setTextFormat(Qt::PlainText);
    // Above the draw window, which stays on top of everything else.
    box.setWindowFlag(Qt::WindowStaysOnTopHint);
    box.exec();
}

bool QtPlatform::trayAvailable() const { return tray_ != nullptr && QSystemTrayIcon::isSystemTrayAvailable(); }

void QtPlatform::popupMenu(const QPoint& at) {
    if (!menu_ && !items_.empty()) makeMenu();  // asked for before the icon came
    if (!menu_) return;
    QCoreApplication::processEvents();
    menu_->exec(at);  // the chosen item's action runs from its triggered signal
}

void QtPlatform::showTrayIcon(const std::u16string& tooltip, std::vector<MenuItem> menu) {
    items_ = std::move(menu);
    trayToolTip_ = ToQ(tooltip);
    // Asking the desktop for a notification area takes the session bus and the
    // X server a few round trips, and making the icon and its menu loads more
    // of Qt: they come just after the draw window has first been drawn, so
    // that the teacher does not wait for them. A window that is not drawn yet
    // (a box of the start-up waits for an answer) lets them come after a
    // second all the same.
    auto* watch = new FirstPaintWatch(mainWidget_, [this] {
        if (!menu_) makeMenu();
        showTrayIconWhenHosted();
    });
    watch->setParent(&owner_);
}

void QtPlatform::makeMenu() {
    menu_ = std::make_unique<QMenu>();
    menu_->setObjectName(QStringLiteral("PopupMenu1"));
    for (std::size_t i = 0; i < items_.size(); ++i) {
        QAction* action = menu_->addAction(ToQ(items_[i].caption));
        // Queued: the item runs once the menu has closed and its event has
        // returned, whether the menu is ours or a panel's drawing of it.
        QObject::connect(
            action, &QAction::triggered, &owner_,
            [this, i] {
                if (items_[i].onClick) items_[i].onClick();
            },
            Qt::QueuedConnection);
    }
}

void QtPlatform::showTrayIconWhenHosted() {
    trayHosts_ = std::make_unique<TrayHosts>();
    if (createTrayIconIfHosted() || !trayHosts_->canAppear()) return;
    // A program started with the session may be up before its panel. A panel
    // that offers both kinds takes the X tray and the bus names a moment
    // apart: an X tray that turns up now is given a few seconds for the
    // indicator host, whose menus work on more panels.
    xembedGraceTicks_ = trayHosts_->busConnected() ? kXEmbedGraceTicks : 0;
    auto* poll = new QTimer(&owner_);
    QObject::connect(poll, &QTimer::timeout, &owner_, [this, poll] {
        if (!createTrayIconIfHosted()) return;
        // Stopped at once: the deletion waits for the loop, which a box opened
        // meanwhile can keep away for longer than a tick.
        poll->stop();
        poll->deleteLater();
    });
    poll->start(1000);
}

bool QtPlatform::createTrayIconIfHosted() {
    if (!trayHosts_->statusNotifierHost()) {
        if (!trayHosts_->xembedTray()) return false;
        if (xembedGraceTicks_ > 0) {
            --xembedGraceTicks_;
            return false;
        }
    }
    trayHosts_.reset();
    tray_ = std::make_unique<QSystemTrayIcon>(ProgramIcon());
    tray_->setObjectName(QStringLiteral("TrayIcon1"));
    tray_->setToolTip(trayToolTip_);
    // An indicator panel draws the menu the icon exports; an X tray icon opens
    // it itself on the right button.
    tray_->setContextMenu(menu_.get());
    QObject::connect(tray_.get(), &QSystemTrayIcon::activated, &owner_, [this](QSystemTrayIcon::ActivationReason reason) {
        // A panel that asks the item for its menu instead of drawing it.
        if (reason == QSystemTrayIcon::Context && !menu_->isVisible()) {
            QTimer::singleShot(0, &owner_, [this] { popupMenu(QCursor::pos()); });
        }
    });
    tray_->show();
    return true;
}

std::optional<std::u16string> QtPlatform::openFileDialog(const std::vector<FileFilter>& filters) {
    QStringList nameFilters;
    for (const FileFilter& filter : filters) {
        nameFilters << QStringLiteral("%1 (%2)").arg(ToQ(filter.description), ToQ(filter.patterns).replace(u';', u' '));
    }
    QFileDialog dialog;
    dialog.setOption(QFileDialog::DontUseNativeDialog);
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    dialog.setFileMode(QFileDialog::AnyFile);
    dialog.setNameFilters(nameFilters);
    dialog.setWindowFlag(Qt::WindowStaysOnTopHint);
    dialog.setSizeGripEnabled(true);
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return std::nullopt;
    return FromQ(dialog.selectedFiles().constFirst());
}

bool QtPlatform::shellOpen(const std::u16string& target, const std::u16string&, const std::u16string&, int) {
    return QDesktopServices::openUrl(QUrl::fromUserInput(ToQ(target)));
}

std::optional<std::vector<std::uint8_t>> QtPlatform::resource(const std::u16string& name, const std::u16string& type) {
    QFile file(QStringLiteral(":/%1/%2").arg(ToQ(type), ToQ(name)));
    if (!file.open(QIODevice::ReadOnly)) return std::nullopt;
    const QByteArray bytes = file.readAll();
    return std::vector<std::uint8_t>(bytes.begin(), bytes.end());
}

std::optional<Image> QtPlatform::decodeImage(const std::vector<std::uint8_t>& bytes) {
    QImage image;
    if (IsPng(bytes)) {
        QByteArray data =
            QByteArray::fromRawData(reinterpret_cast<const char*>(bytes.data()), static_cast<int>(bytes.size()));
        QBuffer buffer(&data);
        buffer.open(QIODevice::ReadOnly);
        image = ReadPng(buffer);
    } else {
        image = QImage::fromData(reinterpret_cast<const uchar*>(bytes.data()), static_cast<int>(bytes.size()));
    }
    if (image.isNull()) return std::nullopt;
    image = image.convertToFormat(QImage::Format_ARGB32);
    Image result{image.width(), image.height(), {}};
    result.pixels.reserve(static_cast<std::size_t>(image.width()) * static_cast<std::size_t>(image.height()));
    for (int y = 0; y < image.height(); ++y) {
        const auto* line = reinterpret_cast<const QRgb*>(image.constScanLine(y));
        result.pixels.insert(result.pixels.end(), line, line + image.width());
    }
    return result;
}

std::filesystem::path QtPlatform::executablePath() const {
    return std::filesystem::path(FromQ(QCoreApplication::applicationFilePath()));
}

void QtPlatform::requestQuit() {
    quitRequested_ = true;
    QCoreApplication::exit(0);
}

int QtPlatform::run(Window& mainWindow) {
    // exit() ends only the loops that run when it is called: a request made
    // inside a box of the creation handler closed that box and would be lost.
    if (quitRequested_) return 0;
    mainWindow.show();
    return QApplication::exec();
}

}  // namespace platform::qt
