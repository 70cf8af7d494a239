// The data module on menu items: stored menus and the statistics handlers map item trees onto
// the module's plain records and back.
#include <algorithm>
#include <mutex>
#include <unordered_map>

#include "menu/DKComponents.h"
#include "data/DKDataModule.h"
#include "util/DKUtils.h"
#include "menu/ShellIcon.h"
#include "SysUtils.h"

namespace {

// The statistics lists show the same few paths on every opening, and the shell look-up of a
// path's icon costs milliseconds. Its system image-list index (owned by the system) is kept per
// path and asked for again only when the file's write time changed.
struct TStatIcon {
    FILETIME Written{};
    int Index = 0;
};
std::mutex gStatIconLock;
std::unordered_map<std::wstring, TStatIcon> gStatIcons;
int gStatIconLookups = 0;

FILETIME WriteTime(const std::wstring& Path) {
    WIN32_FILE_ATTRIBUTE_DATA data{};
    // A network path is not touched: an unreachable server would stall the opening menu.
    if (Path.compare(0, 2, L"\\\\") == 0 || !GetFileAttributesExW(Path.c_str(), GetFileExInfoStandard, &data))
        return {};
    return data.ftLastWriteTime;
}

TDKMenuItem* NewStoredItem(const TStoredItem& row) {
    auto* mi = new TDKMenuItem();
    mi->SetMIID(row.MIID);
    mi->FRowID = row.RowID;
    mi->SetCaption(row.Caption);
    mi->SetLoadable(true);
    mi->SetExecPath(row.ExecPath);
    mi->FChecked = row.Checked;  // no owner yet: nothing to repaint
    mi->SetDragged(true);
    mi->SetFiltered(true);
    return mi;
}

// The loaded rows below parent, level by level through a list of their own (no recursion).
void AppendStored(TDKMenuItem* parent, const std::vector<TStoredItem>& rows) {
    std::vector<std::pair<TDKMenuItem*, const std::vector<TStoredItem>*>> todo{{parent, &rows}};
    while (!todo.empty()) {
        auto [target, level] = todo.back();
        todo.pop_back();
        for (const TStoredItem& row : *level) {
            std::unique_ptr<TDKMenuItem> mi(NewStoredItem(row));
            target->Add(mi.get());
            TDKMenuItem* added = mi.release();
            if (!row.Items.empty()) todo.emplace_back(added, &row.Items);
        }
    }
}

TStoredItem ToStored(const TDKMenuItem* root) {
    TStoredItem out;
    std::vector<std::pair<const TDKMenuItem*, TStoredItem*>> todo{{root, &out}};
    while (!todo.empty()) {
        auto [item, s] = todo.back();
        todo.pop_back();
        s->MIID = item->MIID();
        s->RowID = item->FRowID;
        s->Caption = item->Caption();
        s->ExecPath = item->ExecPath();
        s->Checked = item->Checked();
        s->Loadable = item->Loadable();
        s->Edited = item->Edited();
        // Sized before any child is queued, so the pointers into it stay valid.
        s->Items.resize(static_cast<size_t>(std::max(0, item->Count())));
        for (int i = 0; i < item->Count(); ++i) todo.emplace_back(item->GetItem(i), &s->Items[static_cast<size_t>(i)]);
    }
    return out;
}

int MenuOf(const TDKMenuItem* item) { return item->PopupMenu() ? item->PopupMenu()->MenuID() : 0; }

void FillList(TDKMenuItem* Sender, const TStatList& list, const TDKNotifyEvent& handler) {
    Sender->Clear();
    auto add = [&](TDKMenuItem* target, const TStatRow& row) {
        auto mi = std::make_unique<TDKMenuItem>();
        mi->SetMIID(row.PID);
        mi->FCaption = row.Caption;
        mi->SetExecPath(row.Path);
        // Looked up when its row is first painted: "More..." may never be opened.
        mi->FIcon = reinterpret_cast<HICON>(ShellIconPending);
        mi->FIconInGlobList = true;
        mi->AddMenuItem(0, TDKData::EmptyCaption);
        mi->FOnBeforExpose = handler;
        // A click starts the entry again, as its menu starts its items.
        mi->FOnClick = [](TDKMenuItem* s) {
            if (TDKPopupMenu* menu = s->PopupMenu(); TDKPopupMenu::Alive(menu)) menu->RunItem(s);
        };
        target->Add(mi.get());
        mi.release();
    };
    for (const TStatRow& row : list.Entries) add(Sender, row);
    if (list.HasMore) {
        TDKMenuItem* more = Sender->AddMenuItem(0, TDKData::MoreCaption);
        for (const TStatRow& row : list.More) add(more, row);
    }
}

void FillLines(TDKMenuItem* Sender, const std::vector<TStatLine>& lines) {
    Sender->Clear();
    for (const TStatLine& line : lines) Sender->AddMenuItem(0, line.Caption, nullptr, false, line.HasSplitter);
}

}  // namespace

int TDKData::FillMenuItem(TDKMenuItem* dkmi, int MenuID, int ParentID, int InsertIndex) {
    int Highest = -1;
    TStoredLoad found;
    std::vector<TStoredItem> loaded = LoadMenuRows(MenuID, ParentID, Highest, &found);
    int k = 0;
    for (const TStoredItem& row : loaded) {
        std::unique_ptr<TDKMenuItem> mi(NewStoredItem(row));
        if (InsertIndex == -1)
            dkmi->Add(mi.get());
        else
            dkmi->Insert(InsertIndex + k++, mi.get());
        TDKMenuItem* added = mi.release();
        AppendStored(added, row.Items);
    }
    // Only a menu that loaded its stored rows may write them back; rows it left out stay.
    if (ParentID == -1 && dkmi->PopupMenu() && dkmi == dkmi->PopupMenu()->Items())
        dkmi->PopupMenu()->FStoredLoaded = true;
    return std::max(Highest, found.HighestInUse);
}

void TDKData::SaveMenu(TDKPopupMenu* PopupMenu) {
    if (!PopupMenu || !PopupMenu->Items() || !PopupMenu->FStoredLoaded) return;
    SaveMenuRows(PopupMenu->MenuID(), ToStored(PopupMenu->Items()));
}

void TDKData::ShowPopularList(TDKMenuItem* Sender) {
    TStatList list = ShowPopularList(MenuOf(Sender));
    FillList(Sender, list, [this](TDKMenuItem* s) { ShowPopularStat(s); });
}

void TDKData::ShowRecentList(TDKMenuItem* Sender) {
    TStatList list = ShowRecentList(MenuOf(Sender));
    FillList(Sender, list, [this](TDKMenuItem* s) { ShowRecentStat(s); });
}

void TDKData::ShowPopularStat(TDKMenuItem* Sender) {
    FillLines(Sender, ShowPopularStat(Sender->MIID(), Sender->ExecPath()));
}

void TDKData::ShowRecentStat(TDKMenuItem* Sender) {
    FillLines(Sender, ShowRecentStat(Sender->MIID(), Sender->ExecPath()));
}

void TDKData::ClearStat(TDKMenuItem* Sender) { ClearStat(MenuOf(Sender)); }

int TDKData::StatIconIndex(const std::wstring& Path) {
    FILETIME written = WriteTime(Path);
    std::lock_guard lock(gStatIconLock);
    auto [it, added] = gStatIcons.try_emplace(gui::AnsiLowerCase(Path));
    if (added || CompareFileTime(&it->second.Written, &written) != 0) {
        it->second = {written, GetShellSmallIconIndex(Path)};
        ++gStatIconLookups;
    }
    return it->second.Index;
}

int TDKData::StatIconLookups() {
    std::lock_guard lock(gStatIconLock);
    return gStatIconLookups;
}
