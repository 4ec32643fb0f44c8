#pragma once
// What a transaction of the connection changes of the counts in a view: the
// posts that wait to be written, and each changed row's count before, to be
// put back when the transaction rolls back.

#include <cstdint>
#include <optional>
#include <vector>

#include "store/view_rows.h"

class RosterTable;

class CountChanges {
public:
    // Notes changes from now on; the view holds rows rows.
    void Begin(std::size_t rows);
    bool Noting() const { return noting_; }
    // Row index of rows is about to take value: held, and written with the
    // run of rows before it that follow each other in the file and take the
    // same value (a count reset is one statement), or on the next WriteOut.
    void Hold(std::vector<ViewRow>& rows, std::uint32_t index, std::int32_t value, RosterTable& table);
    // Writes the held run; throws Error when a row of it has gone from the file.
    void WriteOut(const std::vector<ViewRow>& rows, RosterTable& table);
    // Ends the noting. With restore, puts every noted count back and drops
    // the rows appended since Begin; true when the rows changed so.
    bool End(std::vector<ViewRow>& rows, bool restore);

private:
    struct Run {
        std::uint32_t firstIndex;  // into the rows: for the message when a row has gone
        std::int64_t first;
        std::int64_t last;
        std::int32_t value;
    };
    struct Before {
        std::uint32_t index;
        std::int32_t c;
    };
    bool noting_ = false;
    std::size_t rows_ = 0;
    std::optional<Run> held_;
    std::vector<Before> before_;
};
