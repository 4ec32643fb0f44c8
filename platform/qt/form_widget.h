#pragma once
// The top-level widget of a window of the platform layer: the form's frame
// and flags, a picture that shapes it, and the events the forms handle.

#include <QFont>
#include <QImage>
#include <QWidget>
#include <functional>

#include "platform/platform.h"
#include "platform/qt/window_placement.h"

namespace layout {
struct Form;
struct Font;
}  // namespace layout

namespace platform::qt {

class QtPlatform;

class FormWidget : public QWidget {
public:
    FormWidget(const layout::Form& form, QtPlatform& desktop, bool mainWindow);

    void setImage(QImage image);
    WindowPlacement& placement() { return placement_; }

    std::function<void(MouseButton, int, int)> mouseDown;

protected:
    void closeEvent(QCloseEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void paintEvent(QPaintEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;
    bool event(QEvent* event) override;

private:
    QtPlatform& desktop_;
    bool mainWindow_;
    WindowPlacement placement_;
    QImage image_;
};

QFont ToQFont(const layout::Font& font);

}  // namespace platform::qt
