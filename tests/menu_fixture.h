// Shared set-up of the desktop menu tests: the stand-in desktop on this thread, as the shell's desktop
// thread that calls the menu, a copy of the module for its resources, its help file and its hidden
// store, and an empty registry tree.
#pragma once

// commctrl.h needs windows.h before it.
// clang-format off
#include <windows.h>
#include <commctrl.h>
// clang-format on

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "win32/module.h"
#include "layout/actions.h"
#include "shell/context_menu.h"
#include "store/profile_tree.h"
#include "testbed/module_copy.h"
#include "testbed/testbed.h"
#include "testbed/desktop_host.h"
#include "win32/unique.h"
#include "win32/wide_text.h"

namespace menutest {

inline constexpr UINT kFirstId = 100;
inline constexpr UINT kLastId = 0x7FFF;

class MenuTest : public testing::Test {
protected:
    static void SetUpTestSuite() {
        testbed::EmptyDesktopFolders();
        // These programs carry the channel themselves, as the module does.
        plx::ConnectActionWork();
        module_ = new testbed::ModuleCopy();
        ASSERT_TRUE(module_->Loaded());
        plx::SetModuleInstance(module_->Handle());
        std::string chm = module_->AnsiPath();
        chm.replace(chm.size() - 3, 3, "chm");
        ASSERT_TRUE(CopyFileA((testbed::ExeDirectory() + "\\Plaxen.chm").c_str(), chm.c_str(), FALSE));
        // The window classes of the stand-in can be registered once per process: one desktop serves
        // every test.
        desktophost::Options options;
        options.fillCount = 3;
        desktop_ = new desktophost::DesktopHost(options);
        ASSERT_TRUE(desktop_->Create(GetModuleHandleA(nullptr)));
    }
    static void TearDownTestSuite() {
        delete desktop_;
        desktop_ = nullptr;
        // The agent window that the first menu made holds a reference on the module; it goes first.
        if (HWND agent = FindWindowA(nullptr, plx::kAgentWindowTitle)) {
            SendMessageA(agent, WM_CLOSE, 0, 0);
            FreeLibrary(module_->Handle());
        }
        plx::SetModuleInstance(nullptr);
        delete module_;
        module_ = nullptr;
    }
    void SetUp() override {
        plx::DeleteKeyTree(HKEY_CURRENT_USER, plx::kRootKey);
        view_ = GetParent(desktop_->ListView());
        viewProc_ = GetWindowLongPtrA(view_, GWLP_WNDPROC);
    }
    void TearDown() override {
        plx::RemoveMenuSubclass();
        EXPECT_EQ(GetWindowLongPtrA(view_, GWLP_WNDPROC), viewProc_);
        plx::DeleteKeyTree(HKEY_CURRENT_USER, plx::kRootKey);
    }

    static HWND ListView() { return desktop_->ListView(); }

    // A profile key with its marker, and the slots asked for.
    static void MakeProfile(const std::string& name, bool manual = true, bool startup = false) {
        plx::unique_hkey key = plx::CreateKey(HKEY_CURRENT_USER, plx::ProfileKeyPath(name));
        ASSERT_TRUE(key);
        plx::WriteString(key.get(), nullptr, plx::kProfileMarker);
        for (const char* slot :
             {manual ? plx::kManualSlot : nullptr, startup ? plx::kStartupSlot : nullptr}) {
            if (!slot) continue;
            ASSERT_TRUE(plx::CreateKey(HKEY_CURRENT_USER, plx::SlotKeyPath(name, slot)));
        }
    }
    static void SetCurrentProfile(const std::string& name) {
        plx::unique_hkey key = plx::CreateKey(HKEY_CURRENT_USER, plx::ResolutionKeyPath());
        plx::WriteString(key.get(), plx::kCurrentProfileValue, name);
    }
    static std::string CurrentProfileValue() {
        std::string name;
        plx::unique_hkey key = plx::OpenKeyForReading(HKEY_CURRENT_USER, plx::ResolutionKeyPath());
        if (key) plx::ReadString(key.get(), plx::kCurrentProfileValue, name);
        return name;
    }
    // The subkeys of the resolution key, as stored.
    static std::vector<std::string> ResolutionSubkeys() {
        std::vector<std::string> names;
        plx::unique_hkey key = plx::OpenKeyForReading(HKEY_CURRENT_USER, plx::ResolutionKeyPath());
        if (key)
            plx::ForEachSubkey(key.get(), [&](const std::string& name) {
                names.push_back(name);
                return true;
            });
        return names;
    }

    // A shell menu of five items of its own, as the one the shell builds for the desktop background.
    static plx::unique_hmenu ShellMenu(int count = 5) {
        plx::unique_hmenu menu(CreatePopupMenu());
        const char* texts[] = {"One", "Two", "Three", "Four", "Five"};
        for (int i = 0; i < count; ++i) AppendMenuA(menu.get(), MF_STRING, 1 + i, texts[i]);
        return menu;
    }
    // The command popup below the top item of this system.
    static HMENU CommandPopup(HMENU shellMenu) {
        for (int i = 0; i < GetMenuItemCount(shellMenu); ++i) {
            MENUITEMINFOA info = {sizeof(info), MIIM_DATA | MIIM_SUBMENU};
            if (GetMenuItemInfoA(shellMenu, i, TRUE, &info) && info.dwItemData == plx::kTopItemData)
                return info.hSubMenu;
        }
        return nullptr;
    }
    // The item's text as the user reads it, in UTF-8.
    static std::string ItemText(HMENU menu, int position) {
        wchar_t text[300] = {};
        GetMenuStringW(menu, position, text, ARRAYSIZE(text), MF_BYPOSITION);
        return plx::ToUtf8(text);
    }
    // The offset from the first id of the item with this text in the command popup or the profile
    // submenu: what the shell passes to InvokeCommand when the user picks it. -1 when there is none.
    static int Offset(HMENU shellMenu, const std::string& text) {
        HMENU popup = CommandPopup(shellMenu);
        for (HMENU menu : {popup, GetSubMenu(popup, 0)}) {
            for (int i = 0; i < GetMenuItemCount(menu); ++i)
                if (ItemText(menu, i) == text) return static_cast<int>(GetMenuItemID(menu, i)) - kFirstId;
        }
        return -1;
    }
    // Builds the menu and picks the item with this text as the user would; the result of InvokeCommand.
    static HRESULT Pick(const std::string& text, HWND owner = nullptr) {
        plx::DesktopMenu menu;
        plx::unique_hmenu shell = ShellMenu();
        menu.QueryContextMenu(shell.get(), 0, kFirstId, kLastId, CMF_NORMAL);
        const int offset = Offset(shell.get(), text);
        EXPECT_GE(offset, 0) << text;
        CMINVOKECOMMANDINFO info = {sizeof(info)};
        info.hwnd = owner;
        info.lpVerb = MAKEINTRESOURCEA(offset);
        return menu.InvokeCommand(&info);
    }

    static inline testbed::ModuleCopy* module_ = nullptr;
    static inline desktophost::DesktopHost* desktop_ = nullptr;
    HWND view_ = nullptr;
    LONG_PTR viewProc_ = 0;
};

}  // namespace menutest
