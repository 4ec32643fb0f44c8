#ifndef NOMINMAX
#define NOMINMAX
#endif
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

#include <exception>
#include <string>

#include "app/program.h"
#include "platform/win32/win32_platform.h"

namespace {

// What could not even be reported by the program's own error box.
void ReportFatal(const char* what) {
    const int length = MultiByteToWideChar(CP_UTF8, 0, what, -1, nullptr, 0);
    std::wstring text(length > 0 ? static_cast<std::size_t>(length) : 1, L'\0');
    if (length > 0) MultiByteToWideChar(CP_UTF8, 0, what, -1, text.data(), length);
    MessageBoxW(nullptr, text.c_str(), L"namewheel", MB_OK | MB_ICONSTOP | MB_TOPMOST);
}

}  // namespace

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
    try {
        platform::win32::Win32Platform desktop;
        return RunProgram(desktop);
    } catch (const std::exception& error) {
        ReportFatal(error.what());
    } catch (...) {
        ReportFatal("unknown error");
    }
    return 1;
}
