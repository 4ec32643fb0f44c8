#pragma once
// A recording fake of the desktop: every call the forms make becomes a short
// readable line ("show Form1", "topmost Form2"), and the test scripts what the
// desktop answers and what happens while messages are processed.

#include <deque>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "platform/platform.h"

namespace fake {

class FakePlatform;

class FakeControl : public platform::Control {
public:
    void setText(const std::u16string& text) override { text_ = text; }
    std::u16string text() const override { return text_; }
    void onClick(platform::Handler handler) override { click_ = std::move(handler); }
    void click() const {
        if (click_) click_();
    }

private:
    std::u16string text_;
    platform::Handler click_;
};

class FakeWindow : public platform::Window {
public:
    FakeWindow(FakePlatform& desktop, const layout::Form& form);

    void show() override;
    void showPassively() override;
    void hide() override;
    bool isShowing() const override { return visible_; }
    void bringToTop() override;
    void makeTopmost() override;
    void setCaption(const std::u16string& caption) override;
    std::u16string caption() const override { return caption_; }
    platform::Rect outerRect() const override { return rect_; }
    void moveTo(int left, int top) override;
    void resize(int width, int height) override;
    void setLayeredImage(const platform::PremultipliedBitmap& bitmap, int left, int top) override;
    void post(platform::PostedMessage message) override;
    void close() override;
    platform::Control& control(std::string_view name) override;
    void onClick(platform::Handler handler) override { click_ = std::move(handler); }
    void onMouseDown(std::function<void(platform::MouseButton, int, int)> handler) override {
        mouseDown_ = std::move(handler);
    }
    void onFrameKnown(platform::Handler handler) override { frameKnown_ = std::move(handler); }

    FakeControl& fakeControl(const std::string& name) { return controls_.at(name); }
    void setRect(platform::Rect rect) { rect_ = rect; }
    void pressMouse(platform::MouseButton button, int x, int y) {
        if (mouseDown_) mouseDown_(button, x, y);
    }
    void click() {
        if (click_) click_();
    }
    void frameKnown() {
        if (frameKnown_) frameKnown_();
    }
    const platform::PremultipliedBitmap& layeredImage() const { return image_; }

private:
    FakePlatform& desktop_;
    std::string name_;
    bool visible_ = false;
    std::u16string caption_;
    platform::Rect rect_;
    std::map<std::string, FakeControl, std::less<>> controls_;
    platform::Handler click_;
    std::function<void(platform::MouseButton, int, int)> mouseDown_;
    platform::Handler frameKnown_;
    platform::PremultipliedBitmap image_;
};

class FakePlatform : public platform::Platform {
public:
    explicit FakePlatform(std::filesystem::path executable) : executable_(std::move(executable)) {}

    std::unique_ptr<platform::Window> createWindow(const layout::Form& form) override;
    platform::Rect primaryScreen() const override { return screen; }
    double layoutScale() const override { return scale; }
    void processMessages() override;
    void pause(int milliseconds) override;
    void setFinePauses(bool on) override;
    void startTimer(int periodMilliseconds, platform::Handler onTick) override;
    void messageBox(const std::u16string& text, const std::u16string& caption, platform::MessageIcon icon) override;
    void showTrayIcon(const std::u16string& tooltip, std::vector<platform::MenuItem> menu) override;
    std::optional<std::u16string> openFileDialog(const std::vector<platform::FileFilter>& filters) override;
    bool shellOpen(const std::u16string& target, const std::u16string& parameters, const std::u16string& directory,
                   int showCommand) override;
    std::optional<std::vector<std::uint8_t>> resource(const std::u16string& name, const std::u16string& type) override;
    std::optional<platform::Image> decodeImage(const std::vector<std::uint8_t>& bytes) override;
    std::filesystem::path executablePath() const override { return executable_; }
    int run(platform::Window& mainWindow) override;

    // What happened, one line a call, in order.
    std::vector<std::string> log;
    void record(std::string line) { log.push_back(std::move(line)); }
    // The lines that start with prefix.
    std::vector<std::string> logged(const std::string& prefix) const;

    // Runs inside processMessages, with the number of that call (from 1).
    std::function<void(int call)> onProcessMessages;
    int processCalls = 0;
    int pausedMilliseconds = 0;
    bool finePauses = false;
    int finePausedMilliseconds = 0;  // paused while fine pauses were on
    // Runs inside a message box, as the user's doing before they close it.
    std::function<void(const std::u16string& text)> onMessageBox;
    // Answers of the open-file dialog, in turn; nothing left means cancel.
    std::deque<std::optional<std::u16string>> dialogAnswers;
    bool shellResult = true;
    // The primary screen's full area; anywhere, as on a desktop with a second screen.
    platform::Rect screen{0, 0, 1920, 1080};
    double scale = 1.0;
    platform::Image badgeImage;
    // The badge picture drawn at twice the size (resource PNG_2X), where there is one.
    std::optional<platform::Image> badgeTwinImage;

    // The texts of the boxes shown, with their captions: "提示: 已清除记录".
    std::vector<std::u16string> boxes;

    platform::Handler timer;
    int timerPeriod = 0;
    void tick() { timer(); }

    std::u16string trayTooltip;
    std::vector<platform::MenuItem> trayMenu;
    // Chooses a menu item by its caption.
    void choose(const std::u16string& caption);

    std::vector<platform::PostedMessage> posted;
    std::vector<FakeWindow*> postedTo;
    // Handles the posted messages, as the message loop would.
    void deliverPosted();

    bool closeRequested = false;

private:
    std::filesystem::path executable_;
};

std::string Utf8(const std::u16string& text);

}  // namespace fake
