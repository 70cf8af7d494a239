// Launch recording and the statistics queries over 100,000 launch rows.
// Prints one table row per measurement: min / median / max in milliseconds.
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <functional>
#include <string>
#include <vector>

#include "data/DKDataModule.h"
#include "SysUtils.h"
#include "Handles.h"
#include "sqlite3.h"
#include "BenchClock.h"

namespace {

void Row(const char* what, int runs, const std::function<void()>& fn) {
    std::vector<double> t = bench::SortedTimes(runs, fn);
    std::printf("| %-58s | %5d | %9.3f | %9.3f | %9.3f |\n", what, runs, t.front(), t[t.size() / 2], t.back());
}

// Fills the launch table directly: `launches` rows over `menus` x `paths` targets, spread evenly
// over the `days` before now.
void Fill(const std::wstring& file, int menus, int paths, int launches, double days, const SYSTEMTIME& now) {
    { TDKData create(file); }  // schema
    gui::SqliteHandle db;
    sqlite3_open_v2(gui::ToUtf8(file).c_str(), db.put(), SQLITE_OPEN_READWRITE, nullptr);
    sqlite3_exec(db.get(), "begin", nullptr, nullptr, nullptr);
    gui::SqliteStatementHandle p;
    sqlite3_prepare_v2(db.get(), "insert into ItemsPath (MID, Caption, Path) values (?, ?, ?)", -1, p.put(), nullptr);
    for (int m = 0; m < menus; ++m)
        for (int i = 0; i < paths; ++i) {
            std::string path = "c:\\program files\\app" + std::to_string(i) + "\\app.exe";
            std::string caption = "App " + std::to_string(i);
            sqlite3_bind_int(p.get(), 1, m);
            sqlite3_bind_text(p.get(), 2, caption.c_str(), -1, SQLITE_TRANSIENT);
            sqlite3_bind_text(p.get(), 3, path.c_str(), -1, SQLITE_TRANSIENT);
            sqlite3_step(p.get());
            sqlite3_reset(p.get());
        }
    sqlite3_prepare_v2(db.get(), "insert into ExecItemTime (PID, ExecTime) values (?, ?)", -1, p.put(), nullptr);
    const int targets = menus * paths;
    for (int i = 0; i < launches; ++i) {
        // Skewed: low PIDs are launched more often, as favourites are.
        int pid = 1 + static_cast<int>((static_cast<long long>(i) * i) % targets);
        SYSTEMTIME t = TDKData::AddDays(now, -days * (i + 1) / launches);
        sqlite3_bind_int(p.get(), 1, pid);
        sqlite3_bind_double(p.get(), 2, TDKData::ToDateTime(t));
        sqlite3_step(p.get());
        sqlite3_reset(p.get());
    }
    p.reset();
    sqlite3_exec(db.get(), "commit", nullptr, nullptr, nullptr);
}

// The grouping form of the statement (all launches of the week grouped, then joined), for
// comparison with the module's per-path form.
void GroupingForm(const std::wstring& file, int mid, const SYSTEMTIME& now) {
    static gui::SqliteHandle db;
    static gui::SqliteStatementHandle s;
    if (!db) {
        sqlite3_open_v2(gui::ToUtf8(file).c_str(), db.put(), SQLITE_OPEN_READONLY, nullptr);
        sqlite3_prepare_v2(db.get(),
                           "select i.PID, i.Caption, i.Path from ItemsPath i inner join (   select PID, "
                           "count(PID) as WeekExecCount   from ExecItemTime   where ExecTime > ?1   group by "
                           "PID) s on i.PID = s.PID where i.MID = ?2 order by WeekExecCount desc",
                           -1, s.put(), nullptr);
    }
    sqlite3_bind_double(s.get(), 1, TDKData::ToDateTime(now) - 7);
    sqlite3_bind_int(s.get(), 2, mid);
    while (sqlite3_step(s.get()) == SQLITE_ROW) {
    }
    sqlite3_reset(s.get());
}

void Scenario(const char* title, int menus, int paths, int launches, double days) {
    wchar_t tmp[MAX_PATH];
    GetTempPathW(MAX_PATH, tmp);
    std::wstring file = std::wstring(tmp) + L"orv_bench_" + std::to_wstring(GetCurrentProcessId()) + L".pdb";
    DeleteFileW(file.c_str());
    SYSTEMTIME now;
    GetLocalTime(&now);
    Fill(file, menus, paths, launches, days, now);

    std::printf("\n%s: %d launch rows, %d menus x %d paths, over %.0f days\n", title, launches, menus, paths, days);
    std::printf("| %-58s | %5s | %9s | %9s | %9s |\n", "operation", "runs", "min ms", "median ms", "max ms");
    std::printf("|%s|-------|-----------|-----------|-----------|\n", std::string(60, '-').c_str());
    {
        TDKData data(file);
        data.SetClock([&] { return now; });
        size_t n = 0;
        Row("\"Most Popular\", first query after opening (cold cache)", 1,
            [&] { n = data.ShowPopularList(0).Entries.size(); });
        Row("\"Most Popular\" (ShowPopularList, menu 0)", 30, [&] { n = data.ShowPopularList(0).Entries.size(); });
        Row("GetSortedList (menu 0, all paths of the week)", 30, [&] { n += data.GetSortedList(0).Count(); });
        Row("\"Recent\" (ShowRecentList, menu 0)", 30, [&] { n += data.ShowRecentList(0).Entries.size(); });
        Row("grouping form of the popularity statement (comparison)", 10, [&] { GroupingForm(file, 0, now); });
        Row("ShowPopularStat (one entry)", 30, [&] { n += data.ShowPopularStat(1, L"x").size(); });
        Row("ShowRecentStat (one entry)", 30, [&] { n += data.ShowRecentStat(1, L"x").size(); });
        int i = 0;
        Row("SaveExecTime, known path", 200, [&] {
            data.SaveExecTime(0, L"App", L"C:\\Program Files\\App" + std::to_wstring(i++ % paths) + L"\\app.exe");
        });
        Row("SaveExecTime, new path", 50, [&] {
            data.SaveExecTime(0, L"New", L"C:\\New\\new" + std::to_wstring(i++) + L".exe");
        });
        if (n == 0) std::printf("(no rows)\n");
    }
    DeleteFileW(file.c_str());
}

}  // namespace

int main() {
    Scenario("Spread", 9, 100, 100000, 30);
    Scenario("Worst case: every launch in one menu within the week", 1, 200, 100000, 6.9);
    return 0;
}
