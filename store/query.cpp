#include "store/query.h"

#include <algorithm>
#include <chrono>
#include <utility>

#include "common/text.h"
#include "store/connection.h"

TADOQuery::TADOQuery(TADOConnection& connection)
    : connection_(connection),
      shuffle_(static_cast<std::mt19937::result_type>(
          std::chrono::steady_clock::now().time_since_epoch().count())) {
    connection_.Register(*this);
}

TADOQuery::~TADOQuery() {
    Close();
    connection_.Unregister(*this);
}

void TADOQuery::ExecSQL() {
    connection_.RequireOpen();
    WriteOut();
    connection_.Execute(JoinSqlLines(SQL));
}

void TADOQuery::Open() {
    Close();
    connection_.RequireOpen();
    try {
        table_.emplace(connection_, RosterTable::NameInSelect(JoinSqlLines(SQL)));
        Load();
    } catch (const Error& error) {
        table_.reset();
        throw Error::Within(u"打不开名单库“" + connection_.Path().u16string() + u"”：", error);
    }
    state_ = DataSetState::Browse;
    openFailure_.reset();
    ApplySort();
}

void TADOQuery::Load() {
    WriteOut();
    // Into the room the rows of a closed view left: reading a store again
    // after its import (or reopening it) then finds its memory ready.
    std::vector<ViewRow> rows = std::exchange(room_, {});
    table_->ReadAll(rows);
    // Room far beyond the rows (a large roster replaced by a class) is given back.
    if (rows.capacity() / 2 > rows.size()) rows.shrink_to_fit();
    rows_ = std::move(rows);
    changes_.End(rows_, false);
    if (connection_.InTransaction()) changes_.Begin(rows_.size());
}

void TADOQuery::Close() {
    if (state_ == DataSetState::Edit) Cancel();
    // Held posts belong to the connection's transaction: a query closed on
    // its own writes them first. Where that fails the transaction cannot be
    // committed whole, so none of it is, and its commit reports the error.
    if (table_ && connection_.Connected()) {
        try {
            WriteOut();
        } catch (const std::exception&) {
            connection_.RollbackTrans();
        }
    }
    changes_.End(rows_, false);
    table_.reset();
    state_ = DataSetState::Inactive;
    rows_.clear();
    // Their room stays for the next reading; a view closed twice keeps the larger.
    if (rows_.capacity() > room_.capacity()) rows_.swap(room_);
    rows_ = {};
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
    if (openFailure_) throw *openFailure_;
    throw Error(u"名单没有打开");
}

void TADOQuery::RequireRow() const {
    RequireActive();
    if (position_ >= order_.size()) throw Error(u"名单里没有当前行");
}

ViewRow& TADOQuery::CurrentRow() {
    RequireRow();
    return rows_[order_[position_]];
}

const ViewRow& TADOQuery::CurrentRow() const {
    RequireRow();
    return rows_[order_[position_]];
}

void TADOQuery::SetSort(std::u16string_view expression) {
    const SortKey key = ParseSortExpression(expression);
    if (state_ == DataSetState::Edit) Post();
    sort_ = TrimBlanks(expression);
    sortKey_ = key;
    if (Active()) ApplySort();
}

void TADOQuery::ApplySort() {
    SortRows(rows_, sortKey_, shuffle_, order_);
    position_ = 0;
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
    const ViewRow& row = CurrentRow();
    if (FieldNamed(field) == ViewField::Xm) return row.xm;
    const bool pending = state_ == DataSetState::Edit && (pendingSet_ || pendingRead_);
    return ToU16(pending ? pendingC_ : row.c);
}

int TADOQuery::FieldAsInteger(std::string_view field) {
    const ViewRow& row = CurrentRow();
    if (FieldNamed(field) == ViewField::Xm) throw Error(u"“" + TrimControl(row.xm) + u"”不是一个整数");
    if (state_ != DataSetState::Edit) return row.c;
    if (!pendingSet_ && !pendingRead_) {
        // Another copy of the program may have drawn this name since the view
        // was read: a count goes up from the value on disk, read inside the
        // same write transaction that will post it.
        WriteOut();
        const std::optional<std::int32_t> count = table_->ReadCount(row.rowid);
        if (!count) throw Error(ErrorKind::RowGone, {row.xm});
        pendingC_ = *count;
        pendingRead_ = true;
    }
    return pendingC_;
}

void TADOQuery::SetField(std::string_view field, int value) {
    CurrentRow();
    if (FieldNamed(field) != ViewField::C) throw Error(u"名单里的名字不能在这里修改");
    if (state_ != DataSetState::Edit) throw Error(u"名单不在编辑状态");
    pendingC_ = value;
    pendingSet_ = true;
}

bool TADOQuery::Locate(std::string_view field, std::u16string_view value) {
    try {
        RequireActive();
        const std::optional<std::size_t> found = FindInOrder(rows_, order_, FieldNamed(field), value);
        if (!found) return false;
        CheckBrowseMode();
        position_ = *found;
        return true;
    } catch (const std::exception&) {
        return false;
    }
}

void TADOQuery::BeginOwnTransaction() {
    if (ownTransaction_ || connection_.Writing()) return;
    connection_.BeginWrite();
    ownTransaction_ = true;
}

void TADOQuery::EndOwnTransaction(bool commit) {
    if (!std::exchange(ownTransaction_, false)) return;
    if (commit) connection_.CommitWrite();
    if (!commit) connection_.RollbackWrite();
}

void TADOQuery::Edit() {
    CurrentRow();
    if (state_ == DataSetState::Edit) return;
    BeginOwnTransaction();
    state_ = DataSetState::Edit;
    pendingSet_ = pendingRead_ = false;
}

void TADOQuery::LeaveEditMode() {
    state_ = DataSetState::Browse;
    pendingSet_ = pendingRead_ = false;
}

void TADOQuery::Post() {
    if (state_ != DataSetState::Edit) throw Error(u"名单不在编辑状态");
    ViewRow& row = CurrentRow();
    if (pendingSet_) {
        try {
            if (changes_.Noting() && !ownTransaction_ && connection_.Writing()) {
                changes_.Hold(rows_, order_[position_], pendingC_, *table_);
            } else {
                BeginOwnTransaction();
                table_->SetCount(row, pendingC_);
                EndOwnTransaction(true);
            }
        } catch (const UnconfirmedChange&) {
            // In the file all the same: so in the view.
            row.c = pendingC_;
            LeaveEditMode();
            Resort();
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
    Resort();
}

void TADOQuery::Resort() {
    if (sortKey_.field == ViewField::C) position_ = ResortRow(rows_, sortKey_, shuffle_, order_, position_);
}

void TADOQuery::TransactionBegun() { changes_.Begin(rows_.size()); }

void TADOQuery::WriteOut() {
    if (table_) changes_.WriteOut(rows_, *table_);
}

void TADOQuery::TransactionEnded(bool rolledBack) {
    if (rolledBack && state_ == DataSetState::Edit) Cancel();
    if (changes_.End(rows_, rolledBack)) ApplySort();
}

void TADOQuery::Cancel() {
    if (state_ != DataSetState::Edit) return;
    EndOwnTransaction(false);
    LeaveEditMode();
}

void TADOQuery::CheckBrowseMode() {
    if (state_ == DataSetState::Edit) Post();
}

void TADOQuery::ReserveForAppend(std::size_t count) {
    rows_.reserve(rows_.size() + count);
    order_.reserve(order_.size() + count);
}

void TADOQuery::AppendRecord(std::u16string xm, int c) {
    RequireActive();
    CheckBrowseMode();
    if (xm.size() > kNameLimit) throw NameTooLong(xm, xm.size());
    WriteOut();
    const std::int64_t rowid = table_->Insert(xm, c);
    rows_.push_back(ViewRow{rowid, std::move(xm), c});
    order_.push_back(static_cast<std::uint32_t>(rows_.size() - 1));
    position_ = order_.size() - 1;
}
