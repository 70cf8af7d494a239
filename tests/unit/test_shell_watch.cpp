// The folder watcher of a shown shell-folder window, on real folders and real windows.
#include <gtest/gtest.h>

#include "menu/DKComponents.h"
#include "util/FileUtils.h"
#include "SysUtils.h"
#include "TestSupport.h"
#include "PlainMenu.h"

using testing_support::TempDir;
using testing_support::WaitUntil;

namespace {

void MakeFile(const std::wstring& path, const std::string& text = "x") { testing_support::WriteFileBytes(path, text); }

class ShellWatch : public ::testing::Test {
protected:
    void SetUp() override {
        CreateDirectoryW(sub.c_str(), nullptr);
        MakeFile(sub + L"\\old.txt");
        MakeFile(dir / L"keep.txt");
        menu = std::make_unique<TPlainMenu>();
        root = menu->RootItem();
        root->SetShowFileExt(true);
        root->ExposeFolder(dir.Path(), false, 224, 1);
        s = root->FindItem(std::wstring(L"sub"));
    }
    void TearDown() override { menu.reset(); }
    TempDir dir{L"watch"};
    std::wstring sub = dir / L"sub";
    std::unique_ptr<TDKPopupMenu> menu;
    TDKMenuItem* root = nullptr;
    TDKMenuItem* s = nullptr;
};

TEST_F(ShellWatch, RenamingAFileClosesTheShownFolderOnly) {
    ASSERT_NE(s, nullptr);
    root->ShowAt(100, 100);
    s->ShowAt(360, 100);
    ASSERT_NE(s->Form(), nullptr);
    ASSERT_EQ(s->RowCount(), 1);
    EXPECT_EQ(s->RowText(0), L"old.txt");
    EXPECT_NE(s->FMonDirThread, nullptr);

    // Changing only a file's contents leaves the window open.
    MakeFile(sub + L"\\old.txt", "longer contents");
    WaitUntil([] { return false; }, 1500);
    EXPECT_NE(s->Form(), nullptr);

    ASSERT_TRUE(ShellRename(nullptr, sub + L"\\old.txt", sub + L"\\new.txt", false));
    EXPECT_TRUE(WaitUntil([&] { return s->Form() == nullptr; }, 5000));
    EXPECT_EQ(s->FMonDirThread, nullptr);
    EXPECT_NE(root->Form(), nullptr);  // its own folder did not change

    // Reopening reads the folder afresh.
    s->ShowAt(360, 100);
    ASSERT_EQ(s->RowCount(), 1);
    EXPECT_EQ(s->RowText(0), L"new.txt");

    // A change of the root's folder closes the root's window and every window under it.
    ASSERT_TRUE(MoveFileW((dir / L"keep.txt").c_str(), (dir / L"kept.txt").c_str()));
    EXPECT_TRUE(WaitUntil([&] { return root->Form() == nullptr; }, 5000));
    EXPECT_EQ(s->Form(), nullptr);
}

// Filled again where it stands (as the filter does at every key), a folder's window keeps its
// watcher, which still sees the folder change.
TEST_F(ShellWatch, AWindowFilledAgainInPlaceKeepsItsWatcher) {
    ASSERT_NE(s, nullptr);
    root->ShowAt(100, 100);
    s->ShowAt(360, 100);
    void* watcher = s->FMonDirThread;
    ASSERT_NE(watcher, nullptr);
    s->ShowAt(360, 100);
    EXPECT_EQ(s->FMonDirThread, watcher);
    ASSERT_TRUE(ShellRename(nullptr, sub + L"\\old.txt", sub + L"\\moved.txt", false));
    EXPECT_TRUE(WaitUntil([&] { return s->Form() == nullptr; }, 5000));
    // Opened again after closing, it watches anew.
    s->ShowAt(360, 100);
    EXPECT_NE(s->FMonDirThread, nullptr);
}

TEST_F(ShellWatch, ClosedOrDestroyedItemsAreNotTouchedByEndingWatchers) {
    ASSERT_NE(s, nullptr);
    root->ShowAt(100, 100);
    // Showing again keeps one watcher.
    s->ShowAt(360, 100);
    s->ShowAt(360, 100);
    s->CloseWindow();
    EXPECT_EQ(s->FMonDirThread, nullptr);
    MakeFile(sub + L"\\more.txt");
    WaitUntil([] { return false; }, 300);
    EXPECT_NE(root->Form(), nullptr);

    // The menu goes while its watchers still run; a later change reaches nothing.
    s->ShowAt(360, 100);
    menu.reset();
    MakeFile(sub + L"\\again.txt");
    MakeFile(dir / L"late.txt");
    WaitUntil([] { return false; }, 1200);
    SUCCEED();
}

}  // namespace
