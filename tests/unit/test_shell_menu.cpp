// Shell context menus turned into menu items: conversion of a menu handle, a real file's
// commands, a submenu filled on opening, and a command invoked and recorded as a launch.
#include <gtest/gtest.h>

#include <thread>

#include "menu/DKComponents.h"
#include "data/DKDataModule.h"
#include "SysUtils.h"
#include "MenuTestSupport.h"
#include "TestSupport.h"
#include "PlainMenu.h"

using testing_support::TempDir;

namespace {

using testing_support::Captions;
int Pos(const TDKMenuItem* item) { return static_cast<int>(reinterpret_cast<INT_PTR>(item->Data())); }

TEST(ShellMenu, ConvertsAMenuHandle) {
    HMENU sub = CreatePopupMenu();
    AppendMenuW(sub, MF_STRING, 40, L"&Inner");
    HMENU m = CreatePopupMenu();
    AppendMenuW(m, MF_SEPARATOR, 0, nullptr);
    AppendMenuW(m, MF_STRING, 10, L"&Open");
    AppendMenuW(m, MF_STRING, 11, L"Save && Close");
    AppendMenuW(m, MF_SEPARATOR, 0, nullptr);
    AppendMenuW(m, MF_SEPARATOR, 0, nullptr);
    AppendMenuW(m, MF_POPUP, reinterpret_cast<UINT_PTR>(sub), L"Send &To");
    AppendMenuW(m, MF_SEPARATOR, 0, nullptr);

    TPlainMenu menu;
    TDKMenuItem* file = menu.RootItem()->AddMenuItem(1, L"file");
    AddItemsFromHMENU(m, file);
    ASSERT_EQ(Captions(file), (std::vector<std::wstring>{L"Open", L"Save  Close", L"Send To"}));
    TDKMenuItem* open = file->GetItem(0);
    EXPECT_TRUE(open->HasSplitter());
    EXPECT_EQ(open->MIID(), 10);
    EXPECT_EQ(Pos(open), 1);
    EXPECT_TRUE(static_cast<bool>(open->FOnClick));
    EXPECT_FALSE(file->GetItem(1)->HasSplitter());
    EXPECT_EQ(file->GetItem(1)->MIID(), 11);
    TDKMenuItem* send = file->GetItem(2);
    EXPECT_TRUE(send->HasSplitter());
    EXPECT_EQ(send->MIID(), 0);
    EXPECT_EQ(Pos(send), 5);
    EXPECT_FALSE(static_cast<bool>(send->FOnClick));
    EXPECT_TRUE(static_cast<bool>(send->FOnBeforExpose));
    EXPECT_EQ(Captions(send), std::vector<std::wstring>{L"Empty"});
    EXPECT_EQ(send->PopupMenu(), &menu);
    DestroyMenu(m);
}

// A shell extension of our own, so a command's invocation is seen without starting anything.
// It fills its submenu only when asked to (WM_INITMENUPOPUP), as many extensions do.
class FakeContextMenu final : public IContextMenu3 {
public:
    // Extra commands before "Run" move the submenu entry; its one entry is called `target`.
    explicit FakeContextMenu(int extra = 0, const wchar_t* target = L"&Target") : extra(extra), target(target) {}
    std::vector<int> Verbs;
    // "Run" carries a picture, as many shell commands do.
    gui::BitmapHandle Picture{CreateBitmap(13, 13, 1, 32, nullptr)};
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** out) override {
        if (riid == IID_IUnknown || riid == IID_IContextMenu || riid == IID_IContextMenu2 ||
            riid == IID_IContextMenu3) {
            *out = static_cast<IContextMenu3*>(this);
            AddRef();
            return S_OK;
        }
        *out = nullptr;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return ++refs; }
    ULONG STDMETHODCALLTYPE Release() override {
        ULONG r = --refs;
        if (!r) delete this;
        return r;
    }
    HRESULT STDMETHODCALLTYPE QueryContextMenu(HMENU m, UINT index, UINT first, UINT, UINT) override {
        firstId = first;
        queried = true;
        for (int i = 0; i < extra; ++i, ++index, ++first)
            InsertMenuW(m, index, MF_BYPOSITION | MF_STRING, 100 + i, (L"Extra " + std::to_wstring(i)).c_str());
        firstId = first;
        InsertMenuW(m, index, MF_BYPOSITION | MF_STRING, first, L"&Run");
        SetMenuItemBitmaps(m, index, MF_BYPOSITION, Picture.get(), Picture.get());
        InsertMenuW(m, index + 1, MF_BYPOSITION | MF_SEPARATOR, 0, nullptr);
        InsertMenuW(m, index + 2, MF_BYPOSITION | MF_POPUP, reinterpret_cast<UINT_PTR>(CreatePopupMenu()), L"Send &to");
        return MAKE_HRESULT(SEVERITY_SUCCESS, 0, 2);
    }
    HRESULT STDMETHODCALLTYPE InvokeCommand(CMINVOKECOMMANDINFO* info) override {
        // A command number means nothing to an object that made no rows.
        if (!IS_INTRESOURCE(info->lpVerb) || !queried) return E_FAIL;
        Verbs.push_back(LOWORD(info->lpVerb));
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetCommandString(UINT_PTR, UINT, UINT*, LPSTR, UINT) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE HandleMenuMsg(UINT msg, WPARAM w, LPARAM l) override {
        return HandleMenuMsg2(msg, w, l, nullptr);
    }
    HRESULT STDMETHODCALLTYPE HandleMenuMsg2(UINT msg, WPARAM w, LPARAM, LRESULT*) override {
        HMENU sub = reinterpret_cast<HMENU>(w);
        if (msg == WM_INITMENUPOPUP && sub && GetMenuItemCount(sub) == 0)
            AppendMenuW(sub, MF_STRING, firstId + 1, target);
        return S_OK;
    }

private:
    int extra;
    const wchar_t* target;
    ULONG refs = 1;
    UINT firstId = 0;
    bool queried = false;
};

class ShellMenuOfFile : public ::testing::Test {
protected:
    void SetUp() override {
        testing_support::WriteFileBytes(dir / L"notes.txt", "x");
        saved = std::move(DKData);
        DKData = std::make_unique<TDKData>(data / L"dk.pdb");
        menu = std::make_unique<TPlainMenu>();
        menu->FMenuID = 1;
        menu->RootItem()->SetShowFileExt(true);
        menu->RootItem()->ExposeFolder(dir.Path(), false, 224, 1);
        file = menu->RootItem()->FindItem(std::wstring(L"notes.txt"));
    }
    void TearDown() override {
        menu.reset();
        DKData = std::move(saved);
    }
    TempDir dir{L"cm"};
    TempDir data{L"cmdb"};
    std::unique_ptr<TDKData> saved;
    std::unique_ptr<TDKPopupMenu> menu;
    TDKMenuItem* file = nullptr;
};

TEST_F(ShellMenuOfFile, TheShellsCommandsBecomeItems) {
    ASSERT_NE(file, nullptr);
    QueryShellCommands(file);
    ASSERT_NE(ShellContextMenuHandle(file), nullptr);
    ASSERT_GT(file->Count(), 1);
    EXPECT_NE(file->FindItem(std::wstring(L"Open")), nullptr);
    EXPECT_TRUE(file->GetItem(0)->HasSplitter());
    for (int i = 0; i < file->Count(); ++i) {
        TDKMenuItem* c = file->GetItem(i);
        EXPECT_EQ(c->Caption().find(L'&'), std::wstring::npos) << i;
        EXPECT_GT(c->MIID(), 0);
        EXPECT_TRUE(static_cast<bool>(c->FOnClick));
        // A row follows a separator exactly when positions skip one.
        if (i > 0) {
            EXPECT_EQ(c->HasSplitter(), Pos(c) != Pos(file->GetItem(i - 1)) + 1) << i;
        }
    }

    // A new exposure replaces the handle; the earlier one is released.
    HMENU first = ShellContextMenuHandle(file);
    file->Clear();
    QueryShellCommands(file);
    EXPECT_NE(ShellContextMenuHandle(file), first);
    EXPECT_FALSE(IsMenu(first));
}

TEST_F(ShellMenuOfFile, CommandsAreInvokedOnTheFileAndRecorded) {
    ASSERT_NE(file, nullptr);
    auto* fake = new FakeContextMenu();  // the item holds the reference from here on
    file->FContextMenu.reset(fake);
    file->FContextMenuThread = GetCurrentThreadId();
    QueryShellCommands(file);
    ASSERT_EQ(Captions(file), (std::vector<std::wstring>{L"Run", L"Send to"}));
    TDKMenuItem* run = file->GetItem(0);
    TDKMenuItem* sendTo = file->GetItem(1);
    EXPECT_TRUE(sendTo->HasSplitter());
    EXPECT_EQ(Captions(sendTo), std::vector<std::wstring>{L"Empty"});

    run->FOnClick(run);
    EXPECT_EQ(fake->Verbs, std::vector<int>{0});  // the offset from the first command id

    // The submenu is filled when its window opens; its command runs on the file two levels up.
    sendTo->ShowAt(200, 200);
    ASSERT_EQ(Captions(sendTo), std::vector<std::wstring>{L"Target"});
    EXPECT_EQ(sendTo->RowCount(), 1);
    TDKMenuItem* target = sendTo->GetItem(0);
    target->FOnClick(target);
    EXPECT_EQ(fake->Verbs, (std::vector<int>{0, 1}));
    sendTo->CloseWindow();

    auto rows = DKData->RecentRows(1);
    ASSERT_EQ(rows.size(), 1u);
    EXPECT_EQ(rows[0].Caption, L"notes.txt");
    EXPECT_EQ(rows[0].Path, gui::AnsiLowerCase(dir / L"notes.txt"));
    EXPECT_EQ(DKData->PopularRows(1).size(), 1u);
}

// A favourite folder built off the GUI thread: its file's rows are queried again on the GUI
// thread when shown, so a click runs the row's own verb on the object that listed it.
TEST_F(ShellMenuOfFile, FavouriteFolderBuiltOnAWorkerRunsRowsOnTheObjectThatListedThem) {
    TDKMenuItem* fav = menu->RootItem()->AddMenuItem(7, L"cm");
    fav->SetExecPath(dir.Path());
    std::thread([&] {
        HRESULT com = CoInitializeEx(nullptr, COINIT_MULTITHREADED);
        menu->InitStoredItem(fav);
        if (SUCCEEDED(com)) CoUninitialize();
    }).join();
    TDKMenuItem* notes = fav->FindItem(std::wstring(L"notes.txt"));
    ASSERT_NE(notes, nullptr);
    auto* fake = new FakeContextMenu();  // this thread's object, held by the item from here on
    notes->FContextMenu.reset(fake);
    notes->FContextMenuThread = GetCurrentThreadId();

    notes->ShowAt(200, 200);
    ASSERT_EQ(Captions(notes), (std::vector<std::wstring>{L"Run", L"Send to"}));
    TDKMenuItem* run = notes->GetItem(0);
    run->FOnClick(run);
    notes->CloseWindow();
    EXPECT_EQ(fake->Verbs, std::vector<int>{0});
    EXPECT_EQ(DKData->RecentRows(1).size(), 1u);
}

// Each item keeps the popup menu its own query filled: after a file's commands were shown, its
// folder's submenu rows are read from the folder's menu and run the folder's commands, and the
// file's rows still lead to the file's.
TEST_F(ShellMenuOfFile, EachItemKeepsTheMenuItsCommandsWereQueriedInto) {
    ASSERT_TRUE(CreateDirectoryW((dir / L"docs").c_str(), nullptr));
    menu->RootItem()->Clear();
    menu->RootItem()->ExposeFolder(dir.Path(), false, 224, 1);
    file = menu->RootItem()->FindItem(std::wstring(L"notes.txt"));
    TDKMenuItem* folder = menu->RootItem()->FindItem(std::wstring(L"docs"));
    ASSERT_NE(file, nullptr);
    ASSERT_NE(folder, nullptr);
    ASSERT_TRUE(folder->Folder());

    // The shell's own objects: every row of either item names the entry at its position in the
    // menu that item's query filled, whichever was queried last.
    QueryShellCommands(file);
    QueryShellCommands(folder);
    HMENU fileMenu = ShellContextMenuHandle(file), folderMenu = ShellContextMenuHandle(folder);
    ASSERT_NE(fileMenu, nullptr);
    ASSERT_NE(folderMenu, nullptr);
    EXPECT_NE(fileMenu, folderMenu);
    for (auto [item, handle] : {std::pair{file, fileMenu}, std::pair{folder, folderMenu}}) {
        ASSERT_GT(item->Count(), 0);
        for (int i = 0; i < item->Count(); ++i) {
            TDKMenuItem* row = item->GetItem(i);
            if (!row->FOnClick && !row->FOnBeforExpose) continue;  // entries listed in the folder
            wchar_t text[256] = {};
            GetMenuStringW(handle, static_cast<UINT>(Pos(row)), text, 256, MF_BYPOSITION);
            std::wstring plain;
            for (const wchar_t* p = text; *p; ++p)
                if (*p != L'&') plain += *p;
            EXPECT_EQ(plain, row->Caption()) << gui::ToUtf8(item->Caption()) << " row " << i;
        }
    }
    file->Clear();
    folder->Clear();

    // Extensions with submenus at different places.
    auto* fileCommands = new FakeContextMenu(0, L"To the file");
    auto* folderCommands = new FakeContextMenu(2, L"To the folder");
    file->FContextMenu.reset(fileCommands);
    file->FContextMenuThread = GetCurrentThreadId();
    folder->FContextMenu.reset(folderCommands);
    folder->FContextMenuThread = GetCurrentThreadId();
    QueryShellCommands(file);
    QueryShellCommands(folder);
    TDKMenuItem* folderSend = folder->FindItem(std::wstring(L"Send to"));
    TDKMenuItem* fileSend = file->FindItem(std::wstring(L"Send to"));
    ASSERT_NE(folderSend, nullptr);
    ASSERT_NE(fileSend, nullptr);
    ASSERT_NE(Pos(folderSend), Pos(fileSend));

    folderSend->ShowAt(200, 200);
    ASSERT_EQ(Captions(folderSend), std::vector<std::wstring>{L"To the folder"});
    folderSend->GetItem(0)->FOnClick(folderSend->GetItem(0));
    folderSend->CloseWindow();
    EXPECT_EQ(folderCommands->Verbs, std::vector<int>{3});  // its own id for the entry, past its extras
    EXPECT_TRUE(fileCommands->Verbs.empty());

    fileSend->ShowAt(200, 200);
    ASSERT_EQ(Captions(fileSend), std::vector<std::wstring>{L"To the file"});
    fileSend->GetItem(0)->FOnClick(fileSend->GetItem(0));
    fileSend->CloseWindow();
    EXPECT_EQ(fileCommands->Verbs, std::vector<int>{1});
    EXPECT_EQ(folderCommands->Verbs, std::vector<int>{3});
}

// A submenu entry whose fill found nothing runs no command and records nothing; a command the
// object refuses is no launch either.
TEST_F(ShellMenuOfFile, NothingRunNothingRecorded) {
    auto* fake = new FakeContextMenu();
    file->FContextMenu.reset(fake);
    file->FContextMenuThread = GetCurrentThreadId();
    QueryShellCommands(file);
    TDKMenuItem* sendTo = file->GetItem(1);
    sendTo->Clear();  // as after a fill that found nothing
    ShellCommandClick(sendTo);
    TDKMenuItem* stranger = file->AddMenuItem(0, L"stranger");
    stranger->FMIID = 5;
    stranger->FCommandsMenu = gui::ComPtr<IContextMenu>(new FakeContextMenu());  // never queried
    stranger->FCommandsThread = GetCurrentThreadId();
    ShellCommandClick(stranger);
    EXPECT_TRUE(fake->Verbs.empty());
    EXPECT_TRUE(DKData->RecentRows(1).empty());
}

// Opening a file's command submenu again and again: the rows' pictures go with the rows.
TEST_F(ShellMenuOfFile, ReopeningTheCommandsLeaksNoHandles) {
    file->FContextMenu.reset(new FakeContextMenu());
    file->FContextMenuThread = GetCurrentThreadId();
    file->AddMenuItem(0, L"Empty");
    file->FOnBeforExpose = [this](TDKMenuItem* s) { menu->ExposeItemMenu(s); };
    auto open = [&] {
        file->ShowAt(200, 200);
        file->CloseWindow();
    };
    open();
    ASSERT_EQ(file->Count(), 3);  // "Add to Favorites", "Run", "Send to"
    ASSERT_NE(file->GetItem(1)->Icon(), nullptr);
    const int gdi = testing_support::GdiObjectCount(), user = testing_support::UserObjectCount();
    for (int i = 0; i < 500; ++i) open();
    EXPECT_LE(testing_support::GdiObjectCount(), gdi + 5);
    EXPECT_LE(testing_support::UserObjectCount(), user + 5);
}

}  // namespace
