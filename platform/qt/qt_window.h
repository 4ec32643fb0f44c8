#pragma once
// A window of the platform layer, made of Qt widgets from a layout::Form.

#include <QPointer>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>

#include "platform/platform.h"
#include "platform/qt/form_widget.h"

namespace layout {
struct Form;
}  // namespace layout

namespace platform::qt {

class QtPlatform;

class QtWindow : public Window {
public:
    QtWindow(const layout::Form& form, QtPlatform& desktop, bool mainWindow);
    ~QtWindow() override;

    void show() override;
    void showPassively() override;
    void hide() override;
    bool isShowing() const override;
    void bringToTop() override;
    void makeTopmost() override;
    void setCaption(const std::u16string& caption) override;
    std::u16string caption() const override;
    Rect outerRect() const override;
    void moveTo(int left, int top) override;
    void resize(int width, int height) override;
    void setLayeredImage(const PremultipliedBitmap& bitmap, int left, int top) override;
    void post(PostedMessage message) override;
    void close() override;
    Control& control(std::string_view name) override;
    void onClick(Handler handler) override;
    void onMouseDown(std::function<void(MouseButton, int x, int y)> handler) override;
    void onFrameKnown(Handler handler) override;

    QWidget* widget() const { return widget_.data(); }

private:
    void showAndRaise(bool activate);
    void keepAboveFullScreen();
    void raiseUnasked();
    bool unmanaged() const;

    QPointer<FormWidget> widget_;
    std::map<std::string, std::unique_ptr<Control>, std::less<>> controls_;
    Handler click_;
    std::uint32_t transientFor_ = 0;  // the full-screen window it is kept above
};

}  // namespace platform::qt
