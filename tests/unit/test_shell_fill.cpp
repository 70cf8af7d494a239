// Filling a whole tree at once: a menu-building thread spreads the sub-folders over helper
// threads and must end with the tree the GUI thread makes in one go; icons are looked up when a
// row is first painted.
#include <gtest/gtest.h>

#include <thread>

#include "menu/DKComponents.h"
#include "util/DKUtils.h"
#include "util/FileUtils.h"
#include "PlainMenu.h"
#include "menu/ShellIcon.h"
#include "SysUtils.h"
#include "TestSupport.h"

using testing_support::TempDir;

namespace {

void MakeFile(const std::wstring& path) { testing_support::WriteFileBytes(path, "x"); }

void MakeDir(const std::wstring& path) { CreateDirectoryW(path.c_str(), nullptr); }

// What a user and the shell see of an item and everything below it, one line per item.
void Describe(TDKMenuItem* item, const std::wstring& indent, std::vector<std::wstring>& out) {
    for (int i = 0; i < item->Count(); ++i) {
        TDKMenuItem* c = item->GetItem(i);
        out.push_back(indent + c->Caption() + L" | folder " + std::to_wstring(c->Folder()) + L" | exec " +
                      c->ExecPath() + L" | file " + gui::LowerCase(c->GetFileName()) + L" | click " +
                      std::to_wstring(static_cast<bool>(c->FOnClick)) + L" | filtered " +
                      std::to_wstring(c->Filtered()) + L" | glob " + std::to_wstring(c->FIconInGlobList));
        Describe(c, indent + L"  ", out);
    }
}

class ShellFill : public ::testing::Test {
protected:
    void SetUp() override {
        // Two folders merged as the Programs menu merges the common and the user's folders:
        // many sub-folders (more than the helper threads), one present in both, nested levels,
        // a file in both.
        common = dir / L"common";
        user = dir / L"user";
        MakeDir(common);
        MakeDir(user);
        for (int g = 0; g < 12; ++g) {
            std::wstring sub = user + L"\\Group " + std::to_wstring(g);
            MakeDir(sub);
            for (int i = 0; i < 3; ++i) MakeFile(sub + L"\\Program " + std::to_wstring(i) + L".txt");
        }
        MakeDir(user + L"\\Group 3\\Inner");
        MakeFile(user + L"\\Group 3\\Inner\\deep.doc");
        MakeDir(common + L"\\Group 3");
        MakeFile(common + L"\\Group 3\\shared.txt");
        MakeFile(common + L"\\Group 3\\Program 0.txt");
        MakeDir(common + L"\\Group 3\\Inner");
        MakeFile(common + L"\\Group 3\\Inner\\common.ini");
        MakeDir(common + L"\\Tools");
        MakeFile(common + L"\\Tools\\tool.txt");
        MakeFile(common + L"\\readme.txt");
        MakeFile(user + L"\\readme.txt");
    }

    std::unique_ptr<TPlainMenu> Fill(bool onWorker) {
        auto menu = std::make_unique<TPlainMenu>();
        TDKMenuItem* root = menu->RootItem();
        root->SetShowFileExt(true);
        root->SetFiltered(true);
        auto fill = [&] {
            root->ExposeFolder(common, true, 224, 1);
            root->ExposeFolder(user, true, 224, 1);
        };
        if (onWorker) {
            std::thread t([&] {
                CoInitializeEx(nullptr, COINIT_MULTITHREADED);
                fill();
                CoUninitialize();
            });
            t.join();
        } else {
            fill();
        }
        return menu;
    }

    TempDir dir{L"shellfill"};
    std::wstring common, user;
};

TEST_F(ShellFill, WorkerThreadMakesTheSameTreeAsTheGuiThread) {
    auto inOneGo = Fill(false);
    auto spread = Fill(true);
    std::vector<std::wstring> a, b;
    Describe(inOneGo->RootItem(), L"", a);
    Describe(spread->RootItem(), L"", b);
    EXPECT_EQ(a, b);
    // The merged folder holds both folders' entries, sorted, the shared file once.
    TDKMenuItem* g3 = spread->RootItem()->FindItem(std::wstring(L"Group 3"));
    ASSERT_NE(g3, nullptr);
    std::vector<std::wstring> captions;
    for (int i = 0; i < g3->Count(); ++i) captions.push_back(g3->GetItem(i)->Caption());
    EXPECT_EQ(captions, (std::vector<std::wstring>{L"Inner", L"Program 0.txt", L"Program 1.txt", L"Program 2.txt",
                                                   L"shared.txt"}));
    EXPECT_EQ(g3->GetItem(0)->Count(), 2);  // deep.doc and common.ini
    EXPECT_EQ(spread->RootItem()->Count(), 14);  // Group 0-11, Tools, readme.txt once
}

// Looked up by the paint itself, or by the icon worker right after it.
TEST_F(ShellFill, IconIndexIsLookedUpWhenTheRowIsFirstPainted) {
    auto menu = Fill(true);
    TDKMenuItem* root = menu->RootItem();
    TDKMenuItem* readme = root->FindItem(std::wstring(L"readme.txt"));
    TDKMenuItem* group = root->FindItem(std::wstring(L"Group 0"));
    ASSERT_NE(readme, nullptr);
    ASSERT_NE(group, nullptr);
    EXPECT_TRUE(readme->FIconInGlobList);
    EXPECT_TRUE(IsShellIconPending(reinterpret_cast<INT_PTR>(readme->FIcon)));

    // The index the shell gives for the entry's full id list.
    auto expected = [](TDKMenuItem* item) {
        PIDLPtr parent, full;
        item->GetFullPIDL(parent, full);
        return GetShellIconIndex(full.get(), false, false);
    };
    root->ShowAt(100, 100);
    auto known = [](TDKMenuItem* item) { return !IsShellIconPending(reinterpret_cast<INT_PTR>(item->FIcon)); };
    EXPECT_TRUE(testing_support::WaitUntil([&] { return known(readme) && known(group); }, 10000));
    EXPECT_EQ(reinterpret_cast<INT_PTR>(readme->FIcon), expected(readme));
    EXPECT_EQ(reinterpret_cast<INT_PTR>(group->FIcon), expected(group));
    EXPECT_NE(expected(readme), expected(group));
    // Rows below are painted only when shown.
    TDKMenuItem* deep = root->FindItem(std::wstring(L"Group 3"))->FindItem(std::wstring(L"Inner"));
    ASSERT_NE(deep, nullptr);
    EXPECT_TRUE(IsShellIconPending(reinterpret_cast<INT_PTR>(deep->GetItem(0)->FIcon)));
    EXPECT_EQ(ShellIconIndex(deep->GetItem(0)), expected(deep->GetItem(0)));
    root->CloseWindow();
}

}  // namespace
