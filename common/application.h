#pragma once
// The application object: the desktop it runs on, its title, its messages.

#include <filesystem>
#include <functional>
#include <string>
#include <string_view>

namespace platform {
class Platform;
}

// Binds the application to the desktop it runs on. Call once, before any form.
void InitApplication(platform::Platform& desktop);
platform::Platform& Desktop();

// The executable's file name up to its first ".", every character after the
// first in lower case.
std::u16string ApplicationTitle(std::u16string_view executableFileName);
std::u16string ApplicationTitle();

// The directory of the running executable, with a path separator, then name.
std::filesystem::path AppFilePath(std::u16string_view name);

// The modal notice: the text, the title "提示", the information icon, OK only.
void ShowNotice(const std::u16string& text);

// The error report's text: the message, then "." when its last character comes
// after "." (0x2E).
std::u16string ErrorReportText(std::u16string_view message);
// The application's error report: a modal box with that text, the application's
// title as caption, the stop icon and OK only. The program keeps running.
void ReportError(const std::u16string& message);

// Runs a handler; whatever it throws reaches the error report.
void Guarded(const std::function<void()>& handler);
