#pragma once
// The menu engine: menu item tree, its self-drawn layered menu windows, and the popup-menu base.
#include <windows.h>
#include <commctrl.h>
#include <shlobj.h>
// GDI+ wants min/max, which NOMINMAX takes away.
#include <algorithm>
namespace Gdiplus {
using std::max;
using std::min;
}  // namespace Gdiplus
#include <gdiplus.h>

#include <atomic>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "Handles.h"

#include "util/FileUtils.h"
#include "Timer.h"

class TDKMenuItem;
class TDKPopupMenu;
class TMonDirThread;  // folder watcher, built with the shell-folder items
struct TMonDirLink;
class TMenuForm;
class TTurnWindow;  // shows a menu window's turning row alone
struct TRowsPlan;  // rows and place of a menu window before they are shown
namespace menu_layout {
struct Area;
}

// Event types of the menu items. An event "is assigned" when it holds a callable.
using TDKNotifyEvent = std::function<void(TDKMenuItem* Sender)>;
using TFilterEvent = std::function<void(TDKMenuItem* Sender, const std::wstring& FilterStr)>;

enum class TMouseButton { mbLeft, mbRight, mbMiddle };
// Shift state as a bit set.
using TShiftState = unsigned;
constexpr TShiftState ssShift = 1, ssAlt = 2, ssCtrl = 4, ssLeft = 8, ssRight = 16, ssMiddle = 32, ssDouble = 64;
using TMouseEvent = std::function<void(TDKMenuItem* Sender, TMouseButton Button, TShiftState Shift, int X, int Y)>;
using TMouseMoveEvent = std::function<void(TDKMenuItem* Sender, TShiftState Shift, int X, int Y)>;

struct TDragPosition {
    float Row = -1.0f;  // row index + fraction of the row under the cursor; -1 = no drag
    int Column = 0;
};

// A single-line edit box laid over a row (filter box, renaming). Owns its window and brush.
struct TMenuEdit {
    HWND Handle() const { return Box.get(); }
    gui::BrushHandle Brush;
    int Tag = 0;  // the row's position
    bool MouseInside = false;
    COLORREF TextColor = 8421504;  // grey until the filter has run
    // The filter box still shows its hint (nothing typed yet): the first character replaces it.
    bool ShowsHint = false;
    const TDKMenuItem* Child = nullptr;  // the item the box edits
    gui::WindowHandle Box;  // last, so it goes before its brush
};

// Per-row data of a menu window's list (the list holds only their number).
struct TMenuRowData {
    int ItemIndex = 0;              // the child's position in FItems
    const TDKMenuItem* Child = nullptr;  // the child shown, to tell a changed row from the same one
    std::wstring Text;              // the caption as shown, cut to the column
    std::unique_ptr<TMenuEdit> Edit;  // the row's edit box, if its child is edited
};

// ---- popup-menu base ----

// The bar button a menu belongs to, as the menu needs it (the button class lives with the bar).
struct TMenuOwner {
    std::wstring Caption;
    int ID = 0;
    COLORREF Color = 0;
    void* Button = nullptr;  // the bar button; not owned
};

// Starts a file with the shell (no owner window, default verb, show normal). Tests replace it.
using TShellExecuteFunc =
    std::function<void(const std::wstring& File, const std::wstring& Params, const std::wstring& Dir)>;

// The base of every bar menu: owns the root of a menu tree and gives the menus their common
// sections (favourites and groups, filter box, statistics) and commands.
class TDKPopupMenu {
public:
    static constexpr int FavoritesTitleID = 50000;
    static constexpr int MainTitleID = 50001;
    static constexpr int MostPopularID = 50002;
    static constexpr int RecentID = 50003;
    static constexpr int FilterTitleID = 50008;
    static constexpr int FilterEditID = 50009;

    explicit TDKPopupMenu(const TMenuOwner& AOwner = {});
    // Destroy: hides the menu and writes its stored items back to the database.
    virtual ~TDKPopupMenu();
    TDKPopupMenu(const TDKPopupMenu&) = delete;
    TDKPopupMenu& operator=(const TDKPopupMenu&) = delete;

    TDKMenuItem* FItems = nullptr;  // owned; MIID -1
    int FMenuID = 0;
    std::wstring FName;
    gui::IconHandle FFoldIcon;
    gui::IconHandle FFavIcon;
    gui::IconHandle FDeleteIcon;
    int FMaxMIID = -1;
    void* FDKButton = nullptr;  // not owned
    // The stored rows of this menu were loaded; until then saving would lose rows.
    bool FStoredLoaded = false;
    // Clears the owning button's highlight when the menu hides; set by the bar.
    std::function<void()> OnHide;
    // GetTickCount64 when a shown menu last hid; 0 before.
    ULONGLONG FHiddenAt = 0;

    // ---- virtual operations, in slot order ----
    virtual void ExposeItemMenu(TDKMenuItem* Item);
    virtual void InitStoredItem(TDKMenuItem* Item);
    virtual void BeginRename(TDKMenuItem* Sender);
    virtual void EndRename(TDKMenuItem* Item);
    virtual void ExecuteFilterText(TDKMenuItem* Item) = 0;

    // ---- properties ----
    const std::wstring& Name() const { return FName; }
    void SetName(const std::wstring& v) { FName = v; }
    bool Acitve() const;
    TDKMenuItem* Items() const { return FItems; }
    TDKMenuItem* RootItem() const { return FItems; }
    int MenuID() const { return FMenuID; }
    void SetMenuID(int v) { FMenuID = v; }
    COLORREF Color() const;
    void SetColor(COLORREF v);

    // First item below the root with the id, depth first in child order; null when none.
    TDKMenuItem* FindItem(int ID) const;
    // Hides the whole menu: every window of the tree is closed and freed.
    virtual void Hide();
    void Popup(int X, int Y);

    // ---- building blocks ----
    void LoadFavorites();
    void AddFilter(const std::wstring& Caption);
    void AddStatistics();
    void AddFavoriteCommands(TDKMenuItem* Item);
    void SortByPopularity();

    // ---- handlers ----
    void CreateGroup(TDKMenuItem* Sender);
    void ClearFavorites(TDKMenuItem* Sender);
    void AddToFavorites(TDKMenuItem* Sender);
    void RemoveItem(TDKMenuItem* Sender);
    void RunItem(TDKMenuItem* Sender);
    void RunAllInGroup(TDKMenuItem* Sender);
    void AfterExposeFolder(TDKMenuItem* Item);
    void FilterChanged(TDKMenuItem* Sender, const std::wstring& FilterStr);

    // Whether p is a menu that still exists (windows hand work to later messages).
    static bool Alive(const TDKPopupMenu* p);
    // Replaces the shell start used by RunItem; an empty function restores the real one.
    static void SetShellExecute(TShellExecuteFunc f);

    // ---- edits started by a command (renames, new rows) ----
    static constexpr const wchar_t* GroupPrompt = L"Type Group Title and Press Enter";
    // Item's caption becomes an edit box that takes the keyboard; Enter fires OnEnter, the
    // handler it had is parked in FOldOnClick. Until the edit is committed (ForgetEdit), the menu
    // hiding in any way cancels it.
    void StartEdit(TDKMenuItem* Item, TDKNotifyEvent OnEnter);
    // Inserts into Parent at Index a new row made by the command Sender, whose caption is a
    // prompt: its box takes the keyboard, the first key replaces the prompt, Enter fires OnEnter.
    // The command's window stays open. The row stays open until Enter, also while the menu is
    // hidden.
    TDKMenuItem* InsertPrompt(TDKMenuItem* Sender, TDKMenuItem* Parent, int Index, int MIID,
                              const std::wstring& Prompt, TDKNotifyEvent OnEnter);
    // The row of Parent still open for the prompt, or null.
    TDKMenuItem* OpenPrompt(const TDKMenuItem* Parent, const std::wstring& Prompt);
    // Item's edit was committed: hiding the menu leaves it as it is.
    void ForgetEdit(const TDKMenuItem* Item);
    // Every open edit goes back to its caption and handler from before; new rows stay open.
    void CancelEdits();
    // Whether Item's edit box still shows the prompt it was made with (nothing typed yet).
    bool ShowsPrompt(const TDKMenuItem* Item) const;

    // ---- filter box ----
    // The text the menu is narrowed by; empty while nothing is typed.
    std::wstring FFilterText;
    // The match chosen: Enter in the box runs it. Set by the filter and by Up and Down.
    TDKMenuItem* FFilterMatch = nullptr;
    std::shared_ptr<const std::atomic<bool>> FFilterMatchAlive;
    // Up (-1) / Down (+1) in the filter box: the match before / after the chosen one among those
    // shown, with the way to it opened.
    void FilterStep(int Delta);
    // Enter in the filter box: the way to the chosen match is opened and selected again first
    // (a window on it may have closed since).
    void FilterSelectMatch();
    // Rows came in while the box holds typed text (a window, a tray icon, a folder changed): the
    // menu is narrowed again, the chosen match kept while it still matches; the box keeps the
    // keyboard, its text and its caret.
    void FilterArrivals();

private:
    bool FFiltering = false;
    std::wstring FFilterHint;  // the filter box's caption while nothing is typed
    struct TOpenEdit {
        TDKMenuItem* Item;
        std::shared_ptr<const std::atomic<bool>> Alive;
        std::wstring Caption;  // from before the edit, or the prompt
        bool Prompt;
    };
    std::vector<TOpenEdit> FOpenEdits;
    // The record of an edit still open on Item; the others are dropped.
    TOpenEdit* OpenEdit(const TDKMenuItem* Item);
};

class TDKMenuItem {
public:
    TDKMenuItem();
    virtual ~TDKMenuItem();  // Destroy
    TDKMenuItem(const TDKMenuItem&) = delete;
    TDKMenuItem& operator=(const TDKMenuItem&) = delete;

    // ---- fields, in the record's order ----
    int FMIID = 0;
    bool FFiltered = false;
    bool FChecked = false;
    bool FVisible = true;
    bool FDragged = false;
    bool FHasSplitter = false;
    bool FEdited = false;
    bool FGroupTitle = false;
    bool FIsFavorite = false;
    bool FLoadable = false;
    long long FRowID = 0;  // the database row a stored item was loaded from; 0 for none
    TDKPopupMenu* FPopupMenu = nullptr;
    TDKMenuItem* FOwner = nullptr;
    std::wstring FCaption;
    std::wstring FExecPath;
    std::unique_ptr<std::vector<TDKMenuItem*>> FItems;  // owns the items it holds
    HICON FIcon = nullptr;  // or a system image-list index when FIconInGlobList
    gui::IconHandle FOwnIcon;  // an icon made for this item alone (TakeIcon); goes with the item
    bool FIconInGlobList = false;
    COLORREF FColor = 0;
    bool FMultiselctMode = false;
    short FRotateDegree = 0;
    bool FGradientSelected = true;
    TDragPosition FDragPosition;
    void* FData = nullptr;
    LPITEMIDLIST FPIDL = nullptr;             // owned, shell allocator
    gui::ComPtr<IShellFolder> FCurrIShellFolder;
    bool FIsFolder = false;
    gui::ComPtr<IContextMenu> FContextMenu;
    bool FShowFileExt = false;
    TMonDirThread* FMonDirThread = nullptr;
    TFilterEvent FOnEditChanged;
    TDKNotifyEvent FOnClick;
    TDKNotifyEvent FOnDblClick;
    TDKNotifyEvent FOldOnClick;
    TDKNotifyEvent FOnBeforExpose;
    TDKNotifyEvent FOnAfterExpose;
    TMouseEvent FOnMouseDown;
    TMouseMoveEvent FOnMouseMove;
    TMouseEvent FOnMouseUp;
    bool FGlassMode = true;
    std::unique_ptr<TMenuForm> FForm;  // the window showing the children
    HWND FListView = nullptr;          // child of FForm, destroyed with it
    int FColumnIndex = 0;  // the first column the window shows; the list scrolls by whole columns
    bool FOpensLeft = false;  // the window lies left of the row that opened it
    gui::ImageListHandle FImageList;
    std::unique_ptr<gui::Timer> FHoldMouseTimer;
    std::unique_ptr<gui::Timer> FRotateIconTimer;
    gui::MenuHandle FUpPopupMenu;
    // Drawing state: off-screen picture (a premultiplied 32-bit DIB that GDI+ draws on).
    std::unique_ptr<Gdiplus::Bitmap> BackGround;
    gui::BitmapHandle bmp;  // before the DC, so the DC goes first
    HBITMAP bmp_old = nullptr;
    gui::MemoryDCHandle DC;
    std::unique_ptr<Gdiplus::Pen> pen;
    std::unique_ptr<Gdiplus::FontFamily> FontFamily;
    std::unique_ptr<Gdiplus::Font> Font;
    std::unique_ptr<Gdiplus::SolidBrush> brush;
    std::unique_ptr<Gdiplus::Graphics> Graphics;
    POINT pt1{};
    POINT pt2{};
    SIZE sz{};  // the picture's; bmp may be larger (a window that lost columns keeps it)
    int FColumnWidth = 0;  // the column width the rows were laid out with
    BLENDFUNCTION bf{};
    // Rows as last filled (the list keeps them in place until the next fill): records,
    // bounds and icon tops, and the pictures made from the rows' icons.
    std::vector<std::unique_ptr<TMenuRowData>> FRows;
    std::vector<RECT> FBoundsCache;
    std::vector<int> FIconTopCache;
    // An icon's picture, and its pixels ready to lay over a row when it is 16 x 16, upright and as
    // turned so far (20 x 16 from 2 pixels left of the icon's place, by the angle or 360 less it).
    struct TIconPicture {
        std::unique_ptr<Gdiplus::Bitmap> Picture;
        std::vector<DWORD> Pixels;
        std::map<int, std::vector<DWORD>> Turned;
    };
    std::map<HICON, TIconPicture> FIconPictures;
    std::map<int, TIconPicture> FSysIconPictures;

    // ---- properties ----
    int MIID() const { return FMIID; }
    void SetMIID(int v) { FMIID = v; }
    bool Filtered() const { return FFiltered; }
    void SetFiltered(bool v) { FFiltered = v; }
    bool Checked() const { return FChecked; }
    void SetChecked(bool v);
    bool Visible() const { return FVisible; }
    void SetVisible(bool v) { FVisible = v; }
    bool Dragged() const { return FDragged; }
    void SetDragged(bool v) { FDragged = v; }
    bool HasSplitter() const { return FHasSplitter; }
    void SetHasSplitter(bool v) { FHasSplitter = v; }
    bool Edited() const { return FEdited; }
    void SetEdited(bool v);
    bool GroupTitle() const { return FGroupTitle; }
    void SetGroupTitle(bool v) { FGroupTitle = v; }
    bool IsFavorite() const { return FIsFavorite; }
    bool Loadable() const { return FLoadable; }
    void SetLoadable(bool v) { FLoadable = v; }
    TDKPopupMenu* PopupMenu() const { return FPopupMenu; }
    TDKMenuItem* Owner() const { return FOwner; }
    const std::wstring& Caption() const { return FCaption; }
    void SetCaption(const std::wstring& v);
    const std::wstring& ExecPath() const { return FExecPath; }
    void SetExecPath(const std::wstring& v) { FExecPath = v; }
    HICON Icon() const { return FIcon; }
    void SetIcon(HICON v);
    // Shows an icon made for this item alone; it is destroyed with the item or the next one.
    void TakeIcon(gui::IconHandle Icon);
    COLORREF Color() const { return FColor; }
    void SetColor(COLORREF v) { FColor = v; }
    void* Data() const { return FData; }
    void SetData(void* v) { FData = v; }
    bool Folder() const { return FIsFolder; }
    IContextMenu* ContextMenu() { return GetContextMenu(); }
    bool ShowFileExt() const { return FShowFileExt; }
    void SetShowFileExt(bool v) { FShowFileExt = v; }
    TMenuForm* Form() const;  // null while the window is closed
    HWND FormHandle() const;  // null while the window is closed

    // ---- tree ----
    void Add(TDKMenuItem* Item);
    void Insert(int Index, TDKMenuItem* Item);
    TDKMenuItem* AddMenuItem(int MIID, const std::wstring& Caption, TDKNotifyEvent OnClick = nullptr,
                             bool GroupTitle = false, bool HasSplitter = false, bool Filtered = false,
                             bool Edited = false, bool Checked = false);
    TDKMenuItem* InsertMenuItem(int Index, int MIID, const std::wstring& Caption, TDKNotifyEvent OnClick = nullptr,
                                bool GroupTitle = false, bool HasSplitter = false, bool Filtered = false,
                                bool Edited = false, bool Checked = false);
    void Delete(int aMIID);
    // Removes a direct child given by pointer (by its position; ids may repeat).
    void Delete(TDKMenuItem* Item);
    void DeleteItems(int FirstID, int LastID);
    void Clear();
    void Exchange(int Index1, int Index2);
    int Count() const { return FItems ? static_cast<int>(FItems->size()) : 0; }
    int Index() const;
    bool IsFile() const { return FPIDL != nullptr; }
    TDKMenuItem* GetItem(int Index) const;
    TDKMenuItem* FindItem(const std::wstring& Caption) const;
    TDKMenuItem* FindItem(int MIID) const;
    int GetRadioBox(int FirstID, int LastID) const;
    void SetRadioBox(int FirstID, int LastID, int SelectedID);
    // Whether this item is Item or lies below it.
    bool IsInside(const TDKMenuItem* Item) const;
    // True while the item exists; work that outlives a call (a fetch thread) keeps it to learn
    // whether the item is still there (addresses are reused). Made on first use.
    std::shared_ptr<const std::atomic<bool>> LifeToken();

    // ---- filtering ----
    // Narrows the tree to the filterable items whose caption holds FilterStr, opens the way to
    // the best match and keeps the focus in SearchItem's edit box.
    void Filter(const std::wstring& FilterStr, TDKMenuItem* SearchItem);
    // Narrows the items below this one by FilterStr (they were just read afresh).
    void FilterBelow(const std::wstring& FilterStr);
    void SetIsFavorite(bool v) { FIsFavorite = v; }

    // ---- shell folders, context menus and the folder watcher (DKMenuItemShell.cpp) ----
    // Thread that bound FCurrIShellFolder / made FContextMenu: a shell object is used only on the
    // thread that made it; any other thread binds its own from the item id lists.
    DWORD FShellFolderThread = 0;
    DWORD FContextMenuThread = 0;
    // Shared with the running watcher; the watcher reaches the item only through it.
    std::shared_ptr<TMonDirLink> FMonDirLink;
    // The context-menu object that made this item's command rows, its thread, and the popup menu
    // it filled: a row's command number and a submenu row's position mean something to these only.
    gui::ComPtr<IContextMenu> FCommandsMenu;
    DWORD FCommandsThread = 0;
    gui::MenuHandle FCommandsHMenu;

    void ExposeFolder(LPCITEMIDLIST PIDL, bool ExposeChildren, SHCONTF EnumFlag, int SortingType);
    void ExposeFolder(const std::wstring& Path, bool ExposeChildren, SHCONTF EnumFlag, int SortingType);
    // Sort order of shell entries: folders first, then files by extension and name.
    static int CompareFolderItems(const TDKMenuItem* Left, const TDKMenuItem* Right);
    void DoExposeItemIDList(TDKMenuItem* Sender);
    void DoExecItemIDList(TDKMenuItem* Sender);
    IContextMenu* GetContextMenu();
    std::wstring GetFileName() const;
    // The parent folder's full list (null for a subtree root) and the item's own full list.
    void GetFullPIDL(PIDLPtr& ParentPIDL, PIDLPtr& FullPIDL) const;
    // Starts watching the shown folder (one watcher per item) / tells the watcher to end.
    void StartFolderWatch();
    void StopFolderWatch();

    // ---- window and layout ----
    // Expose false: the before-expose handler is not run (the filter opens the windows on its
    // way over the items it walked).
    void ShowAt(int X, int Y, bool Expose = true);
    // Lays the rows out again and repaints (an open window only; a hidden one is filled when shown).
    void FillListView();
    // The rows are about to change: submenus close and the rows go until the next fill.
    void ReleaseWindowResources();

    // ---- painting ----
    void UpdateWindow(int ItemInd, bool RedrawIcon = false);
    // The off-screen picture as straight (not premultiplied) ARGB, for checks; 0 outside.
    DWORD PicturePixel(int x, int y) const;
    // Whether a row lies within the picture (columns scrolled out of the window have none).
    bool RowInPicture(int Row) const;
    int PictureWidth() const { return sz.cx; }
    int PictureHeight() const { return sz.cy; }
    // Pictures handed to the screen since the start: of whole windows (also those with a dirty
    // rectangle), and of a turning row alone (its rectangle). For measuring.
    struct THandOvers {
        unsigned Windows = 0;
        unsigned Rows = 0;
        RECT LastRow{};  // the rectangle of the last row handed over, on the screen
    };
    static THandOvers HandOvers();
    // The window that shows this window's turning row, or null while it shows none.
    HWND TurnWindowShown() const;

    // ---- input ----
    TDKMenuItem* ItemAtCursor(RECT* BoundRect = nullptr);
    TDKMenuItem* GetSelectedMi(RECT* BoundRect);
    void CloseWindow();
    void CreateEditBoxes();
    int RowCount() const;
    std::wstring RowText(int Row) const;
    RECT RowBounds(int Row) const;
    RECT RowIconRect(int Row) const;
    int SelectedRow() const;
    int RowAt(int X, int Y) const;  // the row under a point of the list, or -1
    TMenuRowData* RowData(int Row) const;
    // Opens Child's submenu beside its row (bounds R in this window's list coordinates).
    void OpenChildAt(TDKMenuItem* Child, const RECT& R, bool Expose = true);
    // Gives the keyboard to this item's edit box in its owner's shown window: the row becomes the
    // selected one and the box's whole text is selected.
    void FocusEditBox();
    // Scrolls the window's columns by Columns (later ones for a positive count) as far as they go.
    void ScrollColumns(int Columns);
    // The list scrolled itself (keys, its scroll bar): the rows' bounds, edit boxes, submenus and
    // picture follow it.
    void FollowListScroll();

    void ListClick();
    void ListDblClick();
    void ListKeyDown(WORD& Key, TShiftState Shift);
    void ListSelectItem(int Row, bool Selected);
    void ListMouseDown(TMouseButton Button, TShiftState Shift, int X, int Y);
    void ListMouseUp(TMouseButton Button, TShiftState Shift, int X, int Y);
    void ListMouseMove(TShiftState Shift, int X, int Y);
    void ListMouseEnter();
    void ListMouseLeave();
    void ListDragOver(TDKMenuItem* Source, int X, int Y, bool& Accept);
    void ListDragDrop(TDKMenuItem* Source, int X, int Y);
    void ListEndDrag();
    std::wstring ListInfoTip(int Row);
    void UpPopupMenuPopup();
    void HoldMouseTimerTick();
    void RotateIconTimerTick();
    void FormDeactivate();
    void EditChange(TMenuEdit* Edit);
    void EditKeyDown(TMenuEdit* Edit, WORD& Key, TShiftState Shift);
    void EditKeyPress(TMenuEdit* Edit, wchar_t& Key);
    void EditDblClick(TMenuEdit* Edit);
    void EditClick(TMenuEdit* Edit);
    void EditMouseEnter(TMenuEdit* Edit);
    void EditMouseLeave(TMenuEdit* Edit);

    // The row shown as selected, repainted when the list reports a change of every row.
    int FSelectedShown = -1;
    // Pictures of shown windows painted between these reach the screen once, at the end (one
    // hand-over per window for a keystroke in the filter box instead of one per change).
    static void BeginPresentBatch();
    static void EndPresentBatch();
    // Destroys the window outright (a kept one too); freed once the running handler is done.
    void DestroyWindowParts();

private:
    std::shared_ptr<std::atomic<bool>> FLifeToken;
    // Edit boxes of rows that went with ReleaseWindowResources, taken up again by the next fill.
    std::vector<std::unique_ptr<TMenuEdit>> FSpareEdits;
    // A hand-over held back by a batch: the whole picture, or the rows within FPresentDirty.
    bool FPresentPending = false;
    bool FPresentWhole = false;
    RECT FPresentDirty{};
    TRowsPlan PlanRows(int Left, int Top, const menu_layout::Area& Area) const;
    // The row of the owner's shown window that lists this item, on the screen.
    bool OpeningRow(RECT& Row) const;
    void FillRows(TRowsPlan* Plan = nullptr);
    void CloseChildWindows();
    void CloseOwnWindow();
    // Closes the open windows below this item, deepest first, but for those on the filter's kept
    // path (SparePath) and those of Spared and below it.
    void CloseWindowsBelow(bool SparePath, const TDKMenuItem* Spared = nullptr);
    void SpareRowEdits();  // the rows' edit boxes into FSpareEdits
    void DropEdits(std::vector<std::unique_ptr<TMenuEdit>>& Edits);
    // True when the bitmap is new (and so clear).
    bool MakePicture(int Width, int Height);
    void ReleasePicture();
    void PaintPicture(int ItemInd);
    void PaintAll(bool Cleared = false);
    void Present(const RECT* Dirty);
    void CancelPresent();
    int MenuIdForLog() const;
    void PaintRow(int Row, const RECT& Last, int RowsTotal, int Selected);
    // The 40 ms turn of the selected row: that row is painted and only it is handed over.
    void TurnRow(int Row);
    // Hands over the row through the turn window; false when it cannot show there.
    bool ShowTurn(int Row);
    void ParkTurn();  // the turn window shows nothing (the window's own picture is current)
    std::unique_ptr<TTurnWindow> FTurnWindow;
};

// Holds back the hand-over of shown menu windows' pictures while it lives.
struct TPresentBatch {
    TPresentBatch() { TDKMenuItem::BeginPresentBatch(); }
    ~TPresentBatch() { TDKMenuItem::EndPresentBatch(); }
    TPresentBatch(const TPresentBatch&) = delete;
    TPresentBatch& operator=(const TPresentBatch&) = delete;
};

// Shell context menus (DKShellMenu.cpp). Appends one child to Item for each non-separator entry.
void AddItemsFromHMENU(HMENU Menu, TDKMenuItem* Item);
// Queries Item's shell commands into a new popup menu handle of Item's menu and converts them.
void QueryShellCommands(TDKMenuItem* Item);
// Frees the windows kept for reuse by the items at or below Root (its menu is hidden).
void FreeKeptWindows(const TDKMenuItem* Root);
// The popup menu Item's commands were last queried into (null before the first), kept with the
// item until its next query or its end.
HMENU ShellContextMenuHandle(const TDKMenuItem* Item);
// Handler of every converted entry: fills a submenu entry, or invokes a command entry.
void ShellCommandClick(TDKMenuItem* Sender);

// Menu windows in the process: the item of a menu list view, or null for any other window.
TDKMenuItem* MenuItemOfList(HWND hwnd);
// The item whose window is the source of the running drag, or null.
TDKMenuItem* MenuDragSource();
