#include "store/slots.h"

#include "win32/wide_text.h"

namespace plx {

bool ReadSavedPosition(HKEY slot, const std::string& label, BYTE (&position)[8], bool& legacy) {
    legacy = false;
    DWORD length = sizeof(position);
    if (ReadBytes(slot, label.c_str(), position, length) == ERROR_SUCCESS && length == sizeof(position))
        return true;
    const std::string older = LegacySpelling(label);
    length = sizeof(position);
    if (older.empty() || ReadBytes(slot, older.c_str(), position, length) != ERROR_SUCCESS ||
        length != sizeof(position))
        return false;
    legacy = true;
    return true;
}

namespace {

// Copies the 8-byte position of every item from source into the slot below destinationParent (created
// there). Nothing is copied, and false returned, when the slot cannot be created; false also when a
// value could not be written.
bool CopySlot(HKEY source, HKEY destinationParent, const char* slot, const DesktopItemList& items) {
    unique_hkey destination = CreateKey(destinationParent, slot);
    if (!destination) return false;
    bool complete = true;
    for (const DesktopItem& item : items) {
        BYTE position[8];
        bool legacy = false;
        if (!ReadSavedPosition(source, item.DisplayName, position, legacy)) continue;
        if (WriteBytes(destination.get(), item.DisplayName.c_str(), position, sizeof(position)) !=
            ERROR_SUCCESS)
            complete = false;
    }
    return complete;
}

}  // namespace

bool CopySlots(const ScreenSize& size, const ProfileName& from, const ProfileName& to,
               const DesktopItemList& items) {
    for (const char* slot : {kManualSlot, kStartupSlot}) {
        unique_hkey source = OpenSlotKey(size, from, slot, KeyAccess::Write);
        if (!source) continue;
        unique_hkey destination = OpenProfileKey(size, to, KeyAccess::Create);
        if (!destination || !CopySlot(source.get(), destination.get(), slot, items)) return false;
    }
    return true;
}

void MigrateLegacySlots(const ScreenSize& size, const ProfileName& profile) {
    unique_hkey resolution = OpenResolutionKey(size, KeyAccess::Write);
    if (!resolution) return;
    for (const char* slot : {kManualSlot, kStartupSlot}) {
        {
            unique_hkey source = OpenKeyForWriting(resolution.get(), slot);
            if (!source) continue;
            // One level at a time: the profile's name may use all that a key name can hold.
            unique_hkey profileKey = CreateKey(resolution.get(), profile.Text());
            // Without a place to go, the old positions stay where they are.
            if (!profileKey || !CopySlot(source.get(), profileKey.get(), slot, BuildItemCatalogue(nullptr)))
                continue;
        }
        DeleteKeyTree(resolution.get(), slot);
    }
}

}  // namespace plx
