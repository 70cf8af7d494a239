// Launch records and launch statistics on real SQLite files, with a settable clock.
#include <gtest/gtest.h>

#include <windows.h>
#include <commctrl.h>

#include <vector>

#include "menu/DKComponents.h"
#include "DataTestSupport.h"
#include "menu/ShellIcon.h"

using data_test::At;
using data_test::RawDb;
using testing_support::TempDir;

namespace {

class DataStats : public ::testing::Test {
protected:
    void SetUp() override {
        data = std::make_unique<TDKData>(dir / L"dk.pdb");
        ASSERT_TRUE(data->Connected());
        data->SetClock([this] { return now; });
    }
    void TearDown() override { data.reset(); }

    // One launch at the given local time.
    void LaunchAt(const SYSTEMTIME& t, int mid, const std::wstring& caption, const std::wstring& path) {
        now = t;
        data->SaveExecTime(mid, caption, path, -1);
    }
    static std::vector<std::wstring> Captions(const std::vector<TStatRow>& rows) {
        std::vector<std::wstring> out;
        for (const auto& r : rows) out.push_back(r.Caption);
        return out;
    }
    static std::vector<std::wstring> Lines(const std::vector<TStatLine>& lines) {
        std::vector<std::wstring> out;
        for (const auto& l : lines) out.push_back(l.Caption);
        return out;
    }

    TempDir dir{L"stats"};
    SYSTEMTIME now = At(2026, 3, 10, 12, 0, 0);
    std::unique_ptr<TDKData> data;
};

}  // namespace

TEST_F(DataStats, LaunchesKeepOnePathRowPerMenuWhateverTheCase) {
    LaunchAt(At(2026, 3, 10, 9), 2, L"Notepad", L"C:\\Windows\\NOTEPAD.exe");
    LaunchAt(At(2026, 3, 10, 10), 2, L"notepad again", L"c:\\windows\\Notepad.EXE");
    LaunchAt(At(2026, 3, 10, 11), 5, L"Notepad", L"C:\\WINDOWS\\notepad.exe");
    LaunchAt(At(2026, 3, 10, 11), 2, L"Straße", L"C:\\Ä\\Straße.TXT");
    LaunchAt(At(2026, 3, 10, 11), 2, L"Straße", L"c:\\ä\\straße.txt");

    RawDb raw(dir / L"dk.pdb");
    EXPECT_EQ(raw.Int("select count(*) from ItemsPath"), 3);
    EXPECT_EQ(raw.Int("select count(*) from ItemsPath where MID = 2 and Path = 'c:\\windows\\notepad.exe' "
                      "and Caption = 'Notepad'"),
              1);
    EXPECT_EQ(raw.Text("select Path from ItemsPath where Caption = 'Straße'"), "c:\\ä\\straße.txt");
    EXPECT_EQ(raw.Int("select count(*) from ExecItemTime e join ItemsPath i on i.PID = e.PID where i.MID = 2"), 4);
    EXPECT_EQ(raw.Int("select count(*) from ExecItemTime e join ItemsPath i on i.PID = e.PID where i.MID = 5"), 1);
    // Stored as a date value: days since 1899-12-30, the time of day as the fraction.
    EXPECT_NEAR(raw.Double("select max(ExecTime) from ExecItemTime"), 46091.0 + 11.0 / 24, 1e-8);
}

TEST_F(DataStats, PopularCountsOnlyTheLastSevenDaysRecentListsAll) {
    now = At(2026, 3, 10, 12);
    // Eight days ago: only in Recent. Six days ago twice, today once: the most popular.
    LaunchAt(At(2026, 3, 2, 12), 1, L"Old", L"c:\\old.exe");
    LaunchAt(At(2026, 3, 4, 13), 1, L"Often", L"c:\\often.exe");
    LaunchAt(At(2026, 3, 4, 14), 1, L"Often", L"c:\\often.exe");
    LaunchAt(At(2026, 3, 10, 8), 1, L"Once", L"c:\\once.exe");
    LaunchAt(At(2026, 3, 3, 11, 59, 59), 1, L"Edge", L"c:\\edge.exe");  // seven days and one second
    now = At(2026, 3, 10, 12);

    EXPECT_EQ(Captions(data->PopularRows(1)), (std::vector<std::wstring>{L"Often", L"Once"}));
    gui::StringList sorted = data->GetSortedList(1);
    EXPECT_EQ(sorted.lines, (std::vector<std::wstring>{L"c:\\often.exe", L"c:\\once.exe"}));
    EXPECT_EQ(Captions(data->RecentRows(1)), (std::vector<std::wstring>{L"Once", L"Often", L"Edge", L"Old"}));

    // A menu whose launches are all older: "Most Popular" opens empty, "Recent" does not.
    now = At(2026, 3, 20, 12);
    EXPECT_TRUE(data->ShowPopularList(1).Entries.empty());
    EXPECT_EQ(data->GetSortedList(1).Count(), 0);
    EXPECT_EQ(data->ShowRecentList(1).Entries.size(), 4u);
    EXPECT_TRUE(data->ShowPopularList(4).Entries.empty());
}

TEST_F(DataStats, MoreHoldsRowsEightToFifty) {
    auto launchPaths = [&](int mid, int n) {
        for (int i = 1; i <= n; ++i)
            LaunchAt(TDKData::AddDays(At(2026, 3, 10, 0), i / 1440.0), mid, L"item " + std::to_wstring(i),
                     L"c:\\p" + std::to_wstring(i) + L".exe");
    };
    launchPaths(1, 7);
    launchPaths(2, 8);
    launchPaths(3, 60);

    TStatList seven = data->ShowRecentList(1);
    EXPECT_EQ(seven.Entries.size(), 7u);
    EXPECT_FALSE(seven.HasMore);

    TStatList eight = data->ShowRecentList(2);
    EXPECT_EQ(eight.Entries.size(), 7u);
    ASSERT_TRUE(eight.HasMore);
    ASSERT_EQ(eight.More.size(), 1u);
    EXPECT_EQ(eight.More[0].Caption, L"item 1");  // the oldest launch is the eighth row

    TStatList sixty = data->ShowRecentList(3);
    EXPECT_EQ(sixty.Entries.size(), 7u);
    ASSERT_EQ(sixty.More.size(), 43u);
    EXPECT_EQ(sixty.Entries.front().Caption, L"item 60");
    EXPECT_EQ(sixty.More.front().Caption, L"item 53");
    EXPECT_EQ(sixty.More.back().Caption, L"item 11");  // rows 51 to 60 (items 10 to 1) are not shown
    EXPECT_EQ(sixty.Entries.front().Path, L"c:\\p60.exe");
    EXPECT_EQ(data->ShowPopularList(3).More.size(), 43u);
}

TEST_F(DataStats, FiguresOfAnEntryLaunchedYesterday) {
    LaunchAt(At(2026, 3, 1, 10), 0, L"Calc", L"C:\\Calc.exe");
    LaunchAt(At(2026, 3, 7, 10), 0, L"Calc", L"C:\\Calc.exe");
    LaunchAt(At(2026, 3, 9, 23, 59, 59), 0, L"Calc", L"C:\\Calc.exe");
    now = At(2026, 3, 10, 9, 30);
    const TStatRow entry = data->PopularRows(0).at(0);
    EXPECT_EQ(entry.Path, L"c:\\calc.exe");

    auto popular = data->ShowPopularStat(entry.PID, entry.Path);
    EXPECT_EQ(Lines(popular),
              (std::vector<std::wstring>{L"Last Week: 2", L"Total: 3", L"Today: 0", L"c:\\calc.exe"}));
    EXPECT_TRUE(popular.back().HasSplitter);
    EXPECT_FALSE(popular.front().HasSplitter);

    LaunchAt(At(2026, 3, 10, 0, 0, 1), 0, L"Calc", L"c:\\calc.exe");
    now = At(2026, 3, 10, 9, 30);
    EXPECT_EQ(data->ShowPopularStat(entry.PID, entry.Path)[2].Caption, L"Today: 1");

    auto recent = data->ShowRecentStat(entry.PID, entry.Path);
    EXPECT_EQ(Lines(recent), (std::vector<std::wstring>{
                                 L"Last launch time: " + TDKData::FormatDateTime(At(2026, 3, 10, 0, 0, 1)),
                                 L"Launches count: 4", L"c:\\calc.exe"}));
    EXPECT_TRUE(recent.back().HasSplitter);
    // The time is part of the text except at midnight exactly.
    EXPECT_NE(TDKData::FormatDateTime(At(2026, 3, 10, 0, 0, 1)), TDKData::FormatDateTime(At(2026, 3, 10)));
    EXPECT_EQ(TDKData::FormatDateTime(At(2026, 3, 10)).find(L':'), std::wstring::npos);
}

TEST_F(DataStats, ClearStatForgetsOneMenuOnly) {
    LaunchAt(At(2026, 3, 10, 9), 1, L"A", L"c:\\a.exe");
    LaunchAt(At(2026, 3, 10, 10), 1, L"B", L"c:\\b.exe");
    LaunchAt(At(2026, 3, 10, 11), 2, L"A", L"c:\\a.exe");
    const int pidBefore = data->RecentRows(1).back().PID;

    data->ClearStat(1);
    EXPECT_TRUE(data->ShowPopularList(1).Entries.empty());
    EXPECT_TRUE(data->ShowRecentList(1).Entries.empty());
    EXPECT_EQ(Captions(data->RecentRows(2)), std::vector<std::wstring>{L"A"});
    EXPECT_EQ(data->GetSortedList(2).Count(), 1);

    // The path rows stay: a later launch finds its old PID again.
    LaunchAt(At(2026, 3, 10, 12), 1, L"A renamed", L"C:\\A.EXE");
    auto rows = data->RecentRows(1);
    ASSERT_EQ(rows.size(), 1u);
    EXPECT_EQ(rows[0].PID, pidBefore);
    EXPECT_EQ(rows[0].Caption, L"A");  // the caption of the first launch
    RawDb raw(dir / L"dk.pdb");
    EXPECT_EQ(raw.Int("select count(*) from ItemsPath"), 3);
}

// Entries show the icon of their own path, looked up at their first paint; opening the list
// again looks nothing up, while a file written since is looked up anew.
TEST_F(DataStats, EntryIconsAreLookedUpOncePerFileVersion) {
    struct TMenu : TDKPopupMenu {
        using TDKPopupMenu::TDKPopupMenu;
        void ExecuteFilterText(TDKMenuItem*) override {}
    } menu(TMenuOwner{L"Files", 1, 0, nullptr});
    const std::wstring exe = dir / L"Tool.exe", txt = dir / L"notes.txt";
    const std::wstring computer = L"::{20d04fe0-3aea-1069-a2d8-08002b30309d}";
    ASSERT_TRUE(CopyFileW((testing_support::BinDir() + L"orvane.exe").c_str(), exe.c_str(), FALSE));
    testing_support::WriteFileBytes(txt, "x");
    LaunchAt(At(2026, 3, 10, 9), 1, L"Tool", exe);
    LaunchAt(At(2026, 3, 10, 10), 1, L"Notes", txt);
    LaunchAt(At(2026, 3, 10, 11), 1, L"Computer", computer);
    TDKMenuItem* recent = menu.Items()->AddMenuItem(0, L"Recent");
    // The entry's picture, which must be the one its path has in the shell.
    auto shown = [&](int row, const std::wstring& path) {
        TDKMenuItem* e = recent->GetItem(row);
        EXPECT_TRUE(e->FIconInGlobList);
        gui::IconHandle icon(ImageList_GetIcon(SysSmallImageList(), ShellIconIndex(e), ILD_NORMAL));
        gui::IconHandle own(GetShellSmallIcon(path));
        std::vector<DWORD> px = testing_support::IconPixels(icon.get());
        EXPECT_EQ(px, testing_support::IconPixels(own.get())) << gui::ToUtf8(path);
        return px;
    };
    auto shownAll = [&] {
        EXPECT_NE(shown(0, computer), shown(1, txt));
        shown(2, exe);
    };

    // Building looks nothing up; the rows' first paint does.
    const int before = TDKData::StatIconLookups();
    data->ShowRecentList(recent);
    ASSERT_EQ(recent->Count(), 3);
    EXPECT_EQ(TDKData::StatIconLookups(), before);
    recent->ShowAt(100, 20);
    recent->CloseWindow();
    EXPECT_EQ(TDKData::StatIconLookups(), before + 3);
    shownAll();

    data->ShowRecentList(recent);
    shownAll();
    EXPECT_EQ(TDKData::StatIconLookups(), before + 3);

    HANDLE h = CreateFileW(txt.c_str(), FILE_WRITE_ATTRIBUTES, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    FILETIME t{};
    GetFileTime(h, nullptr, nullptr, &t);
    ++t.dwHighDateTime;
    SetFileTime(h, nullptr, nullptr, &t);
    CloseHandle(h);
    data->ShowRecentList(recent);
    shownAll();
    EXPECT_EQ(TDKData::StatIconLookups(), before + 4);
}
