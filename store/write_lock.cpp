#include "store/write_lock.h"

#include <sqlite3.h>

#include "common/text.h"

StoreWriteLock::StoreWriteLock(const std::filesystem::path& path) {
    std::error_code ec;
    if (!std::filesystem::is_regular_file(path, ec)) return;
    DatabaseHandle db;
    try {
        db = OpenDatabase(path, SQLITE_OPEN_READWRITE);
    } catch (const Error&) {
        return;  // no store to lock
    }
    if (BeginImmediate(db.get(), u"名单库")) db_ = std::move(db);
}
