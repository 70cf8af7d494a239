#pragma once
// Shell entries get their system image-list index when their row is first painted, not when the
// menu is built: the lookup reads the entry (a shortcut and its target's icon), and a Start Menu
// can hold thousands of entries that are never shown.
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
