// The carry-over of profiles that an older version kept for several monitors under the primary's size.
#include "layout/resolution.h"

#include <string>

#include "store/profile_tree.h"
#include "store/store_lock.h"
#include "win32/registry.h"
#include "win32/unique.h"
#include "win32/wide_text.h"

namespace plx {

namespace {

// Below RootKey while the carry-over runs: the copy grows under kCarryingKey and is renamed into the
// arrangement's name once whole, which kCarriedValue in it then says. No resolution key has that name.
constexpr char kCarryingKey[] = "Carrying over";
constexpr char kCarriedValue[] = "CarriedOver";

bool IsWholeCopy(HKEY root, const std::string& name) {
    unique_hkey key = OpenKeyForReading(root, name);
    DWORD carried = 0;
    return key && ReadNumber(key.get(), kCarriedValue, carried) == ERROR_SUCCESS && carried == 1;
}

// The profiles of from written over those of the same name in to, each copied whole.
bool CopyProfilesOver(HKEY from, HKEY to) {
    bool copied = true;
    const LONG walked = ForEachSubkey(from, [&](const std::string& name) {
        unique_hkey source = OpenKeyForReading(from, name);
        DeleteKeyTree(to, name);
        unique_hkey target = CreateKey(to, name);
        copied = source && target && RegCopyTreeW(source.get(), nullptr, target.get()) == ERROR_SUCCESS;
        return copied;
    });
    return copied && walked == ERROR_SUCCESS;
}

}  // namespace

void CarryOverOlderProfiles() {
    const ScreenSize size = GetScreenSize();
    if (size.SingleMonitor() || !KeptByOlderVersion()) return;
    // The older version kept these monitors' profiles under the primary's size, and was last used at
    // that size. They are copied, not moved: the primary's key stays for the primary alone (and for
    // the older version), and nothing stored is lost whichever way the copy ends.
    const ScreenSize primary{size.width, size.height, {}};
    if (ReadLastResolution() != primary) return;
    // The shell and orvane may both begin it: one at a time, and the second finds it done.
    StoreLock lock;
    if (!lock.Held() || !KeptByOlderVersion()) return;
    unique_hkey root = OpenKeyForWriting(HKEY_CURRENT_USER, kRootKey);
    if (!root) return;
    const std::string target = ResolutionKeyName(size);
    const auto rename = [&](const std::string& from, const std::string& to) {
        return RegRenameKey(root.get(), ToWide(from).c_str(), ToWide(to).c_str()) == ERROR_SUCCESS;
    };
    // A whole copy holds all there is to carry over, the arrangement's key of before included: it goes
    // into place over whatever is left of that key. A copy that is not whole goes.
    if (IsWholeCopy(root.get(), kCarryingKey)) {
        DeleteKeyTree(root.get(), target);
        if (!rename(kCarryingKey, target)) return;
    }
    DeleteKeyTree(root.get(), kCarryingKey);

    if (!IsWholeCopy(root.get(), target)) {
        unique_hkey from = OpenKeyForReading(root.get(), ResolutionKeyName(primary));
        if (!from) return;
        // The arrangement's key may be there already, made before the carry-over ran (an export, an
        // import, or an earlier version of this module that stopped half-way): the copy takes its
        // profiles over those of the same name, and replaces it whole.
        unique_hkey before = OpenKeyForReading(root.get(), target);
        bool whole = false;
        {
            unique_hkey copy = CreateKey(root.get(), kCarryingKey);
            whole = copy && RegCopyTreeW(from.get(), nullptr, copy.get()) == ERROR_SUCCESS &&
                    (!before || CopyProfilesOver(before.get(), copy.get())) &&
                    WriteNumber(copy.get(), kCarriedValue, 1) == ERROR_SUCCESS &&
                    RegFlushKey(copy.get()) == ERROR_SUCCESS;
        }
        // Half a copy would pass for this arrangement's profiles: it goes, and the next call tries again.
        if (!whole) {
            DeleteKeyTree(root.get(), kCarryingKey);
            return;
        }
        before.reset();
        DeleteKeyTree(root.get(), target);
        if (!rename(kCarryingKey, target)) return;
    }
    // The desktop is as the older version left it for this arrangement: nothing to activate. From here
    // on the tree is this version's, and the carry-over is done.
    WriteLastResolution(size);
    if (unique_hkey carried = OpenKeyForWriting(root.get(), target))
        RegDeleteValueW(carried.get(), ToWide(kCarriedValue).c_str());
}

}  // namespace plx
