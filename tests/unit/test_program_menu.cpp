// The Programs menu on folders made by the test, with a real dk.pdb behind DKData.
#include <gtest/gtest.h>

#include <shlobj.h>

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "data/DKDataModule.h"
#include "ProgramMenu.h"
#include "SysUtils.h"
#include "MenuTestSupport.h"
#include "TestSupport.h"

using testing_support::BinDir;
using testing_support::TempDir;

namespace {

void MakeFile(const std::wstring& path) { testing_support::WriteFileBytes(path, "x"); }

std::wstring Lower(std::wstring s) { return gui::LowerCase(s); }

using testing_support::Captions;

// Every file has exactly one placeholder and an expose handler; folders have neither.
void CheckPlaceholders(const TDKMenuItem* item, int& files) {
    for (int i = 0; i < item->Count(); ++i) {
        TDKMenuItem* c = item->GetItem(i);
        EXPECT_TRUE(c->FFiltered) << gui::ToUtf8(c->Caption());
        if (c->Folder()) {
            EXPECT_FALSE(static_cast<bool>(c->FOnBeforExpose)) << gui::ToUtf8(c->Caption());
            CheckPlaceholders(c, files);
        } else {
            ++files;
            ASSERT_EQ(c->Count(), 1) << gui::ToUtf8(c->Caption());
            EXPECT_EQ(c->GetItem(0)->Caption(), L"Empty");
            EXPECT_EQ(c->GetItem(0)->FMIID, 0);
            EXPECT_TRUE(static_cast<bool>(c->FOnBeforExpose));
        }
    }
}

class ProgramMenu : public ::testing::Test {
protected:
    void SetUp() override {
        DKData = std::make_unique<TDKData>(dir / L"dk.pdb");
        ASSERT_TRUE(DKData->Connected());
        folders.CommonPrograms = dir / L"cprog";
        folders.Programs = dir / L"uprog";
        folders.Desktop = dir / L"udesk";
        folders.CommonDesktop = dir / L"cdesk";
        folders.QuickLaunch = dir / L"no\\Quick Launch";  // missing
        for (auto& d : {folders.CommonPrograms, folders.Programs, folders.Desktop, folders.CommonDesktop})
            CreateDirectoryW(d.c_str(), nullptr);
    }
    void TearDown() override {
        menu.reset();
        DKData.reset();
    }
    TProgramMenu& Build() {
        menu = std::make_unique<TProgramMenu>(TMenuOwner{L"Programs", 0, RGB(40, 80, 120), nullptr}, folders);
        return *menu;
    }
    TDKMenuItem* Section(const std::wstring& caption) {
        TDKMenuItem* s = menu->RootItem()->FindItem(caption);
        EXPECT_NE(s, nullptr) << gui::ToUtf8(caption);
        return s;
    }

    TempDir dir{L"progmenu"};
    TProgramFolders folders;
    std::unique_ptr<TProgramMenu> menu;
};

TEST_F(ProgramMenu, SectionsMergeBothFoldersAndFilesGetPlaceholders) {
    for (auto& base : {folders.CommonPrograms, folders.Programs}) {
        CreateDirectoryW((base + L"\\Games").c_str(), nullptr);
        CreateDirectoryW((base + L"\\Games\\Deep").c_str(), nullptr);
        MakeFile(base + L"\\Tool.txt");
    }
    MakeFile(folders.CommonPrograms + L"\\Games\\chess.txt");
    MakeFile(folders.Programs + L"\\Games\\Deep\\mines.txt");
    MakeFile(folders.Programs + L"\\Mine.txt");
    MakeFile(folders.Desktop + L"\\Notes.txt");
    MakeFile(folders.CommonDesktop + L"\\Notes.txt");
    MakeFile(folders.CommonDesktop + L"\\Shared.txt");

    TProgramMenu& m = Build();
    TDKMenuItem* root = m.RootItem();

    // The three sections stand right below the title, before the filter and statistics.
    TDKMenuItem* title = root->FindItem(TDKPopupMenu::MainTitleID);
    ASSERT_NE(title, nullptr);
    EXPECT_EQ(title->Caption(), L"All Programs");
    EXPECT_TRUE(title->FGroupTitle);
    int A = title->Index();
    ASSERT_GT(root->Count(), A + 4);
    EXPECT_EQ(root->GetItem(A + 1)->Caption(), L"Start Menu");
    EXPECT_EQ(root->GetItem(A + 2)->Caption(), L"Desktop");
    EXPECT_EQ(root->GetItem(A + 3)->Caption(), L"Quick Launch");
    EXPECT_EQ(root->GetItem(A + 4)->FMIID, TDKPopupMenu::FilterTitleID);
    TDKMenuItem* edit = root->FindItem(TDKPopupMenu::FilterEditID);
    ASSERT_NE(edit, nullptr);
    EXPECT_NE(root->FindItem(TDKPopupMenu::MostPopularID), nullptr);
    for (int i = 1; i <= 3; ++i) {
        TDKMenuItem* s = root->GetItem(A + i);
        EXPECT_EQ(s->FMIID, 0);
        EXPECT_TRUE(s->FFiltered);
        EXPECT_EQ(s->Icon(), m.FFoldIcon.get());
        EXPECT_FALSE(static_cast<bool>(s->FOnBeforExpose));
    }

    // Start Menu: one tree of both folders; of the file in both, the all-users copy.
    TDKMenuItem* start = Section(L"Start Menu");
    EXPECT_EQ(Captions(start), (std::vector<std::wstring>{L"Games", L"Mine.txt", L"Tool.txt"}));
    TDKMenuItem* tool = start->FindItem(std::wstring(L"Tool.txt"));
    ASSERT_NE(tool, nullptr);
    EXPECT_EQ(Lower(tool->GetFileName()), Lower(folders.CommonPrograms + L"\\Tool.txt"));
    TDKMenuItem* games = start->FindItem(std::wstring(L"Games"));
    ASSERT_NE(games, nullptr);
    EXPECT_EQ(Captions(games), (std::vector<std::wstring>{L"Deep", L"chess.txt"}));
    TDKMenuItem* deep = games->FindItem(std::wstring(L"Deep"));
    ASSERT_NE(deep, nullptr);
    EXPECT_EQ(Captions(deep), (std::vector<std::wstring>{L"mines.txt"}));

    // Desktop: of the file in both, the user's copy.
    TDKMenuItem* desk = Section(L"Desktop");
    EXPECT_EQ(Captions(desk), (std::vector<std::wstring>{L"Notes.txt", L"Shared.txt"}));
    EXPECT_EQ(Lower(desk->GetItem(0)->GetFileName()), Lower(folders.Desktop + L"\\Notes.txt"));

    // Missing Quick Launch: the section stays, without children.
    EXPECT_EQ(Section(L"Quick Launch")->Count(), 0);

    int files = 0;
    for (int i = 1; i <= 3; ++i) CheckPlaceholders(root->GetItem(A + i), files);
    EXPECT_EQ(files, 6);

    // Opening a file's submenu replaces the placeholder with its commands.
    tool->FOnBeforExpose(tool);
    EXPECT_EQ(tool->FindItem(std::wstring(L"Empty")), nullptr);
    EXPECT_GT(tool->Count(), 0);
}

// The prefix's own folders: an empty user Desktop before the Public Desktop, and an empty
// all-users Startup before the user's. Each entry names, opens and records its own file.
TEST_F(ProgramMenu, EntriesAfterAnEmptyFirstFolderOpenTheirOwnFiles) {
    auto special = [](int csidl) {
        wchar_t b[MAX_PATH] = {};
        SHGetFolderPathW(nullptr, csidl | CSIDL_FLAG_CREATE, nullptr, 0, b);
        return std::wstring(b);
    };
    const std::wstring userDesk = special(CSIDL_DESKTOPDIRECTORY), pubDesk = special(CSIDL_COMMON_DESKTOPDIRECTORY);
    const std::wstring commonStartup = special(CSIDL_COMMON_STARTUP), userStartup = special(CSIDL_STARTUP);
    for (const std::wstring& empty : {userDesk, commonStartup}) {
        WIN32_FIND_DATAW fd;
        HANDLE h = FindFirstFileW((empty + L"\\*").c_str(), &fd);
        int entries = 0;
        if (h != INVALID_HANDLE_VALUE) {
            do entries += fd.cFileName[0] != L'.';
            while (FindNextFileW(h, &fd));
            FindClose(h);
        }
        ASSERT_EQ(entries, 0) << gui::ToUtf8(empty);
    }
    const std::wstring doc = pubDesk + L"\\orv_pubdoc.exe", shortcut = userStartup + L"\\orv_userstart.exe";
    ASSERT_TRUE(CopyFileW((BinDir() + L"startup_probe.exe").c_str(), doc.c_str(), FALSE));
    ASSERT_TRUE(CopyFileW((BinDir() + L"startup_probe.exe").c_str(), shortcut.c_str(), FALSE));
    struct Cleanup {
        std::wstring a, b;
        ~Cleanup() {
            DeleteFileW(a.c_str());
            DeleteFileW(b.c_str());
            SetEnvironmentVariableW(L"ORV_PROBE_DIR", nullptr);
        }
    } cleanup{doc, shortcut};
    const std::wstring records = dir / L"records";
    CreateDirectoryW(records.c_str(), nullptr);
    SetEnvironmentVariableW(L"ORV_PROBE_DIR", records.c_str());
    folders = TProgramFolders{};
    folders.QuickLaunch = dir / L"no\\Quick Launch";
    Build();

    auto entry = [](TDKMenuItem* in, const std::wstring& stem) -> TDKMenuItem* {
        for (int i = 0; in && i < in->Count(); ++i)
            if (Lower(in->GetItem(i)->Caption()).rfind(stem, 0) == 0) return in->GetItem(i);
        return nullptr;
    };
    TDKMenuItem* startup = entry(Section(L"Start Menu"), L"startup");
    for (auto [item, path] : {std::pair{entry(Section(L"Desktop"), L"orv_pubdoc"), doc},
                              std::pair{entry(startup, L"orv_userstart"), shortcut}}) {
        ASSERT_NE(item, nullptr) << gui::ToUtf8(path);
        EXPECT_EQ(Lower(item->GetFileName()), Lower(path));
        item->FOnClick(item);
        std::wstring stem = path.substr(path.rfind(L'\\') + 1);
        stem.resize(stem.size() - 4);
        EXPECT_TRUE(testing_support::WaitUntil([&] { return gui::FileExists(records + L"\\" + stem + L".started"); },
                                               20000))
            << gui::ToUtf8(path);
    }
    std::vector<std::wstring> recorded;
    for (auto& row : DKData->RecentRows(0)) recorded.push_back(row.Path);
    std::sort(recorded.begin(), recorded.end());
    EXPECT_EQ(recorded, (std::vector<std::wstring>{Lower(doc), Lower(shortcut)}));
}

TEST_F(ProgramMenu, QuickLaunchFolderIsListed) {
    folders.QuickLaunch = dir / L"ql";
    CreateDirectoryW(folders.QuickLaunch.c_str(), nullptr);
    MakeFile(folders.QuickLaunch + L"\\Browser.txt");
    CreateDirectoryW((folders.QuickLaunch + L"\\More").c_str(), nullptr);
    MakeFile(folders.QuickLaunch + L"\\More\\Mail.txt");
    Build();
    TDKMenuItem* ql = Section(L"Quick Launch");
    EXPECT_EQ(Captions(ql), (std::vector<std::wstring>{L"More", L"Browser.txt"}));
    int files = 0;
    CheckPlaceholders(ql, files);
    EXPECT_EQ(files, 2);
    EXPECT_EQ(Section(L"Start Menu")->Count(), 0);
}

TEST_F(ProgramMenu, FilterHidesSectionsWithoutAMatch) {
    CreateDirectoryW((folders.Programs + L"\\Games").c_str(), nullptr);
    MakeFile(folders.Programs + L"\\Games\\chess.txt");
    MakeFile(folders.Desktop + L"\\Notes.txt");
    TProgramMenu& m = Build();
    TDKMenuItem* box = m.RootItem()->FindItem(TDKPopupMenu::FilterEditID);
    ASSERT_NE(box, nullptr);
    m.RootItem()->Filter(L"chess", box);
    EXPECT_TRUE(Section(L"Start Menu")->Visible());
    EXPECT_FALSE(Section(L"Desktop")->Visible());
    EXPECT_FALSE(Section(L"Quick Launch")->Visible());
    EXPECT_TRUE(m.RootItem()->FindItem(TDKPopupMenu::MainTitleID)->Visible());
    m.RootItem()->Filter(L"", box);
    EXPECT_TRUE(Section(L"Desktop")->Visible());
}

TEST_F(ProgramMenu, FilterBoxRunsTheTypedCommandLine) {
    TProgramMenu& m = Build();
    std::wstring records = dir / L"records";
    CreateDirectoryW(records.c_str(), nullptr);
    SetEnvironmentVariableW(L"ORV_PROBE_DIR", records.c_str());
    TDKMenuItem* edit = m.RootItem()->FindItem(TDKPopupMenu::FilterEditID);
    ASSERT_NE(edit, nullptr);

    // A program name followed by an argument starts that command line.
    edit->FCaption = L"\"" + BinDir() + L"startup_probe.exe\" typed arg2";
    m.ExecuteFilterText(edit);
    std::wstring rec = records + L"\\typed.started";
    EXPECT_TRUE(testing_support::WaitUntil([&] { return gui::FileExists(rec); }, 20000));
    std::string bytes = testing_support::ReadFileBytes(rec);
    std::wstring text(reinterpret_cast<const wchar_t*>(bytes.data()), bytes.size() / sizeof(wchar_t));
    EXPECT_NE(text.find(L"typed arg2"), std::wstring::npos) << gui::ToUtf8(text);
    EXPECT_FALSE(m.Acitve());

    // Text naming no program closes the menu and does nothing else; nothing is recorded.
    edit->FCaption = L"no-such-program-here xyz";
    EXPECT_NO_THROW(m.ExecuteFilterText(edit));
    EXPECT_FALSE(m.Acitve());
    SetEnvironmentVariableW(L"ORV_PROBE_DIR", nullptr);
}

}  // namespace
