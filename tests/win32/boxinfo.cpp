// A console helper for the Wine tests: describes the message boxes that are
// up, the way Windows itself sees them, one line each, into OUT (UTF-8):
//   caption<TAB>text<TAB>icon<TAB>buttons
// icon is stop, information, warning, question, none or other (the box's icon
// as on the screen, compared with the system's own icons); buttons are
// the buttons' captions, separated by "|".
//   boxinfo.exe OUT
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "common/text.h"
#include "platform/win32/gdi.h"

namespace {

using platform::win32::BitmapHandle;
using platform::win32::GdiObjectHandle;
using platform::win32::MemoryDcHandle;
using platform::win32::ScreenDcHandle;
using platform::win32::Selection;

std::string Utf8(const std::wstring& text) {
    return Utf16ToUtf8(std::u16string_view(reinterpret_cast<const char16_t*>(text.data()), text.size()));
}

std::wstring TextOf(HWND hwnd) {
    const int length = GetWindowTextLengthW(hwnd);
    std::wstring text(static_cast<std::size_t>(length) + 1, L'\0');
    const int copied = GetWindowTextW(hwnd, text.data(), length + 1);
    text.resize(copied > 0 ? static_cast<std::size_t>(copied) : 0);
    return text;
}

std::wstring ClassOf(HWND hwnd) {
    wchar_t name[64] = {};
    GetClassNameW(hwnd, name, 64);
    return name;
}

constexpr int kIconSize = 32;

// 32 x 32 pixels of a memory bitmap, made by draw.
template <typename Draw>
std::vector<DWORD> Pixels(Draw&& draw) {
    std::vector<DWORD> pixels(kIconSize * kIconSize, 0);
    const ScreenDcHandle screen(GetDC(nullptr));
    const MemoryDcHandle memory(CreateCompatibleDC(screen.get()));
    BITMAPINFO info{};
    info.bmiHeader.biSize = sizeof info.bmiHeader;
    info.bmiHeader.biWidth = kIconSize;
    info.bmiHeader.biHeight = -kIconSize;
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    info.bmiHeader.biCompression = BI_RGB;
    void* bits = nullptr;
    const BitmapHandle dib(CreateDIBSection(screen.get(), &info, DIB_RGB_COLORS, &bits, nullptr, 0));
    if (dib && bits != nullptr) {
        const Selection selected(memory.get(), dib.get());
        draw(memory.get(), screen.get());
        GdiFlush();
        const auto* source = static_cast<const DWORD*>(bits);
        pixels.assign(source, source + kIconSize * kIconSize);
    }
    return pixels;
}

int Difference(const std::vector<DWORD>& a, const std::vector<DWORD>& b) {
    long long sum = 0;
    for (std::size_t i = 0; i < a.size() && i < b.size(); ++i) {
        for (int shift = 0; shift < 24; shift += 8) {
            sum += std::abs(static_cast<int>((a[i] >> shift) & 0xFF) - static_cast<int>((b[i] >> shift) & 0xFF));
        }
    }
    return static_cast<int>(sum / static_cast<long long>(a.size() * 3));
}

// The icon a box shows, as it is on the screen (its handle belongs to the
// box's process), told by the system icon it looks most like.
std::string IconName(HWND iconControl) {
    if (iconControl == nullptr) return "none";
    RECT at{};
    GetWindowRect(iconControl, &at);
    const std::vector<DWORD> shown = Pixels([&](HDC memory, HDC screen) {
        BitBlt(memory, 0, 0, kIconSize, kIconSize, screen, at.left, at.top, SRCCOPY);
    });
    const DWORD background = shown[0];
    const struct {
        LPCWSTR id;
        const char* name;
    } known[] = {{IDI_HAND, "stop"}, {IDI_ASTERISK, "information"}, {IDI_EXCLAMATION, "warning"},
                 {IDI_QUESTION, "question"}};
    const char* best = "other";
    int bestDifference = 12;  // of 255 on average: anything further is no system icon
    for (const auto& k : known) {
        const std::vector<DWORD> drawn = Pixels([&](HDC memory, HDC) {
            const GdiObjectHandle<HBRUSH> brush(
                CreateSolidBrush(RGB((background >> 16) & 0xFF, (background >> 8) & 0xFF, background & 0xFF)));
            RECT all{0, 0, kIconSize, kIconSize};
            FillRect(memory, &all, brush.get());
            DrawIconEx(memory, 0, 0, LoadIconW(nullptr, k.id), kIconSize, kIconSize, 0, nullptr, DI_NORMAL);
        });
        const int difference = Difference(shown, drawn);
        if (difference < bestDifference) {
            bestDifference = difference;
            best = k.name;
        }
    }
    return best;
}

struct Box {
    std::wstring text;
    HWND icon = nullptr;
    std::vector<std::wstring> buttons;
};

BOOL CALLBACK Child(HWND child, LPARAM param) {
    auto& box = *reinterpret_cast<Box*>(param);
    const std::wstring name = ClassOf(child);
    if (_wcsicmp(name.c_str(), L"Button") == 0) {
        if (IsWindowVisible(child)) box.buttons.push_back(TextOf(child));
    } else if (_wcsicmp(name.c_str(), L"Static") == 0) {
        if ((GetWindowLongW(child, GWL_STYLE) & SS_TYPEMASK) == SS_ICON) {
            box.icon = child;
        } else if (!TextOf(child).empty()) {
            box.text = TextOf(child);
        }
    }
    return TRUE;
}

BOOL CALLBACK TopLevel(HWND hwnd, LPARAM param) {
    if (!IsWindowVisible(hwnd) || ClassOf(hwnd) != L"#32770") return TRUE;
    Box box;
    EnumChildWindows(hwnd, Child, reinterpret_cast<LPARAM>(&box));
    std::string buttons;
    for (const std::wstring& button : box.buttons) buttons += (buttons.empty() ? "" : "|") + Utf8(button);
    auto* out = reinterpret_cast<std::FILE*>(param);
    std::fprintf(out, "%s\t%s\t%s\t%s\n", Utf8(TextOf(hwnd)).c_str(), Utf8(box.text).c_str(),
                 IconName(box.icon).c_str(), buttons.c_str());
    return TRUE;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc != 2) return 2;
    std::FILE* out = _wfopen(argv[1], L"wb");
    if (out == nullptr) return 1;
    EnumWindows(TopLevel, reinterpret_cast<LPARAM>(out));
    std::fclose(out);
    return 0;
}
