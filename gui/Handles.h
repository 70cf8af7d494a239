#pragma once
// One owning type per kind of system handle. Owners hold these; a release by hand is left only
// here and where ownership passes to the system (a handle given to a window, an image list...).
#include <windows.h>
#include <objbase.h>
#include <shlobj.h>
#include <commctrl.h>

#include <memory>
#include <utility>

// SQLite's connection and statement (declared here, as SQLite declares them, so that this header
// does not need SQLite's own).
struct sqlite3;
struct sqlite3_stmt;
extern "C" int sqlite3_close_v2(sqlite3*);
extern "C" int sqlite3_finalize(sqlite3_stmt*);

namespace gui {

// A move-only owner of one handle; Traits says what "none" is and how the handle is given back.
template <class Traits>
class UniqueHandle {
public:
    using handle_type = typename Traits::handle_type;

    UniqueHandle() noexcept = default;
    explicit UniqueHandle(handle_type h) noexcept : h_(h) {}
    ~UniqueHandle() { reset(); }
    UniqueHandle(UniqueHandle&& o) noexcept : h_(o.release()) {}
    UniqueHandle& operator=(UniqueHandle&& o) noexcept {
        if (this != &o) reset(o.release());
        return *this;
    }
    UniqueHandle(const UniqueHandle&) = delete;
    UniqueHandle& operator=(const UniqueHandle&) = delete;

    handle_type get() const noexcept { return h_; }
    explicit operator bool() const noexcept { return Traits::valid(h_); }
    // Gives the handle up without releasing it (ownership passes elsewhere).
    handle_type release() noexcept { return std::exchange(h_, Traits::none()); }
    void reset(handle_type h = Traits::none()) noexcept {
        handle_type old = std::exchange(h_, h);
        if (Traits::valid(old) && old != h) Traits::close(old);
    }
    // For calls that hand a handle out through a pointer; the previous one is released first.
    handle_type* put() noexcept {
        reset();
        return &h_;
    }

private:
    handle_type h_ = Traits::none();
};

namespace handle_traits {

// Handles for which null means none, given back by Close.
template <class H, auto Close>
struct Null {
    using handle_type = H;
    static H none() noexcept { return nullptr; }
    static bool valid(H h) noexcept { return h != nullptr; }
    static void close(H h) noexcept { Close(h); }
};

// Kernel objects: the calls that fail give null or INVALID_HANDLE_VALUE, so both mean none.
// Search handles (changes, files) start out as INVALID_HANDLE_VALUE, the others as null.
template <auto Close, bool InvalidIsNone = false>
struct Kernel {
    using handle_type = HANDLE;
    static HANDLE none() noexcept { return InvalidIsNone ? INVALID_HANDLE_VALUE : nullptr; }
    static bool valid(HANDLE h) noexcept { return h != nullptr && h != INVALID_HANDLE_VALUE; }
    static void close(HANDLE h) noexcept { Close(h); }
};

}  // namespace handle_traits

using IconHandle = UniqueHandle<handle_traits::Null<HICON, &DestroyIcon>>;
using FontHandle = UniqueHandle<handle_traits::Null<HFONT, &DeleteObject>>;
using BrushHandle = UniqueHandle<handle_traits::Null<HBRUSH, &DeleteObject>>;
using PenHandle = UniqueHandle<handle_traits::Null<HPEN, &DeleteObject>>;
using BitmapHandle = UniqueHandle<handle_traits::Null<HBITMAP, &DeleteObject>>;
using RegionHandle = UniqueHandle<handle_traits::Null<HRGN, &DeleteObject>>;
using MemoryDCHandle = UniqueHandle<handle_traits::Null<HDC, &DeleteDC>>;
using RegKeyHandle = UniqueHandle<handle_traits::Null<HKEY, &RegCloseKey>>;
using MenuHandle = UniqueHandle<handle_traits::Null<HMENU, &DestroyMenu>>;
using ImageListHandle = UniqueHandle<handle_traits::Null<HIMAGELIST, &ImageList_Destroy>>;
using KernelHandle = UniqueHandle<handle_traits::Kernel<&CloseHandle>>;
using ChangeNotificationHandle = UniqueHandle<handle_traits::Kernel<&FindCloseChangeNotification, true>>;
using FindFileHandle = UniqueHandle<handle_traits::Kernel<&FindClose, true>>;
// A window its owner makes and destroys (on the thread that made it); windows of gui::Window
// and windows destroyed from their own messages keep their own ways.
using WindowHandle = UniqueHandle<handle_traits::Null<HWND, &DestroyWindow>>;
// A connection closed with sqlite3_close_v2: a statement still open then closes it when it goes.
using SqliteHandle = UniqueHandle<handle_traits::Null<sqlite3*, &sqlite3_close_v2>>;
using SqliteStatementHandle = UniqueHandle<handle_traits::Null<sqlite3_stmt*, &sqlite3_finalize>>;

// An item-id list from the shell allocator (which is the COM task allocator).
struct PIDLDeleter {
    void operator()(ITEMIDLIST* list) const noexcept { CoTaskMemFree(list); }
};
using PIDLPtr = std::unique_ptr<ITEMIDLIST, PIDLDeleter>;

// A DC of a window (GetDC/GetWindowDC), given back with ReleaseDC.
class WindowDC {
public:
    explicit WindowDC(HWND wnd) noexcept : wnd_(wnd), dc_(GetDC(wnd)) {}
    ~WindowDC() {
        if (dc_) ReleaseDC(wnd_, dc_);
    }
    WindowDC(const WindowDC&) = delete;
    WindowDC& operator=(const WindowDC&) = delete;
    HDC get() const noexcept { return dc_; }
    explicit operator bool() const noexcept { return dc_ != nullptr; }

private:
    HWND wnd_;
    HDC dc_;
};

// An object selected into a DC for one scope; the previous one is put back when it goes.
class SelectScope {
public:
    SelectScope(HDC dc, HGDIOBJ obj) noexcept : dc_(dc), old_(SelectObject(dc, obj)) {}
    ~SelectScope() {
        if (old_ && old_ != HGDI_ERROR) SelectObject(dc_, old_);
    }
    SelectScope(const SelectScope&) = delete;
    SelectScope& operator=(const SelectScope&) = delete;

private:
    HDC dc_;
    HGDIOBJ old_;
};

// The bitmaps GetIconInfo hands out with an icon's details, deleted when this goes.
struct IconBitmaps {
    ICONINFO info{};
    bool ok = false;
    explicit IconBitmaps(HICON icon) noexcept : ok(icon && GetIconInfo(icon, &info)) {}
    ~IconBitmaps() {
        if (info.hbmColor) DeleteObject(info.hbmColor);
        if (info.hbmMask) DeleteObject(info.hbmMask);
    }
    IconBitmaps(const IconBitmaps&) = delete;
    IconBitmaps& operator=(const IconBitmaps&) = delete;
};

// One COM reference, released when it goes.
template <class T>
class ComPtr {
public:
    ComPtr() noexcept = default;
    // Takes over a reference the caller already holds.
    explicit ComPtr(T* p) noexcept : p_(p) {}
    // Takes a reference of its own to an object held elsewhere.
    static ComPtr Share(T* p) noexcept {
        if (p) p->AddRef();
        return ComPtr(p);
    }
    ~ComPtr() { reset(); }
    ComPtr(ComPtr&& o) noexcept : p_(o.release()) {}
    ComPtr& operator=(ComPtr&& o) noexcept {
        if (this != &o) reset(o.release());
        return *this;
    }
    ComPtr(const ComPtr& o) noexcept : p_(o.p_) {
        if (p_) p_->AddRef();
    }
    ComPtr& operator=(const ComPtr& o) noexcept {
        if (this != &o) {
            if (o.p_) o.p_->AddRef();
            reset(o.p_);
        }
        return *this;
    }

    T* get() const noexcept { return p_; }
    T* operator->() const noexcept { return p_; }
    explicit operator bool() const noexcept { return p_ != nullptr; }
    T* release() noexcept { return std::exchange(p_, nullptr); }
    void reset(T* p = nullptr) noexcept {
        T* old = std::exchange(p_, p);
        if (old) old->Release();
    }
    // For calls that hand a reference out: T** (IID_PPV_ARGS-style calls take a void**).
    T** put() noexcept {
        reset();
        return &p_;
    }
    void** put_void() noexcept { return reinterpret_cast<void**>(put()); }
    // Asks the object for another interface; empty when it has none.
    template <class U>
    ComPtr<U> as() const noexcept {
        ComPtr<U> r;
        if (p_) p_->QueryInterface(__uuidof(U), r.put_void());
        return r;
    }

private:
    T* p_ = nullptr;
};

}  // namespace gui
