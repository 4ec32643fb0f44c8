#pragma once
// The rows a view of the roster table holds, and the order it shows them in.

#include <cstdint>
#include <optional>
#include <random>
#include <string>
#include <string_view>
#include <vector>

struct ViewRow {
    std::int64_t rowid;
    std::u16string xm;
    std::int32_t c;
};

enum class ViewField { None = -1, Xm = 0, C = 1 };

// The field of "xm" or "c"; throws Error for any other name.
ViewField FieldNamed(std::string_view field);

// A sort expression: "" for the table's own order, or "<field> ASC" /
// "<field> DESC".
struct SortKey {
    ViewField field = ViewField::None;
    bool descending = false;
};
// Throws Error for an expression that is none of those.
SortKey ParseSortExpression(std::u16string_view text);

// The first place in order whose row's field, as text (a name trimmed of
// blanks and control characters at both ends), equals value.
std::optional<std::size_t> FindInOrder(const std::vector<ViewRow>& rows, const std::vector<std::uint32_t>& order,
                                       ViewField field, std::u16string_view value);

// The rows in the order key gives, as indices into rows. Rows that tie come
// in a fresh random order every time, so no name is favoured for standing
// early in the file.
void SortRows(const std::vector<ViewRow>& rows, SortKey key, std::mt19937& shuffle, std::vector<std::uint32_t>& order);
// Moves the row at position of order to its place after its value changed,
// at a random place among the rows it now ties with; its new position.
std::size_t ResortRow(const std::vector<ViewRow>& rows, SortKey key, std::mt19937& shuffle,
                      std::vector<std::uint32_t>& order, std::size_t position);
