// The desktop item catalogue: stable IDs for desktop items under "Items", the record of items held in
// the hidden store under "HiddenItems", and where in the store an item's file lives.
#pragma once

// commctrl.h needs windows.h before it.
// clang-format off
#include <windows.h>
#include <commctrl.h>
// clang-format on

#include "resources/resource.h"

#include <optional>
#include <string>
#include <vector>

namespace plx {

// A registry key name may be at most this long.
inline constexpr size_t kMaxKeyNameChars = 255;

struct DesktopItem {
    int ID = -1;
    std::string DisplayName;
    std::string Path;         // where the file is now: DesktopPath, or its place in the store
    std::string DesktopPath;  // parsing path on the desktop; the catalogue key
    std::string TypeName;
    bool Visible = true;
    bool SpecialFolder = false;  // file-system item the shell does not let us move
    bool VirtualFolder = false;  // not part of the file system; never moved
    int IconIndex = -1;
    // Synced with a cloud: a placeholder, or inside a sync root. Never hidden; found at every
    // enumeration and not stored, since the cloud client may change it at any time.
    bool CloudSynced = false;

    bool InStore() const { return Path != DesktopPath; }
    bool Movable() const { return !SpecialFolder && !VirtualFolder; }
};

using DesktopItemList = std::vector<DesktopItem>;

// Registry key name of a path: every backslash becomes ">". The walk goes character by character in
// the given code page, so the trail byte of a double-byte character (0x5C is one in Shift-JIS) is
// never mistaken for a backslash.
std::string ItemKeyName(const std::string& path, UINT codePage = CP_UTF8);
std::string PathFromKeyName(const std::string& keyName, UINT codePage = CP_UTF8);

// A desktop path split as the store mirrors it: "C:" and "\users\me\Desktop\" and "Notes.txt".
struct SplitDesktopPath {
    std::string drive;
    std::string directory;  // with its leading and trailing backslash
    std::string fileName;   // with the extension
};
SplitDesktopPath SplitPath(const std::string& path);

// A place in the store may be as long as the long-path form allows (win32/long_path.h); desktop paths
// stay under MAX_PATH, as the shell has them.
inline constexpr size_t kLongestStorePath = 32000;

// True for a full path "X:\a\b" shorter than longest whose components are all real names: no "." or
// "..", no empty component. Paths read back from the registry are moved only when this holds, so that
// a damaged or forged entry cannot lead a move out of the desktop folders or out of the store.
bool IsPlainFullPath(const std::string& path, size_t longest = MAX_PATH);

// The store of the running module: for a module below one of the machine's program folders (Program
// Files, and the 32-bit one of 64-bit Windows), "Quillmar\Orvane Deluxe\Hidden" in the machine's
// program data folder; for a module anywhere else, "Hidden" in its folder. Each in the one spelling the
// file system gives it (see ModuleFolder); empty when the module's folder is unknown.
std::string HiddenStoreDirectory();
// "Hidden" in the folder of modulePath.
std::string HiddenStoreDirectory(const std::string& modulePath);
// The store of a module in moduleFolder, as HiddenStoreDirectory() finds it: programFolders and
// dataFolder are the machine's, without a trailing backslash.
std::string StoreDirectoryFor(const std::string& moduleFolder, const std::vector<std::string>& programFolders,
                              const std::string& dataFolder);
// The store's folder below the machine's program data folder.
inline constexpr char kMachineStoreChain[] = "\\Quillmar\\Orvane Deluxe\\Hidden";
// The machine's program folders and program data folder as the file system names them; a folder that
// cannot be found is left out (or empty).
std::vector<std::string> MachineProgramFolders();
std::string MachineDataFolder();
// storeDirectory + the directory chain and name of desktopPath, drive dropped.
std::string StorePathFor(const std::string& storeDirectory, const std::string& desktopPath);
std::string StorePathFor(const std::string& desktopPath);

// Enumerates the live desktop, gives new items their IDs in "Items", rewrites names, then appends
// the stored items. Empty when "Items" or the desktop folder is not available.
DesktopItemList BuildItemCatalogue(HWND owner, HIMAGELIST* imageList = nullptr);
// The catalogue as stored plus the stored items; nothing when "Items" or "HiddenItems" cannot be read
// whole. withIcons: the stored items' icons are looked up (one shell query per item), for a list that
// is shown.
std::optional<DesktopItemList> ReadItemCatalogue(bool withIcons = true);
// One item per readable "HiddenItems" entry whose file is in the store. False when the entries could
// not all be read (those read are appended).
bool AppendHiddenItems(DesktopItemList& items, bool withIcons);

// A stored item as the catalogue lists it, from its "HiddenItems" entry: the item at the desktop path
// that keyName names, in its place in storeDirectory, and what ReadHiddenEntry finds in the entry.
enum class HiddenEntryRead { NoId, Incomplete, Complete };
DesktopItem StoredItem(const std::string& keyName, const std::string& storeDirectory);
// Reads "ID", "DisplayName" and "TypeName" into item; complete when all three are there. Whether the
// file is in the store is not looked at.
HiddenEntryRead ReadHiddenEntry(HKEY entry, DesktopItem& item);

// What an activation applies the profile at profileKey to (every item's Visible as the profile's record
// of its ID says, or as "Items" says where there is none; profileKey may be null): the stored items
// the profile shows, taken from stored (as AppendHiddenItems lists them), and the items of "Items" it
// hides that lie in a desktop folder (the user's or the common one). Nothing else can move: an item on the
// desktop that is shown stays, as does a stored one that is hidden, and the entry in "Items" of a stored item
// names a desktop place that its move back needs free. Only what a move needs is read. Nothing when "Items"
// cannot be read whole.
std::optional<DesktopItemList> ReadItemsToApply(HKEY profileKey, const DesktopItemList& stored);

// The catalogue's ID for the item at desktopPath, which gets its subkey and a new ID (with
// "Visible" 0: it is in the store) when it has none; -1 when the catalogue cannot be written.
int CatalogueIdFor(const std::string& desktopPath, const std::string& displayName,
                   const std::string& typeName);

}  // namespace plx
