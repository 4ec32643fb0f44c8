#pragma once
// A window of the platform layer: a Win32 top-level window with STATIC and
// BUTTON children, made from a layout::Form.

#include <functional>
#include <map>
#include <memory>
#include <string>

#include "platform/win32/gdi.h"
#include "platform/win32/win32_platform.h"

namespace layout {
struct Form;
struct Font;
}  // namespace layout

namespace platform::win32 {

// The class name of every top-level window the layer makes.
inline constexpr wchar_t kFormClass[] = L"NamewheelForm";

class Win32Control : public Control {
public:
    Win32Control(HWND hwnd, bool button, COLORREF colour);
    Win32Control(const Win32Control&) = delete;
    Win32Control& operator=(const Win32Control&) = delete;

    void setText(const std::u16string& text) override;
    std::u16string text() const override;
    void onClick(Handler handler) override;

    HWND hwnd() const { return hwnd_; }
    bool isButton() const { return button_; }
    COLORREF colour() const { return colour_; }
    void click() const;
    // The control draws with font from now on, and keeps it.
    void setFont(FontHandle font);

private:
    HWND hwnd_;
    bool button_;
    COLORREF colour_;
    FontHandle font_;
    Handler click_;
};

class Win32Window : public Window {
public:
    Win32Window(const layout::Form& form, Win32Platform& desktop, bool mainWindow);
    ~Win32Window() override;
    Win32Window(const Win32Window&) = delete;
    Win32Window& operator=(const Win32Window&) = delete;

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

    HWND hwnd() const { return hwnd_; }

    // Registers the window class; once per process.
    static void RegisterFormClass(HINSTANCE instance);

private:
    static LRESULT CALLBACK FormProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);
    LRESULT handle(UINT message, WPARAM wParam, LPARAM lParam);
    const Win32Control* controlOf(HWND child) const;
    bool isLayered() const;
    // The outer size of the layout's client area at dpi.
    SIZE outerSize(UINT dpi) const;
    // The controls' places and every font, scaled from the layout's 96 DPI to dpi.
    void layOut(UINT dpi);

    const layout::Form& form_;
    Win32Platform& desktop_;
    bool main_;
    DWORD style_ = 0;
    DWORD exStyle_ = 0;
    HWND hwnd_ = nullptr;
    FontHandle font_;
    HWND firstTabStop_ = nullptr;
    std::map<std::string, std::unique_ptr<Win32Control>, std::less<>> controls_;
    Handler click_;
    std::function<void(MouseButton, int, int)> mouseDown_;
};

// The layout's font at dpi.
FontHandle CreateLayoutFont(const layout::Font& font, UINT dpi);

}  // namespace platform::win32
