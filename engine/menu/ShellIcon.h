#pragma once
// Shell entries get their system image-list index when their row is first painted, not when the
// menu is built: the lookup reads the entry (a shortcut and its target's icon), and a Start Menu
// can hold thousands of entries that are never shown. A window of many rows shows before all of
// them are looked up: the rest come from a worker thread, each row painted again as its icon comes.
#include <windows.h>

class TDKMenuItem;

// FIcon of an item with FIconInGlobList before its index has been looked up: ShellIconPending
// for an entry with an icon of its own; lower values for a file that shows its type's icon,
// looked up once for all files of that type.
constexpr INT_PTR ShellIconPending = -1;
constexpr bool IsShellIconPending(INT_PTR value) { return value <= ShellIconPending; }

// The image-list index of Item's icon; a pending one is looked up now (from the item's full id
// list, or from its path when it has none, or taken from another file of its type) and kept.
int ShellIconIndex(TDKMenuItem* Item);

// A row's icon as its window is painted (Item is the row's entry, Row its row): the index when it
// is known, or looked up now while the paint's short time for look-ups lasts; otherwise -1, and the
// icon is looked up on a worker thread, after which the row is painted again.
int ShellIconIndexForRow(TDKMenuItem* Item, int Row);
// A paint of a window's rows begins: its time for look-ups starts.
void BeginRowIconLookups();
// How long one paint may look icons up itself, in ms (25 unless set).
void SetRowIconLookupTime(double Ms);
// Window's rows are going (made anew, or the window closes): icons asked for them and not looked
// up yet are not looked up.
void CancelRowIcons(const TDKMenuItem* Window);
