#include "store/store_lock.h"

#include <sddl.h>

#include "resources/resource.h"
#include "store/moves.h"
#include "win32/owner.h"
#include "win32/wide_text.h"

namespace plx {

StoreLock::StoreLock(const std::wstring& userSid) {
    const std::wstring self = ProcessUserSid();
    const std::wstring sid = userSid.empty() ? self : userSid;
    if (sid.empty()) return;
    const std::wstring name = L"Global\\" + ToWide(PLAXEN_PRODUCT_TITLE " store ") + sid;
    // The user, SYSTEM and the administrators: the user's sessions and an elevated uninstall open
    // what either made. Nobody else may wait on it or hold it. The owner is the user, or the
    // administrators for an uninstall that locks another user's part (its own SID otherwise).
    unique_handle mutex;
    for (const std::wstring& owner : {sid == self ? sid : std::wstring(L"BA"), self}) {
        const std::wstring sddl = L"O:" + owner + L"D:P(A;;GA;;;" + sid + L")(A;;GA;;;SY)(A;;GA;;;BA)";
        PSECURITY_DESCRIPTOR raw = nullptr;
        if (!ConvertStringSecurityDescriptorToSecurityDescriptorW(sddl.c_str(), SDDL_REVISION_1, &raw,
                                                                  nullptr))
            return;
        unique_hlocal descriptor(raw);
        SECURITY_ATTRIBUTES attributes = {sizeof(attributes), raw, FALSE};
        mutex.reset(CreateMutexW(&attributes, FALSE, name.c_str()));
        if (mutex || GetLastError() != ERROR_INVALID_OWNER) break;
    }
    // One that another user made first is not ours to trust: the action then cannot run.
    if (!mutex || !(OwnedByUserOrSystem(mutex.get(), SE_KERNEL_OBJECT, sid) ||
                    OwnedByUserOrSystem(mutex.get(), SE_KERNEL_OBJECT, self)))
        return;
    DWORD wait = WaitForSingleObject(mutex.get(), 0);
    if (wait == WAIT_TIMEOUT) {
        ReachedStep("waiting for the store");
        wait = WaitForSingleObject(mutex.get(), kStoreLockTimeoutMs);
    }
    // Abandoned: its holder ended half-way, which the sweep is there to settle.
    if (wait == WAIT_OBJECT_0 || wait == WAIT_ABANDONED) mutex_.reset(mutex.release());
}

}  // namespace plx
