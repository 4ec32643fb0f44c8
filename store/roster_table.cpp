#include "store/roster_table.h"

#include <sqlite3.h>

#include <algorithm>

#include "common/text.h"
#include "store/connection.h"

namespace {

std::u16string Column16(sqlite3_stmt* statement, int column) {
    // Text that is well-formed UTF-8 (all a store of this program holds)
    // reads the same either way, and faster here than through SQLite's
    // conversion; SQLite reads anything else its own way, as it always has.
    const auto* utf8 = reinterpret_cast<const char*>(sqlite3_column_text(statement, column));
    const std::string_view bytes(utf8 == nullptr ? "" : utf8,
                                 static_cast<std::size_t>(sqlite3_column_bytes(statement, column)));
    if (utf8 != nullptr && IsValidUtf8(bytes)) return Utf8ToUtf16(bytes);
    const auto* text = static_cast<const char16_t*>(sqlite3_column_text16(statement, column));
    if (text == nullptr) return {};
    return std::u16string(text, static_cast<std::size_t>(sqlite3_column_bytes16(statement, column)) / 2);
}

}  // namespace

std::u16string RosterTable::NameInSelect(std::u16string_view sql) {
    const std::u16string text = TrimBlanks(sql);
    const std::u16string prefix = u"select * from ";
    if (AsciiLowerCase(text).rfind(prefix, 0) != 0) {
        throw Error(u"名单视图只能运行“select * from 表名”：" + text);
    }
    std::u16string table = TrimBlanks(std::u16string_view(text).substr(prefix.size()));
    if (table.empty() || !std::all_of(table.begin(), table.end(), [](char16_t ch) {
            return (ch >= u'a' && ch <= u'z') || (ch >= u'A' && ch <= u'Z') ||
                   (ch >= u'0' && ch <= u'9') || ch == u'_';
        })) {
        throw Error(u"名单视图的表名无效：" + table);
    }
    return table;
}

Error NameTooLong(std::u16string_view start, std::size_t length) {
    return Error(ErrorKind::NameTooLong, {start.substr(0, kStoreNameLimit),
                                          ToU16(static_cast<int>(std::min<std::size_t>(length, 0x7FFFFFFF))),
                                          ToU16(static_cast<int>(kStoreNameLimit))});
}

std::u16string JoinSqlLines(const std::vector<std::u16string>& lines) {
    std::u16string text;
    for (const std::u16string& line : lines) {
        if (!text.empty()) text += u"\r\n";
        text += line;
    }
    return text;
}

RosterTable::RosterTable(TADOConnection& connection, std::u16string table)
    : connection_(connection), table_(std::move(table)) {}

void RosterTable::ReadAll(std::vector<ViewRow>& rows) {
    sqlite3* db = connection_.RequireOpen();
    const StatementHandle select = Prepare(db, u"select rowid, * from " + table_);
    sqlite3_stmt* statement = select.get();
    int xm = -1;
    int c = -1;
    for (int i = 1; i < sqlite3_column_count(statement); ++i) {
        const std::u16string name = AsciiLowerCase(Utf8ToUtf16(sqlite3_column_name(statement, i)));
        if (name == u"xm" && xm < 0) xm = i;
        if (name == u"c" && c < 0) c = i;
    }
    if (xm < 0 || c < 0) throw Error(u"名单库的表“" + table_ + u"”缺少 xm 或 c 列");
    rows.clear();
    // Room for every row at once (SQLite counts them without reading them):
    // growing the rows as they come would move each of them again and again.
    const StatementHandle count = Prepare(db, u"select count(*) from " + table_);
    if (sqlite3_step(count.get()) == SQLITE_ROW) rows.reserve(static_cast<std::size_t>(sqlite3_column_int64(count.get(), 0)));
    int rc;
    while ((rc = sqlite3_step(statement)) == SQLITE_ROW) {
        rows.push_back(ViewRow{sqlite3_column_int64(statement, 0), Column16(statement, xm),
                               sqlite3_column_int(statement, c)});
    }
    if (rc != SQLITE_DONE) ThrowSqlite(db, u"读取名单库失败");
}

std::optional<std::int32_t> RosterTable::ReadCount(std::int64_t rowid) {
    sqlite3* db = connection_.RequireOpen();
    sqlite3_stmt* reread =
        PrepareOnce(reread_, db, [this] { return u"select c from " + table_ + u" where rowid = ?"; });
    sqlite3_bind_int64(reread, 1, rowid);
    const int rc = sqlite3_step(reread);
    std::optional<std::int32_t> count;
    if (rc == SQLITE_ROW) count = sqlite3_column_int(reread, 0);
    sqlite3_reset(reread);
    if (rc != SQLITE_ROW && rc != SQLITE_DONE) ThrowSqlite(db, u"读取名单库失败");
    return count;
}

void RosterTable::SetCount(const ViewRow& row, std::int32_t value) {
    if (SetCounts(row.rowid, row.rowid, value) != 1) throw Error(ErrorKind::RowGone, {row.xm});
}

int RosterTable::SetCounts(std::int64_t first, std::int64_t last, std::int32_t value) {
    sqlite3* db = connection_.RequireOpen();
    if (first == last) {
        sqlite3_stmt* update =
            PrepareOnce(update_, db, [this] { return u"update " + table_ + u" set c = ? where rowid = ?"; });
        sqlite3_bind_int(update, 1, value);
        sqlite3_bind_int64(update, 2, first);
        Step(db, update);
    } else {
        // The rows of a run are exactly the rowids from first to last: one
        // statement changes the same rows as one statement per row would.
        sqlite3_stmt* update = PrepareOnce(
            updateRun_, db, [this] { return u"update " + table_ + u" set c = ? where rowid between ? and ?"; });
        sqlite3_bind_int(update, 1, value);
        sqlite3_bind_int64(update, 2, first);
        sqlite3_bind_int64(update, 3, last);
        Step(db, update);
    }
    // sqlite3_changes, not its 64-bit twin: the portable program is built
    // against Debian 11's SQLite 3.34, and a run is never 2^31 rows long.
    return sqlite3_changes(db);
}

std::int64_t RosterTable::Insert(const std::u16string& xm, std::int32_t c) {
    sqlite3* db = connection_.RequireOpen();
    sqlite3_stmt* insert = PrepareOnce(insert_, db, [this] { return u"insert into " + table_ + u" values (?, ?)"; });
    // The file's own encoding, made here in room that is kept: SQLite would
    // copy the name, then convert it, each time in memory of its own. (A
    // name never holds a lone surrogate, the one thing the two would convert
    // differently: the roster reader has replaced them.)
    Utf16ToUtf8(xm, utf8_);
    sqlite3_bind_text(insert, 1, utf8_.data(), static_cast<int>(utf8_.size()), SQLITE_STATIC);
    sqlite3_bind_int(insert, 2, c);
    Step(db, insert);
    return sqlite3_last_insert_rowid(db);
}
