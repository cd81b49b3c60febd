// Shared set-up of the layout-store tests: an empty registry tree, empty desktop folders, and a copy
// of the module in a temporary directory so that the hidden store lives there.
#pragma once

// commctrl.h needs windows.h before it.
// clang-format off
#include <windows.h>
#include <commctrl.h>
// clang-format on

#include <gtest/gtest.h>

#include <string>

#include "win32/module.h"
#include "store/catalogue.h"
#include "store/profile_tree.h"
#include "testbed/testbed.h"
#include "win32/unique.h"
#include "win32/wide_text.h"

namespace storetest {

class StoreTest : public testing::Test {
protected:
    void SetUp() override {
        plx::DeleteKeyTree(HKEY_CURRENT_USER, plx::kRootKey);
        testbed::EmptyDesktopFolders();
        userDesktop_ = testbed::UserDesktopDirectory();
        commonDesktop_ = testbed::CommonDesktopDirectory();
        ASSERT_FALSE(userDesktop_.empty());
        ASSERT_FALSE(commonDesktop_.empty());
        const std::string copy = moduleDir_.path() + "\\Plaxen.dll";
        ASSERT_TRUE(CopyFileA(testbed::ModulePath().c_str(), copy.c_str(), FALSE));
        module_.reset(LoadLibraryA(copy.c_str()));
        ASSERT_TRUE(module_);
        plx::SetModuleInstance(module_.get());
        store_ = moduleDir_.path() + "\\Hidden";
        ASSERT_EQ(plx::HiddenStoreDirectory(), store_);
    }
    void TearDown() override {
        frame_.reset();
        plx::SetModuleInstance(nullptr);
        module_.reset();
        testbed::EmptyDesktopFolders();
        plx::DeleteKeyTree(HKEY_CURRENT_USER, plx::kRootKey);
    }

    std::string OnDesktop(const std::string& name) const { return userDesktop_ + "\\" + name; }
    std::string OnCommonDesktop(const std::string& name) const { return commonDesktop_ + "\\" + name; }
    std::string InStore(const std::string& desktopPath) const {
        return plx::StorePathFor(store_, desktopPath);
    }

    static bool Exists(const std::string& path) {
        return GetFileAttributesW(plx::ToWide(path).c_str()) != INVALID_FILE_ATTRIBUTES;
    }
    static void Write(const std::string& path, const std::string& contents) {
        ASSERT_TRUE(testbed::WriteTextFile(path, contents)) << path;
    }
    static const plx::DesktopItem* Find(const plx::DesktopItemList& items, const std::string& desktopPath,
                                        bool inStore = false) {
        for (const plx::DesktopItem& item : items)
            if (item.DesktopPath == desktopPath && item.InStore() == inStore) return &item;
        return nullptr;
    }
    static int Count(const plx::DesktopItemList& items, const std::string& desktopPath) {
        int n = 0;
        for (const plx::DesktopItem& item : items) n += item.DesktopPath == desktopPath;
        return n;
    }
    static plx::unique_hkey HiddenItemsKey() {
        return plx::CreateKey(HKEY_CURRENT_USER, plx::kHiddenItemsKey);
    }
    static bool HasHiddenEntry(const std::string& desktopPath) {
        return static_cast<bool>(plx::OpenKeyForReading(
            HKEY_CURRENT_USER, std::string(plx::kHiddenItemsKey) + "\\" + plx::ItemKeyName(desktopPath)));
    }

    // A list view of this process to stand for the desktop's: the profile operations save and
    // restore icon positions in it.
    HWND MakeListView() {
        INITCOMMONCONTROLSEX icc = {sizeof(icc), ICC_LISTVIEW_CLASSES};
        InitCommonControlsEx(&icc);
        frame_.reset(CreateWindowExA(WS_EX_TOOLWINDOW, "Static", "", WS_POPUP | WS_VISIBLE, 0, 0, 640, 480,
                                     nullptr, nullptr, nullptr, nullptr));
        return CreateWindowExA(0, WC_LISTVIEWA, "", WS_CHILD | WS_VISIBLE | LVS_ICON | LVS_NOSCROLL, 0, 0,
                               640, 480, frame_.get(), nullptr, nullptr, nullptr);
    }
    static void SetCurrentProfile(const std::string& name) {
        plx::unique_hkey key = plx::CreateKey(HKEY_CURRENT_USER, plx::ResolutionKeyPath());
        plx::WriteString(key.get(), plx::kCurrentProfileValue, name);
    }

    std::string userDesktop_;
    std::string commonDesktop_;
    std::string store_;
    // Declared before the module, so the copy is unloaded before its directory goes.
    testbed::TempDirectory moduleDir_;
    plx::unique_hmodule module_;
    plx::unique_hwnd frame_;
};

}  // namespace storetest
