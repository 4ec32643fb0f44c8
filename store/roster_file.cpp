#include "store/roster_file.h"

#include <cerrno>
#include <cstring>
#include <fstream>
#include <iterator>

#include "common/text.h"
#include "platform/platform.h"

namespace {

constexpr char16_t kReplacement = 0xFFFD;
constexpr char16_t kEndOfText = 0x1A;

bool StartsWith(std::string_view bytes, std::string_view prefix) {
    return bytes.substr(0, prefix.size()) == prefix;
}

std::u16string DecodeUtf16(std::string_view bytes, bool bigEndian) {
    std::u16string units;
    units.reserve(bytes.size() / 2 + 1);
    for (std::size_t i = 0; i + 1 < bytes.size(); i += 2) {
        const auto a = static_cast<unsigned char>(bytes[i]);
        const auto b = static_cast<unsigned char>(bytes[i + 1]);
        units.push_back(static_cast<char16_t>(bigEndian ? (a << 8) | b : (b << 8) | a));
    }
    if (bytes.size() % 2 != 0) units.push_back(kReplacement);
    // Surrogates that do not pair up are not text.
    for (std::size_t i = 0; i < units.size(); ++i) {
        const char16_t unit = units[i];
        if (unit >= 0xD800 && unit <= 0xDBFF && i + 1 < units.size() && units[i + 1] >= 0xDC00 &&
            units[i + 1] <= 0xDFFF) {
            ++i;
        } else if (unit >= 0xD800 && unit <= 0xDFFF) {
            units[i] = kReplacement;
        }
    }
    return units;
}

}  // namespace

std::u16string DecodeRosterText(std::string_view bytes, LegacyDecoder legacy) {
    if (StartsWith(bytes, "\xEF\xBB\xBF")) return Utf8ToUtf16(bytes.substr(3));
    if (StartsWith(bytes, "\xFF\xFE")) return DecodeUtf16(bytes.substr(2), false);
    if (StartsWith(bytes, "\xFE\xFF")) return DecodeUtf16(bytes.substr(2), true);
    if (IsValidUtf8(bytes)) return Utf8ToUtf16(bytes);
    return legacy(bytes);
}

std::vector<std::u16string> SplitRosterLines(std::u16string_view text) {
    std::vector<std::u16string> names;
    std::u16string name;
    bool lineOpen = false;  // something of the current line has been read
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char16_t unit = text[i];
        if (unit == u'\n') {
            names.push_back(std::move(name));
            name.clear();
            lineOpen = false;
        } else if (unit == u'\r') {
            if (i + 1 < text.size() && text[i + 1] == u'\n') {
                names.push_back(std::move(name));
                name.clear();
                lineOpen = false;
                ++i;
            } else {
                lineOpen = true;  // a lone CR is dropped and ends nothing
            }
        } else if (unit == kEndOfText) {
            if (!lineOpen) return names;
            // The name ends here; the rest of its line is skipped.
            names.push_back(std::move(name));
            name.clear();
            lineOpen = false;
            const std::size_t lineEnd = text.find(u'\n', i);
            if (lineEnd == std::u16string_view::npos) return names;
            i = lineEnd;
        } else {
            name.push_back(unit);
            lineOpen = true;
        }
    }
    if (lineOpen) names.push_back(std::move(name));
    return names;
}

Roster ReadRosterFile(const std::filesystem::path& file) {
    const std::u16string quoted = u"“" + file.u16string() + u"”";
    std::error_code ec;
    const auto status = std::filesystem::status(file, ec);
    if (!std::filesystem::exists(status)) throw Error(u"找不到名单文件" + quoted);
    // Opening a pipe or a device would wait for a writer that never comes.
    if (!std::filesystem::is_regular_file(status)) throw Error(quoted + u"不是一个名单文件，而是文件夹或设备");

    std::ifstream in(file, std::ios::binary);
    if (!in) throw Error(u"读不出名单文件" + quoted + u"：" + Utf8ToUtf16(std::strerror(errno)));
    std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (in.bad()) throw Error(u"读不出名单文件" + quoted + u"：" + Utf8ToUtf16(std::strerror(errno)));
    return Roster{file, SplitRosterLines(DecodeRosterText(bytes, platform::DecodeSystemCodePage))};
}
