#include "common/application.h"

#include <stdexcept>

#include "common/text.h"
#include "platform/kernel.h"
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
    const std::u16string_view name = executableFileName.substr(0, executableFileName.find(u'.'));
    if (name.empty()) return {};
    // The first character as it is, even when it is half of a surrogate pair.
    const std::size_t first = name.size() > 1 && name[0] >= 0xD800 && name[0] <= 0xDBFF ? 2 : 1;
    return std::u16string(name.substr(0, first)) + kernel::LowerCase(name.substr(first));
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
