#pragma once
// The statements a view runs on its table, each prepared once.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "common/error.h"
#include "store/sqlite.h"
#include "store/view_rows.h"

class TADOConnection;

// The longest name the store takes, in UTF-16 code units.
inline constexpr std::size_t kStoreNameLimit = 20;
// Why a name of length units (beginning with start) is refused: its first
// units, its length and the limit.
Error NameTooLong(std::u16string_view start, std::size_t length);

// A statement given line by line, as one text.
std::u16string JoinSqlLines(const std::vector<std::u16string>& lines);

class RosterTable {
public:
    // "<table>" out of "select * from <table>", the one query a view runs;
    // throws Error for any other statement or a name that is no plain name.
    static std::u16string NameInSelect(std::u16string_view sql);

    // table: a plain name (NameInSelect).
    RosterTable(TADOConnection& connection, std::u16string table);

    // Every row, in the table's own order, into rows (what they held before
    // goes; their room is used). Throws Error when the table has no xm or no
    // c column.
    void ReadAll(std::vector<ViewRow>& rows);
    // The count the file holds for the row; none when the row has gone.
    std::optional<std::int32_t> ReadCount(std::int64_t rowid);
    // Sets c of the row; throws Error (RowGone) when it has gone from the file.
    void SetCount(const ViewRow& row, std::int32_t value);
    // Sets c of the rows from first to last (one row where they are equal);
    // the number of rows changed.
    int SetCounts(std::int64_t first, std::int64_t last, std::int32_t value);
    // Appends a row; its rowid.
    std::int64_t Insert(const std::u16string& xm, std::int32_t c);

private:
    TADOConnection& connection_;
    std::u16string table_;
    StatementHandle insert_;
    StatementHandle update_;
    StatementHandle updateRun_;
    StatementHandle reread_;
    std::string utf8_;  // the name being inserted
};
