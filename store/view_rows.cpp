#include "store/view_rows.h"

#include <algorithm>
#include <numeric>

#include "common/text.h"

namespace {

bool SortsBefore(const ViewRow& a, const ViewRow& b, SortKey key) {
    const bool before = key.field == ViewField::C ? a.c < b.c : a.xm < b.xm;
    const bool after = key.field == ViewField::C ? b.c < a.c : b.xm < a.xm;
    return key.descending ? after : before;
}

}  // namespace

ViewField FieldNamed(std::string_view field) {
    if (field == "xm") return ViewField::Xm;
    if (field == "c") return ViewField::C;
    throw Error(u"名单里没有这个字段：" + Utf8ToUtf16(field));
}

SortKey ParseSortExpression(std::u16string_view expression) {
    const std::u16string text = TrimBlanks(expression);
    SortKey key;
    if (text.empty()) return key;
    const std::size_t blank = text.find(u' ');
    const std::u16string name = AsciiLowerCase(text.substr(0, blank));
    const std::u16string direction =
        blank == std::u16string::npos ? u"asc" : AsciiLowerCase(TrimBlanks(std::u16string_view(text).substr(blank)));
    if (name == u"xm") {
        key.field = ViewField::Xm;
    } else if (name == u"c") {
        key.field = ViewField::C;
    } else {
        throw Error(u"无法按“" + text + u"”排序");
    }
    if (direction == u"desc") {
        key.descending = true;
    } else if (direction != u"asc") {
        throw Error(u"无法按“" + text + u"”排序");
    }
    return key;
}

std::optional<std::size_t> FindInOrder(const std::vector<ViewRow>& rows, const std::vector<std::uint32_t>& order,
                                       ViewField field, std::u16string_view value) {
    for (std::size_t i = 0; i < order.size(); ++i) {
        const ViewRow& row = rows[order[i]];
        if (field == ViewField::Xm ? TrimControl(row.xm) == value : ToU16(row.c) == value) return i;
    }
    return std::nullopt;
}

void SortRows(const std::vector<ViewRow>& rows, SortKey key, std::mt19937& shuffle, std::vector<std::uint32_t>& order) {
    order.resize(rows.size());
    std::iota(order.begin(), order.end(), 0u);
    if (key.field == ViewField::None) return;
    std::shuffle(order.begin(), order.end(), shuffle);
    if (key.field == ViewField::C) {
        // The count and the row's place in the shuffled order, in one
        // integer: sorting these gives the same order as a stable sort of
        // the shuffled rows by count, on keys that lie side by side in
        // memory instead of behind an index into the rows.
        std::vector<std::uint64_t> keys(order.size());
        for (std::size_t i = 0; i < order.size(); ++i) {
            std::uint32_t count = static_cast<std::uint32_t>(rows[order[i]].c) ^ 0x80000000u;
            if (key.descending) count = ~count;
            keys[i] = (static_cast<std::uint64_t>(count) << 32) | static_cast<std::uint32_t>(i);
        }
        std::sort(keys.begin(), keys.end());
        const std::vector<std::uint32_t> shuffled(order);
        for (std::size_t i = 0; i < keys.size(); ++i) order[i] = shuffled[static_cast<std::uint32_t>(keys[i])];
    } else {
        std::stable_sort(order.begin(), order.end(),
                         [&](std::uint32_t a, std::uint32_t b) { return SortsBefore(rows[a], rows[b], key); });
    }
}

std::size_t ResortRow(const std::vector<ViewRow>& rows, SortKey key, std::mt19937& shuffle,
                      std::vector<std::uint32_t>& order, std::size_t position) {
    if (key.field == ViewField::None) return position;
    const std::uint32_t index = order[position];
    order.erase(order.begin() + static_cast<std::ptrdiff_t>(position));
    const auto before = [&](std::uint32_t a, std::uint32_t b) { return SortsBefore(rows[a], rows[b], key); };
    const auto low = std::lower_bound(order.begin(), order.end(), index, before);
    const auto high = std::upper_bound(low, order.end(), index, before);
    const auto span = static_cast<int>(high - low);
    const int offset = span == 0 ? 0 : std::uniform_int_distribution<int>(0, span)(shuffle);
    const auto at = order.insert(low + offset, index);
    return static_cast<std::size_t>(at - order.begin());
}
