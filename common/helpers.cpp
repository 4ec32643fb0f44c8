#include "common/helpers.h"

#include <chrono>
#include <cmath>
#include <cstdio>
#include <random>

#include "common/application.h"
#include "platform/platform.h"

std::u16string SecondsToHMS(int seconds) {
    char buffer[32];
    std::snprintf(buffer, sizeof buffer, "%02d:%02d:%02d", seconds / 3600, (seconds % 3600) / 60,
                  seconds % 60);
    return std::u16string(buffer, buffer + std::char_traits<char>::length(buffer));
}

int ScaledPixels(int pixels, double scale) { return static_cast<int>(std::lround(pixels * scale)); }

bool OpenInShell(const std::u16string& target, const std::u16string& parameters, int showCommand) {
    const std::size_t cut = target.find_last_of(u"\\:");
    const std::u16string directory = cut == std::u16string::npos ? std::u16string() : target.substr(0, cut + 1);
    try {
        return Desktop().shellOpen(target, parameters, directory, showCommand);
    } catch (...) {
        return false;
    }
}

namespace {
std::mt19937& Generator() {
    static std::mt19937 generator;
    return generator;
}
}  // namespace

void Randomize() {
    Generator().seed(static_cast<std::mt19937::result_type>(
        std::chrono::system_clock::now().time_since_epoch().count()));
}

int Random(int range) {
    if (range <= 1) return 0;
    return std::uniform_int_distribution<int>(0, range - 1)(Generator());
}
