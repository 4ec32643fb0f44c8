#pragma once

#include <string>
#include <string_view>

// The parts of a connection string the store understands.
struct ConnectionString {
    std::u16string dataSource;
    std::u16string password;
};

// Parses "Key=Value;Key=Value". Keys are matched without case and without the
// blanks around them; a key given twice keeps its last value.
ConnectionString ParseConnectionString(std::u16string_view text);
