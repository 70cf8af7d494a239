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
        sqlite3_open_v2(gui::ToUtf8(file).c_str(), &db_, SQLITE_OPEN_READWRITE, nullptr);
        sqlite3_busy_timeout(db_, 5000);
    }
    ~RawDb() { sqlite3_close_v2(db_); }
    RawDb(const RawDb&) = delete;
    RawDb& operator=(const RawDb&) = delete;

    bool Exec(const std::string& sql) { return sqlite3_exec(db_, sql.c_str(), nullptr, nullptr, nullptr) == SQLITE_OK; }
    // First column of the first row as an integer (-1 without a row).
    long long Int(const std::string& sql) {
        sqlite3_stmt* s = nullptr;
        long long v = -1;
        if (sqlite3_prepare_v2(db_, sql.c_str(), -1, &s, nullptr) == SQLITE_OK && sqlite3_step(s) == SQLITE_ROW)
            v = sqlite3_column_int64(s, 0);
        sqlite3_finalize(s);
        return v;
    }
    double Double(const std::string& sql) {
        sqlite3_stmt* s = nullptr;
        double v = -1;
        if (sqlite3_prepare_v2(db_, sql.c_str(), -1, &s, nullptr) == SQLITE_OK && sqlite3_step(s) == SQLITE_ROW)
            v = sqlite3_column_double(s, 0);
        sqlite3_finalize(s);
        return v;
    }
    std::string Text(const std::string& sql) {
        sqlite3_stmt* s = nullptr;
        std::string v;
        if (sqlite3_prepare_v2(db_, sql.c_str(), -1, &s, nullptr) == SQLITE_OK && sqlite3_step(s) == SQLITE_ROW &&
            sqlite3_column_text(s, 0))
            v = reinterpret_cast<const char*>(sqlite3_column_text(s, 0));
        sqlite3_finalize(s);
        return v;
    }

private:
    sqlite3* db_ = nullptr;
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
