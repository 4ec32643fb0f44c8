// A Windows helper for the Wine tests: looks at the program's windows the way
// Windows itself sees them, and plays another program beside it.
//   probe.exe windows OUT            the program's visible windows, top first
//   probe.exe dpichange DPI OUT      tells the draw window its monitor is now at
//                                    DPI, as Windows does when it moves to a
//                                    monitor of another scale; OUT gets the size
//                                    it answers for that DPI
//   probe.exe cover OUT L T W H      a topmost window of another program over
//                                    that rectangle, holding the keyboard; OUT
//                                    says ten times a second what it sees
// It is per-monitor DPI aware: every rectangle is in device pixels. OUT is
// UTF-8 text, written whole each time (a new file renamed over the old one).
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cwchar>
#include <string>
#include <vector>

namespace {

constexpr wchar_t kFormClass[] = L"NamewheelForm";
constexpr UINT kDpiChanged = 0x02E0;        // WM_DPICHANGED
constexpr UINT kGetDpiScaledSize = 0x02E4;  // WM_GETDPISCALEDSIZE

template <typename Function>
Function Lookup(const char* name) {
    return reinterpret_cast<Function>(reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"user32.dll"), name)));
}

void BeDpiAware() {
    // DPI_AWARENESS_CONTEXT_PER_MONITOR_AWARE_V2
    const auto set = Lookup<BOOL(WINAPI*)(HANDLE)>("SetProcessDpiAwarenessContext");
    if (set == nullptr || !set(reinterpret_cast<HANDLE>(static_cast<INT_PTR>(-4)))) SetProcessDPIAware();
}

std::wstring ClassOf(HWND hwnd) {
    wchar_t name[64] = {};
    GetClassNameW(hwnd, name, 64);
    return name;
}

bool IsLayered(HWND hwnd) { return (GetWindowLongW(hwnd, GWL_EXSTYLE) & WS_EX_LAYERED) != 0; }

// The program's visible windows, top of the stacking order first.
std::vector<HWND> ProgramWindows() {
    std::vector<HWND> windows;
    for (HWND w = GetTopWindow(nullptr); w != nullptr; w = GetWindow(w, GW_HWNDNEXT)) {
        if (IsWindowVisible(w) && ClassOf(w) == kFormClass) windows.push_back(w);
    }
    return windows;
}

HWND DrawWindow() {
    for (HWND w : ProgramWindows()) {
        if (!IsLayered(w)) return w;
    }
    return nullptr;
}

std::wstring TextOf(HWND hwnd) {
    wchar_t text[256] = {};
    GetWindowTextW(hwnd, text, 256);
    return text;
}

std::string Utf8(const std::wstring& text) {
    std::string bytes(text.size() * 4, '\0');
    const int length = WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), bytes.data(),
                                           static_cast<int>(bytes.size()), nullptr, nullptr);
    bytes.resize(length > 0 ? static_cast<std::size_t>(length) : 0);
    return bytes;
}

std::string Rect(const RECT& r) {
    char text[64];
    std::snprintf(text, sizeof text, "%ld %ld %ld %ld", r.left, r.top, r.right - r.left, r.bottom - r.top);
    return text;
}

unsigned DpiOf(HWND hwnd) {
    const auto dpiOf = Lookup<UINT(WINAPI*)(HWND)>("GetDpiForWindow");
    return dpiOf != nullptr ? dpiOf(hwnd) : 0;
}

// Writes text to path whole: a reader never sees half of it.
bool WriteWhole(const std::wstring& path, const std::string& text) {
    const std::wstring part = path + L".part";
    FILE* out = _wfopen(part.c_str(), L"wb");
    if (out == nullptr) return false;
    std::fwrite(text.data(), 1, text.size(), out);
    std::fclose(out);
    return MoveFileExW(part.c_str(), path.c_str(), MOVEFILE_REPLACE_EXISTING) != FALSE;
}

// One line a window: "window layered|framed L T W H CLIENT-L CLIENT-T
// CLIENT-W CLIENT-H" (the outer rectangle, then the client area's, on the
// screen), then a line per control: "control CLASS L T W H TEXT" in client
// coordinates.
std::string DescribeWindows() {
    std::string text;
    for (HWND w : ProgramWindows()) {
        RECT outer{};
        GetWindowRect(w, &outer);
        RECT client{};
        GetClientRect(w, &client);
        POINT origin{0, 0};
        ClientToScreen(w, &origin);
        OffsetRect(&client, origin.x, origin.y);
        text += std::string("window ") + (IsLayered(w) ? "layered" : "framed") + " " + Rect(outer) + " " +
                Rect(client) + "\n";
        for (HWND child = GetWindow(w, GW_CHILD); child != nullptr; child = GetWindow(child, GW_HWNDNEXT)) {
            RECT box{};
            GetWindowRect(child, &box);
            OffsetRect(&box, -origin.x, -origin.y);
            std::wstring name = ClassOf(child);
            text += "control " + std::string(name.begin(), name.end()) + " " + Rect(box) + " " + Utf8(TextOf(child)) +
                    "\n";
        }
    }
    return text;
}

// Windows sends both messages in the program's own memory: the probe puts
// the size and the rectangle there.
int DpiChange(UINT dpi, const std::wstring& out) {
    HWND w = DrawWindow();
    if (w == nullptr) return 1;
    DWORD process = 0;
    GetWindowThreadProcessId(w, &process);
    HANDLE target = OpenProcess(PROCESS_VM_OPERATION | PROCESS_VM_READ | PROCESS_VM_WRITE, FALSE, process);
    if (target == nullptr) return 1;
    void* remote = VirtualAllocEx(target, nullptr, sizeof(RECT), MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE);
    if (remote == nullptr) return 1;
    RECT outer{};
    GetWindowRect(w, &outer);
    // What the system would suggest by itself: the size scaled in proportion.
    const UINT old = DpiOf(w) != 0 ? DpiOf(w) : 96;
    SIZE size{MulDiv(outer.right - outer.left, static_cast<int>(dpi), static_cast<int>(old)),
              MulDiv(outer.bottom - outer.top, static_cast<int>(dpi), static_cast<int>(old))};
    SIZE_T moved = 0;
    WriteProcessMemory(target, remote, &size, sizeof size, &moved);
    const LRESULT answered = SendMessageW(w, kGetDpiScaledSize, dpi, reinterpret_cast<LPARAM>(remote));
    if (answered) ReadProcessMemory(target, remote, &size, sizeof size, &moved);
    // Where the window is to go: here, its bottom-right corner stays put, so
    // that a window at the screen's corner stays on the screen.
    RECT suggested{outer.right - size.cx, outer.bottom - size.cy, outer.right, outer.bottom};
    WriteProcessMemory(target, remote, &suggested, sizeof suggested, &moved);
    SendMessageW(w, kDpiChanged, MAKEWPARAM(dpi, dpi), reinterpret_cast<LPARAM>(remote));
    VirtualFreeEx(target, remote, 0, MEM_RELEASE);
    CloseHandle(target);
    return WriteWhole(out, std::string("scaled-size ") + (answered ? "answered " : "linear ") +
                               std::to_string(size.cx) + " " + std::to_string(size.cy) + "\n")
               ? 0
               : 1;
}

// ---- the other program's topmost window ----

struct Cover {
    std::wstring out;
    HWND hwnd = nullptr;
    bool hadFocus = false;
    bool lostFocus = false;
    bool raisedOverBadge = false;
    std::string typed;
};
Cover cover;

// "above", "below" or "hidden": where the program's window of that kind is
// in the stacking order, against the cover.
std::string PlaceOf(bool layered) {
    for (HWND w = GetTopWindow(nullptr); w != nullptr; w = GetWindow(w, GW_HWNDNEXT)) {
        if (w == cover.hwnd) break;
        if (IsWindowVisible(w) && ClassOf(w) == kFormClass && IsLayered(w) == layered) return "above";
    }
    for (HWND w : ProgramWindows()) {
        if (IsLayered(w) == layered) return "below";
    }
    return "hidden";
}

void Look() {
    const bool focus = GetForegroundWindow() == cover.hwnd && GetFocus() == cover.hwnd;
    if (focus) cover.hadFocus = true;
    if (cover.hadFocus && !focus) cover.lostFocus = true;
    std::string badge = PlaceOf(true);
    // A program that raises itself once the badge is up: the badge is to come
    // back above it by itself.
    if (badge != "hidden" && !cover.raisedOverBadge) {
        cover.raisedOverBadge = true;
        SetWindowPos(cover.hwnd, HWND_TOPMOST, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE);
        badge = PlaceOf(true);
    }
    WriteWhole(cover.out, std::string("focus ") + (focus ? "yes" : "no") + "\nlost-focus " +
                              (cover.lostFocus ? "yes" : "no") + "\ndraw " + PlaceOf(false) + "\nbadge " + badge +
                              "\nraised-over-badge " + (cover.raisedOverBadge ? "yes" : "no") + "\ntyped " +
                              cover.typed + "\n");
}

LRESULT CALLBACK CoverProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
        case WM_TIMER:
            Look();
            return 0;
        case WM_CHAR:
            if (wParam >= 0x20 && wParam < 0x7F) cover.typed.push_back(static_cast<char>(wParam));
            Look();
            return 0;
        case WM_DESTROY:
            PostQuitMessage(0);
            return 0;
        default:
            return DefWindowProcW(hwnd, message, wParam, lParam);
    }
}

int RunCover(const std::wstring& out, int left, int top, int width, int height) {
    cover.out = out;
    WNDCLASSW windowClass{};
    windowClass.lpfnWndProc = CoverProc;
    windowClass.hInstance = GetModuleHandleW(nullptr);
    windowClass.hbrBackground = CreateSolidBrush(RGB(0, 160, 0));
    windowClass.lpszClassName = L"ProbeCover";
    if (RegisterClassW(&windowClass) == 0) return 1;
    cover.hwnd = CreateWindowExW(WS_EX_TOPMOST, L"ProbeCover", L"cover", WS_POPUP | WS_VISIBLE, left, top, width,
                                 height, nullptr, nullptr, windowClass.hInstance, nullptr);
    if (cover.hwnd == nullptr) return 1;
    SetForegroundWindow(cover.hwnd);
    SetFocus(cover.hwnd);
    SetTimer(cover.hwnd, 1, 100, nullptr);
    Look();
    MSG message;
    while (GetMessageW(&message, nullptr, 0, 0) > 0) {
        TranslateMessage(&message);
        DispatchMessageW(&message);
    }
    return 0;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    BeDpiAware();
    const std::wstring command = argc > 1 ? argv[1] : L"";
    if (command == L"windows" && argc == 3) return WriteWhole(argv[2], DescribeWindows()) ? 0 : 1;
    if (command == L"dpichange" && argc == 4) return DpiChange(static_cast<UINT>(_wtoi(argv[2])), argv[3]);
    if (command == L"cover" && argc == 7) {
        return RunCover(argv[2], _wtoi(argv[3]), _wtoi(argv[4]), _wtoi(argv[5]), _wtoi(argv[6]));
    }
    std::fprintf(stderr, "usage: probe.exe windows OUT | dpichange DPI OUT | cover OUT L T W H\n");
    return 2;
}
