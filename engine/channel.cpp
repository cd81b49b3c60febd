#include "engine/channel.h"

#include <sddl.h>

#include <cstring>

#include "win32/activation_context.h"
#include "win32/module.h"
#include "engine/desktop_listview.h"
#include "resources/resource.h"
#include "win32/boundary.h"
#include "win32/message_box.h"
#include "win32/shared_section.h"
#include "win32/unique.h"
#include "win32/wide_text.h"

namespace plx {

// One copy for the caller's process and the shell's process. Plain memory: the attach mutex keeps
// callers apart, and the shell side runs on one thread.
PLX_SHARED volatile DWORD SharedHook = 0;  // user handles carry 32 significant bits
PLX_SHARED volatile DWORD SharedCallerThread = 0;
PLX_SHARED volatile BYTE SharedAgentCreated = 0;
PLX_SHARED volatile BYTE SharedCloseAfterAction = 0;

namespace {

HWND FindAgentWindow() { return FindWindowW(nullptr, ToWide(kAgentWindowTitle).c_str()); }

HHOOK SharedHookHandle() { return static_cast<HHOOK>(ULongToHandle(SharedHook)); }

// The hook's answer has an id of its own, so that the caller can take exactly the answers off its
// queue: every other message of the calling program stays there, in its order. 0 when the system
// could not register it.
UINT HandshakeMessage() {
    static const UINT message = RegisterWindowMessageW(ToWide(kHandshakeMessageName).c_str());
    return message;
}

// Takes the one answer message off this thread's queue, if there is one. A filter of 0 to 0 would
// take any message, so the id must not be 0.
bool TakeHandshakeAnswer(UINT answer) {
    MSG msg;
    return PeekMessageW(&msg, reinterpret_cast<HWND>(-1), answer, answer, PM_REMOVE) != FALSE;
}

// One attach may leave several answers behind; they must not end the wait of the next one.
void DropHandshakeAnswers(UINT answer) {
    while (TakeHandshakeAnswer(answer)) {
    }
}

// Takes the first answer off the queue. Messages sent to this thread's windows are handled while it
// waits.
bool WaitForHandshake(UINT answer, DWORD timeoutMs) {
    const DWORD start = GetTickCount();
    for (;;) {
        if (TakeHandshakeAnswer(answer)) return true;
        const DWORD elapsed = GetTickCount() - start;
        if (elapsed >= timeoutMs) return false;
        MsgWaitForMultipleObjects(0, nullptr, FALSE, timeoutMs - elapsed, QS_POSTMESSAGE | QS_SENDMESSAGE);
    }
}

// The shared section is one copy for every process that maps the module, in every user session of
// the machine: two users whose logon tasks attach at once (on a terminal server) would overwrite each
// other's hook and caller thread. So callers take turns under a mutex in the global namespace.
//
// Whoever comes first creates it, so its access list is given here rather than taken from the
// creator's token: every signed-in user (interactive, or a scheduled task) may wait for it and release
// it, so that callers of every user and of every elevation are kept apart by the one mutex. A mutex
// that exists already is opened with just those two rights. Where the global one cannot be had (a
// session that may not use the global namespace, or one made by somebody else with another list), the
// session's own namespace still keeps the callers of this session apart.
HANDLE CreateAttachMutex() {
    constexpr DWORD kWaitAndRelease = SYNCHRONIZE | MUTEX_MODIFY_STATE;
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (!ConvertStringSecurityDescriptorToSecurityDescriptorW(ToWide(kAttachMutexAccess).c_str(), SDDL_REVISION_1,
                                                              &descriptor, nullptr))
        descriptor = nullptr;
    SECURITY_ATTRIBUTES attributes = {sizeof(attributes), descriptor, FALSE};
    HANDLE mutex = CreateMutexExW(descriptor ? &attributes : nullptr, ToWide(kAttachMutexName).c_str(), 0, kWaitAndRelease);
    if (descriptor) LocalFree(descriptor);
    if (mutex) return mutex;
    return CreateMutexExW(nullptr, ToWide(kSessionAttachMutexName).c_str(), 0, kWaitAndRelease);
}

// A turn under the attach mutex, waited for at most kAttachLockTimeoutMs: a caller that keeps its turn
// (an action whose message box stays open, in any session) or a shell that does not answer must not
// hold a logon task for ever.
class AttachLock {
public:
    AttachLock() : mutex_(CreateAttachMutex()) {
        // Without any mutex there is nobody this process could take turns with: it goes on.
        if (!mutex_) return;
        // An owner that died leaves the mutex abandoned, which hands it to this waiter.
        const DWORD wait = WaitForSingleObject(mutex_.get(), kAttachLockTimeoutMs);
        held_ = wait == WAIT_OBJECT_0 || wait == WAIT_ABANDONED;
        timedOut_ = wait == WAIT_TIMEOUT;
    }
    ~AttachLock() {
        if (held_) ReleaseMutex(mutex_.get());
    }
    AttachLock(const AttachLock&) = delete;
    AttachLock& operator=(const AttachLock&) = delete;

    // True when another caller kept its turn past the bound.
    bool TimedOut() const { return timedOut_; }

private:
    unique_handle mutex_;
    bool held_ = false;
    bool timedOut_ = false;
};

// Hooks the desktop thread and waits for the agent window it creates.
HWND AttachAgentWindow(DWORD desktopThread, HWND owner, BOOL quiet) {
    const UINT answer = HandshakeMessage();
    if (answer) DropHandshakeAnswers(answer);  // also gives this thread the message queue the answer needs
    if (!answer || !SetAgentHook(desktopThread)) {
        ShowMessageUnlessQuiet(owner, quiet, kAttachFailedMessage, MB_ICONERROR);
        return nullptr;
    }
    WaitForHandshake(answer, kHandshakeTimeoutMs);
    SetAgentHook(0);
    HWND agent = FindAgentWindow();
    if (!agent) ShowMessageUnlessQuiet(owner, quiet, kNoAgentMessage, MB_ICONERROR);
    return agent;
}

// The agent runs actions only on list views of its own process: the list-view messages of an
// action carry pointers that are only valid there.
bool IsListViewOfThisProcess(HWND window) {
    if (!IsWindow(window)) return false;
    DWORD process = 0;
    GetWindowThreadProcessId(window, &process);
    if (process != GetCurrentProcessId()) return false;
    wchar_t className[32] = {};
    return GetClassNameW(window, className, ARRAYSIZE(className)) > 0 && wcscmp(className, L"SysListView32") == 0;
}

// Set once per process, before any window or hook of the channel runs: plain memory.
ActionWork TheWork;

bool RunInThisProcess(Action action, HWND listView, HWND owner, BOOL quiet) {
    const bool ran = TheWork.run && TheWork.run(action, listView, owner, quiet);
    // The release closed the agent window; a flag left over from a shell that died goes too.
    if (action == Action::ReleaseHiddenItems) SharedAgentCreated = 0;
    return ran;
}

}  // namespace

void SetActionWork(const ActionWork& work) { TheWork = work; }

void CloseAgentWindow() {
    if (HWND agent = FindAgentWindow())
        SendMessageTimeoutW(agent, WM_CLOSE, 0, 0, SMTO_ABORTIFHUNG, kAgentAnswerTimeoutMs, nullptr);
}

bool RunAction(Action action, HWND owner, BOOL quiet) {
    if (!IsActionCode(static_cast<int>(action))) return false;
    const int code = static_cast<int>(action);
    HWND listView = FindDesktopListView();
    if (!listView) {
        ShowMessageUnlessQuiet(owner, quiet, kNoDesktopMessage, MB_ICONERROR);
        return false;
    }
    DWORD process = 0;
    GetWindowThreadProcessId(listView, &process);
    if (process == GetCurrentProcessId()) return RunInThisProcess(action, listView, owner, quiet);

    // Held until the action is done: with close-after-action, another caller must not pick up a
    // window that is about to go.
    AttachLock lock;
    if (lock.TimedOut()) {
        ShowMessageUnlessQuiet(owner, quiet, kNoAgentMessage, MB_ICONERROR);
        return false;
    }
    // The turn may have taken a while. A desktop that ended meanwhile leaves a thread id that the
    // system may already have given to another thread, which the hook must never reach.
    listView = FindDesktopListView();
    if (!listView) {
        ShowMessageUnlessQuiet(owner, quiet, kNoDesktopMessage, MB_ICONERROR);
        return false;
    }
    const DWORD desktopThread = GetWindowThreadProcessId(listView, nullptr);
    HWND agent = FindAgentWindow();
    if (!agent) agent = AttachAgentWindow(desktopThread, owner, quiet);
    if (!agent) return false;
    const LPARAM message =
        static_cast<LPARAM>((static_cast<DWORD>(code) & 0xFFFFu) << 16 | (static_cast<DWORD>(quiet) & 0xFFu));
    // The agent answers 1 once the action ran. A release closes the window it runs in, and its
    // answer is lost with the window. Any other silence means that the action did not run: the
    // window went away, it belongs to another desktop process than the list view found, or the
    // desktop's thread stopped answering. An action may rightly take long (its message box waits for
    // the user): only a thread that takes no messages at all counts as hung.
    DWORD_PTR answer = 0;
    const bool delivered =
        SendMessageTimeoutW(agent, WM_APP, reinterpret_cast<WPARAM>(listView), message,
                            SMTO_ABORTIFHUNG | SMTO_NOTIMEOUTIFNOTHUNG, kAgentAnswerTimeoutMs, &answer) != 0;
    const bool ran = (delivered && answer != 0) || (action == Action::ReleaseHiddenItems && !IsWindow(agent));
    // After a release the window is gone already, and this finds nothing.
    if (SharedCloseAfterAction)
        SendMessageTimeoutW(agent, WM_CLOSE, 0, 0, SMTO_ABORTIFHUNG, kAgentAnswerTimeoutMs, nullptr);
    if (!ran) ShowMessageUnlessQuiet(owner, quiet, kNoAgentMessage, MB_ICONERROR);
    return ran;
}

bool SetAgentHook(DWORD threadId) {
    if (threadId == 0) {
        const BOOL removed = UnhookWindowsHookEx(SharedHookHandle());
        SharedHook = 0;
        return removed != FALSE;
    }
    SharedCallerThread = GetCurrentThreadId();
    HHOOK hook = SetWindowsHookExW(WH_GETMESSAGE, AgentHookProc, ModuleInstance(), threadId);
    SharedHook = HandleToULong(hook);
    if (!hook) return false;
    if (PostThreadMessageW(threadId, WM_NULL, 0, 0)) return true;
    SetAgentHook(0);  // nothing will come of a hook whose thread could not be woken
    return false;
}

LRESULT CALLBACK AgentHookProc(int code, WPARAM wParam, LPARAM lParam) {
    // Windows runs a hook whose module cannot be loaded into the hooked process (one of the other
    // bitness) on the thread that installed it. A window made there would serve no list view: the
    // caller instead finds no window and says so.
    if (GetCurrentThreadId() == SharedCallerThread)
        return CallNextHookEx(SharedHookHandle(), code, wParam, lParam);
    CallAtBoundary(false, [] {
        CreateAgentWindow();
        if (const UINT answer = HandshakeMessage()) PostThreadMessageW(SharedCallerThread, answer, 0, 0);
        return true;
    });
    return CallNextHookEx(SharedHookHandle(), code, wParam, lParam);
}

void CreateAgentWindow() {
    // The flag alone is not trusted: a shell that ended without closing the window leaves it set.
    if (SharedAgentCreated && FindAgentWindow()) return;
    HINSTANCE self = ModuleInstance();
    // The extra reference keeps the module in this process once the hook is gone: Windows unloads a
    // hook's module with the hook when nothing else holds it, and the window would then run code that
    // is no longer mapped. Taken by an address of the code that the window runs, so no path (long, or
    // with characters of no code page) can make it fail.
    HMODULE pinned = nullptr;
    const bool tookReference =
        GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS,
                           reinterpret_cast<LPCWSTR>(reinterpret_cast<void*>(&AgentWindowProc)),
                           &pinned) != FALSE;
    // Set every time: a value left by an earlier window would keep a window whose module may go.
    SharedCloseAfterAction = tookReference ? 0 : 1;
    HWND window = nullptr;
    {
        ModuleActivationScope activation;
        window = CreateDialogParamW(self, MAKEINTRESOURCEW(IDD_AGENT), nullptr, AgentWindowProc, 0);
    }
    if (window) {
        SharedAgentCreated = 1;
        SetWindowTextW(window, ToWide(kAgentWindowTitle).c_str());
    } else {
        SharedAgentCreated = 0;
        if (tookReference) FreeLibrary(pinned);
    }
}

namespace {

INT_PTR HandleAgentMessage(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
        case WM_CLOSE:
            DestroyWindow(window);
            SharedAgentCreated = 0;
            return FALSE;
        case WM_DISPLAYCHANGE: {
            // The desktop found now may belong to another process (a second shell): only a list
            // view of this one is worked on.
            HWND listView = FindDesktopListView();
            if (IsListViewOfThisProcess(listView) && TheWork.displayChanged) TheWork.displayChanged(listView);
            return TRUE;
        }
        case WM_APP: {
            HWND listView = reinterpret_cast<HWND>(wParam);
            const int code = static_cast<int>(HIWORD(static_cast<DWORD>(lParam)));
            const BOOL quiet = LOWORD(static_cast<DWORD>(lParam)) != 0;
            // The answer tells the sender whether the action ran; a release has destroyed the
            // window by now, and the sender then reads 0.
            const bool ran =
                IsActionCode(code) && IsListViewOfThisProcess(listView) &&
                RunInThisProcess(static_cast<Action>(code), listView, nullptr, quiet);
            if (IsWindow(window)) SetWindowLongPtrW(window, DWLP_MSGRESULT, ran ? 1 : 0);
            return TRUE;
        }
        default:
            return FALSE;
    }
}

}  // namespace

INT_PTR CALLBACK AgentWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    // An action that throws half-way leaves the message to the default handling: the sender reads 0.
    return CallAtBoundary<INT_PTR>(FALSE,
                                   [&] { return HandleAgentMessage(window, message, wParam, lParam); });
}

}  // namespace plx
