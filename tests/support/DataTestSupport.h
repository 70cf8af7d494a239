#pragma once
// Helpers of the database tests: a second, raw connection to the same file, a settable clock
// and the test program's log file.
#include <windows.h>

#include <string>
#include <utility>
#include <vector>

#include "settings/DKLog.h"
#include "data/DKDataModule.h"
#include "util/DKUtils.h"
#include "SysUtils.h"
#include "TestSupport.h"
#include "sqlite3.h"

namespace data_test {

// A raw connection for arranging rows and reading what the module wrote.
class RawDb {
public:
    explicit RawDb(const std::wstring& file) {
        sqlite3_open_v2(gui::ToUtf8(file).c_str(), db_.put(), SQLITE_OPEN_READWRITE, nullptr);
        sqlite3_busy_timeout(db_.get(), 5000);
    }

    bool Exec(const std::string& sql) {
        return sqlite3_exec(db_.get(), sql.c_str(), nullptr, nullptr, nullptr) == SQLITE_OK;
    }
    // First column of the first row as an integer (-1 without a row).
    long long Int(const std::string& sql) {
        auto q = FirstRow(sql);
        return q ? sqlite3_column_int64(q.get(), 0) : -1;
    }
    double Double(const std::string& sql) {
        auto q = FirstRow(sql);
        return q ? sqlite3_column_double(q.get(), 0) : -1;
    }
    std::string Text(const std::string& sql) {
        auto q = FirstRow(sql);
        const unsigned char* text = q ? sqlite3_column_text(q.get(), 0) : nullptr;
        return text ? reinterpret_cast<const char*>(text) : std::string();
    }

private:
    // The statement standing on the first row of sql, or none.
    gui::SqliteStatementHandle FirstRow(const std::string& sql) {
        gui::SqliteStatementHandle q;
        if (sqlite3_prepare_v2(db_.get(), sql.c_str(), -1, q.put(), nullptr) != SQLITE_OK ||
            sqlite3_step(q.get()) != SQLITE_ROW)
            q.reset();
        return q;
    }

    gui::SqliteHandle db_;
};

inline SYSTEMTIME At(WORD y, WORD mo, WORD d, WORD h = 0, WORD mi = 0, WORD s = 0) {
    SYSTEMTIME t{};
    t.wYear = y;
    t.wMonth = mo;
    t.wDay = d;
    t.wHour = h;
    t.wMinute = mi;
    t.wSecond = s;
    return t;
}

// The log file of this test program, present while the object lives (the writer only appends).
class LogCapture {
public:
    LogCapture() : path_(LogFileName()) { testing_support::WriteFileBytes(path_, ""); }
    ~LogCapture() { DeleteFileW(path_.c_str()); }
    std::string Text() const { return testing_support::ReadFileBytes(path_); }

private:
    std::wstring path_;
};

// A stored row with its children, as the menus hand them to the database.
inline TStoredItem Node(int miid, const std::wstring& caption, const std::wstring& path = L"",
                        std::vector<TStoredItem> items = {}) {
    TStoredItem n;
    n.MIID = miid;
    n.Caption = caption;
    n.ExecPath = path;
    n.Items = std::move(items);
    return n;
}

}  // namespace data_test
