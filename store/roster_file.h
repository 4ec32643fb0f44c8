#pragma once
// Roster text files: one name per line, no header, no other columns.

#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

using LegacyDecoder = std::u16string (*)(std::string_view bytes);

// A byte-order mark (UTF-8, UTF-16 LE or BE) decides the encoding and is
// dropped; otherwise text that is UTF-8 as a whole, or but for a few stray
// bytes (at least four bytes of multi-byte UTF-8 to each stray one), is read
// as UTF-8, and any other text in the legacy code page. Invalid bytes become
// U+FFFD.
std::u16string DecodeRosterText(std::string_view bytes, LegacyDecoder legacy);

// The names, one a line. A line ends at LF or CR LF; a lone CR is dropped.
// U+001A ends the text at the start of a line and ends the name inside one.
// A last line without a line end counts; a final line end adds no empty name.
std::vector<std::u16string> SplitRosterLines(std::u16string_view text);

struct Roster {
    std::filesystem::path file;
    std::vector<std::u16string> names;
};

// Whether a file without a single name is a roster: not where it would
// replace the roster the user has, but where there is none yet.
enum class EmptyRoster { Refused, Taken };

// The roster in the bytes of file, decoded as DecodeRosterText says. Throws
// Error, with a message that names the file (and the line, where there is one),
// when the bytes are no roster: a file that is plainly not text (it holds a
// NUL, other than as padding after the end of the text), a name longer than
// the store takes, or (when refused) no name at all. Other control characters
// stay in the names as read. A name that is too long is never held whole,
// however long its line.
Roster ParseRosterFile(const std::filesystem::path& file, std::string_view bytes, LegacyDecoder legacy,
                       EmptyRoster empty = EmptyRoster::Refused);

// Reads a roster file and parses it in the system's code page. Throws Error
// with a message that names the file when it is missing, not a plain file,
// unreadable, or no roster (above).
Roster ReadRosterFile(const std::filesystem::path& file, EmptyRoster empty = EmptyRoster::Refused);
