#include "tests/support/message_boxes.h"

#include <algorithm>

#include "testbed/testbed.h"
#include "win32/wide_text.h"

namespace testbed {

namespace {

struct Scan {
    std::string text;
    HICON icon = nullptr;
};

BOOL CALLBACK CollectStatics(HWND child, LPARAM lp) {
    auto* scan = reinterpret_cast<Scan*>(lp);
    char cls[32] = {};
    GetClassNameA(child, cls, sizeof(cls));
    if (lstrcmpiA(cls, "Static") != 0) return TRUE;
    if ((GetWindowLongA(child, GWL_STYLE) & SS_TYPEMASK) == SS_ICON) {
        scan->icon = reinterpret_cast<HICON>(SendMessageA(child, STM_GETICON, 0, 0));
        return TRUE;
    }
    wchar_t text[2048] = {};
    GetWindowTextW(child, text, ARRAYSIZE(text));
    if (text[0] && scan->text.empty()) scan->text = plx::ToUtf8(text);
    return TRUE;
}

UINT IconKind(HICON icon) {
    if (!icon) return 0;
    if (icon == LoadIconA(nullptr, MAKEINTRESOURCEA(32513))) return MB_ICONERROR;    // IDI_HAND
    if (icon == LoadIconA(nullptr, MAKEINTRESOURCEA(32515))) return MB_ICONWARNING;  // IDI_EXCLAMATION
    if (icon == LoadIconA(nullptr, MAKEINTRESOURCEA(32514))) return MB_ICONQUESTION;
    if (icon == LoadIconA(nullptr, MAKEINTRESOURCEA(32516))) return MB_ICONINFORMATION;
    return 0xFFFFFFFF;
}

}  // namespace

MessageBoxWatcher::MessageBoxWatcher(const char* caption, int answer)
    : caption_(caption), answer_(answer), thread_([this] { Run(); }) {}

MessageBoxWatcher::~MessageBoxWatcher() {
    stop_ = true;
    thread_.join();
}

void MessageBoxWatcher::Run() {
    while (!stop_) {
        HWND box = nullptr;
        while ((box = FindWindowExW(nullptr, box, L"#32770", plx::ToWide(caption_).c_str())) != nullptr) {
            {
                std::lock_guard<std::mutex> lock(mutex_);
                if (std::find(answered_.begin(), answered_.end(), box) != answered_.end()) continue;
            }
            if (!IsWindowVisible(box)) continue;
            Scan scan;
            EnumChildWindows(box, CollectStatics, reinterpret_cast<LPARAM>(&scan));
            SeenMessage seen;
            seen.text = scan.text;
            seen.icon = IconKind(scan.icon);
            seen.owner = GetWindow(box, GW_OWNER);
            GetWindowThreadProcessId(box, &seen.processId);
            {
                std::lock_guard<std::mutex> lock(mutex_);
                seen_.push_back(seen);
                answered_.push_back(box);
            }
            PostMessageA(box, WM_COMMAND, MAKEWPARAM(answer_, BN_CLICKED), 0);
        }
        Sleep(20);
    }
}

std::vector<SeenMessage> MessageBoxWatcher::Seen() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return seen_;
}

bool MessageBoxWatcher::WaitFor(size_t count, DWORD timeoutMs) const {
    return WaitUntil([&] { return Seen().size() >= count; }, timeoutMs, false);
}

testing::AssertionResult MessageBoxWatcher::SawOnly(const std::string& text, HWND owner, DWORD processId,
                                                   UINT icon) const {
    WaitFor(1);
    const std::vector<SeenMessage> seen = Seen();
    if (seen.size() != 1) return testing::AssertionFailure() << seen.size() << " messages seen";
    const SeenMessage& one = seen[0];
    if (one.text != text) return testing::AssertionFailure() << "the message says \"" << one.text << "\"";
    if (one.owner != owner) return testing::AssertionFailure() << "another owner";
    if (processId && one.processId != processId) return testing::AssertionFailure() << "shown by another process";
    if (icon && one.icon != icon) return testing::AssertionFailure() << "another icon: " << one.icon;
    return testing::AssertionSuccess();
}

}  // namespace testbed
