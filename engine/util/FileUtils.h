#pragma once
// Shell item id lists (measuring, copying, joining, cutting, freeing), display names, icon
// indexes, attribute tests and renaming through the shell's file operation.
#include <windows.h>
#include <shlobj.h>

#include "Handles.h"

#include <memory>
#include <string>
#include <vector>

// Frees a list with the shell allocator; nil does nothing. Throws std::system_error when the
// allocator cannot be obtained.
void FreePIDL(LPITEMIDLIST list);
LPITEMIDLIST NextPIDL(LPCITEMIDLIST item);
// 0 for nil; otherwise every item's byte count plus 2 for the terminator.
UINT GetPIDLSize(LPCITEMIDLIST list);
void StripLastID(LPITEMIDLIST list);
LPITEMIDLIST GetLastPIDLItem(LPITEMIDLIST list);
// Zero-filled block of the shell allocator, or nil.
LPITEMIDLIST CreatePIDL(UINT size);
LPITEMIDLIST CopyPIDL(LPCITEMIDLIST list);
LPITEMIDLIST ConcatPIDLs(LPCITEMIDLIST first, LPCITEMIDLIST second);
// Byte for byte the same list (nil equals only nil).
bool SamePIDL(LPCITEMIDLIST a, LPCITEMIDLIST b);

// Lists whose bytes come from outside the shell (a buffer of `available` bytes) are walked
// only inside that buffer: 0 / nil when the terminator is not reached inside it or an item is
// shorter than its own count field.
UINT GetPIDLSizeChecked(LPCITEMIDLIST list, size_t available);
LPITEMIDLIST CopyPIDL(LPCITEMIDLIST list, size_t available);
LPITEMIDLIST ConcatPIDLs(LPCITEMIDLIST first, size_t firstAvailable, LPCITEMIDLIST second,
                         size_t secondAvailable);

std::wstring GetDisplayName(IShellFolder* folder, LPCITEMIDLIST child, bool ForParsing);
int GetShellIconIndex(LPCITEMIDLIST list, bool Large, bool Open);
bool IsBrowsableFolder(IShellFolder* folder, LPCITEMIDLIST child);
// The attribute rule of IsBrowsableFolder for a Windows version (major + minor / 10).
bool BrowsableByAttributes(SFGAOF attributes, double version);
bool IsFileItem(IShellFolder* folder, LPCITEMIDLIST child);
// True when every file whose name ends in `extension` (".txt"; empty for none) shows the same
// system icon: its type takes no icon from the file itself ("%1"), has no icon handler and is
// no shortcut, executable or icon file.
bool TypeIconIsShared(const std::wstring& extension);
// True when every plain folder shows the same system icon: no icon handler or per-folder icon
// is registered for folders.
bool FolderTypeIconIsShared();
// True when Path is a plain folder: a directory (not a drive, not a link to elsewhere) without
// a desktop.ini that could give it an icon of its own.
bool FolderIconIsPlain(const std::wstring& path);
// Whether the directory holds a desktop.ini (which may give it and its files names and icons).
bool HasDesktopIni(const std::wstring& dir);
bool BuildDoubleNullList(const std::vector<std::wstring>& strings, std::vector<wchar_t>& buffer);
// Renames through the shell's file operation, which shows no error box of its own: the caller
// tells the user. Error (when given) gets the system's code of a failure, ERROR_CANCELLED when
// the operation was cancelled, 0 on success.
bool ShellRename(HWND owner, const std::wstring& oldName, const std::wstring& newName,
                 bool RenameOnCollision, DWORD* Error = nullptr);

using gui::PIDLDeleter;
using gui::PIDLPtr;
