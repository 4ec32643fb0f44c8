#include "platform/win32/win32_window.h"

#include <windowsx.h>

#include <algorithm>
#include <cwchar>
#include <stdexcept>

#include "common/helpers.h"
#include "platform/win32/win32_dpi.h"
#include "resources/layout.h"

namespace platform::win32 {

namespace {

constexpr int kFirstControlId = 1000;

COLORREF ToColorRef(std::uint32_t rgb) {
    return RGB((rgb >> 16) & 0xFF, (rgb >> 8) & 0xFF, rgb & 0xFF);
}

std::wstring WideOf(std::u16string_view text) {
    return std::wstring(reinterpret_cast<const wchar_t*>(text.data()), text.size());
}

std::u16string WindowText(HWND hwnd) {
    const int length = GetWindowTextLengthW(hwnd);
    if (length <= 0) return {};
    std::wstring buffer(static_cast<std::size_t>(length) + 1, L'\0');
    const int copied = GetWindowTextW(hwnd, buffer.data(), length + 1);
    return FromWide(buffer.data(), static_cast<std::size_t>(copied > 0 ? copied : 0));
}

bool ForegroundIsOurs() {
    const HWND foreground = GetForegroundWindow();
    if (foreground == nullptr) return false;
    DWORD process = 0;
    GetWindowThreadProcessId(foreground, &process);
    return process == GetCurrentProcessId();
}

// A box or dialog of ours (the system's dialog class) is waiting for an answer.
bool ForegroundIsOurDialog() {
    if (!ForegroundIsOurs()) return false;
    wchar_t name[16] = {};
    GetClassNameW(GetForegroundWindow(), name, 16);
    return std::wcscmp(name, L"#32770") == 0;
}

struct Styles {
    DWORD style;
    DWORD exStyle;
};

Styles StylesOf(const layout::Form& form) {
    Styles styles{WS_CLIPCHILDREN, 0};
    if (form.bordered) {
        styles.style |= WS_CAPTION | WS_SYSMENU;
        if (form.resizable) styles.style |= WS_THICKFRAME;
        if (form.minimizeBox) styles.style |= WS_MINIMIZEBOX;
        if (form.maximizeBox) styles.style |= WS_MAXIMIZEBOX;
    } else {
        styles.style |= WS_POPUP;
    }
    if (form.topmost) styles.exStyle |= WS_EX_TOPMOST;
    // The taskbar button belongs to the window itself, not to a hidden owner.
    styles.exStyle |= form.taskbarButton ? WS_EX_APPWINDOW : WS_EX_TOOLWINDOW;
    return styles;
}

// The layout's pixels at dpi.
int Scaled(int pixels, UINT dpi) { return ScaledPixels(pixels, static_cast<double>(dpi) / kLayoutDpi); }

}  // namespace

FontHandle CreateLayoutFont(const layout::Font& font, UINT dpi) {
    const std::wstring face = WideOf(font.face);
    // A negative height asks for the character height, without the internal leading.
    return FontHandle(CreateFontW(-Scaled(font.pixelHeight, dpi), 0, 0, 0, font.bold ? FW_BOLD : FW_NORMAL, FALSE,
                                  FALSE, FALSE, static_cast<DWORD>(font.charset), OUT_DEFAULT_PRECIS,
                                  CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY, DEFAULT_PITCH | FF_DONTCARE, face.c_str()));
}

// ---- controls ----

Win32Control::Win32Control(HWND hwnd, bool button, COLORREF colour) : hwnd_(hwnd), button_(button), colour_(colour) {}

void Win32Control::setFont(FontHandle font) {
    SendMessageW(hwnd_, WM_SETFONT, reinterpret_cast<WPARAM>(font.get()), TRUE);
    // The old font is deleted only now that the control no longer draws with it.
    font_ = std::move(font);
}

void Win32Control::setText(const std::u16string& text) { SetWindowTextW(hwnd_, Wide(text)); }

std::u16string Win32Control::text() const { return WindowText(hwnd_); }

void Win32Control::onClick(Handler handler) { click_ = std::move(handler); }

void Win32Control::click() const {
    if (click_) click_();
}

// ---- windows ----

void Win32Window::RegisterFormClass(HINSTANCE instance) {
    WNDCLASSEXW windowClass{};
    if (GetClassInfoExW(instance, kFormClass, &windowClass)) return;
    windowClass.cbSize = sizeof windowClass;
    windowClass.lpfnWndProc = FormProc;
    windowClass.hInstance = instance;
    windowClass.hIcon = LoadIconW(instance, L"MAINICON");
    windowClass.hIconSm = static_cast<HICON>(LoadImageW(instance, L"MAINICON", IMAGE_ICON,
                                                        GetSystemMetrics(SM_CXSMICON),
                                                        GetSystemMetrics(SM_CYSMICON), LR_DEFAULTCOLOR));
    windowClass.hCursor = LoadCursorW(nullptr, reinterpret_cast<LPCWSTR>(IDC_ARROW));
    // The face colour of buttons.
    windowClass.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
    windowClass.lpszClassName = kFormClass;
    if (RegisterClassExW(&windowClass) == 0) throw std::runtime_error("无法注册窗口类（RegisterClassExW 失败）");
}

Win32Window::Win32Window(const layout::Form& form, Win32Platform& desktop, bool mainWindow)
    : form_(form), desktop_(desktop), main_(mainWindow) {
    RegisterFormClass(desktop.instance());
    const Styles styles = StylesOf(form);
    style_ = styles.style;
    exStyle_ = styles.exStyle;
    const std::wstring caption = WideOf(form.caption);
    // Placed by the program: its creation handler moves it before it is shown.
    // Sized below, at the DPI of the monitor it is made on.
    hwnd_ = CreateWindowExW(styles.exStyle, kFormClass, caption.c_str(), styles.style, 0, 0, 0, 0, nullptr, nullptr,
                            desktop.instance(), this);
    if (hwnd_ == nullptr) throw std::runtime_error("无法建立窗口（CreateWindowExW 失败）");

    int id = kFirstControlId;
    int firstTab = -1;
    for (const layout::Element& element : form.elements) {
        const bool button = element.kind == layout::Kind::Button;
        DWORD style = WS_CHILD | WS_VISIBLE;
        if (button) {
            style |= WS_TABSTOP | BS_PUSHBUTTON;
        } else {
            // A fixed box; the text in its middle, as one line.
            style |= SS_NOPREFIX | SS_CENTERIMAGE | (element.centred ? SS_CENTER : SS_LEFT);
        }
        const std::wstring text = WideOf(element.text);
        HWND child = CreateWindowExW(0, button ? L"BUTTON" : L"STATIC", text.c_str(), style, 0, 0, 0, 0, hwnd_,
                                     reinterpret_cast<HMENU>(static_cast<INT_PTR>(id++)), desktop.instance(),
                                     nullptr);
        if (child == nullptr) throw std::runtime_error("无法建立窗口上的控件（CreateWindowExW 失败）");
        controls_.emplace(std::string(element.name),
                          std::make_unique<Win32Control>(child, button, ToColorRef(element.font.colour)));
        if (element.tabOrder >= 0 && (firstTab < 0 || element.tabOrder < firstTab)) {
            firstTab = element.tabOrder;
            firstTabStop_ = child;
        }
    }
    const UINT dpi = WindowDpi(hwnd_);
    const SIZE outer = outerSize(dpi);
    SetWindowPos(hwnd_, nullptr, 0, 0, outer.cx, outer.cy, SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
    layOut(dpi);
}

Win32Window::~Win32Window() {
    if (hwnd_ != nullptr) {
        SetWindowLongPtrW(hwnd_, GWLP_USERDATA, 0);
        DestroyWindow(hwnd_);
    }
}

bool Win32Window::isLayered() const { return (GetWindowLongW(hwnd_, GWL_EXSTYLE) & WS_EX_LAYERED) != 0; }

SIZE Win32Window::outerSize(UINT dpi) const {
    return OuterSize(SIZE{Scaled(form_.clientWidth, dpi), Scaled(form_.clientHeight, dpi)}, style_, exStyle_, dpi);
}

void Win32Window::layOut(UINT dpi) {
    font_ = CreateLayoutFont(form_.font, dpi);
    SendMessageW(hwnd_, WM_SETFONT, reinterpret_cast<WPARAM>(font_.get()), FALSE);
    for (const layout::Element& element : form_.elements) {
        Win32Control& control = *controls_.at(std::string(element.name));
        // By the edges, so that neighbours stay neighbours whatever the rounding.
        const int left = Scaled(element.left, dpi);
        const int top = Scaled(element.top, dpi);
        MoveWindow(control.hwnd(), left, top, Scaled(element.left + element.width, dpi) - left,
                   Scaled(element.top + element.height, dpi) - top, TRUE);
        control.setFont(CreateLayoutFont(element.font, dpi));
    }
}

LRESULT CALLBACK Win32Window::FormProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_NCCREATE) {
        const auto* create = reinterpret_cast<const CREATESTRUCTW*>(lParam);
        auto* self = static_cast<Win32Window*>(create->lpCreateParams);
        self->hwnd_ = hwnd;
        SetWindowLongPtrW(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(self));
        ScaleCaptionAndFrame(hwnd);
    }
    auto* self = reinterpret_cast<Win32Window*>(GetWindowLongPtrW(hwnd, GWLP_USERDATA));
    if (self == nullptr) return DefWindowProcW(hwnd, message, wParam, lParam);
    try {
        return self->handle(message, wParam, lParam);
    } catch (...) {
        self->desktop_.keepException(std::current_exception());
        return 0;
    }
}

const Win32Control* Win32Window::controlOf(HWND child) const {
    for (const auto& [name, control] : controls_) {
        if (control->hwnd() == child) return control.get();
    }
    return nullptr;
}

LRESULT Win32Window::handle(UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
        case WM_CLOSE:
            if (main_) {
                // The window stays until the loop ends: a spin that is running
                // goes on until it is stopped and its draw recorded.
                desktop_.requestQuit();
            } else {
                ShowWindow(hwnd_, SW_HIDE);
            }
            return 0;
        case WM_COMMAND:
            if (HIWORD(wParam) == BN_CLICKED && lParam != 0) {
                if (const Win32Control* control = controlOf(reinterpret_cast<HWND>(lParam))) {
                    control->click();
                    return 0;
                }
            }
            break;
        case WM_CTLCOLORSTATIC:
            if (const Win32Control* control = controlOf(reinterpret_cast<HWND>(lParam))) {
                if (!control->isButton()) {
                    const HDC dc = reinterpret_cast<HDC>(wParam);
                    SetTextColor(dc, control->colour());
                    SetBkColor(dc, GetSysColor(COLOR_BTNFACE));
                    return reinterpret_cast<LRESULT>(GetSysColorBrush(COLOR_BTNFACE));
                }
            }
            break;
        case WM_SETFOCUS:
            if (firstTabStop_ != nullptr) {
                SetFocus(firstTabStop_);
                return 0;
            }
            break;
        case WM_LBUTTONDOWN:
        case WM_RBUTTONDOWN:
        case WM_MBUTTONDOWN:
            if (mouseDown_) {
                const MouseButton button = message == WM_RBUTTONDOWN   ? MouseButton::Right
                                           : message == WM_MBUTTONDOWN ? MouseButton::Middle
                                                                       : MouseButton::Left;
                mouseDown_(button, GET_X_LPARAM(lParam), GET_Y_LPARAM(lParam));
                return 0;
            }
            break;
        case WM_LBUTTONUP:
            if (click_) {
                click_();
                return 0;
            }
            break;
        // A window shaped by a picture keeps the picture's size until it gets
        // another; the others are laid out anew at the monitor's scale.
        case kGetDpiScaledSizeMessage:
            // Before a move to a monitor of another scale: the size there.
            if (!isLayered()) {
                *reinterpret_cast<SIZE*>(lParam) = outerSize(static_cast<UINT>(wParam));
                return TRUE;
            }
            break;
        case kDpiChangedMessage:
            if (!isLayered()) {
                const auto* suggested = reinterpret_cast<const RECT*>(lParam);
                const UINT dpi = HIWORD(wParam);
                const SIZE outer = outerSize(dpi);
                SetWindowPos(hwnd_, nullptr, suggested->left, suggested->top, outer.cx, outer.cy,
                             SWP_NOZORDER | SWP_NOACTIVATE);
                layOut(dpi);
                return 0;
            }
            break;
        case WM_CONTEXTMENU:
            // Without a notification area the menu would be out of reach: it opens here instead.
            if (main_ && !desktop_.trayAvailable()) {
                desktop_.popupMenu();
                return 0;
            }
            break;
        default:
            break;
    }
    return DefWindowProcW(hwnd_, message, wParam, lParam);
}

void Win32Window::show() {
    // A box or dialog of ours waiting for an answer keeps the keys (a file
    // name being typed into the open dialog, say).
    if (ForegroundIsOurDialog()) {
        showPassively();
        return;
    }
    // SW_SHOW would leave a minimised window minimised, hidden since or not.
    ShowWindow(hwnd_, IsIconic(hwnd_) ? SW_RESTORE : SW_SHOW);
    SetWindowPos(hwnd_, HWND_TOP, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE);
    SetForegroundWindow(hwnd_);
}

// The timer shows a window every second: it takes the focus only from this
// program's own windows, never from the program the user is working in, and
// never from a box or dialog of its own that is waiting for an answer.
void Win32Window::showPassively() {
    // A minimised window comes back as it was, without being activated.
    if (IsIconic(hwnd_)) {
        ShowWindow(hwnd_, SW_SHOWNOACTIVATE);
    } else if (!IsWindowVisible(hwnd_)) {
        ShowWindow(hwnd_, SW_SHOWNA);
    }
    SetWindowPos(hwnd_, HWND_TOP, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
    if (IsWindowEnabled(hwnd_) && ForegroundIsOurs() && !ForegroundIsOurDialog()) SetForegroundWindow(hwnd_);
}

void Win32Window::hide() { ShowWindow(hwnd_, SW_HIDE); }

bool Win32Window::isShowing() const { return IsWindowVisible(hwnd_) != FALSE; }

// BringWindowToTop would activate the window: the keys would leave the
// program the user is typing in.
void Win32Window::bringToTop() {
    SetWindowPos(hwnd_, HWND_TOP, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
}

void Win32Window::makeTopmost() {
    SetWindowPos(hwnd_, HWND_TOPMOST, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
}

void Win32Window::setCaption(const std::u16string& caption) { SetWindowTextW(hwnd_, Wide(caption)); }

std::u16string Win32Window::caption() const { return WindowText(hwnd_); }

Rect Win32Window::outerRect() const {
    RECT rect{};
    if (IsIconic(hwnd_)) {
        // A minimised window's own rectangle is its icon's, off the screen or
        // at its bottom: the one that counts is where it comes back to. That
        // one is kept in workspace coordinates (shifted by a taskbar at the
        // left or top of its monitor), but for tool windows.
        WINDOWPLACEMENT placement{};
        placement.length = sizeof placement;
        GetWindowPlacement(hwnd_, &placement);
        rect = placement.rcNormalPosition;
        MONITORINFO monitor{};
        monitor.cbSize = sizeof monitor;
        if ((GetWindowLongW(hwnd_, GWL_EXSTYLE) & WS_EX_TOOLWINDOW) == 0 &&
            GetMonitorInfoW(MonitorFromWindow(hwnd_, MONITOR_DEFAULTTONEAREST), &monitor)) {
            OffsetRect(&rect, monitor.rcWork.left - monitor.rcMonitor.left, monitor.rcWork.top - monitor.rcMonitor.top);
        }
    } else {
        GetWindowRect(hwnd_, &rect);
    }
    return Rect{rect.left, rect.top, rect.right - rect.left, rect.bottom - rect.top};
}

void Win32Window::moveTo(int left, int top) {
    SetWindowPos(hwnd_, nullptr, left, top, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}

void Win32Window::resize(int width, int height) {
    SetWindowPos(hwnd_, nullptr, 0, 0, width, height, SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
}

void Win32Window::setLayeredImage(const PremultipliedBitmap& bitmap, int left, int top) {
    if (bitmap.width <= 0 || bitmap.height <= 0 ||
        bitmap.pixels.size() != static_cast<std::size_t>(bitmap.width) * static_cast<std::size_t>(bitmap.height)) {
        throw std::invalid_argument("图片的像素数与它的大小不符");
    }
    const ScreenDcHandle screen(GetDC(nullptr));
    const MemoryDcHandle memory(CreateCompatibleDC(screen.get()));
    BITMAPINFO info{};
    info.bmiHeader.biSize = sizeof info.bmiHeader;
    info.bmiHeader.biWidth = bitmap.width;
    info.bmiHeader.biHeight = -bitmap.height;  // top-down rows
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    info.bmiHeader.biCompression = BI_RGB;
    void* bits = nullptr;
    const BitmapHandle dib(CreateDIBSection(screen.get(), &info, DIB_RGB_COLORS, &bits, nullptr, 0));
    BOOL updated = FALSE;
    if (dib && bits != nullptr) {
        // 0xAARRGGBB in memory, little-endian, is the DIB's B, G, R, A.
        std::copy(bitmap.pixels.begin(), bitmap.pixels.end(), static_cast<std::uint32_t*>(bits));
        const Selection selected(memory.get(), dib.get());
        SetWindowLongW(hwnd_, GWL_EXSTYLE, GetWindowLongW(hwnd_, GWL_EXSTYLE) | WS_EX_LAYERED);
        POINT source{0, 0};
        POINT destination{left, top};
        SIZE size{bitmap.width, bitmap.height};
        BLENDFUNCTION blend{AC_SRC_OVER, 0, 255, AC_SRC_ALPHA};
        updated = UpdateLayeredWindow(hwnd_, screen.get(), &destination, &size, memory.get(), &source, 0, &blend,
                                      ULW_ALPHA);
    }
    if (!updated) throw std::runtime_error("无法给窗口加上图片（UpdateLayeredWindow 失败）");
}

void Win32Window::post(PostedMessage message) {
    switch (message) {
        case PostedMessage::LeftButtonUp:
            PostMessageW(hwnd_, WM_LBUTTONUP, 0, 0);
            break;
        case PostedMessage::SysCommandMove:
            PostMessageW(hwnd_, WM_SYSCOMMAND, SC_MOVE | HTCAPTION, 0);
            break;
    }
}

void Win32Window::close() { SendMessageW(hwnd_, WM_CLOSE, 0, 0); }

Control& Win32Window::control(std::string_view name) {
    const auto found = controls_.find(name);
    if (found == controls_.end()) throw std::out_of_range("no control " + std::string(name));
    return *found->second;
}

void Win32Window::onClick(Handler handler) { click_ = std::move(handler); }

void Win32Window::onMouseDown(std::function<void(MouseButton, int, int)> handler) {
    mouseDown_ = std::move(handler);
}

// The outer size is right from the moment the window is made: nothing to wait for.
void Win32Window::onFrameKnown(Handler) {}

}  // namespace platform::win32
