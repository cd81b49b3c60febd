// Help through the system's HTML Help engine and the help file built beside the module.
#include <windows.h>

#include <gtest/gtest.h>

#include <set>
#include <string>

#include "win32/module.h"
#include "dialogs/help.h"
#include "tests/support/message_boxes.h"
#include "testbed/module_copy.h"
#include "testbed/testbed.h"
#include "win32/registry.h"
#include "win32/unique.h"

namespace {

// Every number the menu, the dialogs and the keeper's menu ask for.
const DWORD kContextNumbers[] = {0x8068,  0x18000, 0x18065, 0x18066, 0x18067, 0x18068, 0x18069,
                                 0x1806A, 0x1806B, 0x1806C, 0x1806D, 0x200D4, 0x2006E, 0x18070};

// Closes the help windows a test opened, as the user would.
void CloseHelpWindows(const std::set<HWND>& windows) {
    for (HWND window : windows) {
        SendMessageA(window, WM_CLOSE, 0, 0);
        EXPECT_FALSE(IsWindow(window));
    }
}

// While it lives, the system's HTML Help engine cannot be loaded, as on a system that lacks it. The
// module loads it from the system folder alone, so no search order can hide it; Wine's own switch for
// turning a library off (its DllOverrides, read at every load) does.
class WithoutTheEngine {
public:
    WithoutTheEngine() {
        if (!testbed::OnWine()) return;
        overrides_ = plx::CreateKey(HKEY_CURRENT_USER, "Software\\Wine\\DllOverrides");
        active_ = overrides_ && RegSetValueExA(overrides_.get(), "hhctrl.ocx", 0, REG_SZ,
                                               reinterpret_cast<const BYTE*>(""), 1) == ERROR_SUCCESS;
    }
    ~WithoutTheEngine() {
        if (active_) RegDeleteValueA(overrides_.get(), "hhctrl.ocx");
    }
    bool Active() const { return active_; }

private:
    plx::unique_hkey overrides_;
    bool active_ = false;
};

// Runs first: once the engine is loaded, it stays loaded for the life of the process.
TEST(HelpTest, WithoutTheEngineHelpFailsAndSaysSo) {
    ASSERT_EQ(GetModuleHandleA("hhctrl.ocx"), nullptr) << "the engine was loaded before this case ran";
    plx::unique_hmodule module(LoadLibraryA(testbed::ModulePath().c_str()));
    ASSERT_TRUE(module);
    plx::SetModuleInstance(module.get());

    WithoutTheEngine noEngine;
    if (!noEngine.Active()) GTEST_SKIP() << "only Wine can take the system's help engine away";
    EXPECT_EQ(plx::LaunchHelp(nullptr, plx::kHelpDefaultTopic), nullptr);
    EXPECT_EQ(plx::LaunchHelp(nullptr, 0x2006E), nullptr);

    plx::unique_hwnd owner(
        CreateWindowA("STATIC", "owner", WS_POPUP, 0, 0, 10, 10, nullptr, nullptr, nullptr, nullptr));
    testbed::MessageBoxWatcher boxes;
    plx::ShowHelp(owner.get(), 0x18066);
    const auto seen = boxes.Seen();
    ASSERT_EQ(seen.size(), 1u);
    EXPECT_EQ(seen[0].text, plx::kHelpFailedMessage);
    EXPECT_EQ(seen[0].icon, static_cast<UINT>(MB_ICONERROR));
    EXPECT_EQ(seen[0].owner, owner.get());
    EXPECT_EQ(GetModuleHandleA("hhctrl.ocx"), nullptr);
}

TEST(HelpTest, EveryContextNumberOpensATopicAndNoOtherNumberDoes) {
    plx::unique_hmodule module(LoadLibraryA(testbed::ModulePath().c_str()));
    ASSERT_TRUE(module);
    plx::SetModuleInstance(module.get());

    std::set<HWND> opened;
    for (DWORD number : kContextNumbers) {
        HWND window = plx::LaunchHelp(nullptr, number);
        EXPECT_TRUE(IsWindow(window)) << std::hex << number;
        if (window) opened.insert(window);
    }
    for (DWORD number : {0x8000u, 0x18001u, 0x1806Eu, 0x2006Fu})
        EXPECT_EQ(plx::LaunchHelp(nullptr, number), nullptr) << std::hex << number;
    CloseHelpWindows(opened);
}

TEST(HelpTest, TheHelpFileIsFoundByTheModulesOwnName) {
    testbed::ModuleCopy copy;
    ASSERT_TRUE(copy.Loaded());
    plx::SetModuleInstance(copy.Handle());
    EXPECT_EQ(plx::LaunchHelp(nullptr, plx::kHelpDefaultTopic), nullptr);
    EXPECT_EQ(plx::LaunchHelp(nullptr, 0x2006E), nullptr);

    std::string chm = copy.AnsiPath();
    chm.replace(chm.size() - 3, 3, "chm");
    const std::string built = testbed::ExeDirectory() + "\\Plaxen.chm";
    ASSERT_TRUE(CopyFileA(built.c_str(), chm.c_str(), FALSE));
    HWND window = plx::LaunchHelp(nullptr, 0x2006E);
    EXPECT_TRUE(IsWindow(window));
    if (window) CloseHelpWindows({window});
    DeleteFileA(chm.c_str());
}

}  // namespace
