#include "store/query.h"

#include <sqlite3.h>

#include <algorithm>
#include <chrono>
#include <numeric>

#include "common/text.h"
#include "store/connection.h"
#include "store/transaction.h"

namespace {

constexpr int kXm = 0;
constexpr int kC = 1;

std::u16string Column16(sqlite3_stmt* statement, int column) {
    const auto* text = static_cast<const char16_t*>(sqlite3_column_text16(statement, column));
    if (text == nullptr) return {};
    return std::u16string(text, static_cast<std::size_t>(sqlite3_column_bytes16(statement, column)) / 2);
}

// "<table>" out of "select * from <table>", the one query the view runs.
std::u16string TableOfSelect(std::u16string_view sql) {
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

}  // namespace

TADOQuery::TADOQuery(TADOConnection& connection)
    : connection_(connection),
      shuffle_(static_cast<std::mt19937::result_type>(
          std::chrono::steady_clock::now().time_since_epoch().count())) {
    connection_.queries_.push_back(this);
}

TADOQuery::~TADOQuery() {
    Close();
    std::erase(connection_.queries_, this);
}

std::u16string TADOQuery::SqlText() const {
    std::u16string text;
    for (const std::u16string& line : SQL) {
        if (!text.empty()) text += u"\r\n";
        text += line;
    }
    return text;
}

void TADOQuery::ExecSQL() {
    sqlite3* db = connection_.RequireOpen();
    WriteHeldPosts();
    const std::u16string sql = SqlText();
    const StatementHandle statement = Prepare(db, sql);
    if (const int rc = sqlite3_step(statement.get()); rc != SQLITE_DONE && rc != SQLITE_ROW) {
        ThrowSqlite(db, u"名单库出错");
    }
}

void TADOQuery::Open() {
    Close();
    connection_.RequireOpen();
    try {
        table_ = TableOfSelect(SqlText());
        Load();
    } catch (const Error& error) {
        throw Error(u"打不开名单库“" + connection_.Path().u16string() + u"”：" + error.message());
    }
    state_ = DataSetState::Browse;
    openFailure_.clear();
    ApplySort();
}

void TADOQuery::Load() {
    sqlite3* db = connection_.RequireOpen();
    WriteHeldPosts();
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
    std::vector<Row> rows;
    int rc;
    while ((rc = sqlite3_step(statement)) == SQLITE_ROW) {
        rows.push_back(Row{sqlite3_column_int64(statement, 0), Column16(statement, xm),
                           sqlite3_column_int(statement, c)});
    }
    if (rc != SQLITE_DONE) ThrowSqlite(db, u"读取名单库失败");
    rows_ = std::move(rows);
    undoing_ = false;
    undo_.clear();
}

void TADOQuery::Close() {
    if (state_ == DataSetState::Edit) Cancel();
    // Held posts belong to the connection's transaction: a query closed on
    // its own writes them first. Where that fails the transaction cannot be
    // committed whole, so none of it is, and its commit reports the error.
    if (holding_ && connection_.Connected()) {
        try {
            WriteHeldPosts();
        } catch (const std::exception&) {
            connection_.RollbackTrans();
        }
    }
    DropHeldPosts();
    undoing_ = false;
    undo_.clear();
    for (StatementHandle* statement : {&insert_, &update_, &updateRun_, &reread_}) statement->reset();
    state_ = DataSetState::Inactive;
    rows_.clear();
    rows_.shrink_to_fit();
    order_.clear();
    order_.shrink_to_fit();
    position_ = 0;
}

void TADOQuery::Requery() {
    RequireActive();
    if (state_ == DataSetState::Edit) Cancel();
    Load();
    ApplySort();
}

void TADOQuery::RequireActive() const {
    if (state_ != DataSetState::Inactive) return;
    if (!openFailure_.empty()) throw Error(openFailure_);
    throw Error(u"名单没有打开");
}

void TADOQuery::RequireRow() const {
    RequireActive();
    if (position_ >= order_.size()) throw Error(u"名单里没有当前行");
}

TADOQuery::Row& TADOQuery::CurrentRow() {
    RequireRow();
    return rows_[order_[position_]];
}

const TADOQuery::Row& TADOQuery::CurrentRow() const {
    RequireRow();
    return rows_[order_[position_]];
}

int TADOQuery::FieldIndex(std::string_view field) const {
    if (field == "xm") return kXm;
    if (field == "c") return kC;
    throw Error(u"名单里没有这个字段：" + Utf8ToUtf16(field));
}

void TADOQuery::SetSort(std::u16string_view expression) {
    const std::u16string text = TrimBlanks(expression);
    int field = -1;
    bool descending = false;
    if (!text.empty()) {
        const std::size_t blank = text.find(u' ');
        const std::u16string name = AsciiLowerCase(text.substr(0, blank));
        const std::u16string direction =
            blank == std::u16string::npos ? u"asc" : AsciiLowerCase(TrimBlanks(std::u16string_view(text).substr(blank)));
        if (name == u"xm") {
            field = kXm;
        } else if (name == u"c") {
            field = kC;
        } else {
            throw Error(u"无法按“" + text + u"”排序");
        }
        if (direction == u"desc") {
            descending = true;
        } else if (direction != u"asc") {
            throw Error(u"无法按“" + text + u"”排序");
        }
    }
    if (state_ == DataSetState::Edit) Post();
    sort_ = text;
    sortField_ = field;
    descending_ = descending;
    if (Active()) ApplySort();
}

namespace {
// Compares two rows by the sort field only.
template <typename Row>
bool SortsBefore(const Row& a, const Row& b, int field, bool descending) {
    const bool before = field == kC ? a.c < b.c : a.xm < b.xm;
    const bool after = field == kC ? b.c < a.c : b.xm < a.xm;
    return descending ? after : before;
}
}  // namespace

void TADOQuery::ApplySort() {
    order_.resize(rows_.size());
    std::iota(order_.begin(), order_.end(), 0u);
    if (sortField_ >= 0) {
        // Rows that tie come in a fresh random order every time the sort is
        // applied, so no name is favoured for standing early in the file.
        std::shuffle(order_.begin(), order_.end(), shuffle_);
        if (sortField_ == kC) {
            // The count and the row's place in the shuffled order, in one
            // integer: sorting these gives the same order as a stable sort of
            // the shuffled rows by count, on keys that lie side by side in
            // memory instead of behind an index into the rows.
            std::vector<std::uint64_t> keys(order_.size());
            for (std::size_t i = 0; i < order_.size(); ++i) {
                std::uint32_t count = static_cast<std::uint32_t>(rows_[order_[i]].c) ^ 0x80000000u;
                if (descending_) count = ~count;
                keys[i] = (static_cast<std::uint64_t>(count) << 32) | static_cast<std::uint32_t>(i);
            }
            std::sort(keys.begin(), keys.end());
            std::vector<std::uint32_t> shuffled(order_);
            for (std::size_t i = 0; i < keys.size(); ++i) {
                order_[i] = shuffled[static_cast<std::uint32_t>(keys[i])];
            }
        } else {
            std::stable_sort(order_.begin(), order_.end(), [&](std::uint32_t a, std::uint32_t b) {
                return SortsBefore(rows_[a], rows_[b], sortField_, descending_);
            });
        }
    }
    position_ = 0;
}

void TADOQuery::Resort(std::size_t position) {
    if (sortField_ < 0) return;
    const std::uint32_t index = order_[position];
    order_.erase(order_.begin() + static_cast<std::ptrdiff_t>(position));
    const auto before = [&](std::uint32_t a, std::uint32_t b) {
        return SortsBefore(rows_[a], rows_[b], sortField_, descending_);
    };
    const auto low = std::lower_bound(order_.begin(), order_.end(), index, before);
    const auto high = std::upper_bound(low, order_.end(), index, before);
    // Among the rows it now ties with, the row takes a random place.
    const auto span = static_cast<int>(high - low);
    const int offset = span == 0 ? 0 : std::uniform_int_distribution<int>(0, span)(shuffle_);
    const auto at = order_.insert(low + offset, index);
    position_ = static_cast<std::size_t>(at - order_.begin());
}

int TADOQuery::RecordCount() const {
    RequireActive();
    return static_cast<int>(order_.size());
}

int TADOQuery::RecNo() const {
    RequireActive();
    return position_ < order_.size() ? static_cast<int>(position_) + 1 : 0;
}

void TADOQuery::SetRecNo(int recNo) {
    RequireActive();
    if (recNo < 1 || static_cast<std::size_t>(recNo) > order_.size()) {
        throw Error(u"名单里没有第 " + ToU16(recNo) + u" 行");
    }
    CheckBrowseMode();
    position_ = static_cast<std::size_t>(recNo - 1);
}

void TADOQuery::First() {
    RequireActive();
    CheckBrowseMode();
    position_ = 0;
}

void TADOQuery::Next() {
    RequireActive();
    CheckBrowseMode();
    if (position_ < order_.size()) ++position_;
}

bool TADOQuery::Eof() const {
    RequireActive();
    return position_ >= order_.size();
}

std::u16string TADOQuery::FieldAsText(std::string_view field) const {
    const Row& row = CurrentRow();
    if (FieldIndex(field) == kXm) return row.xm;
    const bool pending = state_ == DataSetState::Edit && (pendingSet_ || pendingRead_);
    return ToU16(pending ? pendingC_ : row.c);
}

int TADOQuery::FieldAsInteger(std::string_view field) {
    Row& row = CurrentRow();
    if (FieldIndex(field) == kXm) {
        throw Error(u"“" + TrimControl(row.xm) + u"”不是一个整数");
    }
    if (state_ != DataSetState::Edit) return row.c;
    if (!pendingSet_ && !pendingRead_) {
        // Another copy of the program may have drawn this name since the view
        // was read: a count goes up from the value on disk, read inside the
        // same write transaction that will post it.
        sqlite3* db = connection_.RequireOpen();
        WriteHeldPosts();
        sqlite3_stmt* reread = PrepareOnce(reread_, db, u"select c from " + table_ + u" where rowid = ?");
        sqlite3_bind_int64(reread, 1, row.rowid);
        const int rc = sqlite3_step(reread);
        const bool found = rc == SQLITE_ROW;
        if (found) pendingC_ = sqlite3_column_int(reread, 0);
        sqlite3_reset(reread);
        if (rc != SQLITE_ROW && rc != SQLITE_DONE) ThrowSqlite(db, u"读取名单库失败");
        if (!found) throw Error(u"“" + TrimControl(row.xm) + u"”已不在名单库里");
        pendingRead_ = true;
    }
    return pendingC_;
}

void TADOQuery::SetField(std::string_view field, int value) {
    CurrentRow();
    if (FieldIndex(field) != kC) throw Error(u"名单里的名字不能在这里修改");
    if (state_ != DataSetState::Edit) throw Error(u"名单不在编辑状态");
    pendingC_ = value;
    pendingSet_ = true;
}

bool TADOQuery::Locate(std::string_view field, std::u16string_view value) {
    try {
        RequireActive();
        const int index = FieldIndex(field);
        for (std::size_t i = 0; i < order_.size(); ++i) {
            const Row& row = rows_[order_[i]];
            const bool match = index == kXm ? TrimControl(row.xm) == value : ToU16(row.c) == value;
            if (match) {
                CheckBrowseMode();
                position_ = i;
                return true;
            }
        }
    } catch (const std::exception&) {
    }
    return false;
}

void TADOQuery::BeginOwnTransaction() {
    sqlite3* db = connection_.RequireOpen();
    if (ownTransaction_ || sqlite3_get_autocommit(db) == 0) return;
    connection_.BeginWrite();
    ownTransaction_ = true;
}

void TADOQuery::EndOwnTransaction(bool commit) {
    if (!ownTransaction_) return;
    ownTransaction_ = false;
    sqlite3* db = connection_.handle();
    if (db == nullptr || sqlite3_get_autocommit(db) != 0) return;
    if (!commit) {
        RollBack(db);
        return;
    }
    try {
        Commit(db);
    } catch (const UnconfirmedChange&) {
        throw;
    } catch (const Error& error) {
        RollBack(db);
        throw Error(SaveFailedMessage(error.message()));
    }
}

void TADOQuery::Edit() {
    CurrentRow();
    if (state_ == DataSetState::Edit) return;
    BeginOwnTransaction();
    state_ = DataSetState::Edit;
    pendingSet_ = false;
    pendingRead_ = false;
}

void TADOQuery::LeaveEditMode() {
    state_ = DataSetState::Browse;
    pendingSet_ = false;
    pendingRead_ = false;
}

void TADOQuery::Post() {
    if (state_ != DataSetState::Edit) throw Error(u"名单不在编辑状态");
    Row& row = CurrentRow();
    if (pendingSet_) {
        sqlite3* db = connection_.RequireOpen();
        try {
            if (connection_.InTransaction() && !ownTransaction_ && sqlite3_get_autocommit(db) == 0) {
                HoldPost(row);
                if (undoing_) undo_.push_back(Undo{order_[position_], row.c});
            } else {
                BeginOwnTransaction();
                if (UpdateCounts(row.rowid, row.rowid, pendingC_) != 1) {
                    throw Error(u"“" + TrimControl(row.xm) + u"”已不在名单库里");
                }
                EndOwnTransaction(true);
            }
        } catch (const UnconfirmedChange&) {
            // In the file all the same: so in the view.
            row.c = pendingC_;
            LeaveEditMode();
            if (sortField_ == kC) Resort(position_);
            throw;
        } catch (...) {
            // A post that fails leaves nothing pending: were the change kept in
            // edit mode, the next move would write it, and a draw reported as
            // lost would be recorded after all. The row stays as the file has it.
            EndOwnTransaction(false);
            LeaveEditMode();
            throw;
        }
        row.c = pendingC_;
    } else {
        EndOwnTransaction(true);
    }
    LeaveEditMode();
    if (sortField_ == kC) Resort(position_);
}

int TADOQuery::UpdateCounts(std::int64_t first, std::int64_t last, std::int32_t value) {
    sqlite3* db = connection_.RequireOpen();
    if (first == last) {
        sqlite3_stmt* update = PrepareOnce(update_, db, u"update " + table_ + u" set c = ? where rowid = ?");
        sqlite3_bind_int(update, 1, value);
        sqlite3_bind_int64(update, 2, first);
        Step(db, update);
    } else {
        // The rows of a run are exactly the rowids from first to last: one
        // statement changes the same rows as one statement per row would.
        sqlite3_stmt* update =
            PrepareOnce(updateRun_, db, u"update " + table_ + u" set c = ? where rowid between ? and ?");
        sqlite3_bind_int(update, 1, value);
        sqlite3_bind_int64(update, 2, first);
        sqlite3_bind_int64(update, 3, last);
        Step(db, update);
    }
    // sqlite3_changes, not its 64-bit twin: the portable program is built
    // against Debian 11's SQLite 3.34, and a run is never 2^31 rows long.
    return sqlite3_changes(db);
}

void TADOQuery::HoldPost(const Row& row) {
    if (holding_ && row.rowid == held_.last + 1 && pendingC_ == held_.value) {
        ++held_.last;
        return;
    }
    WriteHeldPosts();
    held_ = HeldRun{row.rowid, row.rowid, pendingC_, row.xm};
    holding_ = true;
}

void TADOQuery::WriteHeldPosts() {
    if (!holding_) return;
    holding_ = false;
    const HeldRun run = std::move(held_);
    if (UpdateCounts(run.first, run.last, run.value) != run.last - run.first + 1) {
        throw Error(u"“" + TrimControl(run.firstName) + u"”" + (run.first == run.last ? u"" : u"和它后面的名字中有的") +
                    u"已不在名单库里");
    }
}

void TADOQuery::DropHeldPosts() {
    holding_ = false;
    held_ = HeldRun{};
}

void TADOQuery::BeginUndo() {
    undo_.clear();
    undoRows_ = rows_.size();
    undoing_ = Active();
}

void TADOQuery::EndUndo(bool restore) {
    if (!undoing_) return;
    undoing_ = false;
    if (restore) {
        if (state_ == DataSetState::Edit) Cancel();
        for (auto change = undo_.rbegin(); change != undo_.rend(); ++change) rows_[change->row].c = change->c;
        if (rows_.size() > undoRows_) rows_.resize(undoRows_);
        if (!undo_.empty() || order_.size() != rows_.size()) ApplySort();
    }
    undo_.clear();
    undo_.shrink_to_fit();
}

void TADOQuery::Cancel() {
    if (state_ != DataSetState::Edit) return;
    EndOwnTransaction(false);
    LeaveEditMode();
}

void TADOQuery::CheckBrowseMode() {
    if (state_ == DataSetState::Edit) Post();
}

void TADOQuery::AppendRecord(std::u16string xm, int c) {
    RequireActive();
    CheckBrowseMode();
    if (xm.size() > kNameLimit) throw Error(NameTooLongMessage(xm, xm.size()));
    sqlite3* db = connection_.RequireOpen();
    WriteHeldPosts();
    sqlite3_stmt* insert = PrepareOnce(insert_, db, u"insert into " + table_ + u" values (?, ?)");
    sqlite3_bind_text16(insert, 1, xm.data(), static_cast<int>(xm.size() * sizeof(char16_t)), SQLITE_TRANSIENT);
    sqlite3_bind_int(insert, 2, c);
    Step(db, insert);
    rows_.push_back(Row{sqlite3_last_insert_rowid(db), std::move(xm), c});
    order_.push_back(static_cast<std::uint32_t>(rows_.size() - 1));
    position_ = order_.size() - 1;
}

std::u16string NameTooLongMessage(std::u16string_view start, std::size_t length) {
    const std::size_t limit = TADOQuery::kNameLimit;
    return u"名字“" + std::u16string(start.substr(0, limit)) + u"…”有 " +
           ToU16(static_cast<int>(std::min<std::size_t>(length, 0x7FFFFFFF))) + u" 个字符，最多 " +
           ToU16(static_cast<int>(limit)) + u" 个";
}
