// A console helper for the Wine tests: the draw window of the program under
// test, as Windows itself sees it, minimised from outside the way a taskbar
// or "show desktop" minimises it. The draw window is the program's window
// class with a caption; the badge has none.
//   winstate.exe state OUT
//       one line: shown, minimised, hidden or none
//   winstate.exe minimise-until-folded OUT
//       minimises the draw window whenever it shows, until the badge shows
//       (at most 20 s): one line, "RESTORES STATE", how often it came back
//       while minimised and its state as the badge came (minimised or shown),
//       or "0 timeout".
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

#include <cstdio>
#include <cwchar>
#include <string>

namespace {

constexpr wchar_t kFormClass[] = L"NamewheelForm";

struct Windows {
    HWND draw = nullptr;
    HWND badge = nullptr;
};

BOOL CALLBACK Collect(HWND hwnd, LPARAM found) {
    wchar_t name[64] = {};
    GetClassNameW(hwnd, name, 64);
    if (std::wcscmp(name, kFormClass) != 0) return TRUE;
    auto* windows = reinterpret_cast<Windows*>(found);
    (GetWindowTextLengthW(hwnd) > 0 ? windows->draw : windows->badge) = hwnd;
    return TRUE;
}

Windows Find() {
    Windows windows;
    EnumWindows(Collect, reinterpret_cast<LPARAM>(&windows));
    return windows;
}

const char* StateOf(HWND hwnd) {
    if (hwnd == nullptr) return "none";
    if (!IsWindowVisible(hwnd)) return "hidden";
    return IsIconic(hwnd) ? "minimised" : "shown";
}

std::string MinimiseUntilFolded() {
    int restores = 0;
    bool minimised = false;
    for (int waited = 0; waited < 20000; waited += 10) {
        const Windows windows = Find();
        if (windows.badge != nullptr && IsWindowVisible(windows.badge)) {
            return std::to_string(restores) + (minimised ? " minimised" : " shown");
        }
        if (windows.draw != nullptr && IsWindowVisible(windows.draw)) {
            if (!IsIconic(windows.draw)) {
                if (minimised) ++restores;
                ShowWindow(windows.draw, SW_MINIMIZE);
            }
            minimised = IsIconic(windows.draw) != FALSE;
        }
        Sleep(10);
    }
    return "0 timeout";
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: winstate state|minimise-until-folded OUT\n");
        return 2;
    }
    const std::wstring verb = argv[1];
    std::string line;
    if (verb == L"state") {
        line = StateOf(Find().draw);
    } else if (verb == L"minimise-until-folded") {
        line = MinimiseUntilFolded();
    } else {
        std::fprintf(stderr, "winstate: no verb '%ls'\n", argv[1]);
        return 2;
    }
    FILE* out = _wfopen(argv[2], L"wb");
    if (out == nullptr) {
        std::fprintf(stderr, "winstate: cannot write the output file\n");
        return 1;
    }
    std::fprintf(out, "%s\n", line.c_str());
    std::fclose(out);
    return 0;
}
