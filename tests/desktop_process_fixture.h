// Tests that drive the stand-in desktop as a process of its own through a copy of the module, with
// two files on an emptied desktop and an empty registry tree.
#pragma once

#include <windows.h>

#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "store/profile_tree.h"
#include "testbed/desktop_host_process.h"
#include "testbed/module_copy.h"
#include "testbed/testbed.h"
#include "win32/unique.h"

namespace testbed {

class DesktopProcessTest : public testing::Test {
protected:
    void SetUp() override {
        plx::DeleteKeyTree(HKEY_CURRENT_USER, plx::kRootKey);
        EmptyDesktopFolders();
        desktop_ = UserDesktopDirectory();
        ASSERT_TRUE(WriteTextFile(desktop_ + "\\alpha.txt", "a"));
        ASSERT_TRUE(WriteTextFile(desktop_ + "\\beta.txt", "b"));
        ASSERT_EQ(FindAgentWindow(), nullptr);
    }
    void TearDown() override {
        // The desktop holds the module copy until it ends; only then can the copy go.
        host_.Stop();
        module_.reset();
        EmptyDesktopFolders();
        plx::DeleteKeyTree(HKEY_CURRENT_USER, plx::kRootKey);
    }

    void StartHost() {
        ASSERT_TRUE(host_.Start());
        ASSERT_TRUE(host_.WaitForIcon("alpha.txt"));
        ASSERT_TRUE(host_.WaitForIcon("beta.txt"));
    }
    IconState Icon(const std::string& label) const {
        HostReport report;
        EXPECT_TRUE(host_.Report(report));
        const IconState* icon = report.Find(label);
        return icon ? *icon : IconState{};
    }
    plx::unique_hwnd MakeOwner() const {
        return plx::unique_hwnd(CreateWindowExA(0, "Static", "owner", WS_POPUP, 0, 0, 10, 10, nullptr,
                                                nullptr, nullptr, nullptr));
    }

    const ModuleCopy& LoadModule(const std::wstring& directoryName = L"module") {
        module_ = std::make_unique<ModuleCopy>(directoryName);
        EXPECT_TRUE(module_->Loaded());
        return *module_;
    }

    std::string desktop_;
    std::unique_ptr<ModuleCopy> module_;
    DesktopHostProcess host_;
};

}  // namespace testbed
