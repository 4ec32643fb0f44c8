#include "store/db.h"

#include <sqlite3.h>

#include <algorithm>
#include <chrono>
#include <numeric>

#include "common/text.h"
#include "platform/kernel.h"

namespace {

constexpr int kBusyWaitMilliseconds = 5000;
constexpr int kXm = 0;
constexpr int kC = 1;

std::u16string Lower(std::u16string_view text) {
    std::u16string out(text);
    for (char16_t& ch : out) {
        if (ch >= u'A' && ch <= u'Z') ch = static_cast<char16_t>(ch + 32);
    }
    return out;
}

std::u16string Trim(std::u16string_view text) {
    std::size_t begin = 0;
    std::size_t end = text.size();
    while (begin < end && (text[begin] == u' ' || text[begin] == u'\t')) ++begin;
    while (end > begin && (text[end - 1] == u' ' || text[end - 1] == u'\t')) --end;
    return std::u16string(text.substr(begin, end - begin));
}

}  // namespace

std::u16string StoreErrorReason(sqlite3* db) {
    const std::u16string message = Utf8ToUtf16(sqlite3_errmsg(db));
    switch (sqlite3_errcode(db) & 0xFF) {
        case SQLITE_IOERR:
            return u"磁盘读写出错（" + message + u"）";
        case SQLITE_FULL:
            return u"磁盘已满（" + message + u"）";
        default:
            return message;
    }
}

namespace {

[[noreturn]] void ThrowSqlite(sqlite3* db, std::u16string_view what) {
    std::u16string message(what);
    if (db != nullptr) {
        message += u"：";
        message += StoreErrorReason(db);
    }
    throw Error(std::move(message));
}

void Exec(sqlite3* db, const char* sql) {
    if (sqlite3_exec(db, sql, nullptr, nullptr, nullptr) != SQLITE_OK) {
        ThrowSqlite(db, u"名单库出错");
    }
}

sqlite3_stmt* Prepare(sqlite3* db, const std::u16string& sql) {
    sqlite3_stmt* statement = nullptr;
    if (sqlite3_prepare16_v2(db, sql.c_str(), static_cast<int>(sql.size() * sizeof(char16_t)),
                             &statement, nullptr) != SQLITE_OK) {
        throw Error(Utf8ToUtf16(sqlite3_errmsg(db)));
    }
    return statement;
}

// Runs a prepared statement that returns no rows, then resets it for reuse.
void Step(sqlite3* db, sqlite3_stmt* statement) {
    const int rc = sqlite3_step(statement);
    sqlite3_reset(statement);
    sqlite3_clear_bindings(statement);
    if (rc != SQLITE_DONE && rc != SQLITE_ROW) ThrowSqlite(db, u"名单库写入失败");
}

std::u16string Column16(sqlite3_stmt* statement, int column) {
    const auto* text = static_cast<const char16_t*>(sqlite3_column_text16(statement, column));
    if (text == nullptr) return {};
    return std::u16string(text, static_cast<std::size_t>(sqlite3_column_bytes16(statement, column)) / 2);
}

// "<table>" out of "select * from <table>", the one query the view runs.
std::u16string TableOfSelect(std::u16string_view sql) {
    const std::u16string text = Trim(sql);
    const std::u16string prefix = u"select * from ";
    if (Lower(text).rfind(prefix, 0) != 0) {
        throw Error(u"名单视图只能运行“select * from 表名”：" + text);
    }
    std::u16string table = Trim(std::u16string_view(text).substr(prefix.size()));
    if (table.empty() || !std::all_of(table.begin(), table.end(), [](char16_t ch) {
            return (ch >= u'a' && ch <= u'z') || (ch >= u'A' && ch <= u'Z') ||
                   (ch >= u'0' && ch <= u'9') || ch == u'_';
        })) {
        throw Error(u"名单视图的表名无效：" + table);
    }
    return table;
}

// A copy of the program killed before its write had reached the file leaves
// a journal whose header was never written. SQLite ignores such a journal and
// never removes it. It is removed here under the write lock, which no live
// writer holds then (one that does keeps its journal: the lock is only tried).
void RemoveStaleJournal(sqlite3* db, const std::filesystem::path& path) {
    std::filesystem::path journal = path;
    journal += "-journal";
    std::error_code ec;
    if (!std::filesystem::exists(std::filesystem::symlink_status(journal, ec))) return;
    sqlite3_busy_timeout(db, 0);
    if (sqlite3_exec(db, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr) == SQLITE_OK) {
        std::filesystem::remove(journal, ec);
        sqlite3_exec(db, "ROLLBACK", nullptr, nullptr, nullptr);
    }
    sqlite3_busy_timeout(db, kBusyWaitMilliseconds);
}

}  // namespace

ConnectionString ParseConnectionString(std::u16string_view text) {
    ConnectionString result;
    std::size_t begin = 0;
    while (begin <= text.size()) {
        std::size_t end = text.find(u';', begin);
        if (end == std::u16string_view::npos) end = text.size();
        const std::u16string_view part = text.substr(begin, end - begin);
        const std::size_t equals = part.find(u'=');
        if (equals != std::u16string_view::npos) {
            const std::u16string key = Lower(Trim(part.substr(0, equals)));
            std::u16string value = Trim(part.substr(equals + 1));
            if (key == u"provider") {
                result.provider = std::move(value);
            } else if (key == u"data source") {
                result.dataSource = std::move(value);
            } else if (key == u"jet oledb:database password") {
                result.password = std::move(value);
            }
        }
        begin = end + 1;
    }
    return result;
}

// ---- connection ----

TADOConnection::~TADOConnection() { Close(); }

sqlite3* TADOConnection::RequireOpen() const {
    if (db_ == nullptr) {
        throw Error(lastError_.empty() ? std::u16string(u"名单库没有连接") : lastError_);
    }
    return db_;
}

void TADOConnection::Open() {
    Close();
    const ::ConnectionString parts = ParseConnectionString(ConnectionString);
    path_ = std::filesystem::path(parts.dataSource);
    const std::u16string where = u"打不开名单库“" + path_.u16string() + u"”";
    try {
        if (parts.dataSource.empty()) throw Error(where + u"：连接串里没有 Data Source");
        if (!parts.password.empty()) throw Error(where + u"：名单库不设密码");
        std::error_code ec;
        const auto status = std::filesystem::status(path_, ec);
        if (!std::filesystem::exists(status)) throw Error(where + u"：文件不存在");
        if (!std::filesystem::is_regular_file(status)) throw Error(where + u"：这不是一个文件");

        // Only the user-interface thread uses a connection: SQLite need not
        // take its mutexes on every call (they cost 7 % of a large import).
        sqlite3* db = nullptr;
        const int rc = sqlite3_open_v2(reinterpret_cast<const char*>(path_.u8string().c_str()), &db,
                                       SQLITE_OPEN_READWRITE | SQLITE_OPEN_NOMUTEX, nullptr);
        if (rc != SQLITE_OK) {
            const std::u16string reason = Utf8ToUtf16(db ? sqlite3_errmsg(db) : sqlite3_errstr(rc));
            sqlite3_close_v2(db);
            throw Error(where + u"：" + reason);
        }
        sqlite3_busy_timeout(db, kBusyWaitMilliseconds);
        // Every posted draw is on disk before its handler returns, and while the
        // program is not running the store is this one file: a rollback journal
        // that is deleted after each commit, and a full sync at each commit.
        const char* setup =
            "PRAGMA schema_version; PRAGMA journal_mode=DELETE; PRAGMA synchronous=FULL;";
        if (sqlite3_exec(db, setup, nullptr, nullptr, nullptr) != SQLITE_OK) {
            const std::u16string reason = StoreErrorReason(db);
            sqlite3_close_v2(db);
            throw Error(where + u"：" + reason);
        }
        if (sqlite3_db_readonly(db, "main") == 1) {
            sqlite3_close_v2(db);
            throw Error(where + u"：文件是只读的，抽中的次数无法保存");
        }
        // Each write makes a journal beside the file: without it no draw
        // could be saved, and that would only show once a spin had ended.
        const std::filesystem::path folder = path_.parent_path();
        const std::u16string unwritable = kernel::FolderWriteError(folder);
        if (!unwritable.empty()) {
            sqlite3_close_v2(db);
            throw Error(where + u"：它所在的文件夹“" + folder.u16string() + u"”不能写入，抽中的次数无法保存（" +
                        unwritable + u"）");
        }
        RemoveStaleJournal(db, path_);
        db_ = db;
        lastError_.clear();
    } catch (const Error& error) {
        lastError_ = error.message();
        throw;
    }
}

void TADOConnection::Close() {
    for (TADOQuery* query : queries_) query->Close();
    if (db_ == nullptr) return;
    if (sqlite3_get_autocommit(db_) == 0) sqlite3_exec(db_, "ROLLBACK", nullptr, nullptr, nullptr);
    sqlite3_close_v2(db_);
    db_ = nullptr;
    inTransaction_ = false;
}

void TADOConnection::BeginWrite() {
    sqlite3* db = RequireOpen();
    // Waits up to the busy timeout for another copy of the program to finish
    // its write.
    if (sqlite3_exec(db, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr) != SQLITE_OK) {
        const int rc = sqlite3_errcode(db);
        const std::u16string reason = Utf8ToUtf16(sqlite3_errmsg(db));
        if (rc == SQLITE_BUSY || rc == SQLITE_LOCKED) {
            throw Error(u"名单库“" + path_.u16string() + u"”正被另一个程序使用，等了 " +
                        ToU16(kBusyWaitMilliseconds / 1000) + u" 秒仍没有空出来：" + reason);
        }
        throw Error(u"名单库出错：" + StoreErrorReason(db));
    }
    // Another copy of the program may have imported a roster: its new store
    // has taken this one's name, and what is written here would go to a file
    // that no longer has one. Asked with the write lock held, so that the
    // replacement (which takes the lock of the old store) cannot come between.
    int moved = 0;
    if (sqlite3_file_control(db, "main", SQLITE_FCNTL_HAS_MOVED, &moved) == SQLITE_OK && moved != 0) {
        sqlite3_exec(db, "ROLLBACK", nullptr, nullptr, nullptr);
        throw Error(u"名单库“" + path_.u16string() + u"”已被另一个程序换成了新导入的名单，这里打开的名单已经过时，"
                    u"不能再记录：请关闭程序，再重新打开");
    }
}

void TADOConnection::BeginTrans() {
    BeginWrite();
    inTransaction_ = true;
    for (TADOQuery* query : queries_) query->BeginUndo();
}

void TADOConnection::CommitTrans() {
    sqlite3* db = RequireOpen();
    try {
        for (TADOQuery* query : queries_) query->WriteHeldPosts();
    } catch (const std::exception& error) {
        RollbackTrans();
        throw Error(u"名单库保存失败：" + MessageOf(error));
    }
    if (sqlite3_exec(db, "COMMIT", nullptr, nullptr, nullptr) != SQLITE_OK) {
        const std::u16string reason = StoreErrorReason(db);
        RollbackTrans();
        throw Error(u"名单库保存失败：" + reason);
    }
    inTransaction_ = false;
    for (TADOQuery* query : queries_) query->EndUndo(false);
}

void TADOConnection::RollbackTrans() {
    for (TADOQuery* query : queries_) query->DropHeldPosts();
    if (db_ != nullptr && sqlite3_get_autocommit(db_) == 0) {
        sqlite3_exec(db_, "ROLLBACK", nullptr, nullptr, nullptr);
    }
    inTransaction_ = false;
    // Whatever the rollback did on disk, the file holds (or, once a journal
    // left by a failing disk has been played back, will hold) what it held
    // before the transaction: so does the view.
    for (TADOQuery* query : queries_) query->EndUndo(true);
}

// ---- query ----

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
    sqlite3_stmt* statement = Prepare(db, sql);
    const int rc = sqlite3_step(statement);
    sqlite3_finalize(statement);
    if (rc != SQLITE_DONE && rc != SQLITE_ROW) ThrowSqlite(db, u"名单库出错");
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
    sqlite3_stmt* statement = Prepare(db, u"select rowid, * from " + table_);
    int xm = -1;
    int c = -1;
    for (int i = 1; i < sqlite3_column_count(statement); ++i) {
        const std::u16string name = Lower(Utf8ToUtf16(sqlite3_column_name(statement, i)));
        if (name == u"xm" && xm < 0) xm = i;
        if (name == u"c" && c < 0) c = i;
    }
    if (xm < 0 || c < 0) {
        sqlite3_finalize(statement);
        throw Error(u"名单库的表“" + table_ + u"”缺少 xm 或 c 列");
    }
    std::vector<Row> rows;
    int rc;
    while ((rc = sqlite3_step(statement)) == SQLITE_ROW) {
        rows.push_back(Row{sqlite3_column_int64(statement, 0), Column16(statement, xm),
                           sqlite3_column_int(statement, c)});
    }
    sqlite3_finalize(statement);
    if (rc != SQLITE_DONE) ThrowSqlite(db, u"读取名单库失败");
    rows_ = std::move(rows);
    undoing_ = false;
    undo_.clear();
}

void TADOQuery::FinalizeStatements() {
    for (sqlite3_stmt** statement : {&insert_, &update_, &updateRun_, &reread_}) {
        sqlite3_finalize(*statement);
        *statement = nullptr;
    }
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
    FinalizeStatements();
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
    const std::u16string text = Trim(expression);
    int field = -1;
    bool descending = false;
    if (!text.empty()) {
        const std::size_t blank = text.find(u' ');
        const std::u16string name = Lower(text.substr(0, blank));
        const std::u16string direction =
            blank == std::u16string::npos ? u"asc" : Lower(Trim(std::u16string_view(text).substr(blank)));
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
        if (reread_ == nullptr) reread_ = Prepare(db, u"select c from " + table_ + u" where rowid = ?");
        sqlite3_bind_int64(reread_, 1, row.rowid);
        const int rc = sqlite3_step(reread_);
        const bool found = rc == SQLITE_ROW;
        if (found) pendingC_ = sqlite3_column_int(reread_, 0);
        sqlite3_reset(reread_);
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
    if (commit) {
        if (sqlite3_exec(db, "COMMIT", nullptr, nullptr, nullptr) == SQLITE_OK) return;
        const std::u16string reason = StoreErrorReason(db);
        sqlite3_exec(db, "ROLLBACK", nullptr, nullptr, nullptr);
        throw Error(u"名单库保存失败：" + reason);
    }
    sqlite3_exec(db, "ROLLBACK", nullptr, nullptr, nullptr);
}

void TADOQuery::Edit() {
    CurrentRow();
    if (state_ == DataSetState::Edit) return;
    BeginOwnTransaction();
    state_ = DataSetState::Edit;
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
                row.c = pendingC_;
                state_ = DataSetState::Browse;
                pendingSet_ = false;
                pendingRead_ = false;
                if (sortField_ == kC) Resort(position_);
                return;
            }
            BeginOwnTransaction();
            if (update_ == nullptr) update_ = Prepare(db, u"update " + table_ + u" set c = ? where rowid = ?");
            sqlite3_bind_int(update_, 1, pendingC_);
            sqlite3_bind_int64(update_, 2, row.rowid);
            Step(db, update_);
            if (sqlite3_changes(db) != 1) throw Error(u"“" + TrimControl(row.xm) + u"”已不在名单库里");
            EndOwnTransaction(true);
        } catch (...) {
            // A post that fails leaves nothing pending: were the change kept in
            // edit mode, the next move would write it, and a draw reported as
            // lost would be recorded after all. The row stays as the file has it.
            EndOwnTransaction(false);
            state_ = DataSetState::Browse;
            pendingSet_ = false;
            pendingRead_ = false;
            throw;
        }
        row.c = pendingC_;
    } else {
        EndOwnTransaction(true);
    }
    state_ = DataSetState::Browse;
    pendingSet_ = false;
    pendingRead_ = false;
    if (sortField_ == kC) Resort(position_);
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
    sqlite3* db = connection_.RequireOpen();
    if (run.first == run.last) {
        if (update_ == nullptr) update_ = Prepare(db, u"update " + table_ + u" set c = ? where rowid = ?");
        sqlite3_bind_int(update_, 1, run.value);
        sqlite3_bind_int64(update_, 2, run.first);
        Step(db, update_);
    } else {
        // The rows of the run are exactly the rowids from first to last: one
        // statement changes the same rows as one statement per row would.
        if (updateRun_ == nullptr) {
            updateRun_ = Prepare(db, u"update " + table_ + u" set c = ? where rowid between ? and ?");
        }
        sqlite3_bind_int(updateRun_, 1, run.value);
        sqlite3_bind_int64(updateRun_, 2, run.first);
        sqlite3_bind_int64(updateRun_, 3, run.last);
        Step(db, updateRun_);
    }
    // sqlite3_changes, not its 64-bit twin: the portable program is built
    // against Debian 11's SQLite 3.34, and a run is never 2^31 rows long.
    if (sqlite3_changes(db) != run.last - run.first + 1) {
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
    state_ = DataSetState::Browse;
    pendingSet_ = false;
    pendingRead_ = false;
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
    if (insert_ == nullptr) insert_ = Prepare(db, u"insert into " + table_ + u" values (?, ?)");
    sqlite3_bind_text16(insert_, 1, xm.data(), static_cast<int>(xm.size() * sizeof(char16_t)), SQLITE_TRANSIENT);
    sqlite3_bind_int(insert_, 2, c);
    Step(db, insert_);
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

StoreWriteLock::StoreWriteLock(const std::filesystem::path& path) {
    std::error_code ec;
    if (!std::filesystem::is_regular_file(path, ec)) return;
    if (sqlite3_open_v2(reinterpret_cast<const char*>(path.u8string().c_str()), &db_, SQLITE_OPEN_READWRITE,
                        nullptr) != SQLITE_OK) {
        sqlite3_close_v2(db_);
        db_ = nullptr;
        return;
    }
    sqlite3_busy_timeout(db_, kBusyWaitMilliseconds);
    if (sqlite3_exec(db_, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr) == SQLITE_OK) return;
    const int rc = sqlite3_errcode(db_);
    const std::u16string reason = Utf8ToUtf16(sqlite3_errmsg(db_));
    sqlite3_close_v2(db_);
    db_ = nullptr;
    if (rc == SQLITE_BUSY || rc == SQLITE_LOCKED) {
        throw Error(u"名单库正被另一个程序使用，等了 " + ToU16(kBusyWaitMilliseconds / 1000) + u" 秒仍没有空出来：" +
                    reason);
    }
}

StoreWriteLock::~StoreWriteLock() {
    if (db_ == nullptr) return;
    sqlite3_exec(db_, "ROLLBACK", nullptr, nullptr, nullptr);
    sqlite3_close_v2(db_);
}
