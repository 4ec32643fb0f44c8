#include "common/application.h"

#include <stdexcept>

#include "common/text.h"
#include "platform/platform.h"

namespace {
platform::Platform* g_desktop = nullptr;
}

void InitApplication(platform::Platform& desktop) { g_desktop = &desktop; }

platform::Platform& Desktop() {
    if (g_desktop == nullptr) throw std::logic_error("application not initialised");
    return *g_desktop;
}

std::u16string ApplicationTitle(std::u16string_view executableFileName) {
    std::u16string title(executableFileName.substr(0, executableFileName.find(u'.')));
    for (std::size_t i = 1; i < title.size(); ++i) {
        if (title[i] >= u'A' && title[i] <= u'Z') title[i] = static_cast<char16_t>(title[i] + 32);
    }
    return title;
}

std::u16string ApplicationTitle() {
    return ApplicationTitle(Desktop().executablePath().filename().u16string());
}

std::filesystem::path AppFilePath(std::u16string_view name) {
    return Desktop().executablePath().parent_path() / std::filesystem::path(std::u16string(name));
}

void ShowNotice(const std::u16string& text) {
    Desktop().messageBox(text, u"提示", platform::MessageIcon::Information);
}

std::u16string ErrorReportText(std::u16string_view message) {
    std::u16string text(message);
    if (!text.empty() && text.back() > u'.') text.push_back(u'.');
    return text;
}

void ReportError(const std::u16string& message) {
    Desktop().messageBox(ErrorReportText(message), ApplicationTitle(), platform::MessageIcon::Stop);
}

void Guarded(const std::function<void()>& handler) {
    try {
        handler();
    } catch (const std::exception& error) {
        ReportError(MessageOf(error));
    }
}
