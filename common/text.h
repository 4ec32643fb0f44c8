#pragma once
// UTF-16 text helpers, and the program's own error type (common/error.h).

#include <string>
#include <string_view>

#include "common/error.h"

// What stands in the text for bytes or units that are no text.
inline constexpr char16_t kReplacementCharacter = 0xFFFD;

// Every character up to U+0020 (blanks and control characters) removed from
// both ends; other spaces, such as U+3000, stay.
std::u16string TrimControl(std::u16string_view text);
// Blanks and tabs removed from both ends.
std::u16string TrimBlanks(std::u16string_view text);
// The letters A to Z in lower case, every other character as it is: for
// keywords, not for names (kernel::LowerCase is for those).
std::u16string AsciiLowerCase(std::u16string_view text);

// Strict UTF-8 to UTF-16; invalid sequences become U+FFFD.
std::u16string Utf8ToUtf16(std::string_view text);
// UTF-16 to UTF-8; unpaired surrogates become U+FFFD.
std::string Utf16ToUtf8(std::u16string_view text);
// The same into out, whose room is kept for the next text.
void Utf16ToUtf8(std::u16string_view text, std::string& out);

// True when bytes are UTF-8 as a whole (no overlong forms, no surrogates,
// nothing above U+10FFFF).
bool IsValidUtf8(std::string_view bytes);

// How bytes read as UTF-8: how many stand in well-formed sequences of more
// than one byte, and how many in none (each of them a U+FFFD in Utf8ToUtf16).
struct Utf8Reading {
    std::size_t multiByte = 0;
    std::size_t stray = 0;
};
Utf8Reading ReadAsUtf8(std::string_view bytes);

std::u16string ToU16(int value);
