#include "common/text.h"

namespace {

void AppendCodePoint(std::u16string& out, char32_t cp) {
    if (cp < 0x10000) {
        out.push_back(static_cast<char16_t>(cp));
    } else {
        cp -= 0x10000;
        out.push_back(static_cast<char16_t>(0xD800 + (cp >> 10)));
        out.push_back(static_cast<char16_t>(0xDC00 + (cp & 0x3FF)));
    }
}

// Decodes one UTF-8 sequence at text[i]; returns its length, or 0 when it is invalid.
std::size_t DecodeUtf8(std::string_view text, std::size_t i, char32_t& cp) {
    const auto byte = [&](std::size_t k) { return static_cast<unsigned char>(text[k]); };
    const unsigned char b0 = byte(i);
    if (b0 < 0x80) {
        cp = b0;
        return 1;
    }
    std::size_t length;
    char32_t min;
    if (b0 >= 0xC2 && b0 <= 0xDF) {
        length = 2, cp = b0 & 0x1F, min = 0x80;
    } else if (b0 >= 0xE0 && b0 <= 0xEF) {
        length = 3, cp = b0 & 0x0F, min = 0x800;
    } else if (b0 >= 0xF0 && b0 <= 0xF4) {
        length = 4, cp = b0 & 0x07, min = 0x10000;
    } else {
        return 0;
    }
    if (i + length > text.size()) return 0;
    for (std::size_t k = 1; k < length; ++k) {
        const unsigned char b = byte(i + k);
        if ((b & 0xC0) != 0x80) return 0;
        cp = (cp << 6) | (b & 0x3F);
    }
    if (cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return 0;
    return length;
}

// How many UTF-16 units well-formed UTF-8 makes: one a character, two for
// one beyond the first plane. Of stray bytes it is only a fair guess.
std::size_t Utf16Length(std::string_view text) {
    std::size_t units = 0;
    for (const char byte : text) {
        const auto value = static_cast<unsigned char>(byte);
        units += static_cast<std::size_t>((value & 0xC0) != 0x80) + static_cast<std::size_t>(value >= 0xF0);
    }
    return units;
}

template <typename Trimmed>
std::u16string TrimEnds(std::u16string_view text, Trimmed trimmed) {
    std::size_t begin = 0;
    std::size_t end = text.size();
    while (begin < end && trimmed(text[begin])) ++begin;
    while (end > begin && trimmed(text[end - 1])) --end;
    return std::u16string(text.substr(begin, end - begin));
}

}  // namespace

std::u16string TrimControl(std::u16string_view text) {
    return TrimEnds(text, [](char16_t unit) { return unit <= u' '; });
}

std::u16string TrimBlanks(std::u16string_view text) {
    return TrimEnds(text, [](char16_t unit) { return unit == u' ' || unit == u'\t'; });
}

std::u16string Utf8ToUtf16(std::string_view text) {
    // Room for what it makes: a name of two to four Chinese characters then
    // stays within the string itself instead of taking memory of its own.
    std::u16string out;
    out.reserve(Utf16Length(text));
    for (std::size_t i = 0; i < text.size();) {
        char32_t cp;
        const std::size_t length = DecodeUtf8(text, i, cp);
        if (length == 0) {
            out.push_back(kReplacementCharacter);
            ++i;
        } else {
            AppendCodePoint(out, cp);
            i += length;
        }
    }
    return out;
}

std::string Utf16ToUtf8(std::u16string_view text) {
    std::string out;
    Utf16ToUtf8(text, out);
    return out;
}

void Utf16ToUtf8(std::u16string_view text, std::string& out) {
    out.clear();
    out.reserve(text.size() * 3);
    for (std::size_t i = 0; i < text.size(); ++i) {
        char32_t cp = text[i];
        if (cp >= 0xD800 && cp <= 0xDBFF && i + 1 < text.size() && text[i + 1] >= 0xDC00 &&
            text[i + 1] <= 0xDFFF) {
            cp = 0x10000 + ((cp - 0xD800) << 10) + (text[i + 1] - 0xDC00);
            ++i;
        } else if (cp >= 0xD800 && cp <= 0xDFFF) {
            cp = kReplacementCharacter;
        }
        if (cp < 0x80) {
            out.push_back(static_cast<char>(cp));
        } else if (cp < 0x800) {
            out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
            out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
        } else if (cp < 0x10000) {
            out.push_back(static_cast<char>(0xE0 | (cp >> 12)));
            out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
        } else {
            out.push_back(static_cast<char>(0xF0 | (cp >> 18)));
            out.push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
        }
    }
}

bool IsValidUtf8(std::string_view bytes) {
    for (std::size_t i = 0; i < bytes.size();) {
        char32_t cp;
        const std::size_t length = DecodeUtf8(bytes, i, cp);
        if (length == 0) return false;
        i += length;
    }
    return true;
}

Utf8Reading ReadAsUtf8(std::string_view bytes) {
    Utf8Reading reading;
    for (std::size_t i = 0; i < bytes.size();) {
        char32_t cp;
        const std::size_t length = DecodeUtf8(bytes, i, cp);
        if (length == 0) {
            ++reading.stray;
            ++i;
        } else {
            if (length > 1) reading.multiByte += length;
            i += length;
        }
    }
    return reading;
}

std::u16string AsciiLowerCase(std::u16string_view text) {
    std::u16string out(text);
    for (char16_t& ch : out) {
        if (ch >= u'A' && ch <= u'Z') ch = static_cast<char16_t>(ch + 32);
    }
    return out;
}

std::u16string ToU16(int value) {
    const std::string digits = std::to_string(value);
    return std::u16string(digits.begin(), digits.end());
}
