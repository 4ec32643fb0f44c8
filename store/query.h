#pragma once
// The view of the roster store's one table: just what the draw window asks of
// it, on SQLite. It holds its rows in memory, in the order its sort expression
// gives, and writes every posted change to the file at once.

#include <cstdint>
#include <optional>
#include <random>
#include <string>
#include <string_view>
#include <vector>

#include "store/count_changes.h"
#include "store/roster_table.h"
#include "store/transaction_participant.h"
#include "store/view_rows.h"

class TADOConnection;

enum class DataSetState { Inactive, Browse, Edit };

class TADOQuery : private TransactionParticipant {
public:
    explicit TADOQuery(TADOConnection& connection);
    ~TADOQuery();
    TADOQuery(const TADOQuery&) = delete;
    TADOQuery& operator=(const TADOQuery&) = delete;

    std::vector<std::u16string> SQL;  // the statement, line by line

    // Executes SQL as a command that returns no rows.
    void ExecSQL();
    // Runs SQL ("select * from <table>") and holds its rows.
    void Open();
    void Close();
    bool Active() const { return state_ != DataSetState::Inactive; }
    DataSetState State() const { return state_; }

    // "" for the table's own order, or "<field> ASC" / "<field> DESC". Rows
    // with equal values come in a random order, shuffled each time it is set.
    void SetSort(std::u16string_view expression);
    const std::u16string& Sort() const { return sort_; }

    int RecordCount() const;
    // The current row, counting from 1 in the current order.
    int RecNo() const;
    void SetRecNo(int recNo);
    void First();
    void Next();
    bool Eof() const;

    std::u16string FieldAsText(std::string_view field) const;
    int FieldAsInteger(std::string_view field);
    void SetField(std::string_view field, int value);

    // Makes the first row (in the current order) whose trimmed xm equals value
    // the current row. An error inside counts as not found.
    bool Locate(std::string_view field, std::u16string_view value);

    // Edit mode for the current row; Post writes the change to the file and
    // moves the row to its place in the sort order. Inside a transaction of
    // the connection the write may wait until the next statement that reads
    // the table, or the commit: nothing of it is on disk before that anyway.
    // A post that fails leaves edit mode with the row as the file holds it:
    // nothing stays pending to be written by a later move. A transaction of
    // the connection that is rolled back puts the rows back as they were.
    void Edit();
    void Post();
    void Cancel();

    // Reads the rows afresh from the file, keeping the sort expression.
    void Requery();

    // Appends a row: the values go to the columns in order (xm, then c).
    void AppendRecord(std::u16string xm, int c);
    // Room for that many more rows, before a long run of AppendRecord: the
    // rows are then not moved to ever larger room as they come.
    void ReserveForAppend(std::size_t count);

    // The longest name the store takes, in UTF-16 code units. A longer one is
    // refused with NameTooLong.
    static constexpr std::size_t kNameLimit = kStoreNameLimit;

    // Why the view is not open, for the message of an action on a closed view.
    void NoteOpenFailure(Error reason) { openFailure_ = std::move(reason); }

private:
    void TransactionBegun() override;
    void WriteOut() override;
    void TransactionEnded(bool rolledBack) override;
    void ConnectionClosing() override { Close(); }

    void RequireActive() const;
    void RequireRow() const;
    ViewRow& CurrentRow();
    const ViewRow& CurrentRow() const;
    void ApplySort();
    // Moves the current row to its place after its count changed.
    void Resort();
    void Load();
    void CheckBrowseMode();
    void LeaveEditMode();
    void BeginOwnTransaction();
    void EndOwnTransaction(bool commit);

    TADOConnection& connection_;
    DataSetState state_ = DataSetState::Inactive;
    std::optional<RosterTable> table_;
    std::u16string sort_;
    SortKey sortKey_;
    std::vector<ViewRow> rows_;         // in the table's own order
    std::vector<ViewRow> room_;         // no rows: the room of a closed view's rows, for its next reading
    std::vector<std::uint32_t> order_;  // the current order, as indices into rows_
    std::size_t position_ = 0;          // into order_; == size() past the last row
    // Edit mode: the pending value of c, and whether it has been read afresh.
    std::int32_t pendingC_ = 0;
    bool pendingRead_ = false;
    bool pendingSet_ = false;
    bool ownTransaction_ = false;
    std::optional<Error> openFailure_;
    std::mt19937 shuffle_;
    CountChanges changes_;
};

