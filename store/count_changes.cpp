#include "store/count_changes.h"

#include "common/text.h"
#include "store/roster_table.h"

void CountChanges::Begin(std::size_t rows) {
    noting_ = true;
    rows_ = rows;
    held_.reset();
    before_.clear();
}

void CountChanges::Hold(std::vector<ViewRow>& rows, std::uint32_t index, std::int32_t value, RosterTable& table) {
    ViewRow& row = rows[index];
    if (!held_ || row.rowid != held_->last + 1 || value != held_->value) {
        WriteOut(rows, table);
        held_ = Run{index, row.rowid, row.rowid, value};
    } else {
        ++held_->last;
    }
    // A transaction that changes one count changes them all (a reset): room
    // for every row at once, not grown a row at a time.
    if (before_.empty()) before_.reserve(rows.size());
    before_.push_back(Before{index, row.c});
    row.c = value;
}

void CountChanges::WriteOut(const std::vector<ViewRow>& rows, RosterTable& table) {
    if (!held_) return;
    const Run run = *held_;
    held_.reset();
    if (table.SetCounts(run.first, run.last, run.value) != run.last - run.first + 1) {
        const std::u16string& name = rows[run.firstIndex].xm;
        if (run.first == run.last) throw Error(ErrorKind::RowGone, {name});
        throw Error(ErrorKind::RowGone, {name, u"run"});
    }
}

bool CountChanges::End(std::vector<ViewRow>& rows, bool restore) {
    const bool noted = noting_;
    noting_ = false;
    held_.reset();
    bool changed = false;
    if (noted && restore) {
        for (auto change = before_.rbegin(); change != before_.rend(); ++change) rows[change->index].c = change->c;
        changed = !before_.empty() || rows.size() > rows_;
        if (rows.size() > rows_) rows.resize(rows_);
    }
    before_.clear();
    before_.shrink_to_fit();
    return changed;
}
