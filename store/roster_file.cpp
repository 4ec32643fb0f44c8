#include "store/roster_file.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fstream>

#include "common/text.h"
#include "platform/kernel.h"
#include "store/query.h"

namespace {

constexpr char16_t kEndOfText = 0x1A;
// Text of a legacy code page holds bytes that happen to form UTF-8 only here
// and there, and many more that form none; UTF-8 text with a name typed on
// another machine holds a stray byte or two among many good ones.
constexpr std::size_t kUtf8BytesPerStrayByte = 4;

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
    if (bytes.size() % 2 != 0) units.push_back(kReplacementCharacter);
    // Surrogates that do not pair up are not text.
    for (std::size_t i = 0; i < units.size(); ++i) {
        const char16_t unit = units[i];
        if (unit >= 0xD800 && unit <= 0xDBFF && i + 1 < units.size() && units[i + 1] >= 0xDC00 &&
            units[i + 1] <= 0xDFFF) {
            ++i;
        } else if (unit >= 0xD800 && unit <= 0xDFFF) {
            units[i] = kReplacementCharacter;
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
    const Utf8Reading reading = ReadAsUtf8(bytes);
    if (reading.multiByte >= kUtf8BytesPerStrayByte * reading.stray) return Utf8ToUtf16(bytes);
    return legacy(bytes);
}

namespace {

// Walks the names of text by the line rules, calling onName(name, length) for
// each: name holds at most the first keep units of it, length is its whole length.
template <typename OnName>
void ForEachRosterName(std::u16string_view text, std::size_t keep, OnName&& onName) {
    // A name is made once its line ends, in room of its size: most lines
    // hold no lone CR, and their name is the line itself.
    std::u16string name;
    std::size_t start = 0;   // of the part of the line not yet in name
    std::size_t length = 0;  // of the name so far, what was dropped included
    bool lineOpen = false;   // something of the current line has been read
    const auto take = [&](std::size_t end) {
        const std::size_t part = end - start;
        if (length < keep) name.append(text.substr(start, std::min(part, keep - length)));
        length += part;
    };
    const auto endName = [&](std::size_t end) {
        take(end);
        onName(std::move(name), length);
        name = std::u16string();
        length = 0;
        lineOpen = false;
    };
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char16_t unit = text[i];
        if (unit == u'\n') {
            endName(i);
            start = i + 1;
        } else if (unit == u'\r') {
            if (i + 1 < text.size() && text[i + 1] == u'\n') {
                endName(i);
                ++i;
            } else {
                take(i);  // a lone CR is dropped and ends nothing
                lineOpen = true;
            }
            start = i + 1;
        } else if (unit == kEndOfText) {
            if (!lineOpen) return;
            // The name ends here; the rest of its line is skipped.
            endName(i);
            const std::size_t lineEnd = text.find(u'\n', i);
            if (lineEnd == std::u16string_view::npos) return;
            i = lineEnd;
            start = i + 1;
        } else {
            lineOpen = true;
        }
    }
    if (lineOpen) endName(text.size());
}

// Where the text ends: at 0x1A standing at the start of a line; the size of
// the text when there is none.
std::size_t EndOfText(std::u16string_view text) {
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == kEndOfText && (i == 0 || text[i - 1] == u'\n')) return i;
    }
    return text.size();
}

// The first NUL of a file that is plainly not text, or npos. No text file
// holds a NUL, and nearly every binary one does within its first bytes (a
// picture, a document, an archive). After the end of the text, 0x1A and NUL
// are padding (old DOS files are padded out to a whole record); anything else
// there is read by nobody and says nothing.
std::size_t FirstNulOfBinary(std::u16string_view text) {
    const std::size_t end = EndOfText(text);
    const std::size_t nul = text.find(u'\0');
    if (nul == std::u16string_view::npos || nul < end) return nul;
    const std::u16string_view tail = text.substr(end);
    const bool padding = tail.find_first_not_of(std::u16string_view(u"\x1A\0", 2)) == std::u16string_view::npos;
    return padding ? std::u16string_view::npos : nul;
}

}  // namespace

std::vector<std::u16string> SplitRosterLines(std::u16string_view text) {
    std::vector<std::u16string> names;
    ForEachRosterName(text, std::u16string_view::npos,
                      [&](std::u16string&& name, std::size_t) { names.push_back(std::move(name)); });
    return names;
}

Roster ParseRosterFile(const std::filesystem::path& file, std::string_view bytes, LegacyDecoder legacy,
                       EmptyRoster empty) {
    const std::u16string where = u"名单文件“" + file.u16string() + u"”";
    const std::u16string text = DecodeRosterText(bytes, legacy);

    // A picture or a document picked by mistake would otherwise put garbage
    // on the wheel. Other control characters are no such sign: a form feed
    // left in a name by a word processor is read as it stands.
    const std::size_t nul = FirstNulOfBinary(text);
    if (nul != std::u16string::npos) {
        const int line = 1 + static_cast<int>(std::count(text.begin(), text.begin() + static_cast<std::ptrdiff_t>(nul), u'\n'));
        throw Error(ErrorKind::NotText, {where, ToU16(line)});
    }

    Roster roster{file, {}};
    // Room for a name a line, taken at once rather than as the names come.
    roster.names.reserve(static_cast<std::size_t>(std::count(text.begin(), text.end(), u'\n')) + 1);
    ForEachRosterName(text, TADOQuery::kNameLimit + 1, [&](std::u16string&& name, std::size_t length) {
        if (length > TADOQuery::kNameLimit) {
            throw Error::Within(where + u"第 " + ToU16(static_cast<int>(roster.names.size() + 1)) + u" 行：",
                                NameTooLong(name, length));
        }
        roster.names.push_back(std::move(name));
    });
    if (roster.names.empty() && empty == EmptyRoster::Refused) throw Error(ErrorKind::NoNames, {where});
    return roster;
}

Roster ReadRosterFile(const std::filesystem::path& file, EmptyRoster empty) {
    const std::u16string quoted = u"“" + file.u16string() + u"”";
    std::error_code ec;
    const auto status = std::filesystem::status(file, ec);
    if (!std::filesystem::exists(status)) throw Error(ErrorKind::NoRosterFile, {quoted});
    // Opening a pipe or a device would wait for a writer that never comes.
    if (!std::filesystem::is_regular_file(status)) throw Error(ErrorKind::RosterNotAFile, {quoted});

    std::ifstream in(file, std::ios::binary);
    if (!in) throw Error(u"读不出名单文件" + quoted + u"：" + Utf8ToUtf16(std::strerror(errno)));
    // Room for the whole file at once: a string grown as it is read would take
    // up to twice the file's size, and copy it on the way.
    std::string bytes;
    const auto size = std::filesystem::file_size(file, ec);
    if (!ec) bytes.reserve(static_cast<std::size_t>(size));
    char chunk[1 << 16];
    while (in.read(chunk, sizeof chunk) || in.gcount() > 0) bytes.append(chunk, static_cast<std::size_t>(in.gcount()));
    if (in.bad()) throw Error(u"读不出名单文件" + quoted + u"：" + Utf8ToUtf16(std::strerror(errno)));
    return ParseRosterFile(file, bytes, kernel::DecodeSystemCodePage, empty);
}
