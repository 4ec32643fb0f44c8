#pragma once

#include <string>
#include <string_view>

// The parts of a connection string the store understands.
struct ConnectionString {
    std::u16string dataSource;
    std::u16string password;
};

// Parses "Key=Value;Key=Value". Keys are matched without case and without the
// blanks around them; a key given twice keeps its last value. A value is
// taken without the blanks around it, up to the next ";", unless it stands in
// double or single quotes: then it is what stands between them, ";" and
// blanks included, and a quote doubled inside stands for one.
ConnectionString ParseConnectionString(std::u16string_view text);

// value as it is written into a connection string, so that ParseConnectionString
// gives it back whole: as it stands where it would be read back unchanged,
// else in double quotes with each double quote inside doubled.
std::u16string ConnectionStringValue(std::u16string_view value);
