#include <gtest/gtest.h>

#include <cstring>

#include "util/DKUtils.h"
#include "util/FileUtils.h"
#include "SysUtils.h"
#include "TestSupport.h"

using testing_support::ReadFileBytes;
using testing_support::TempDir;
using testing_support::WriteFileBytes;

namespace {

// A synthetic list: one item per count, each filled with its index, then the terminator.
PIDLPtr MakeList(std::initializer_list<USHORT> counts) {
    UINT total = 2;
    for (USHORT c : counts) total += c;
    PIDLPtr list(CreatePIDL(total));
    BYTE* p = reinterpret_cast<BYTE*>(list.get());
    BYTE tag = 1;
    for (USHORT c : counts) {
        std::memcpy(p, &c, 2);
        std::memset(p + 2, tag++, c - 2u);
        p += c;
    }
    return list;
}

std::string Bytes(LPCITEMIDLIST list) {
    return std::string(reinterpret_cast<const char*>(list), GetPIDLSize(list));
}

PIDLPtr Parse(const std::wstring& path) {
    IShellFolder* desktop = nullptr;
    SHGetDesktopFolder(&desktop);
    LPITEMIDLIST list = nullptr;
    std::wstring name = path;
    desktop->ParseDisplayName(nullptr, nullptr, name.data(), nullptr, &list, nullptr);
    desktop->Release();
    return PIDLPtr(list);
}

}  // namespace

TEST(PIDL, SyntheticArithmetic) {
    EXPECT_EQ(GetPIDLSize(nullptr), 0u);
    PIDLPtr empty = MakeList({});
    EXPECT_EQ(GetPIDLSize(empty.get()), 2u);
    EXPECT_EQ(GetLastPIDLItem(empty.get()), empty.get());

    PIDLPtr a = MakeList({8}), b = MakeList({5, 7});
    ASSERT_EQ(GetPIDLSize(a.get()), 10u);
    ASSERT_EQ(GetPIDLSize(b.get()), 14u);
    PIDLPtr ab(ConcatPIDLs(a.get(), b.get()));
    ASSERT_EQ(GetPIDLSize(ab.get()), 22u);
    std::string joined = Bytes(ab.get());
    EXPECT_EQ(joined.substr(0, 8), Bytes(a.get()).substr(0, 8));
    EXPECT_EQ(joined.substr(8), Bytes(b.get()));

    PIDLPtr copy(ConcatPIDLs(nullptr, b.get()));
    EXPECT_EQ(Bytes(copy.get()), Bytes(b.get()));
    EXPECT_NE(copy.get(), b.get());

    // The last item of b is its 7-byte item; cutting it leaves the 5-byte one.
    LPITEMIDLIST last = GetLastPIDLItem(b.get());
    EXPECT_EQ(reinterpret_cast<BYTE*>(last) - reinterpret_cast<BYTE*>(b.get()), 5);
    EXPECT_EQ(NextPIDL(b.get()), last);
    StripLastID(b.get());
    EXPECT_EQ(GetPIDLSize(b.get()), 7u);

    // One item: stripped to an empty list, whose last item is the list itself.
    StripLastID(a.get());
    EXPECT_EQ(GetPIDLSize(a.get()), 2u);
    EXPECT_EQ(GetLastPIDLItem(a.get()), a.get());
    StripLastID(a.get());
    EXPECT_EQ(GetPIDLSize(a.get()), 2u);
    FreePIDL(nullptr);
}

TEST(PIDL, ListsFromOutsideAreWalkedInsideTheirBuffer) {
    PIDLPtr good = MakeList({5, 7});
    PIDLPtr copy(CopyPIDL(good.get(), 14));
    ASSERT_TRUE(copy);
    EXPECT_EQ(Bytes(copy.get()), Bytes(good.get()));
    EXPECT_EQ(CopyPIDL(good.get(), 13), nullptr);  // terminator outside the buffer

    // A count that runs past the buffer, and a count too small to hold itself.
    BYTE bad[8] = {5, 0, 1, 1, 1, 200, 0, 0};
    EXPECT_EQ(GetPIDLSizeChecked(reinterpret_cast<LPCITEMIDLIST>(bad), sizeof bad), 0u);
    EXPECT_EQ(CopyPIDL(reinterpret_cast<LPCITEMIDLIST>(bad), sizeof bad), nullptr);
    BYTE tiny[4] = {1, 0, 0, 0};
    EXPECT_EQ(GetPIDLSizeChecked(reinterpret_cast<LPCITEMIDLIST>(tiny), sizeof tiny), 0u);
    EXPECT_EQ(ConcatPIDLs(good.get(), 14, reinterpret_cast<LPCITEMIDLIST>(bad), sizeof bad), nullptr);
    PIDLPtr joined(ConcatPIDLs(nullptr, 0, good.get(), 14));
    EXPECT_EQ(GetPIDLSize(joined.get()), 14u);
}

TEST(PIDL, ShellListsSplitAndJoinBack) {
    TempDir dir(L"pidl");
    std::wstring sub = dir / L"inner";
    CreateDirectoryW(sub.c_str(), nullptr);
    WriteFileBytes(sub + L"\\note.txt", "x");

    PIDLPtr full = Parse(sub);
    ASSERT_TRUE(full);
    UINT size = GetPIDLSize(full.get());
    EXPECT_GT(size, 2u);

    PIDLPtr parent(CopyPIDL(full.get()));
    StripLastID(parent.get());
    LPITEMIDLIST last = GetLastPIDLItem(full.get());
    EXPECT_EQ(GetPIDLSize(parent.get()) - 2 + GetPIDLSize(last), size);
    PIDLPtr again(ConcatPIDLs(parent.get(), last));
    EXPECT_EQ(Bytes(again.get()), Bytes(full.get()));

    IShellFolder* desktop = nullptr;
    SHGetDesktopFolder(&desktop);
    EXPECT_TRUE(gui::SameText(GetDisplayName(desktop, full.get(), true), sub));
    IShellFolder* parentFolder = nullptr;
    ASSERT_HRESULT_SUCCEEDED(desktop->BindToObject(parent.get(), nullptr, IID_IShellFolder,
                                                   reinterpret_cast<void**>(&parentFolder)));
    EXPECT_TRUE(gui::SameText(GetDisplayName(parentFolder, last, false), L"inner"));
    EXPECT_TRUE(IsBrowsableFolder(parentFolder, last));
    EXPECT_FALSE(IsFileItem(parentFolder, last));

    IShellFolder* inner = nullptr;
    ASSERT_HRESULT_SUCCEEDED(parentFolder->BindToObject(last, nullptr, IID_IShellFolder,
                                                        reinterpret_cast<void**>(&inner)));
    PIDLPtr file = Parse(sub + L"\\note.txt");
    LPITEMIDLIST fileItem = GetLastPIDLItem(file.get());
    EXPECT_TRUE(IsFileItem(inner, fileItem));
    EXPECT_FALSE(IsBrowsableFolder(inner, fileItem));
    EXPECT_EQ(GetDisplayName(inner, fileItem, true), sub + L"\\note.txt");
    EXPECT_EQ(GetShellIconIndex(file.get(), false, false),
              [&] { SHFILEINFOW i{}; SHGetFileInfoW(L"a.txt", 0, &i, sizeof i, SHGFI_SYSICONINDEX | SHGFI_USEFILEATTRIBUTES | SHGFI_SMALLICON); return i.iIcon; }());
    inner->Release();
    parentFolder->Release();
    desktop->Release();
}

TEST(PIDL, BrowsableRuleFollowsTheWindowsVersion) {
    const SFGAOF folder = SFGAO_FOLDER, fs = SFGAO_FILESYSTEM, br = SFGAO_BROWSABLE, anc = SFGAO_STORAGEANCESTOR;
    // A browsable namespace folder outside the file system: not on 5.1.
    EXPECT_FALSE(BrowsableByAttributes(folder | br, 5.1));
    EXPECT_TRUE(BrowsableByAttributes(folder, 5.1));
    EXPECT_TRUE(BrowsableByAttributes(folder | fs | br, 5.1));
    // From 6.0: in the file system or a storage ancestor.
    EXPECT_TRUE(BrowsableByAttributes(folder | anc, 6.0));
    EXPECT_TRUE(BrowsableByAttributes(folder | fs, 6.1));
    EXPECT_FALSE(BrowsableByAttributes(folder, 6.0));
}

namespace {

// A folder whose display names come back in a chosen STRRET form.
class FakeFolder : public IShellFolder {
public:
    UINT form = STRRET_WSTR;
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID, void** out) override { *out = nullptr; return E_NOINTERFACE; }
    ULONG STDMETHODCALLTYPE AddRef() override { return 1; }
    ULONG STDMETHODCALLTYPE Release() override { return 1; }
    HRESULT STDMETHODCALLTYPE ParseDisplayName(HWND, IBindCtx*, LPWSTR, ULONG*, PIDLIST_RELATIVE*, ULONG*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE EnumObjects(HWND, SHCONTF, IEnumIDList**) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE BindToObject(PCUIDLIST_RELATIVE, IBindCtx*, REFIID, void**) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE BindToStorage(PCUIDLIST_RELATIVE, IBindCtx*, REFIID, void**) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE CompareIDs(LPARAM, PCUIDLIST_RELATIVE, PCUIDLIST_RELATIVE) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE CreateViewObject(HWND, REFIID, void**) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetAttributesOf(UINT, PCUITEMID_CHILD_ARRAY, SFGAOF*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetUIObjectOf(HWND, UINT, PCUITEMID_CHILD_ARRAY, REFIID, UINT*, void**) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetDisplayNameOf(PCUITEMID_CHILD, SHGDNF flags, STRRET* sr) override {
        sr->uType = form;
        const char* text = flags == SHGDN_FORPARSING ? "parse" : "normal";
        if (form == STRRET_WSTR) {
            sr->pOleStr = static_cast<LPWSTR>(CoTaskMemAlloc(16 * sizeof(wchar_t)));
            lstrcpyW(sr->pOleStr, flags == SHGDN_FORPARSING ? L"wide-parse" : L"wide");
        } else if (form == STRRET_OFFSET) {
            sr->uOffset = 2;  // the text inside the item, after its count
        } else if (form == STRRET_CSTR) {
            lstrcpyA(sr->cStr, text);
        } else {
            return E_FAIL;
        }
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE SetNameOf(HWND, PCUITEMID_CHILD, LPCWSTR, SHGDNF, PITEMID_CHILD*) override { return E_NOTIMPL; }
};

}  // namespace

TEST(PIDL, DisplayNameInAllThreeForms) {
    BYTE item[9] = {7, 0, 'c', 'a', 'f', 'e', 0, 0, 0};
    auto child = reinterpret_cast<LPCITEMIDLIST>(item);
    FakeFolder f;
    f.form = STRRET_WSTR;
    EXPECT_EQ(GetDisplayName(&f, child, true), L"wide-parse");
    EXPECT_EQ(GetDisplayName(&f, child, false), L"wide");
    f.form = STRRET_OFFSET;
    EXPECT_EQ(GetDisplayName(&f, child, false), L"cafe");
    f.form = STRRET_CSTR;
    EXPECT_EQ(GetDisplayName(&f, child, true), L"parse");
    f.form = 7;
    EXPECT_EQ(GetDisplayName(&f, child, true), L"");
}

TEST(ShellRename, RenamesAndNeverOverwrites) {
    TempDir dir(L"ren");
    std::wstring a = dir / L"a.txt", b = dir / L"b.txt", c = dir / L"c.txt";
    WriteFileBytes(a, "alpha");
    ASSERT_TRUE(ShellRename(nullptr, a, b, false));
    EXPECT_FALSE(gui::FileExists(a));
    EXPECT_EQ(ReadFileBytes(b), "alpha");
    ASSERT_TRUE(ShellRename(nullptr, b, a, true));
    EXPECT_EQ(ReadFileBytes(a), "alpha");

    WriteFileBytes(c, "gamma");
    EXPECT_FALSE(ShellRename(nullptr, a, c, false));
    EXPECT_EQ(ReadFileBytes(a), "alpha");
    EXPECT_EQ(ReadFileBytes(c), "gamma");

    // With rename-on-collision the shell either picks a free name or refuses; the existing
    // target is never overwritten.
    bool renamed = ShellRename(nullptr, a, c, true);
    EXPECT_EQ(ReadFileBytes(c), "gamma");
    EXPECT_EQ(gui::FileExists(a), !renamed);
    if (!renamed) {
        EXPECT_EQ(ReadFileBytes(a), "alpha");
    }
    RecordProperty("renamed_on_collision", renamed ? "yes" : "no");
}
