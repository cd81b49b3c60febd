// One lock for each user's part of the hidden store and of "HiddenItems": every batch of moves, sweep,
// release, removal of the user's data and return of stored items holds it, in every process and
// session of that user and in an administrator's uninstall, so that no two of them move or delete the
// same item at once.
#pragma once

#include <windows.h>

#include <string>

#include "win32/unique.h"

namespace plx {

// How long an action waits for the lock; then it changes nothing and says so.
inline constexpr DWORD kStoreLockTimeoutMs = 15000;

struct release_mutex {
    void operator()(HANDLE h) const noexcept {
        ReleaseMutex(h);
        CloseHandle(h);
    }
};

// A named mutex in the global namespace, one per user (the name ends with the user's SID), so that
// it reaches every session. Held by the thread that took it, which may take it again (a release that
// saves a profile); an end of the holder's process frees it, and the next holder's sweep then settles
// what was cut short.
class StoreLock {
public:
    // userSid: SID text of the user whose part is locked; empty for the user who runs this.
    explicit StoreLock(const std::wstring& userSid = std::wstring());
    bool Held() const { return static_cast<bool>(mutex_); }

private:
    unique_any<HANDLE, release_mutex> mutex_;
};

}  // namespace plx
