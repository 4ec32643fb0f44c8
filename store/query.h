#pragma once
// The view of the roster store's one table: just what the draw window asks of
// it, on SQLite. It holds its rows in memory, in the order its sort expression
// gives, and writes every posted change to the file at once.

#include <cstdint>
#include <random>
#include <string>
#include <string_view>
#include <vector>

#include "store/sqlite.h"

class TADOConnection;

enum class DataSetState { Inactive, Browse, Edit };

class TADOQuery {
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

    // The longest name the store takes, in UTF-16 code units. A longer one is
    // refused with NameTooLongMessage.
    static constexpr std::size_t kNameLimit = 20;

    // Why the view is not open, for the message of an action on a closed view.
    void NoteOpenFailure(std::u16string reason) { openFailure_ = std::move(reason); }

private:
    friend class TADOConnection;

    struct Row {
        std::int64_t rowid;
        std::u16string xm;
        std::int32_t c;
    };

    void RequireActive() const;
    void RequireRow() const;
    Row& CurrentRow();
    const Row& CurrentRow() const;
    int FieldIndex(std::string_view field) const;
    void ApplySort();
    void Resort(std::size_t position);
    void Load();
    void CheckBrowseMode();
    void LeaveEditMode();
    // Sets c of the rows from first to last (one row where they are equal);
    // the number of rows changed.
    int UpdateCounts(std::int64_t first, std::int64_t last, std::int32_t value);
    // Posts made inside the connection's transaction wait here, as runs of
    // rows that follow each other in the file and take the same value.
    void HoldPost(const Row& row);
    void WriteHeldPosts();
    void DropHeldPosts();
    // What the connection's transaction changes in the view is noted from
    // BeginUndo on; EndUndo(true) puts it back, EndUndo(false) keeps it.
    void BeginUndo();
    void EndUndo(bool restore);
    void BeginOwnTransaction();
    void EndOwnTransaction(bool commit);
    std::u16string SqlText() const;

    TADOConnection& connection_;
    DataSetState state_ = DataSetState::Inactive;
    std::u16string table_;
    std::u16string sort_;
    int sortField_ = -1;  // -1: the table's own order
    bool descending_ = false;
    std::vector<Row> rows_;             // in the table's own order
    std::vector<std::uint32_t> order_;  // the current order, as indices into rows_
    std::size_t position_ = 0;          // into order_; == size() past the last row
    // Edit mode: the pending value of c, and whether it has been read afresh.
    std::int32_t pendingC_ = 0;
    bool pendingRead_ = false;
    bool pendingSet_ = false;
    bool ownTransaction_ = false;
    std::u16string openFailure_;
    std::mt19937 shuffle_;
    struct HeldRun {
        std::int64_t first = 0;
        std::int64_t last = 0;
        std::int32_t value = 0;
        std::u16string firstName;  // for the message when a row has gone
    };
    HeldRun held_;
    bool holding_ = false;
    struct Undo {
        std::uint32_t row;  // into rows_
        std::int32_t c;     // its count before the change
    };
    std::vector<Undo> undo_;
    std::size_t undoRows_ = 0;  // rows appended beyond this go on an undo
    bool undoing_ = false;
    StatementHandle insert_;
    StatementHandle updateRun_;
    StatementHandle update_;
    StatementHandle reread_;
};

// Why a name of length units (beginning with start) is refused: its first
// units, its length and the limit.
std::u16string NameTooLongMessage(std::u16string_view start, std::size_t length);
