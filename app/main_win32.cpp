#include <windows.h>

#include <exception>
#include <string>

#include "app/program.h"
#include "common/application.h"
#include "platform/win32/win32_platform.h"

namespace {

// The application's title, from the executable's own file name.
std::wstring Title() {
    std::wstring path(32768, L'\0');
    const DWORD length = GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
    path.resize(length < path.size() ? length : 0);
    const std::size_t slash = path.find_last_of(L"\\/");
    const std::wstring name = slash == std::wstring::npos ? path : path.substr(slash + 1);
    const std::u16string title =
        ApplicationTitle(std::u16string_view(reinterpret_cast<const char16_t*>(name.data()), name.size()));
    return std::wstring(reinterpret_cast<const wchar_t*>(title.data()), title.size());
}

// What could not even be reported by the program's own error box.
void ReportFatal(const char* what) {
    const int length = MultiByteToWideChar(CP_UTF8, 0, what, -1, nullptr, 0);
    std::wstring text(length > 0 ? static_cast<std::size_t>(length) : 1, L'\0');
    if (length > 0) MultiByteToWideChar(CP_UTF8, 0, what, -1, text.data(), length);
    const std::u16string shown = ErrorReportText(std::u16string_view(reinterpret_cast<const char16_t*>(text.c_str())));
    MessageBoxW(nullptr, reinterpret_cast<const wchar_t*>(shown.c_str()), Title().c_str(),
                MB_OK | MB_ICONSTOP | MB_TOPMOST);
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
