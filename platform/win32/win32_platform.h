#pragma once
// The platform layer on the Win32 API: windows and their message loop, the
// one-second timer, the notification-area icon, the shell, the common dialog,
// resources and image decoding.

#include <windows.h>

#include <exception>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "platform/platform.h"

namespace platform::win32 {

class Win32Window;

// std::u16string and Windows' wide strings are the same UTF-16 code units.
inline const wchar_t* Wide(const std::u16string& text) { return reinterpret_cast<const wchar_t*>(text.c_str()); }
inline std::u16string FromWide(const wchar_t* text, std::size_t length) {
    return std::u16string(reinterpret_cast<const char16_t*>(text), length);
}

class Win32Platform : public Platform {
public:
    Win32Platform();
    ~Win32Platform() override;
    Win32Platform(const Win32Platform&) = delete;
    Win32Platform& operator=(const Win32Platform&) = delete;

    std::unique_ptr<Window> createWindow(const layout::Form& form) override;
    Rect primaryScreen() const override;
    // The primary monitor's DPI over 96: windows are measured in its pixels.
    double layoutScale() const override;
    void processMessages() override;
    void pause(int milliseconds) override;
    void setFinePauses(bool on) override;
    void startTimer(int periodMilliseconds, Handler onTick) override;
    void messageBox(const std::u16string& text, const std::u16string& caption, MessageIcon icon) override;
    void showTrayIcon(const std::u16string& tooltip, std::vector<MenuItem> menu) override;
    std::optional<std::u16string> openFileDialog(const std::vector<FileFilter>& filters) override;
    bool shellOpen(const std::u16string& target, const std::u16string& parameters, const std::u16string& directory,
                   int showCommand) override;
    std::optional<std::vector<std::uint8_t>> resource(const std::u16string& name, const std::u16string& type) override;
    std::optional<Image> decodeImage(const std::vector<std::uint8_t>& bytes) override;
    std::filesystem::path executablePath() const override;
    int run(Window& mainWindow) override;

    // Asks the loop to end with exit code 0 once the running handler has returned.
    void requestQuit();
    // Opens the menu at the cursor and runs the chosen item once it has closed.
    void popupMenu();
    // True when the icon is in the notification area.
    bool trayAvailable() const { return trayAdded_; }
    HINSTANCE instance() const { return instance_; }

    // A handler that threw inside a window procedure: the exception travels on
    // once DispatchMessage has returned, instead of through the system's frames.
    void keepException(std::exception_ptr error);

private:
    static LRESULT CALLBACK ServiceProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);
    LRESULT handleService(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);
    void dispatch(MSG& message);
    void rethrowKept();
    bool addTrayIcon();
    void removeTrayIcon();
    void ensureCom();

    HINSTANCE instance_;
    // A hidden top-level window for the timers and the notification-area
    // icon: top-level, so that the "TaskbarCreated" broadcast reaches it.
    HWND service_ = nullptr;
    HWND mainHwnd_ = nullptr;
    UINT taskbarCreated_ = 0;
    bool quitSeen_ = false;
    bool quitRequested_ = false;
    int exitCode_ = 0;
    bool comReady_ = false;
    bool finePauses_ = false;
    std::exception_ptr kept_;

    std::map<UINT_PTR, Handler> timers_;
    UINT_PTR nextTimer_ = 1;

    std::u16string tooltip_;
    std::vector<MenuItem> items_;
    HMENU menu_ = nullptr;
    HICON trayIcon_ = nullptr;
    bool trayWanted_ = false;
    bool trayAdded_ = false;
    bool menuOpen_ = false;
};

}  // namespace platform::win32
