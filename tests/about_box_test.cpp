// The About box as other programs show it, through the module's About export.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/support/dialog_driver.h"
#include "testbed/testbed.h"
#include "win32/unique.h"

namespace {

using testbed::ModalCall;

constexpr char kCaption[] = "About Quillmar Orvane Deluxe";

class AboutBoxTest : public testing::Test {
protected:
    void SetUp() override {
        module_.reset(LoadLibraryA(testbed::ModulePath().c_str()));
        ASSERT_TRUE(module_);
        about_ = reinterpret_cast<About>(GetProcAddress(module_.get(), "About"));
        ASSERT_NE(about_, nullptr);
    }
    ModalCall Show(HWND owner = nullptr) {
        return ModalCall([this, owner] { return static_cast<INT_PTR>(about_(owner, 0)); });
    }

    using About = HRESULT(WINAPI*)(HWND, BOOL);
    plx::unique_hmodule module_;
    About about_ = nullptr;
};

bool IsWhite(COLORREF c) { return c == RGB(255, 255, 255); }

TEST_F(AboutBoxTest, ShowsThePictureWithTheVersionLineInWhite) {
    auto call = Show();
    HWND box = testbed::WaitForDialog(kCaption);
    ASSERT_NE(box, nullptr);
    RECT window = {};
    GetWindowRect(box, &window);
    EXPECT_EQ(window.right - window.left, 482);
    EXPECT_EQ(window.bottom - window.top, 345);

    // The first white pixel inside the frame, from the left and from the top: where the text begins.
    int left = 0, top = 0;
    ASSERT_TRUE(testbed::WaitUntil([&] {
        int width = 0, height = 0;
        const std::vector<COLORREF> pixels = testbed::ReadPixels(box, width, height);
        left = width;
        top = height;
        for (int y = 1; y + 1 < height; ++y)
            for (int x = 1; x + 1 < width; ++x)
                if (IsWhite(pixels[static_cast<size_t>(y) * width + x])) {
                    left = std::min(left, x);
                    top = std::min(top, y);
                }
        return left < width;
    }));
    EXPECT_GE(left, 38);
    EXPECT_LE(left, 41);
    EXPECT_GE(top, 214);
    EXPECT_LE(top, 222);
    testbed::PressKey(box, VK_ESCAPE);
    ASSERT_TRUE(call.Finished());
    EXPECT_EQ(call.Result(), S_OK);
}

TEST_F(AboutBoxTest, TheLinkAreaShowsTheHandAndTheArrowComesBack) {
    HCURSOR hand = LoadCursorA(nullptr, MAKEINTRESOURCEA(32649));
    HCURSOR arrow = LoadCursorA(nullptr, MAKEINTRESOURCEA(32512));
    auto call = Show();
    HWND box = testbed::WaitForDialog(kCaption);
    ASSERT_NE(box, nullptr);
    auto classCursor = [&] { return reinterpret_cast<HCURSOR>(GetClassLongPtrA(box, GCLP_HCURSOR)); };
    testbed::MoveMouse(box, {400, 312});
    EXPECT_TRUE(testbed::WaitUntil([&] { return classCursor() == hand; }));
    testbed::MoveMouse(box, {200, 100});
    EXPECT_TRUE(testbed::WaitUntil([&] { return classCursor() == arrow; }));
    testbed::MoveMouse(box, {358, 296});
    EXPECT_TRUE(testbed::WaitUntil([&] { return classCursor() == hand; }));
    // Closing while the hand shows leaves the arrow to every dialog of the process.
    testbed::PressKey(box, VK_RETURN);
    ASSERT_TRUE(call.Finished());
    EXPECT_EQ(call.Result(), S_OK);
    WNDCLASSEXA dialogClass = {sizeof(dialogClass)};
    ASSERT_TRUE(GetClassInfoExA(nullptr, "#32770", &dialogClass));
    EXPECT_EQ(dialogClass.hCursor, arrow);
}

TEST_F(AboutBoxTest, APressOrALossOfFocusClosesIt) {
    {
        auto call = Show();
        HWND box = testbed::WaitForDialog(kCaption);
        ASSERT_NE(box, nullptr);
        // A click that comes before the box is active can land on the window below it.
        ASSERT_TRUE(testbed::WaitUntil([&] { return GetForegroundWindow() == box; }));
        testbed::ClickMouse(box, {100, 100});
        ASSERT_TRUE(call.Finished());
        EXPECT_EQ(call.Result(), S_OK);
    }
    {
        plx::unique_hwnd other(CreateWindowA("STATIC", "other", WS_POPUP | WS_VISIBLE, 0, 0, 50, 50, nullptr,
                                             nullptr, nullptr, nullptr));
        auto call = Show();
        HWND box = testbed::WaitForDialog(kCaption);
        ASSERT_NE(box, nullptr);
        ASSERT_TRUE(testbed::WaitUntil([&] { return GetForegroundWindow() == box; }));
        // As a user turns to another window: until the box has gone (one switch can come while the
        // system is still activating the box, and leave it active).
        EXPECT_TRUE(testbed::WaitUntil([&] {
            if (IsWindow(box)) SetForegroundWindow(other.get());
            return testbed::WaitForClosed(box, 1000);
        }));
        ASSERT_TRUE(call.Finished());
        EXPECT_EQ(call.Result(), S_OK);
    }
}

}  // namespace
