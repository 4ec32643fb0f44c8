#pragma once
// The services the forms need from the desktop they run on. Written against by
// Unit1/Unit2; implemented once per front end (platform/qt, platform/win32) and
// by a recording fake in the tests. Nothing here may pull in Qt or Windows.

#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace layout {
struct Form;
}

namespace platform {

using Handler = std::function<void()>;

struct Rect {
    int left = 0;
    int top = 0;
    int width = 0;
    int height = 0;
    bool operator==(const Rect&) const = default;
};

// 32-bit pixels, row by row from the top, each 0xAARRGGBB.
struct Image {
    int width = 0;
    int height = 0;
    std::vector<std::uint32_t> pixels;  // straight (not premultiplied) alpha
};

// The same layout, colour channels premultiplied by alpha: what a layered
// window update takes.
struct PremultipliedBitmap {
    int width = 0;
    int height = 0;
    std::vector<std::uint32_t> pixels;
};

enum class MouseButton { Left, Right, Middle };

// Messages a form posts to its own window; they are handled after the current
// handler has returned, in the order posted.
enum class PostedMessage {
    LeftButtonUp,    // completes a click at client point (0, 0): runs the form's click handler
    SysCommandMove,  // the system's move-by-mouse command (SC_MOVE | HTCAPTION)
};

enum class MessageIcon { Information, Stop };

// A label or a button on a form, by its layout name.
class Control {
public:
    virtual ~Control() = default;
    virtual void setText(const std::u16string& text) = 0;
    virtual std::u16string text() const = 0;
    virtual void onClick(Handler handler) = 0;
};

// A top-level window made from a layout::Form.
class Window {
public:
    virtual ~Window() = default;

    // Shows the window; also brings it to the front and activates it (but for
    // a box or dialog of this program waiting for an answer: that keeps it).
    // A minimised window comes back as it was before.
    virtual void show() = 0;
    // As show(), for a show nobody asked for just now (the one-second timer's):
    // the focus moves only from this program's own windows, never from the
    // program the user is working in.
    virtual void showPassively() = 0;
    virtual void hide() = 0;
    virtual bool isShowing() const = 0;
    // Top of the stacking order (of the topmost windows, for a topmost one),
    // without activating it: the program the user types in keeps the keys.
    virtual void bringToTop() = 0;
    // Topmost, without moving, sizing or activating it, and without a flicker.
    virtual void makeTopmost() = 0;

    virtual void setCaption(const std::u16string& caption) = 0;
    virtual std::u16string caption() const = 0;

    // The outer rectangle (frame included), in screen coordinates.
    virtual Rect outerRect() const = 0;
    // Places the outer rectangle's top-left corner.
    virtual void moveTo(int left, int top) = 0;
    virtual void resize(int width, int height) = 0;

    // Gives the window the bitmap's size, outline and per-pixel translucency,
    // with its top-left corner at (left, top). Fully transparent pixels are not
    // part of the window: clicks there reach whatever is below.
    virtual void setLayeredImage(const PremultipliedBitmap& bitmap, int left, int top) = 0;

    virtual void post(PostedMessage message) = 0;

    // Closing the main window ends the program; the end takes effect once the
    // handler that asked for it (and any spin it runs inside) has returned.
    virtual void close() = 0;

    virtual Control& control(std::string_view name) = 0;

    // Events of the window itself.
    virtual void onClick(Handler handler) = 0;
    virtual void onMouseDown(std::function<void(MouseButton, int x, int y)> handler) = 0;
    // Runs once, when the window manager's frame size becomes known (on desktops
    // where it is known only after the first show). Never runs where the outer
    // size is right from the start.
    virtual void onFrameKnown(Handler handler) = 0;
};

struct MenuItem {
    std::u16string caption;  // "&" marks the access key
    Handler onClick;
};

// One kind of file the open-file dialog offers: "文本文件" with "*.txt;*.text".
struct FileFilter {
    std::u16string description;
    std::u16string patterns;  // separated by ';'
};

class Platform {
public:
    virtual ~Platform() = default;

    // Windows. The first one made is the main window.
    virtual std::unique_ptr<Window> createWindow(const layout::Form& form) = 0;
    // The primary monitor's full area, taskbar included, in the coordinates
    // windows are placed in: with a second screen it need not start at 0,0.
    virtual Rect primaryScreen() const = 0;
    // How many of the units windows are measured in here (primaryScreen,
    // outerRect, moveTo, resize, images) one pixel of the layouts makes on the
    // primary monitor; the layouts are drawn at 96 DPI. 1.5 on a Windows screen
    // of 144 DPI; 1 where the desktop scales the program's windows itself.
    virtual double layoutScale() const = 0;

    // Runs every window message that is waiting, then returns.
    virtual void processMessages() = 0;
    virtual void pause(int milliseconds) = 0;
    // While on, pause() keeps to the millisecond where the system would round
    // it up to its scheduler's tick (15.6 ms on Windows). It costs power, so
    // it is on only while it matters.
    virtual void setFinePauses(bool on) = 0;
    // A timer that fires every period on the user-interface thread, also while
    // messages are processed inside a handler. Precise: it keeps real time.
    virtual void startTimer(int periodMilliseconds, Handler onTick) = 0;

    // A modal box with an OK button only; returns when the user closes it.
    virtual void messageBox(const std::u16string& text, const std::u16string& caption,
                            MessageIcon icon) = 0;

    // Notification-area icon with the program icon, a tooltip and a menu that
    // opens on the right button. Where the desktop has no notification area,
    // the same menu opens on a right-click in the main window.
    virtual void showTrayIcon(const std::u16string& tooltip, std::vector<MenuItem> menu) = 0;

    // The open-file dialog, offering these kinds of file. Returns the chosen
    // file's full name, or nothing when the user cancels.
    virtual std::optional<std::u16string> openFileDialog(const std::vector<FileFilter>& filters) = 0;

    // Asks the desktop shell to open target (a URL opens in the browser).
    virtual bool shellOpen(const std::u16string& target, const std::u16string& parameters,
                           const std::u16string& directory, int showCommand) = 0;

    // The bytes of a resource built into the executable; nothing if it is absent.
    virtual std::optional<std::vector<std::uint8_t>> resource(const std::u16string& name,
                                                              const std::u16string& type) = 0;
    // Decodes PNG (and what else the system's codecs read). Nothing on failure.
    virtual std::optional<Image> decodeImage(const std::vector<std::uint8_t>& bytes) = 0;

    virtual std::filesystem::path executablePath() const = 0;

    // Shows the main window and runs the message loop until it closes; returns
    // the program's exit code.
    virtual int run(Window& mainWindow) = 0;
};

}  // namespace platform
