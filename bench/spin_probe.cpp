// The program itself, made as RunProgram makes it on the Qt desktop, with a
// counter on the big label: one second after start-up it presses the start
// button, three seconds later the stop button, and prints how often the label
// was set and repainted in between and how much processor time the process
// used. Run it from a folder that holds a cs.db, like the program.
//
//   bench_spin TAG     prints figure spin_cadence_TAG, spin_cpu_TAG, ...

#include <QApplication>
#include <QLabel>
#include <QPushButton>
#include <QTimer>
#include <chrono>
#include <cstdio>
#include <ctime>
#include <string>

#include "Unit1/unit1.h"
#include "Unit2/unit2.h"
#include "common/application.h"
#include "common/state.h"
#include "platform/qt/qt_platform.h"

namespace {

constexpr int kSpinMilliseconds = 3000;

double ProcessCpuSeconds() {
    timespec t{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) / 1e9;
}

double Now() {
    return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

// Counts the texts set on a control and passes them on.
class CountingControl : public platform::Control {
public:
    explicit CountingControl(platform::Control& inner) : inner_(inner) {}
    void setText(const std::u16string& text) override {
        ++sets;
        if (text != last_) ++changes;
        last_ = text;
        inner_.setText(text);
    }
    std::u16string text() const override { return inner_.text(); }
    void onClick(platform::Handler handler) override { inner_.onClick(std::move(handler)); }
    long sets = 0;
    long changes = 0;

private:
    platform::Control& inner_;
    std::u16string last_;
};

// The Qt window with the big label behind a counter; everything else passes through.
class CountingWindow : public platform::Window {
public:
    explicit CountingWindow(std::unique_ptr<platform::Window> inner) : inner_(std::move(inner)) {}
    void show() override { inner_->show(); }
    void showPassively() override { inner_->showPassively(); }
    void hide() override { inner_->hide(); }
    bool isShowing() const override { return inner_->isShowing(); }
    void bringToTop() override { inner_->bringToTop(); }
    void makeTopmost() override { inner_->makeTopmost(); }
    void setCaption(const std::u16string& caption) override { inner_->setCaption(caption); }
    std::u16string caption() const override { return inner_->caption(); }
    platform::Rect outerRect() const override { return inner_->outerRect(); }
    void moveTo(int left, int top) override { inner_->moveTo(left, top); }
    void resize(int width, int height) override { inner_->resize(width, height); }
    void setLayeredImage(const platform::PremultipliedBitmap& bitmap, int left, int top) override {
        inner_->setLayeredImage(bitmap, left, top);
    }
    void post(platform::PostedMessage message) override { inner_->post(message); }
    void close() override { inner_->close(); }
    platform::Control& control(std::string_view name) override {
        if (name != "lbl1") return inner_->control(name);
        if (!label_) label_ = std::make_unique<CountingControl>(inner_->control(name));
        return *label_;
    }
    void onClick(platform::Handler handler) override { inner_->onClick(std::move(handler)); }
    void onMouseDown(std::function<void(platform::MouseButton, int, int)> handler) override {
        inner_->onMouseDown(std::move(handler));
    }
    void onFrameKnown(platform::Handler handler) override { inner_->onFrameKnown(std::move(handler)); }

    CountingControl* label() const { return label_.get(); }

private:
    std::unique_ptr<platform::Window> inner_;
    std::unique_ptr<CountingControl> label_;
};

class CountingPlatform : public platform::qt::QtPlatform {
public:
    std::unique_ptr<platform::Window> createWindow(const layout::Form& form) override {
        auto window = std::make_unique<CountingWindow>(QtPlatform::createWindow(form));
        if (first_ == nullptr) first_ = window.get();
        return window;
    }
    CountingWindow* mainWindow() const { return first_; }

private:
    CountingWindow* first_ = nullptr;
};

// Counts the paint events of a widget.
class PaintCounter : public QObject {
public:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() == QEvent::Paint) ++paints;
        return QObject::eventFilter(watched, event);
    }
    long paints = 0;
};

}  // namespace

int main(int argc, char* argv[]) {
    QApplication application(argc, argv);
    const std::string tag = argc > 1 ? argv[1] : "qt";
    CountingPlatform desktop;
    InitApplication(desktop);
    TForm1 form1(desktop);
    TForm2 form2(desktop);

    QWidget* main = desktop.mainWidget();
    auto* button = main ? main->findChild<QPushButton*>(QStringLiteral("btn1")) : nullptr;
    auto* labelWidget = main ? main->findChild<QLabel*>(QStringLiteral("lbl1")) : nullptr;
    CountingControl* label = desktop.mainWindow() ? desktop.mainWindow()->label() : nullptr;
    if (button == nullptr || labelWidget == nullptr || label == nullptr) {
        std::fprintf(stderr, "bench_spin: the draw window has no btn1 or lbl1\n");
        return 1;
    }
    PaintCounter paints;
    labelWidget->installEventFilter(&paints);

    int rc = 1;
    QTimer::singleShot(1000, [&] {
        if (form1.ADOQuery1.RecordCount() == 0) {
            std::fprintf(stderr, "bench_spin: the roster is empty\n");
            QCoreApplication::exit(1);
            return;
        }
        double start = 0, cpuStart = 0, end = 0, cpuEnd = 0;
        long setsStart = 0, changesStart = 0, paintsStart = 0, sets = 0, changes = 0, painted = 0;
        QTimer::singleShot(kSpinMilliseconds, [&] {
            end = Now();
            cpuEnd = ProcessCpuSeconds();
            sets = label->sets - setsStart;
            changes = label->changes - changesStart;
            painted = paints.paints - paintsStart;
            button->click();  // the stopping press, handled inside the spin
        });
        start = Now();
        cpuStart = ProcessCpuSeconds();
        setsStart = label->sets;
        changesStart = label->changes;
        paintsStart = paints.paints;
        button->click();  // the starting press: returns when the spin is over
        if (Spinning || end == 0) {
            std::fprintf(stderr, "bench_spin: the spin did not stop\n");
            QCoreApplication::exit(1);
            return;
        }
        const double seconds = end - start;
        std::printf("figure spin_cadence_%s %.1f steps_per_s\n", tag.c_str(), static_cast<double>(sets) / seconds);
        std::printf("figure spin_label_changes_%s %.1f per_s\n", tag.c_str(), static_cast<double>(changes) / seconds);
        std::printf("figure spin_label_paints_%s %.1f per_s\n", tag.c_str(), static_cast<double>(painted) / seconds);
        std::printf("figure spin_cpu_%s %.1f percent_of_core\n", tag.c_str(), 100.0 * (cpuEnd - cpuStart) / seconds);
        std::fflush(stdout);
        rc = 0;
        QCoreApplication::exit(0);
    });
    desktop.run(form1.window());
    return rc;
}
