#include "tests/support/fake_platform.h"

#include <stdexcept>

#include "common/text.h"
#include "resources/layout.h"

namespace fake {

namespace {
constexpr int kFrameWidth = 2;    // what a window manager adds to a framed window
constexpr int kFrameHeight = 25;
}  // namespace

std::string Utf8(const std::u16string& text) { return Utf16ToUtf8(text); }

FakeWindow::FakeWindow(FakePlatform& desktop, const layout::Form& form)
    : desktop_(desktop), name_(form.name), caption_(form.caption) {
    const int frameWidth = form.bordered ? kFrameWidth : 0;
    const int frameHeight = form.bordered ? kFrameHeight : 0;
    rect_ = platform::Rect{0, 0, form.clientWidth + frameWidth, form.clientHeight + frameHeight};
    for (const layout::Element& element : form.elements) {
        controls_[std::string(element.name)].setText(std::u16string(element.text));
    }
}

void FakeWindow::show() {
    visible_ = true;
    desktop_.record("show " + name_);
}

void FakeWindow::showPassively() {
    visible_ = true;
    desktop_.record("showPassively " + name_);
}

void FakeWindow::hide() {
    visible_ = false;
    desktop_.record("hide " + name_);
}

void FakeWindow::bringToTop() { desktop_.record("bringToTop " + name_); }

void FakeWindow::makeTopmost() { desktop_.record("topmost " + name_); }

void FakeWindow::setCaption(const std::u16string& caption) {
    caption_ = caption;
    desktop_.record("caption " + name_ + " " + Utf8(caption));
}

void FakeWindow::moveTo(int left, int top) {
    rect_.left = left;
    rect_.top = top;
    desktop_.record("move " + name_ + " " + std::to_string(left) + "," + std::to_string(top));
}

void FakeWindow::resize(int width, int height) {
    rect_.width = width;
    rect_.height = height;
    desktop_.record("resize " + name_ + " " + std::to_string(width) + "x" + std::to_string(height));
}

void FakeWindow::setLayeredImage(const platform::PremultipliedBitmap& bitmap, int left, int top) {
    image_ = bitmap;
    rect_ = platform::Rect{left, top, bitmap.width, bitmap.height};
    desktop_.record("layered " + name_ + " " + std::to_string(bitmap.width) + "x" + std::to_string(bitmap.height));
}

void FakeWindow::post(platform::PostedMessage message) {
    desktop_.posted.push_back(message);
    desktop_.postedTo.push_back(this);
    desktop_.record(std::string("post ") + name_ + " " +
                    (message == platform::PostedMessage::LeftButtonUp ? "LeftButtonUp" : "SysCommandMove"));
}

void FakeWindow::close() {
    desktop_.closeRequested = true;
    desktop_.record("close " + name_);
}

platform::Control& FakeWindow::control(std::string_view name) {
    const auto found = controls_.find(name);
    if (found == controls_.end()) throw std::out_of_range("no control " + std::string(name));
    return found->second;
}

std::unique_ptr<platform::Window> FakePlatform::createWindow(const layout::Form& form) {
    record("create " + std::string(form.name));
    return std::make_unique<FakeWindow>(*this, form);
}

void FakePlatform::processMessages() {
    ++processCalls;
    if (onProcessMessages) onProcessMessages(processCalls);
}

void FakePlatform::pause(int milliseconds) {
    pausedMilliseconds += milliseconds;
    if (finePauses) finePausedMilliseconds += milliseconds;
}

void FakePlatform::setFinePauses(bool on) {
    finePauses = on;
    record(on ? "finePauses on" : "finePauses off");
}

void FakePlatform::startTimer(int periodMilliseconds, platform::Handler onTick) {
    timerPeriod = periodMilliseconds;
    timer = std::move(onTick);
}

void FakePlatform::messageBox(const std::u16string& text, const std::u16string& caption, platform::MessageIcon icon) {
    boxes.push_back(caption + u": " + text);
    record(std::string("box ") + (icon == platform::MessageIcon::Stop ? "stop " : "info ") + Utf8(caption) + ": " +
           Utf8(text));
    if (onMessageBox) onMessageBox(text);
}

void FakePlatform::showTrayIcon(const std::u16string& tooltip, std::vector<platform::MenuItem> menu) {
    trayTooltip = tooltip;
    trayMenu = std::move(menu);
    record("tray");
}

void FakePlatform::choose(const std::u16string& caption) {
    for (const platform::MenuItem& item : trayMenu) {
        if (item.caption == caption) {
            item.onClick();
            return;
        }
    }
    throw std::out_of_range("no menu item " + Utf8(caption));
}

std::optional<std::u16string> FakePlatform::openFileDialog(const std::vector<platform::FileFilter>& filters) {
    std::string line = "dialog ";
    for (const platform::FileFilter& filter : filters) {
        line += (line.size() > 7 ? "|" : "") + Utf8(filter.description) + "|" + Utf8(filter.patterns);
    }
    record(line);
    if (dialogAnswers.empty()) return std::nullopt;
    auto answer = dialogAnswers.front();
    dialogAnswers.pop_front();
    return answer;
}

bool FakePlatform::shellOpen(const std::u16string& target, const std::u16string& parameters,
                             const std::u16string& directory, int showCommand) {
    record("shell " + Utf8(target) + " [" + Utf8(parameters) + "] [" + Utf8(directory) + "] " +
           std::to_string(showCommand));
    return shellResult;
}

std::optional<std::vector<std::uint8_t>> FakePlatform::resource(const std::u16string& name, const std::u16string& type) {
    record("resource " + Utf8(type) + "/" + Utf8(name));
    if (name == u"PNG" && type == u"EXEFILE") return std::vector<std::uint8_t>{0x89, 'P', 'N', 'G'};
    if (name == u"PNG_2X" && type == u"EXEFILE" && badgeTwinImage) {
        return std::vector<std::uint8_t>{0x89, 'P', 'N', 'G', '2'};
    }
    return std::nullopt;
}

std::optional<platform::Image> FakePlatform::decodeImage(const std::vector<std::uint8_t>& bytes) {
    if (bytes.size() < 4 || bytes[1] != 'P') return std::nullopt;
    if (bytes.size() == 5 && badgeTwinImage) return *badgeTwinImage;
    return badgeImage;
}

int FakePlatform::run(platform::Window& mainWindow) {
    mainWindow.show();
    return 0;
}

void FakePlatform::deliverPosted() {
    while (!posted.empty()) {
        const platform::PostedMessage message = posted.front();
        FakeWindow* window = postedTo.front();
        posted.erase(posted.begin());
        postedTo.erase(postedTo.begin());
        if (message == platform::PostedMessage::LeftButtonUp) window->click();
    }
}

std::vector<std::string> FakePlatform::logged(const std::string& prefix) const {
    std::vector<std::string> lines;
    for (const std::string& line : log) {
        if (line.rfind(prefix, 0) == 0) lines.push_back(line);
    }
    return lines;
}

}  // namespace fake
