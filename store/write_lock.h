#pragma once

#include <filesystem>

#include "store/sqlite.h"

// Holds the write lock of the store at path while it lives, so that no other
// copy of the program is half-way through a write to it; waits for one that
// is (the busy timeout) and throws Error when it does not finish in time. A
// file that is no store, or no file at all, has no lock to take.
class StoreWriteLock {
public:
    explicit StoreWriteLock(const std::filesystem::path& path);

private:
    DatabaseHandle db_;  // closing it gives the lock up
};
