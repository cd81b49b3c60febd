// The About box as other programs show it, through the module's About export.
#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <set>
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

// Where the first white pixel inside the box's frame lies, from the left and from the top: where the
// version line begins. Its distinct colours go to colours.
bool FindVersionLine(HWND box, POINT& at, std::set<COLORREF>* colours = nullptr) {
    int width = 0, height = 0;
    const std::vector<COLORREF> pixels = testbed::ReadPixels(box, width, height);
    at = {width, height};
    for (int y = 1; y + 1 < height; ++y)
        for (int x = 1; x + 1 < width; ++x) {
            const COLORREF pixel = pixels[static_cast<size_t>(y) * width + x];
            if (colours) colours->insert(pixel);
            if (!IsWhite(pixel)) continue;
            at.x = std::min<LONG>(at.x, x);
            at.y = std::min<LONG>(at.y, y);
        }
    return at.x < width;
}

// The box and its picture are sizes at 96 DPI: at the screen's DPI the box is as much larger, the
// picture stretched smoothly into it and the version line at its scaled place; a move to a monitor of
// another DPI scales them again.
TEST_F(AboutBoxTest, ShowsThePictureWithTheVersionLineInWhiteAtTheScreensDpi) {
    const UINT dpi = testbed::ScreenDpi();
    ASSERT_EQ(dpi, testbed::WantedDpi());
    auto call = Show();
    HWND box = testbed::WaitForDialog(kCaption);
    ASSERT_NE(box, nullptr);
    RECT window = {};
    GetWindowRect(box, &window);
    EXPECT_NEAR(window.right - window.left, 482.0 * dpi / 96, 4.82 * dpi / 96);
    EXPECT_NEAR(window.bottom - window.top, 345.0 * dpi / 96, 3.45 * dpi / 96);

    const auto expectLineAt = [&](UINT at) {
        const auto scale = [&](int pixels) { return MulDiv(pixels, static_cast<int>(at), 96); };
        POINT line = {};
        std::set<COLORREF> colours;
        // Until the box shows itself at that DPI.
        testbed::WaitUntil([&] {
            colours.clear();
            return FindVersionLine(box, line, &colours) && line.x >= scale(38) && line.x <= scale(41) &&
                   line.y >= scale(214) && line.y <= scale(222);
        });
        EXPECT_GE(line.x, scale(38));
        EXPECT_LE(line.x, scale(41));
        EXPECT_GE(line.y, scale(214));
        EXPECT_LE(line.y, scale(222));
        // The picture has 64 colours; stretched, it is smooth only where its neighbours blend.
        if (at != 96) {
            EXPECT_GT(colours.size(), 200u);
        }
    };
    expectLineAt(dpi);

    const UINT other = dpi == 96 ? 144 : 96;
    const auto rescale = [&](int pixels) {
        return MulDiv(pixels, static_cast<int>(other), static_cast<int>(dpi));
    };
    const RECT suggested = {window.left, window.top, window.left + rescale(window.right - window.left),
                            window.top + rescale(window.bottom - window.top)};
    SendMessageW(box, WM_DPICHANGED, MAKEWPARAM(other, other), reinterpret_cast<LPARAM>(&suggested));
    GetWindowRect(box, &window);
    EXPECT_TRUE(EqualRect(&window, &suggested));
    expectLineAt(other);
    testbed::PressKey(box, VK_ESCAPE);
    ASSERT_TRUE(call.Finished());
    EXPECT_EQ(call.Result(), S_OK);
}

TEST_F(AboutBoxTest, TheLinkAreaShowsTheHandAndTheArrowComesBackAtTheScreensDpi) {
    const UINT dpi = testbed::ScreenDpi();
    ASSERT_EQ(dpi, testbed::WantedDpi());
    const auto at = [&](int x, int y) {
        return POINT{MulDiv(x, static_cast<int>(dpi), 96), MulDiv(y, static_cast<int>(dpi), 96)};
    };
    HCURSOR hand = LoadCursorA(nullptr, MAKEINTRESOURCEA(32649));
    HCURSOR arrow = LoadCursorA(nullptr, MAKEINTRESOURCEA(32512));
    auto call = Show();
    HWND box = testbed::WaitForDialog(kCaption);
    ASSERT_NE(box, nullptr);
    auto classCursor = [&] { return reinterpret_cast<HCURSOR>(GetClassLongPtrA(box, GCLP_HCURSOR)); };
    testbed::MoveMouse(box, at(400, 312));
    EXPECT_TRUE(testbed::WaitUntil([&] { return classCursor() == hand; }));
    testbed::MoveMouse(box, at(200, 100));
    EXPECT_TRUE(testbed::WaitUntil([&] { return classCursor() == arrow; }));
    testbed::MoveMouse(box, at(358, 296));
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
