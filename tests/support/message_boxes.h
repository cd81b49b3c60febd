// Watches for the product's message boxes from a second thread, records them and answers them.
#pragma once

#include <windows.h>

#include <gtest/gtest.h>

#include <atomic>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "resources/resource.h"

namespace testbed {

struct SeenMessage {
    std::string text;
    UINT icon = 0;  // MB_ICONERROR, MB_ICONWARNING, MB_ICONQUESTION, MB_ICONINFORMATION, or 0
    HWND owner = nullptr;
    DWORD processId = 0;
};

class MessageBoxWatcher {
public:
    // Watches for dialogs with this caption in any process; answers each with the given button id.
    explicit MessageBoxWatcher(const char* caption = plx::kMessageCaption, int answer = IDOK);
    ~MessageBoxWatcher();
    MessageBoxWatcher(const MessageBoxWatcher&) = delete;
    MessageBoxWatcher& operator=(const MessageBoxWatcher&) = delete;

    std::vector<SeenMessage> Seen() const;
    // Waits until at least count messages were seen.
    bool WaitFor(size_t count, DWORD timeoutMs = 10000) const;
    // Waits for a message and checks that it is the only one, with this text and owner, shown by this
    // process and with this icon (processId, icon: 0 for any).
    testing::AssertionResult SawOnly(const std::string& text, HWND owner, DWORD processId = 0, UINT icon = 0) const;

private:
    void Run();

    std::string caption_;
    int answer_;
    std::atomic<bool> stop_{false};
    mutable std::mutex mutex_;
    std::vector<SeenMessage> seen_;
    std::vector<HWND> answered_;
    std::thread thread_;
};

}  // namespace testbed
