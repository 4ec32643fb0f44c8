#include "platform/qt/form_widget.h"

#include <QCloseEvent>
#include <QContextMenuEvent>
#include <QGuiApplication>
#include <QMouseEvent>
#include <QPainter>
#include <QRegion>

#include "platform/qt/qt_platform.h"
#include "resources/layout.h"

namespace platform::qt {

namespace {

QString View(std::u16string_view text) { return ToQ(std::u16string(text)); }

// Faces to fall back on, in order, where the named one is not installed.
const QStringList kCjkFallbacks = {"NSimSun", "SimSun", "Noto Serif CJK SC", "Noto Sans CJK SC",
                                   "WenQuanYi Zen Hei", "WenQuanYi Micro Hei", "AR PL UMing CN"};

Qt::WindowFlags FlagsOf(const layout::Form& form) {
    Qt::WindowFlags flags;
    if (form.bordered) {
        flags = Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                Qt::WindowCloseButtonHint;
        if (form.minimizeBox) flags |= Qt::WindowMinimizeButtonHint;
        if (form.maximizeBox) flags |= Qt::WindowMaximizeButtonHint;
    } else {
        flags = Qt::FramelessWindowHint | (form.taskbarButton ? Qt::Window : Qt::Tool);
    }
    if (form.topmost) flags |= Qt::WindowStaysOnTopHint;
    // A focused full-screen window may cover every managed window kept on
    // top: on X11 a topmost window without a frame or a taskbar button (the
    // badge) is one no window manager stacks, above them all.
    if (!form.bordered && !form.taskbarButton && form.topmost &&
        QGuiApplication::platformName() == QLatin1String("xcb")) {
        flags |= Qt::BypassWindowManagerHint;
    }
    return flags;
}

// The parts of the image that are not fully transparent.
QRegion OpaqueRegion(const QImage& image) {
    QRegion region;
    for (int y = 0; y < image.height(); ++y) {
        const auto* line = reinterpret_cast<const QRgb*>(image.constScanLine(y));
        int x = 0;
        while (x < image.width()) {
            while (x < image.width() && qAlpha(line[x]) == 0) ++x;
            const int start = x;
            while (x < image.width() && qAlpha(line[x]) != 0) ++x;
            if (x > start) region += QRect(start, y, x - start, 1);
        }
    }
    return region;
}

}  // namespace

QFont ToQFont(const layout::Font& font) {
    QFont qfont;
    QStringList families{View(font.face)};
    if (font.charset == layout::kGb2312Charset) families += kCjkFallbacks;
    qfont.setFamilies(families);
    qfont.setPixelSize(font.pixelHeight);
    qfont.setBold(font.bold);
    return qfont;
}

FormWidget::FormWidget(const layout::Form& form, QtPlatform& desktop, bool mainWindow)
    : QWidget(nullptr, FlagsOf(form)), desktop_(desktop), mainWindow_(mainWindow), placement_(*this) {
    setObjectName(QString::fromUtf8(form.name.data(), static_cast<qsizetype>(form.name.size())));
    setWindowTitle(View(form.caption));
    setFont(ToQFont(form.font));
    resize(form.clientWidth, form.clientHeight);
    if (!form.bordered) {
        setAttribute(Qt::WA_TranslucentBackground);
    }
}

void FormWidget::setImage(QImage image) {
    image_ = std::move(image);
    setFixedSize(image_.size());
    setMask(OpaqueRegion(image_));
    update();
}

void FormWidget::closeEvent(QCloseEvent* event) {
    if (!mainWindow_) {
        QWidget::closeEvent(event);
        return;
    }
    // The window stays until the program ends: a spin that is running goes on
    // until it is stopped and its draw recorded.
    event->ignore();
    desktop_.requestQuit();
}

void FormWidget::mousePressEvent(QMouseEvent* event) {
    if (mouseDown) {
        const MouseButton button = event->button() == Qt::RightButton    ? MouseButton::Right
                                   : event->button() == Qt::MiddleButton ? MouseButton::Middle
                                                                         : MouseButton::Left;
#if QT_VERSION >= QT_VERSION_CHECK(6, 0, 0)
        const QPoint at = event->position().toPoint();
#else
        const QPoint at = event->pos();
#endif
        mouseDown(button, at.x(), at.y());
        return;
    }
    QWidget::mousePressEvent(event);
}

void FormWidget::paintEvent(QPaintEvent* event) {
    if (image_.isNull()) {
        QWidget::paintEvent(event);
        return;
    }
    QPainter painter(this);
    painter.setCompositionMode(QPainter::CompositionMode_Source);
    painter.drawImage(0, 0, image_);
}

void FormWidget::contextMenuEvent(QContextMenuEvent* event) {
    // Without a notification area the menu would be out of reach: it opens here instead.
    if (mainWindow_ && !desktop_.trayAvailable()) {
        desktop_.popupMenu(event->globalPos());
        return;
    }
    QWidget::contextMenuEvent(event);
}

bool FormWidget::event(QEvent* event) {
    const bool handled = QWidget::event(event);
    const QEvent::Type type = event->type();
    if (type == QEvent::Show) {
        placement_.shown();
    } else if (type == QEvent::Move) {
        placement_.moved();
    } else if (type == QEvent::Resize || type == QEvent::WindowTitleChange) {
        placement_.resizedOrRetitled();
    }
    return handled;
}

}  // namespace platform::qt
