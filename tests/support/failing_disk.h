#pragma once
// A disk that fails when a test says so, as a dying disk or a pulled USB
// stick does: every step that changes what is on it (a write, a truncation,
// a sync, a file deleted or renamed) is counted, and the n-th step can be made
// to fail with an I/O error.
//
// SQLite's steps are counted by a VFS that wraps the system's one and becomes
// the default; the program's own rename and folder sync (the replace of cs.db
// by a new roster) by rename, fsync and fdatasync of this test program, which
// take the place of the C library's. Nothing is counted or failed unless a
// test has armed the disk.

#include <string>
#include <vector>

namespace fake::disk {

enum class Failure {
    Once,        // the n-th step fails, the disk works again right after it
    FromThenOn,  // the n-th step and every later one fail until Heal()
};

// Makes the counting VFS SQLite's default. Idempotent; the fixture calls it.
void Install();

// Counts steps from now on, failing none.
void Count();
// Counts steps from now on; the n-th (from 1) fails.
void FailAt(int n, Failure failure);
// The disk is back: nothing fails, nothing is counted.
void Heal();

// Steps counted since Count() or FailAt(), one line each ("write cs.db-journal").
const std::vector<std::string>& Steps();
// How many steps failed since Count() or FailAt().
int Failed();

// Heals the disk when it goes out of scope, so that a failed assertion leaves
// no broken disk for the next test.
class HealOnExit {
public:
    HealOnExit() = default;
    ~HealOnExit() { Heal(); }
    HealOnExit(const HealOnExit&) = delete;
    HealOnExit& operator=(const HealOnExit&) = delete;
};

}  // namespace fake::disk
