#include "engine/channel.h"

#include <sddl.h>
#include <wtsapi32.h>

#include <cstring>
#include <optional>

#include "win32/activation_context.h"
#include "win32/module.h"
#include "engine/action_gate.h"
#include "engine/desktop_listview.h"
#include "engine/display_hold.h"
#include "engine/icon_watch.h"
#include "engine/user_objects.h"
#include "engine/second_look.h"
#include "store/profile_tree.h"
#include "resources/resource.h"
#include "win32/boundary.h"
#include "win32/message_box.h"
#include "win32/owner.h"
#include "win32/unique.h"
#include "win32/wide_text.h"

namespace plx {

namespace {

struct unmap_view {
    void operator()(void* p) const noexcept { UnmapViewOfFile(p); }
};
using unique_view = unique_any<void*, unmap_view>;

// What a caller and the hook in the shell's process tell each other, in memory that only processes
// of the same user in the same session share. The attach lock keeps callers apart.
struct ChannelState {
    volatile LONG callerThread;  // the caller that waits for the hook's answer
};

// Mapped once per process, for as long as the module stays loaded; null while it cannot be had (then
// this process can neither attach nor be attached), and tried again at the next use. Reached only by a
// caller holding its turn and by the hook on the desktop's thread, one at a time.
class StateMapping {
public:
    ChannelState* get() {
        if (!view_) Open();
        return static_cast<ChannelState*>(view_.get());
    }

private:
    void Open() {
        mapping_ = CreateUserObject(kChannelStateName, [](SECURITY_ATTRIBUTES* attributes, LPCWSTR name) {
            return CreateFileMappingW(INVALID_HANDLE_VALUE, attributes, PAGE_READWRITE, 0,
                                      sizeof(ChannelState), name);
        });
        if (mapping_)
            view_.reset(
                MapViewOfFile(mapping_.get(), FILE_MAP_READ | FILE_MAP_WRITE, 0, 0, sizeof(ChannelState)));
    }

    unique_handle mapping_;
    unique_view view_;
};

ChannelState* State() {
    static StateMapping mapping;
    return mapping.get();
}

// The hook this process installed: the caller's thread alone installs and removes it.
HHOOK TheHook = nullptr;

// The agent window of this process, made and destroyed on the one thread it belongs to.
HWND TheAgentWindow = nullptr;

// The agent window is a dialog of the module's template with the agent's title.
bool IsAgentWindow(HWND window) {
    wchar_t className[8] = {};
    if (GetClassNameW(window, className, ARRAYSIZE(className)) == 0 || wcscmp(className, L"#32770") != 0)
        return false;
    const std::wstring expected = ToWide(kAgentWindowTitle);
    std::wstring title(expected.size() + 2, L'\0');
    const int length = GetWindowTextW(window, &title[0], static_cast<int>(title.size()));
    return length == static_cast<int>(expected.size()) && title.compare(0, expected.size(), expected) == 0;
}

struct AgentSearch {
    DWORD process;
    HWND found;
};

BOOL CALLBACK MatchAgentWindow(HWND window, LPARAM param) {
    auto* search = reinterpret_cast<AgentSearch*>(param);
    DWORD process = 0;
    GetWindowThreadProcessId(window, &process);
    if (process != search->process || !IsAgentWindow(window)) return TRUE;
    search->found = window;
    return FALSE;
}

// The agent window of the given process, or null. Title, class and process must all match: a window
// of the same title and class in any other process, which anybody may make, is passed over, so it
// can neither take an action nor hold the caller.
HWND FindAgentWindow(DWORD process) {
    AgentSearch search = {process, nullptr};
    EnumWindows(MatchAgentWindow, reinterpret_cast<LPARAM>(&search));
    return search.found;
}

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

// A turn under the attach lock, waited for at most kAttachLockTimeoutMs: a caller that keeps its turn
// (an action whose message box stays open) or a shell that does not answer must not hold a logon task
// for ever. The lock is this user's, in this session: callers of other users and sessions have
// channels of their own and never wait for each other.
class AttachLock {
public:
    AttachLock()
        : mutex_(CreateUserObject(kAttachMutexName, [](SECURITY_ATTRIBUTES* attributes, LPCWSTR name) {
              return CreateMutexExW(attributes, name, 0, SYNCHRONIZE | MUTEX_MODIFY_STATE | READ_CONTROL);
          })) {
        if (!mutex_) return;
        // A caller that ended inside its turn (killed while its action's message box was open) leaves
        // the mutex abandoned: the wait hands it to this caller, which then owns it as after any
        // other wait, and the state it guards is written afresh by every attach.
        const DWORD wait = WaitForSingleObject(mutex_.get(), kAttachLockTimeoutMs);
        held_ = wait == WAIT_OBJECT_0 || wait == WAIT_ABANDONED;
        timedOut_ = wait == WAIT_TIMEOUT;
    }
    ~AttachLock() {
        if (held_) ReleaseMutex(mutex_.get());
    }
    AttachLock(const AttachLock&) = delete;
    AttachLock& operator=(const AttachLock&) = delete;

    bool Held() const { return held_; }
    // True when another caller kept its turn past the bound.
    bool TimedOut() const { return timedOut_; }

private:
    unique_handle mutex_;
    bool held_ = false;
    bool timedOut_ = false;
};

// Hooks the desktop thread and waits for the agent window it creates in the desktop's process.
HWND AttachAgentWindow(DWORD desktopThread, DWORD desktopProcess, HWND owner, BOOL quiet) {
    const UINT answer = HandshakeMessage();
    if (answer) DropHandshakeAnswers(answer);  // also gives this thread the message queue the answer needs
    if (!answer || !SetAgentHook(desktopThread)) {
        ShowMessageUnlessQuiet(owner, quiet, kAttachFailedMessage, MB_ICONERROR);
        return nullptr;
    }
    WaitForHandshake(answer, kHandshakeTimeoutMs);
    SetAgentHook(0);
    HWND agent = FindAgentWindow(desktopProcess);
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
    return GetClassNameW(window, className, ARRAYSIZE(className)) > 0 &&
           wcscmp(className, L"SysListView32") == 0;
}

// Set once per process, before any window or hook of the channel runs: plain memory.
ActionWork TheWork;

// Registers the agent window for the session's notifications (defined with the window's messages).
void ListenToTheSession(HWND window);

// With the module's extra reference in the shell's process, the agent window outlives the hook; without
// it, the window goes after each action (the answer says so). Set with each window, on its thread.
bool CloseAfterAction = false;

ActionResult RunInThisProcess(Action action, HWND listView, HWND owner, BOOL quiet, UINT number) {
    return TheWork.run ? TheWork.run(action, listView, owner, quiet, number) : ActionResult::NotRun;
}

}  // namespace

void SetActionWork(const ActionWork& work) { TheWork = work; }

void CloseAgentWindow() {
    // Run by the release in the desktop's process, on the thread of its agent window.
    if (HWND agent = FindAgentWindow(GetCurrentProcessId()))
        SendMessageTimeoutW(agent, WM_CLOSE, 0, 0, SMTO_ABORTIFHUNG, kAgentAnswerTimeoutMs, nullptr);
}

bool RunAction(Action action, HWND owner, BOOL quiet, UINT number) {
    if (!IsActionCode(static_cast<int>(action)) || number > kMaxActionNumber) return false;
    const int code = static_cast<int>(action);
    HWND listView = FindDesktopListView();
    if (!listView) {
        ShowMessageUnlessQuiet(owner, quiet, kNoDesktopMessage, MB_ICONERROR);
        return false;
    }
    DWORD process = 0;
    GetWindowThreadProcessId(listView, &process);
    if (process == GetCurrentProcessId()) {
        // On the desktop's thread the action takes its turn at the gate: none while the product acts
        // on a display change by itself (a message box of that action cannot be, but a COM call of it
        // takes messages).
        std::optional<ActionTurn> turn;
        if (GetWindowThreadProcessId(listView, nullptr) == GetCurrentThreadId()) {
            turn.emplace(ActionOrigin::Asked);
            if (!turn->Held()) {
                ShowMessageUnlessQuiet(owner, quiet, kNoAgentMessage, MB_ICONERROR);
                return false;
            }
        }
        // A caller in another process says so itself when the agent's answer lacks kAgentRan.
        const ActionResult result = RunInThisProcess(action, listView, owner, quiet, number);
        if (result != ActionResult::NotRun) return result == ActionResult::Done;
        ShowMessageUnlessQuiet(owner, quiet, kNoAgentMessage, MB_ICONERROR);
        return false;
    }

    // Held until the action is done: with close-after-action, another caller must not pick up a
    // window that is about to go.
    AttachLock lock;
    if (lock.TimedOut()) {
        ShowMessageUnlessQuiet(owner, quiet, kNoAgentMessage, MB_ICONERROR);
        return false;
    }
    if (!lock.Held()) {
        // The lock or the shared state belongs to somebody else, or cannot be made at all.
        ShowMessageUnlessQuiet(owner, quiet, kAttachFailedMessage, MB_ICONERROR);
        return false;
    }
    // The turn may have taken a while. A desktop that ended meanwhile leaves a thread id that the
    // system may already have given to another thread, which the hook must never reach.
    listView = FindDesktopListView();
    if (!listView) {
        ShowMessageUnlessQuiet(owner, quiet, kNoDesktopMessage, MB_ICONERROR);
        return false;
    }
    DWORD desktopProcess = 0;
    const DWORD desktopThread = GetWindowThreadProcessId(listView, &desktopProcess);
    HWND agent = FindAgentWindow(desktopProcess);
    if (!agent) agent = AttachAgentWindow(desktopThread, desktopProcess, owner, quiet);
    if (!agent) return false;
    const LPARAM message =
        static_cast<LPARAM>((static_cast<DWORD>(code) & 0xFFFFu) << 16 | (number & kMaxActionNumber) << 8 |
                            (static_cast<DWORD>(quiet) & 0xFFu));
    // The agent answers once the action ran: kAgentRan, with kAgentCloseMe when the window must go
    // after it. A release closes the window it runs in, and its answer is lost with the window. Any
    // other silence means that the action did not run or did not end in time: the window went away,
    // the desktop's thread stopped answering (noticed within 5 seconds), another action of the
    // agent still runs, or the answer took longer than kAgentAnswerTimeoutMs in all. A caller that
    // gives up leaves the action to end by itself in the shell's process: the hook is gone already,
    // the window's state is the shell's own, and the lock goes to the next caller, whose action the
    // agent refuses until the first one has ended. While the agent runs an action of its own (the end of a
    // quiet period), it answers kAgentBusy at once, and the caller asks again until that action is done,
    // within the same bound.
    DWORD_PTR answer = 0;
    bool delivered = false;
    const DWORD start = GetTickCount();
    for (;;) {
        const DWORD elapsed = GetTickCount() - start;
        if (elapsed >= kAgentAnswerTimeoutMs) break;
        answer = 0;
        delivered = SendMessageTimeoutW(agent, WM_APP, reinterpret_cast<WPARAM>(listView), message,
                                        SMTO_ABORTIFHUNG, kAgentAnswerTimeoutMs - elapsed, &answer) != 0;
        if (!delivered || (answer & kAgentBusy) == 0) break;
        MsgWaitForMultipleObjects(0, nullptr, FALSE, kBusyRetryMs, QS_SENDMESSAGE);
    }
    const bool ran = (delivered && (answer & kAgentRan) != 0) ||
                     (action == Action::ReleaseHiddenItems && !IsWindow(agent));
    if (delivered && (answer & kAgentCloseMe) != 0)
        SendMessageTimeoutW(agent, WM_CLOSE, 0, 0, SMTO_ABORTIFHUNG, kAgentAnswerTimeoutMs, nullptr);
    if (!ran) ShowMessageUnlessQuiet(owner, quiet, kNoAgentMessage, MB_ICONERROR);
    return ran && (answer & kAgentRanInPart) == 0;
}

bool SetAgentHook(DWORD threadId) {
    if (threadId == 0) {
        const BOOL removed = TheHook && UnhookWindowsHookEx(TheHook);
        TheHook = nullptr;
        if (ChannelState* state = State()) InterlockedExchange(&state->callerThread, 0);
        return removed != FALSE;
    }
    ChannelState* state = State();
    if (!state) return false;
    InterlockedExchange(&state->callerThread, static_cast<LONG>(GetCurrentThreadId()));
    TheHook = SetWindowsHookExW(WH_GETMESSAGE, AgentHookProc, ModuleInstance(), threadId);
    if (!TheHook) return false;
    if (PostThreadMessageW(threadId, WM_NULL, 0, 0)) return true;
    SetAgentHook(0);  // nothing will come of a hook whose thread could not be woken
    return false;
}

LRESULT CALLBACK AgentHookProc(int code, WPARAM wParam, LPARAM lParam) {
    // The hook handle is not needed to call the next hook (the system ignores it).
    CallAtBoundary(false, [] {
        // Only a caller of this user in this session can have set the state; without one, the hook
        // is none of ours to serve.
        ChannelState* state = State();
        const DWORD caller = state ? static_cast<DWORD>(state->callerThread) : 0;
        // Windows runs a hook whose module cannot be loaded into the hooked process (one of the
        // other bitness) on the thread that installed it. A window made there would serve no list
        // view: the caller instead finds no window and says so.
        if (caller == 0 || caller == GetCurrentThreadId()) return false;
        CreateAgentWindow();
        if (const UINT answer = HandshakeMessage()) PostThreadMessageW(caller, answer, 0, 0);
        return true;
    });
    return CallNextHookEx(nullptr, code, wParam, lParam);
}

void CreateAgentWindow() {
    if (TheAgentWindow && IsWindow(TheAgentWindow)) return;
    TheAgentWindow = nullptr;
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
    CloseAfterAction = !tookReference;
    HWND window = nullptr;
    {
        ModuleActivationScope activation;
        window = CreateDialogParamW(self, MAKEINTRESOURCEW(IDD_AGENT), nullptr, AgentWindowProc, 0);
    }
    if (window) {
        TheAgentWindow = window;
        SetWindowTextW(window, ToWide(kAgentWindowTitle).c_str());
        ListenToTheSession(window);
        WatchIcons(window, FindDesktopListView());
    } else if (tookReference) {
        FreeLibrary(pinned);
    }
}

void FollowDisplayFromHere() {
    HWND listView = FindDesktopListView();
    if (listView && GetWindowThreadProcessId(listView, nullptr) == GetCurrentThreadId()) CreateAgentWindow();
}

namespace {

// The quiet period after a display change: a display that flaps (a monitor sleeping and waking, a
// remote session starting and ending) sends several changes within a second, and only the state it
// settles in is acted on, once. A change of the work area (a taskbar that appears) or of the scale
// starts it again as well, since the shell lays the icons out anew after it.
bool ArrangementMoved = false;
// A quiet period runs: its timer is set, or it ended while an action ran and waits for the action's
// end (then the timer is set again when the last turn ends).
bool SettlePending = false;
bool SettleDeferred = false;
// A change came while the display was held (display_hold.h): it is looked at again when the hold ends.
bool HeldBack = false;

// True while the agent runs an action asked for through it. The action's message boxes take messages,
// a new action among them: it is refused rather than run in the middle of the first one, whose caller
// may have given up or ended.
bool AgentBusy = false;

void StartQuietPeriod(HWND window, bool moved) {
    if (moved) ArrangementMoved = true;
    SettlePending = true;
    SettleDeferred = false;
    SetTimer(window, kDisplaySettleTimer, ReadDisplaySettleTime(), nullptr);
}

// The second look's way back to the layer above.
void PutBackThroughWork(HWND listView) {
    if (TheWork.putBack) TheWork.putBack(listView);
}

void EndQuietPeriod(HWND window) {
    KillTimer(window, kDisplaySettleTimer);
    // Never inside another action: its end sets the timer again (LastTurnEnded).
    if (AnyActionRunning()) {
        SettlePending = SettleDeferred = true;
        return;
    }
    SettlePending = false;
    if (CurrentDisplayHold() != DisplayHold::None) {
        // A state that passes: nothing is activated, saved or made for it. What the monitors were
        // before it is what they are taken to be until it ends.
        HeldBack = true;
        return;
    }
    const bool moved = ArrangementMoved || HeldBack;
    ArrangementMoved = false;
    HeldBack = false;
    // The desktop found now may belong to another process (a second shell): only a list view of this
    // one is worked on.
    HWND listView = FindDesktopListView();
    if (!IsListViewOfThisProcess(listView) || !TheWork.displayChanged) return;
    WatchIcons(window, listView);
    {
        ActionTurn turn(ActionOrigin::Automatic);
        TheWork.displayChanged(listView, moved);
    }
    StartSecondLook(window, listView, SecondLookKind::AnyMove);
}

// A hold that ends brings back the change it held back.
void HoldEnded(HWND window) {
    if (HeldBack && CurrentDisplayHold() == DisplayHold::None) StartQuietPeriod(window, false);
}

void LastTurnEnded() {
    if (!SettleDeferred || !TheAgentWindow) return;
    SettleDeferred = false;
    SettlePending = true;
    SetTimer(TheAgentWindow, kDisplaySettleTimer, USER_TIMER_MINIMUM, nullptr);
}

void AskedTurnBegins() {
    EndSecondLook();
    ForgetAwaitedLayout();
}

// The session's lock and the console display's power state reach the window that asks for them. On
// Windows the power setting's current state is sent at once.
const GUID kConsoleDisplayState = {
    0x6fe69556, 0x704a, 0x47a0, {0x8f, 0x24, 0xc2, 0x8d, 0x93, 0x6f, 0xda, 0x47}};
HPOWERNOTIFY DisplayNotification = nullptr;

void ListenToTheSession(HWND window) {
    SetGateListener({&LastTurnEnded, &AskedTurnBegins});
    WTSRegisterSessionNotification(window, NOTIFY_FOR_THIS_SESSION);
    DisplayNotification =
        RegisterPowerSettingNotification(window, &kConsoleDisplayState, DEVICE_NOTIFY_WINDOW_HANDLE);
}

void StopListening(HWND window) {
    WTSUnRegisterSessionNotification(window);
    if (DisplayNotification) UnregisterPowerSettingNotification(DisplayNotification);
    DisplayNotification = nullptr;
}

INT_PTR HandleAgentMessage(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
        case WM_CLOSE:
            DestroyWindow(window);
            return FALSE;
        case WM_DESTROY:
            if (window == TheAgentWindow) {
                StopListening(window);
                EndSecondLook();
                StopWatchingIcons();
                SettlePending = SettleDeferred = HeldBack = ArrangementMoved = false;
                TheAgentWindow = nullptr;
            }
            return FALSE;
        case WM_DISPLAYCHANGE:
            // The monitors already answer in their new arrangement when the message comes.
            StartQuietPeriod(window, GetScreenSize() != ReadLastResolution());
            return TRUE;
        case WM_SETTINGCHANGE:
            if (wParam == SPI_SETWORKAREA) StartQuietPeriod(window, false);
            return FALSE;
        case WM_DPICHANGED:
            StartQuietPeriod(window, false);
            return FALSE;
        case WM_WTSSESSION_CHANGE:
            switch (wParam) {
                case WTS_SESSION_LOCK:
                    NoteSessionLocked(true);
                    break;
                case WTS_SESSION_UNLOCK:
                    NoteSessionLocked(false);
                    HoldEnded(window);
                    break;
                case WTS_CONSOLE_CONNECT:
                case WTS_REMOTE_CONNECT:
                case WTS_REMOTE_DISCONNECT:
                    // The session moved between the console and a remote client: its monitors follow.
                    StartQuietPeriod(window, GetScreenSize() != ReadLastResolution());
                    break;
            }
            return TRUE;
        case WM_POWERBROADCAST: {
            const auto* setting = reinterpret_cast<const POWERBROADCAST_SETTING*>(lParam);
            if (wParam != PBT_POWERSETTINGCHANGE || !setting ||
                !IsEqualGUID(setting->PowerSetting, kConsoleDisplayState) ||
                setting->DataLength < sizeof(DWORD))
                return TRUE;
            DWORD state = 0;
            std::memcpy(&state, setting->Data, sizeof(state));
            // 0 off, 1 on, 2 dimmed (still shown).
            NoteDisplayOff(state == 0);
            if (state != 0) HoldEnded(window);
            return TRUE;
        }
        case WM_TIMER:
            if (wParam == kDisplaySettleTimer) {
                EndQuietPeriod(window);
                return TRUE;
            }
            if (wParam == kSecondLookTimer) {
                SecondLookTick(&PutBackThroughWork);
                return TRUE;
            }
            if (wParam == kStillnessTimer) {
                IconsStill(TheWork.lastSeen);
                return TRUE;
            }
            return FALSE;
        case WM_APP: {
            HWND listView = reinterpret_cast<HWND>(wParam);
            const int code = static_cast<int>(HIWORD(static_cast<DWORD>(lParam)));
            const BOOL quiet = LOBYTE(static_cast<DWORD>(lParam)) != 0;
            const UINT number = HIBYTE(LOWORD(static_cast<DWORD>(lParam)));
            LONG_PTR result = 0;
            if (AutomaticActionRunning()) {
                result = kAgentBusy;
            } else if (!AgentBusy && IsActionCode(code) && IsListViewOfThisProcess(listView)) {
                ActionTurn turn(ActionOrigin::Asked);
                AgentBusy = true;
                struct Done {
                    ~Done() { AgentBusy = false; }
                } done;
                WatchIcons(window, listView);
                const ActionResult ran =
                    RunInThisProcess(static_cast<Action>(code), listView, nullptr, quiet, number);
                if (ran != ActionResult::NotRun)
                    result = kAgentRan | (CloseAfterAction ? kAgentCloseMe : 0) |
                             (ran == ActionResult::InPart ? kAgentRanInPart : 0);
            }
            // The answer tells the sender whether the action ran; a release has destroyed the
            // window by now, and the sender then reads 0.
            if (IsWindow(window)) SetWindowLongPtrW(window, DWLP_MSGRESULT, result);
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

bool DisplayChangesMayBeFollowedNow() {
    return !SettlePending && !SettleDeferred && !AnyActionRunning() &&
           CurrentDisplayHold() == DisplayHold::None;
}

void AwaitShellLayout(HWND listView) {
    if (GetWindowThreadProcessId(listView, nullptr) != GetCurrentThreadId()) return;
    CreateAgentWindow();
    if (TheAgentWindow) AwaitStillIcons(TheAgentWindow, listView);
}

void PlaceItemsThatComeIntoView(HWND listView) {
    if (TheAgentWindow && GetWindowThreadProcessId(TheAgentWindow, nullptr) == GetCurrentThreadId() &&
        GetWindowThreadProcessId(listView, nullptr) == GetCurrentThreadId())
        StartSecondLook(TheAgentWindow, listView, SecondLookKind::NewItems);
}

}  // namespace plx
