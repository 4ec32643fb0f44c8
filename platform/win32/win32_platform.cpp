#include "platform/win32/win32_platform.h"

#include <commctrl.h>
#include <mmsystem.h>
#include <commdlg.h>
#include <objbase.h>
#include <shellapi.h>
#include <wincodec.h>

#include <algorithm>
#include <cstdio>
#include <cwchar>
#include <stdexcept>

#include "platform/win32/win32_dpi.h"
#include "platform/win32/win32_window.h"

namespace platform::win32 {

namespace {

constexpr wchar_t kServiceClass[] = L"NamewheelService";
constexpr UINT kTrayMessage = WM_APP + 1;
constexpr UINT kTrayId = 1;

// Releases a COM interface when it goes out of scope.
template <typename Interface>
class ComPtr {
public:
    ComPtr() = default;
    ~ComPtr() {
        if (pointer_ != nullptr) pointer_->Release();
    }
    ComPtr(const ComPtr&) = delete;
    ComPtr& operator=(const ComPtr&) = delete;
    Interface** out() { return &pointer_; }
    Interface* operator->() const { return pointer_; }
    Interface* get() const { return pointer_; }

private:
    Interface* pointer_ = nullptr;
};

std::string Hex(unsigned long value) {
    char buffer[16];
    std::snprintf(buffer, sizeof buffer, "0x%08lX", value);
    return buffer;
}

}  // namespace

Win32Platform::Win32Platform() : instance_(GetModuleHandleW(nullptr)) {
    INITCOMMONCONTROLSEX controls{sizeof(INITCOMMONCONTROLSEX), ICC_STANDARD_CLASSES};
    InitCommonControlsEx(&controls);
    taskbarCreated_ = RegisterWindowMessageW(L"TaskbarCreated");

    WNDCLASSEXW windowClass{};
    windowClass.cbSize = sizeof windowClass;
    windowClass.lpfnWndProc = ServiceProc;
    windowClass.hInstance = instance_;
    windowClass.lpszClassName = kServiceClass;
    if (!GetClassInfoExW(instance_, kServiceClass, &windowClass) && RegisterClassExW(&windowClass) == 0) {
        throw std::runtime_error("无法注册窗口类（RegisterClassExW 失败）");
    }
    service_ = CreateWindowExW(WS_EX_TOOLWINDOW, kServiceClass, L"", WS_POPUP, 0, 0, 0, 0, nullptr, nullptr,
                               instance_, this);
    if (service_ == nullptr) throw std::runtime_error("无法建立窗口（CreateWindowExW 失败）");
}

Win32Platform::~Win32Platform() {
    setFinePauses(false);
    removeTrayIcon();
    for (const auto& [id, handler] : timers_) KillTimer(service_, id);
    if (menu_ != nullptr) DestroyMenu(menu_);
    if (trayIcon_ != nullptr) DestroyIcon(trayIcon_);
    SetWindowLongPtrW(service_, GWLP_USERDATA, 0);
    DestroyWindow(service_);
    if (comReady_) CoUninitialize();
}

std::unique_ptr<Window> Win32Platform::createWindow(const layout::Form& form) {
    const bool main = mainHwnd_ == nullptr;
    auto window = std::make_unique<Win32Window>(form, *this, main);
    if (main) mainHwnd_ = window->hwnd();
    return window;
}

// The primary monitor's top-left corner is the origin of Windows' screen
// coordinates, by definition: the other monitors lie around it.
Rect Win32Platform::primaryScreen() const {
    return Rect{0, 0, GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN)};
}

double Win32Platform::layoutScale() const { return static_cast<double>(PrimaryScreenDpi()) / kLayoutDpi; }

void Win32Platform::keepException(std::exception_ptr error) {
    if (!kept_) kept_ = std::move(error);
}

void Win32Platform::rethrowKept() {
    if (!kept_) return;
    std::exception_ptr error = std::move(kept_);
    kept_ = nullptr;
    std::rethrow_exception(error);
}

void Win32Platform::dispatch(MSG& message) {
    TranslateMessage(&message);
    DispatchMessageW(&message);
    rethrowKept();
}

void Win32Platform::processMessages() {
    MSG message;
    while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
        if (message.message == WM_QUIT) {
            // Not lost: the loop ends once the handler running now has returned.
            quitSeen_ = true;
            exitCode_ = static_cast<int>(message.wParam);
            continue;
        }
        dispatch(message);
    }
}

void Win32Platform::pause(int milliseconds) { Sleep(static_cast<DWORD>(milliseconds < 0 ? 0 : milliseconds)); }

// Windows sleeps in whole ticks of its scheduler, 15.6 ms unless a program
// asks for finer ones; the whole system then wakes more often, so only while
// it matters.
void Win32Platform::setFinePauses(bool on) {
    if (on == finePauses_) return;
    if (on) {
        finePauses_ = timeBeginPeriod(1) == TIMERR_NOERROR;
    } else {
        timeEndPeriod(1);
        finePauses_ = false;
    }
}

void Win32Platform::startTimer(int periodMilliseconds, Handler onTick) {
    const UINT_PTR id = nextTimer_++;
    if (SetTimer(service_, id, static_cast<UINT>(periodMilliseconds), nullptr) == 0) {
        throw std::runtime_error("无法启动计时器（SetTimer 失败）");
    }
    timers_.emplace(id, std::move(onTick));
}

void Win32Platform::messageBox(const std::u16string& text, const std::u16string& caption, MessageIcon icon) {
    const UINT type = MB_OK | (icon == MessageIcon::Stop ? MB_ICONSTOP : MB_ICONINFORMATION) | MB_TOPMOST |
                      MB_SETFOREGROUND;
    // Owned by the draw window, which stays on top of everything else.
    MessageBoxW(IsWindow(mainHwnd_) ? mainHwnd_ : nullptr, Wide(text), Wide(caption), type);
}

bool Win32Platform::addTrayIcon() {
    NOTIFYICONDATAW data{};
    data.cbSize = sizeof data;
    data.hWnd = service_;
    data.uID = kTrayId;
    data.uFlags = NIF_MESSAGE | NIF_ICON | NIF_TIP;
    data.uCallbackMessage = kTrayMessage;
    data.hIcon = trayIcon_;
    // The form cuts the tooltip to what the icon can hold; this keeps the copy
    // inside szTip whatever it is given.
    const std::size_t length = std::min(tooltip_.size(), std::size(data.szTip) - 1);
    std::copy_n(reinterpret_cast<const wchar_t*>(tooltip_.data()), length, data.szTip);
    data.szTip[length] = L'\0';
    trayAdded_ = Shell_NotifyIconW(NIM_ADD, &data) != FALSE;
    if (!trayAdded_) {
        // Already there (a second broadcast): bring it up to date instead.
        trayAdded_ = Shell_NotifyIconW(NIM_MODIFY, &data) != FALSE;
    }
    return trayAdded_;
}

void Win32Platform::removeTrayIcon() {
    if (!trayAdded_) return;
    NOTIFYICONDATAW data{};
    data.cbSize = sizeof data;
    data.hWnd = service_;
    data.uID = kTrayId;
    Shell_NotifyIconW(NIM_DELETE, &data);
    trayAdded_ = false;
}

void Win32Platform::showTrayIcon(const std::u16string& tooltip, std::vector<MenuItem> menu) {
    items_ = std::move(menu);
    if (menu_ != nullptr) DestroyMenu(menu_);
    menu_ = CreatePopupMenu();
    if (menu_ == nullptr) throw std::runtime_error("无法建立菜单（CreatePopupMenu 失败）");
    for (std::size_t i = 0; i < items_.size(); ++i) {
        // The "&" stays: it marks the item's access key.
        AppendMenuW(menu_, MF_STRING, static_cast<UINT_PTR>(i + 1), Wide(items_[i].caption));
    }
    tooltip_ = tooltip;
    if (trayIcon_ == nullptr) {
        trayIcon_ = static_cast<HICON>(LoadImageW(instance_, L"MAINICON", IMAGE_ICON, GetSystemMetrics(SM_CXSMICON),
                                                  GetSystemMetrics(SM_CYSMICON), LR_DEFAULTCOLOR));
    }
    trayWanted_ = true;
    addTrayIcon();
}

void Win32Platform::popupMenu() {
    if (menu_ == nullptr || menuOpen_) return;
    struct Open {
        bool& flag;
        explicit Open(bool& f) : flag(f) { flag = true; }
        ~Open() { flag = false; }
    } open(menuOpen_);
    const HWND owner = IsWindow(mainHwnd_) ? mainHwnd_ : service_;
    // The menu closes when the user clicks elsewhere only if its owner is in front.
    SetForegroundWindow(owner);
    processMessages();
    POINT at{};
    GetCursorPos(&at);
    const UINT chosen = static_cast<UINT>(TrackPopupMenu(
        menu_, TPM_RETURNCMD | TPM_RIGHTBUTTON | TPM_LEFTALIGN | TPM_TOPALIGN | TPM_NONOTIFY, at.x, at.y, 0, owner,
        nullptr));
    PostMessageW(owner, WM_NULL, 0, 0);
    if (chosen == 0 || chosen > items_.size()) return;
    // The menu has closed; the item runs now, once.
    const Handler handler = items_[chosen - 1].onClick;
    if (handler) handler();
}

std::optional<std::u16string> Win32Platform::openFileDialog(const std::vector<FileFilter>& filters) {
    // "description\0patterns\0…\0\0".
    std::wstring list;
    for (const FileFilter& filter : filters) {
        for (const std::u16string* text : {&filter.description, &filter.patterns}) {
            list.append(reinterpret_cast<const wchar_t*>(text->data()), text->size());
            list.push_back(L'\0');
        }
    }
    list.push_back(L'\0');
    std::wstring file(32768, L'\0');
    OPENFILENAMEW dialog{};
    dialog.lStructSize = sizeof dialog;
    dialog.hwndOwner = IsWindow(mainHwnd_) ? mainHwnd_ : nullptr;
    dialog.lpstrFilter = list.c_str();
    dialog.nFilterIndex = 1;
    dialog.lpstrFile = file.data();
    dialog.nMaxFile = static_cast<DWORD>(file.size());
    dialog.Flags = OFN_HIDEREADONLY | OFN_ENABLESIZING | OFN_EXPLORER;
    if (GetOpenFileNameW(&dialog)) return FromWide(file.c_str(), std::wcslen(file.c_str()));
    const DWORD error = CommDlgExtendedError();
    if (error != 0) throw std::runtime_error("打开文件的对话框出错（代码 " + Hex(error) + "）");
    return std::nullopt;
}

bool Win32Platform::shellOpen(const std::u16string& target, const std::u16string& parameters,
                              const std::u16string& directory, int showCommand) {
    ensureCom();
    const HINSTANCE result =
        ShellExecuteW(GetActiveWindow(), nullptr, Wide(target), parameters.empty() ? nullptr : Wide(parameters),
                      directory.empty() ? nullptr : Wide(directory), showCommand);
    return reinterpret_cast<INT_PTR>(result) > 32;
}

std::optional<std::vector<std::uint8_t>> Win32Platform::resource(const std::u16string& name,
                                                                 const std::u16string& type) {
    HRSRC found = FindResourceW(instance_, Wide(name), Wide(type));
    if (found == nullptr) return std::nullopt;
    HGLOBAL loaded = LoadResource(instance_, found);
    if (loaded == nullptr) return std::nullopt;
    const auto* data = static_cast<const std::uint8_t*>(LockResource(loaded));
    const DWORD size = SizeofResource(instance_, found);
    if (data == nullptr) return std::nullopt;
    return std::vector<std::uint8_t>(data, data + size);
}

void Win32Platform::ensureCom() {
    if (comReady_) return;
    const HRESULT result = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED | COINIT_DISABLE_OLE1DDE);
    // S_FALSE: already initialised on this thread; it still needs its matching uninitialise.
    comReady_ = SUCCEEDED(result);
}

std::optional<Image> Win32Platform::decodeImage(const std::vector<std::uint8_t>& bytes) {
    if (bytes.empty()) return std::nullopt;
    ensureCom();
    ComPtr<IWICImagingFactory> factory;
    if (FAILED(CoCreateInstance(CLSID_WICImagingFactory, nullptr, CLSCTX_INPROC_SERVER, IID_IWICImagingFactory,
                                reinterpret_cast<void**>(factory.out())))) {
        return std::nullopt;
    }
    ComPtr<IWICStream> stream;
    if (FAILED(factory->CreateStream(stream.out())) ||
        FAILED(stream->InitializeFromMemory(const_cast<BYTE*>(bytes.data()), static_cast<DWORD>(bytes.size())))) {
        return std::nullopt;
    }
    ComPtr<IWICBitmapDecoder> decoder;
    if (FAILED(factory->CreateDecoderFromStream(stream.get(), nullptr, WICDecodeMetadataCacheOnDemand,
                                                decoder.out()))) {
        return std::nullopt;
    }
    ComPtr<IWICBitmapFrameDecode> frame;
    if (FAILED(decoder->GetFrame(0, frame.out()))) return std::nullopt;
    ComPtr<IWICFormatConverter> converter;
    if (FAILED(factory->CreateFormatConverter(converter.out())) ||
        FAILED(converter->Initialize(frame.get(), GUID_WICPixelFormat32bppBGRA, WICBitmapDitherTypeNone, nullptr,
                                     0.0, WICBitmapPaletteTypeCustom))) {
        return std::nullopt;
    }
    UINT width = 0;
    UINT height = 0;
    if (FAILED(converter->GetSize(&width, &height)) || width == 0 || height == 0 || width > 16384 ||
        height > 16384) {
        return std::nullopt;
    }
    Image image{static_cast<int>(width), static_cast<int>(height), {}};
    image.pixels.resize(static_cast<std::size_t>(width) * height);
    // B, G, R, A bytes in memory: 0xAARRGGBB as a little-endian 32-bit value.
    if (FAILED(converter->CopyPixels(nullptr, width * 4, static_cast<UINT>(image.pixels.size() * 4),
                                     reinterpret_cast<BYTE*>(image.pixels.data())))) {
        return std::nullopt;
    }
    return image;
}

std::filesystem::path Win32Platform::executablePath() const {
    std::wstring buffer(MAX_PATH, L'\0');
    for (;;) {
        const DWORD length = GetModuleFileNameW(nullptr, buffer.data(), static_cast<DWORD>(buffer.size()));
        if (length == 0) throw std::runtime_error("找不到程序自己的文件名（GetModuleFileNameW 失败）");
        if (length < buffer.size()) {
            buffer.resize(length);
            return std::filesystem::path(buffer);
        }
        buffer.resize(buffer.size() * 2);
    }
}

void Win32Platform::requestQuit() {
    quitRequested_ = true;
    PostQuitMessage(0);
}

int Win32Platform::run(Window& mainWindow) {
    // Asked for inside a box of the creation handler, whose own loop may have
    // taken the quit message.
    if (quitRequested_) {
        removeTrayIcon();
        return 0;
    }
    mainWindow.show();
    while (!quitSeen_) {
        MSG message;
        const BOOL got = GetMessageW(&message, nullptr, 0, 0);
        if (got == -1) break;
        if (got == 0) {
            exitCode_ = static_cast<int>(message.wParam);
            break;
        }
        dispatch(message);
    }
    removeTrayIcon();
    return exitCode_;
}

LRESULT CALLBACK Win32Platform::ServiceProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_NCCREATE) {
        const auto* create = reinterpret_cast<const CREATESTRUCTW*>(lParam);
        SetWindowLongPtrW(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(create->lpCreateParams));
    }
    auto* self = reinterpret_cast<Win32Platform*>(GetWindowLongPtrW(hwnd, GWLP_USERDATA));
    if (self == nullptr) return DefWindowProcW(hwnd, message, wParam, lParam);
    try {
        return self->handleService(hwnd, message, wParam, lParam);
    } catch (...) {
        self->keepException(std::current_exception());
        return 0;
    }
}

LRESULT Win32Platform::handleService(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == taskbarCreated_ && taskbarCreated_ != 0) {
        // The taskbar was made anew (the shell restarted): the icon goes back in.
        if (trayWanted_) {
            trayAdded_ = false;
            addTrayIcon();
        }
        return 0;
    }
    switch (message) {
        case WM_TIMER: {
            const auto found = timers_.find(wParam);
            if (found != timers_.end()) {
                const Handler handler = found->second;
                handler();
            }
            return 0;
        }
        case kTrayMessage:
            // Only the right button's release opens the menu; other buttons,
            // double clicks and moves do nothing.
            if (wParam == kTrayId && LOWORD(lParam) == WM_RBUTTONUP) popupMenu();
            return 0;
        case WM_ENDSESSION:
            if (wParam != FALSE) removeTrayIcon();
            return 0;
        default:
            break;
    }
    return DefWindowProcW(hwnd, message, wParam, lParam);
}

}  // namespace platform::win32
