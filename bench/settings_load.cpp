// Reading and writing the settings file with many colour schemes, as the start-up and the
// session end do. Prints a table (min / median / max ms) with the goal of each row.
#include <windows.h>

#include <cstdio>
#include <functional>
#include <string>
#include <vector>

#include "BenchClock.h"
#include "settings/Configs.h"
#include "SysUtils.h"

namespace {

void Row(const std::string& what, int runs, const std::function<void()>& fn, const char* goal) {
    std::vector<double> t = bench::SortedTimes(runs, fn);
    std::printf("| %-40s | %5d | %9.1f | %9.1f | %9.1f | %-13s |\n", what.c_str(), runs, t.front(), t[t.size() / 2],
                t.back(), goal);
}

TConfig Schemes(int count) {
    TConfig c;
    c.ClockFormats.Add(L"hh:nn");
    c.ClockFormats.Add(L"ddd hh:nn:ss");
    c.Scheme.resize(static_cast<size_t>(count));
    for (int n = 0; n < count; ++n) {
        TScheme& s = c.Scheme[static_cast<size_t>(n)];
        s.Name = L"Scheme number " + std::to_wstring(n);
        s.Transparency = static_cast<BYTE>(n);
        for (int i = 0; i < MENU_COUNT; ++i) s.MenuColors[static_cast<size_t>(i)] = static_cast<COLORREF>(n * 131 + i);
    }
    return c;
}

}  // namespace

int main() {
    wchar_t tmp[MAX_PATH];
    GetTempPathW(MAX_PATH, tmp);
    const std::wstring ini = std::wstring(tmp) + L"orvane_bench_settings.ini";
    std::printf("\nSettings file with many colour schemes\n");
    std::printf("| %-40s | %5s | %9s | %9s | %9s | %-13s |\n", "operation", "runs", "min ms", "median ms", "max ms",
                "goal (median)");
    std::printf("|%s|-------|-----------|-----------|-----------|---------------|\n", std::string(42, '-').c_str());
    for (int count : {500, 5000}) {
        TConfig written = Schemes(count);
        DeleteFileW(ini.c_str());
        SaveConfig(written, ini);
        std::string n = std::to_string(count);
        Row("load, " + n + " schemes", count > 1000 ? 3 : 5,
            [&] {
                TConfig c;
                LoadConfig(c, ini);
                if (c.Scheme.size() != static_cast<size_t>(count)) std::printf("(loaded %zu)\n", c.Scheme.size());
            },
            count > 1000 ? "< 500" : "");
        Row("save, " + n + " schemes (one changed)", count > 1000 ? 3 : 5,
            [&] {
                written.Scheme[0].Transparency ^= 1;
                SaveConfig(written, ini);
            },
            "");
    }
    DeleteFileW(ini.c_str());
    return 0;
}
