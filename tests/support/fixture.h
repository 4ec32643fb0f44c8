#pragma once
// A program on a fake desktop, in a fresh folder of its own.

#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "Unit1/unit1.h"
#include "Unit2/unit2.h"
#include "tests/support/fake_platform.h"

namespace fake {

struct StoredRow {
    std::u16string xm;
    int c;
    bool operator==(const StoredRow&) const = default;
};
void PrintTo(const StoredRow& row, std::ostream* out);

// A fresh temporary folder, removed with the object.
class TempDir {
public:
    TempDir();
    ~TempDir();
    const std::filesystem::path& path() const { return path_; }

private:
    std::filesystem::path path_;
};

void WriteBytes(const std::filesystem::path& file, const std::string& bytes);
std::string ReadBytes(const std::filesystem::path& file);
// The rows of cs in the file's own order, read through a connection of its own.
std::vector<StoredRow> StoredRows(const std::filesystem::path& store);
// Runs statements on the store through a connection of its own.
void Sql(const std::filesystem::path& store, const std::string& statements);
// A store made the way any SQLite tool would make it.
void MakeStore(const std::filesystem::path& store, const std::vector<StoredRow>& rows);
std::string Names(int count, const std::string& prefix = "学生");

// Runs body in a child process for which permission bits are real: as the
// user nobody when the tests run as root (root writes wherever it likes), as
// the same user otherwise. Returns what body returned, or what went wrong.
std::string RunUnprivileged(const std::function<std::string()>& body);

class ProgramTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    // Makes the two windows, as the program entry does.
    void Start();
    std::filesystem::path File(const std::u16string& name) const { return dir_.path() / std::filesystem::path(name); }
    std::filesystem::path Store() const { return File(u"cs.db"); }
    std::vector<StoredRow> Stored() const { return StoredRows(Store()); }

    FakeWindow& Window1() { return static_cast<FakeWindow&>(form1->window()); }
    FakeWindow& Window2() { return static_cast<FakeWindow&>(form2->window()); }
    FakeControl& Label() { return Window1().fakeControl("lbl1"); }
    FakeControl& Button() { return Window1().fakeControl("btn1"); }
    void Press() { Button().click(); }
    // A spin of the given steps: the stopping press comes inside the last one.
    void Spin(int steps);

    TempDir dir_;
    std::unique_ptr<FakePlatform> desktop;
    std::unique_ptr<TForm1> form1;
    std::unique_ptr<TForm2> form2;
};

}  // namespace fake
