#include "Unit2/unit2.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <fstream>
#include <iterator>

#include "Unit1/unit1.h"
#include "common/application.h"
#include "common/helpers.h"
#include "common/state.h"
#include "common/text.h"
#include "resources/layout.h"

TForm2::TForm2(platform::Platform& desktop) : desktop_(desktop), window_(desktop.createWindow(layout::kForm2)) {
    Form2 = this;
    window_->onMouseDown([this](platform::MouseButton button, int x, int y) {
        Guarded([&] { FormMouseDown(button, x, y); });
    });
    window_->onClick([this] { Guarded([this] { FormClick(); }); });
    Guarded([this] { FormCreate(); });
}

TForm2::~TForm2() {
    if (Form2 == this) Form2 = nullptr;
}

void TForm2::FormCreate() {
    const int side = ScaledPixels(48, desktop_.layoutScale());
    window_->resize(side, side);
}

// Any button: the posted button-up completes a click (which hides the badge)
// before the move command arrives.
void TForm2::FormMouseDown(platform::MouseButton, int, int) {
    window_->post(platform::PostedMessage::LeftButtonUp);
    window_->post(platform::PostedMessage::SysCommandMove);
}

void TForm2::FormClick() {
    if (Form1 != nullptr) Form1->Show();
    ShownTicks = 0;
    Hide();
}

platform::PremultipliedBitmap Premultiply(const platform::Image& image) {
    platform::PremultipliedBitmap bitmap{image.width, image.height, {}};
    bitmap.pixels.reserve(image.pixels.size());
    for (const std::uint32_t pixel : image.pixels) {
        const std::uint32_t alpha = pixel >> 24;
        const auto channel = [&](int shift) {
            const std::uint32_t value = (pixel >> shift) & 0xFF;
            return ((value * alpha + 127) / 255) << shift;
        };
        bitmap.pixels.push_back((alpha << 24) | channel(16) | channel(8) | channel(0));
    }
    return bitmap;
}

namespace {

// Along one axis: the source pixels one pixel of the result is made of, and
// how much each of them counts.
struct Footprint {
    int first = 0;
    std::vector<double> weights;
};

// A tent as wide as a pixel of the result is in source pixels, and never
// narrower than one: bilinear when enlarging, an average of all the pixels
// covered when shrinking, so that no detail is skipped.
std::vector<Footprint> Footprints(int from, int to) {
    const double step = static_cast<double>(from) / to;
    const double radius = std::max(1.0, step);
    std::vector<Footprint> footprints(static_cast<std::size_t>(to));
    for (int i = 0; i < to; ++i) {
        const double centre = (i + 0.5) * step;
        Footprint& footprint = footprints[static_cast<std::size_t>(i)];
        footprint.first = std::max(0, static_cast<int>(std::floor(centre - radius)));
        const int last = std::min(from - 1, static_cast<int>(std::ceil(centre + radius)));
        double total = 0;
        for (int s = footprint.first; s <= last; ++s) {
            const double weight = std::max(0.0, 1.0 - std::abs(s + 0.5 - centre) / radius);
            footprint.weights.push_back(weight);
            total += weight;
        }
        for (double& weight : footprint.weights) weight /= total;
    }
    return footprints;
}

// Alpha, then red, green and blue premultiplied by it: averaged this way, a
// transparent pixel gives no colour to its neighbours' edge.
using Sample = std::array<double, 4>;

// One pass along rows (stride 1 between neighbours) or columns (stride width).
std::vector<Sample> Filtered(const std::vector<Sample>& source, const std::vector<Footprint>& footprints,
                             int lines, int sourceStride, int sourceLineStep, int resultStride, int resultLineStep) {
    std::vector<Sample> result(footprints.size() * static_cast<std::size_t>(lines));
    for (int line = 0; line < lines; ++line) {
        for (std::size_t i = 0; i < footprints.size(); ++i) {
            const Footprint& footprint = footprints[i];
            Sample sum{};
            for (std::size_t k = 0; k < footprint.weights.size(); ++k) {
                const int at = line * sourceLineStep + (footprint.first + static_cast<int>(k)) * sourceStride;
                const Sample& sample = source[static_cast<std::size_t>(at)];
                for (std::size_t c = 0; c < sum.size(); ++c) sum[c] += sample[c] * footprint.weights[k];
            }
            result[static_cast<std::size_t>(line * resultLineStep + static_cast<int>(i) * resultStride)] = sum;
        }
    }
    return result;
}

std::uint32_t ToByte(double value) { return static_cast<std::uint32_t>(std::lround(std::clamp(value, 0.0, 255.0))); }

}  // namespace

platform::Image Resampled(const platform::Image& image, int width, int height) {
    if (width == image.width && height == image.height) return image;
    if (image.width <= 0 || image.height <= 0 || width <= 0 || height <= 0 ||
        image.pixels.size() != static_cast<std::size_t>(image.width) * static_cast<std::size_t>(image.height)) {
        throw Error(u"图片的大小不对，不能缩放");
    }
    std::vector<Sample> source;
    source.reserve(image.pixels.size());
    for (const std::uint32_t pixel : image.pixels) {
        const double alpha = pixel >> 24;
        source.push_back({alpha, ((pixel >> 16) & 0xFF) * alpha / 255, ((pixel >> 8) & 0xFF) * alpha / 255,
                          (pixel & 0xFF) * alpha / 255});
    }
    const std::vector<Sample> rows =
        Filtered(source, Footprints(image.width, width), image.height, 1, image.width, 1, width);
    const std::vector<Sample> both = Filtered(rows, Footprints(image.height, height), width, width, 1, width, 1);
    platform::Image result{width, height, {}};
    result.pixels.reserve(both.size());
    for (const Sample& sample : both) {
        const std::uint32_t alpha = ToByte(sample[0]);
        std::uint32_t pixel = alpha << 24;
        if (alpha != 0) {
            for (int c = 1; c <= 3; ++c) pixel |= ToByte(sample[c] * 255 / sample[0]) << (8 * (3 - c));
        }
        result.pixels.push_back(pixel);
    }
    return result;
}

void TForm2::YXForm_FromGraphic(TForm2& form, const platform::Image& graphic) {
    const platform::Rect at = form.window().outerRect();
    form.window().setLayeredImage(Premultiply(graphic), at.left, at.top);
}

// On a scaled screen the picture is drawn from its twin made for twice the
// size, brought to the scale: a 96-DPI picture stretched would come out blurred.
void TForm2::YXForm_FromResource(TForm2& form, const std::u16string& resName, const std::u16string& resType,
                                 std::uintptr_t) {
    const double scale = form.desktop_.layoutScale();
    if (scale != 1.0) {
        if (const auto twinBytes = form.desktop_.resource(resName + kTwiceTheSize, resType)) {
            if (const auto twin = form.desktop_.decodeImage(*twinBytes)) {
                YXForm_FromGraphic(form, Resampled(*twin, ScaledPixels(twin->width, scale / 2),
                                                   ScaledPixels(twin->height, scale / 2)));
                return;
            }
        }
    }
    const auto bytes = form.desktop_.resource(resName, resType);
    if (!bytes) throw Error(u"找不到资源 " + resType + u"/" + resName);
    const auto image = form.desktop_.decodeImage(*bytes);
    if (!image) throw Error(u"资源 " + resType + u"/" + resName + u" 不是可以读的图片");
    YXForm_FromGraphic(form, *image);
}

void TForm2::YXForm_FromFile(TForm2& form, const std::filesystem::path& fileName) {
    std::ifstream in(fileName, std::ios::binary);
    if (!in) throw Error(u"打不开图片“" + fileName.u16string() + u"”");
    const std::vector<std::uint8_t> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    const auto image = form.desktop_.decodeImage(bytes);
    if (!image) throw Error(u"“" + fileName.u16string() + u"”不是可以读的图片");
    YXForm_FromGraphic(form, *image);
}
