// Runs inside a 1024 x 768 Wine virtual desktop whose size the tests change: the first set-up at a
// new screen size, the activation of each size's current profile, and layouts from before profiles.
#include <windows.h>

#include <gtest/gtest.h>

#include <map>
#include <string>

#include "engine/channel.h"
#include "engine/second_look.h"
#include "layout/profiles.h"
#include "store/profile_tree.h"
#include "testbed/desktop_host.h"
#include "testbed/testbed.h"
#include "layout/resolution.h"
#include "store/catalogue.h"
#include "store/slots.h"
#include "tests/desktop_process_fixture.h"
#include "tests/support/message_boxes.h"

namespace {

using testbed::ReadSavedPoint;
using testbed::WriteSavedPoint;

std::string At(const plx::ScreenSize& size, const std::string& below = "") {
    std::string path = plx::ResolutionKeyPath(size);
    return below.empty() ? path : path + "\\" + below;
}

// Every key and value below the key at path, flattened to "key\value" = type and bytes.
void Dump(HKEY parent, const std::string& path, std::map<std::string, std::string>& out) {
    plx::unique_hkey key = plx::OpenKeyForReading(parent, path);
    if (!key) return;
    out[path] = "key";
    for (DWORD i = 0;; ++i) {
        char name[1024];
        DWORD nameChars = sizeof(name);
        BYTE data[2048];
        DWORD size = sizeof(data);
        DWORD type = 0;
        if (RegEnumValueA(key.get(), i, name, &nameChars, nullptr, &type, data, &size) != ERROR_SUCCESS)
            break;
        out[path + "\\" + name] =
            std::to_string(type) + ":" + std::string(reinterpret_cast<char*>(data), size);
    }
    for (DWORD i = 0;; ++i) {
        char name[1024];
        DWORD nameChars = sizeof(name);
        if (RegEnumKeyExA(key.get(), i, name, &nameChars, nullptr, nullptr, nullptr, nullptr) !=
            ERROR_SUCCESS)
            break;
        Dump(parent, path + "\\" + name, out);
    }
}

class ResolutionTest : public testbed::DesktopProcessTest {
protected:
    void SetUp() override {
        ASSERT_TRUE(testbed::SetScreenSize(1024, 768));
        DesktopProcessTest::SetUp();
        // A short quiet period after each change keeps the tests quick.
        plx::unique_hkey root = plx::CreateKey(HKEY_CURRENT_USER, plx::kRootKey);
        ASSERT_EQ(plx::WriteNumber(root.get(), plx::kDisplaySettleTimeValue, plx::kMinDisplaySettleMs),
                  ERROR_SUCCESS);
    }
    void TearDown() override {
        DesktopProcessTest::TearDown();
        testbed::SetScreenSize(1024, 768);
    }

    // Changes the screen size and waits until the agent window has dealt with it: the value
    // "LastResolution" names the new size once the profile of that size is active.
    bool ChangeScreenAndWait(int width, int height) {
        if (!testbed::SetScreenSize(width, height)) return false;
        return testbed::WaitUntil([&] {
            int w = 0, h = 0;
            return ReadSavedPoint(plx::kRootKey, plx::kLastResolutionValue, w, h) && w == width &&
                   h == height;
        });
    }
    bool IconAt(const std::string& label, int x, int y) const {
        const testbed::IconState icon = Icon(label);
        return icon.x == x && icon.y == y;
    }
    bool WaitForIconAt(const std::string& label, int x, int y) const {
        return testbed::WaitUntil([&] { return IconAt(label, x, y); });
    }

    // The profile "Default" of 800 x 600, with one icon's place saved.
    void MakeSmallProfile(const char* label, int x, int y) const {
        ASSERT_TRUE(WriteSavedPoint(At(small_, "Default\\Manual"), label, x, y));
        plx::unique_hkey profile = plx::CreateKey(HKEY_CURRENT_USER, At(small_, "Default"));
        ASSERT_EQ(plx::WriteString(profile.get(), nullptr, plx::kProfileMarker), ERROR_SUCCESS);
    }

    const plx::ScreenSize large_{1024, 768};
    const plx::ScreenSize small_{800, 600};
};

TEST_F(ResolutionTest, FirstRestoreAtANewSizeSavesTheDesktopAsDefaultAndKeepsEveryIcon) {
    const testbed::ModuleCopy& module = LoadModule();
    StartHost();
    testbed::HostReport before;
    ASSERT_TRUE(host_.Report(before));
    testbed::MessageBoxWatcher watcher;

    EXPECT_EQ(module.Call("RestoreIconPositions", FALSE), S_OK);
    testbed::HostReport after;
    ASSERT_TRUE(host_.Report(after));
    ASSERT_EQ(after.icons.size(), before.icons.size());
    for (size_t i = 0; i < before.icons.size(); ++i) {
        EXPECT_EQ(after.icons[i].x, before.icons[i].x) << before.icons[i].label;
        EXPECT_EQ(after.icons[i].y, before.icons[i].y) << before.icons[i].label;
        int x = 0, y = 0;
        ASSERT_TRUE(ReadSavedPoint(At(large_, "Default\\Manual"), before.icons[i].label, x, y));
        EXPECT_EQ(x, before.icons[i].x);
        EXPECT_EQ(y, before.icons[i].y);
    }
    EXPECT_EQ(plx::GetCurrentProfile().Text(), "Default");
    int w = 0, h = 0;
    ASSERT_TRUE(ReadSavedPoint(plx::kRootKey, plx::kLastResolutionValue, w, h));
    EXPECT_EQ((plx::ScreenSize{w, h}), large_);
    // The export returns only once the action and any message box of it are done.
    EXPECT_TRUE(watcher.Seen().empty());

    // The set-up fills only the manual slot: the logon slot is still missing.
    EXPECT_EQ(module.Call("RestoreStartupIconPositions", FALSE), S_OK);
    ASSERT_TRUE(watcher.WaitFor(1));
    EXPECT_EQ(watcher.Seen()[0].text, "The icon positions have not been saved at the user logon.");
}

TEST_F(ResolutionTest, ScreenSizeChangesActivateTheCurrentProfileOfEachSize) {
    const testbed::ModuleCopy& module = LoadModule();
    StartHost();
    testbed::MessageBoxWatcher watcher;
    ASSERT_TRUE(host_.MoveIcon("alpha.txt", 700, 500));
    ASSERT_EQ(module.Call("SaveCurrentProfile", FALSE), S_OK);

    // A size never seen: the desktop as it is becomes that size's "Default".
    ASSERT_TRUE(ChangeScreenAndWait(800, 600));
    EXPECT_TRUE(plx::IsProfileKey(plx::OpenKeyForReading(HKEY_CURRENT_USER, At(small_)).get(), "Default"));
    ASSERT_TRUE(host_.MoveIcon("alpha.txt", 300, 200));
    ASSERT_EQ(module.Call("SaveCurrentProfile", FALSE), S_OK);

    // Back and forth: each size brings its own positions back.
    for (int round = 0; round < 2; ++round) {
        ASSERT_TRUE(host_.MoveIcon("alpha.txt", 5, 5));
        ASSERT_TRUE(ChangeScreenAndWait(1024, 768)) << round;
        EXPECT_TRUE(WaitForIconAt("alpha.txt", 700, 500)) << round;
        ASSERT_TRUE(ChangeScreenAndWait(800, 600)) << round;
        EXPECT_TRUE(WaitForIconAt("alpha.txt", 300, 200)) << round;
    }
    // A message sent to the agent window is handled once the display changes before it are done.
    SendMessageA(testbed::FindAgentWindow(), WM_NULL, 0, 0);
    EXPECT_TRUE(watcher.Seen().empty());
}

TEST_F(ResolutionTest, IconsTheShellLaysOutAnewAfterAChangeGoBackToTheProfilesPlaces) {
    const testbed::ModuleCopy& module = LoadModule();
    // As the shell may: every icon laid out anew a while after each change of the display.
    ASSERT_TRUE(host_.Start("--relayout-after 1500"));
    ASSERT_TRUE(host_.WaitForIcon("alpha.txt"));
    ASSERT_EQ(module.Call("SaveCurrentProfile", FALSE), S_OK);
    MakeSmallProfile("alpha.txt", 300, 200);
    ASSERT_TRUE(ChangeScreenAndWait(800, 600));
    EXPECT_TRUE(testbed::WaitUntil([&] {
        testbed::HostReport report;
        const testbed::IconState* alpha = host_.Report(report) ? report.Find("alpha.txt") : nullptr;
        return report.relayouts == 1 && alpha && alpha->x == 300 && alpha->y == 200;
    }));
}

TEST_F(ResolutionTest, AShellThatKeepsLayingTheIconsOutIsPutRightTwiceAndThenLeftAlone) {
    const testbed::ModuleCopy& module = LoadModule();
    StartHost();
    ASSERT_EQ(module.Call("SaveCurrentProfile", FALSE), S_OK);
    MakeSmallProfile("alpha.txt", 300, 200);
    ASSERT_TRUE(ChangeScreenAndWait(800, 600));
    ASSERT_TRUE(WaitForIconAt("alpha.txt", 300, 200));
    HWND agent = testbed::FindAgentWindow();
    for (int round = 1; round <= 3; ++round) {
        SendMessageA(host_.Progman(), desktophost::kLayOutAnewMessage, 0, 0);
        ASSERT_FALSE(IconAt("alpha.txt", 300, 200)) << round;
        // Two looks: one that sees the icons moved, one that sees them still.
        SendMessageA(agent, WM_TIMER, plx::kSecondLookTimer, 0);
        SendMessageA(agent, WM_TIMER, plx::kSecondLookTimer, 0);
        EXPECT_EQ(IconAt("alpha.txt", 300, 200), round <= plx::kMaxPutBacks) << round;
    }
}

TEST_F(ResolutionTest, AnItemAChangeShowsAgainLandsOnItsPlaceOnceItIsInTheView) {
    const testbed::ModuleCopy& module = LoadModule();
    StartHost();
    ASSERT_EQ(module.Call("SaveCurrentProfile", FALSE), S_OK);
    // "beta.txt" is hidden at this size and shown at 800 x 600, where it has a place of its own.
    MakeSmallProfile("beta.txt", 500, 300);
    for (const plx::DesktopItem& item : plx::BuildItemCatalogue(nullptr)) {
        if (item.DisplayName != "beta.txt") continue;
        for (const auto& record : {std::make_pair(large_, 0), std::make_pair(small_, 1)}) {
            plx::unique_hkey key =
                plx::CreateKey(HKEY_CURRENT_USER, At(record.first, "Default\\" + std::to_string(item.ID)));
            ASSERT_EQ(plx::WriteNumber(key.get(), "Visible", record.second), ERROR_SUCCESS);
        }
    }
    WriteSavedPoint(plx::kRootKey, plx::kLastResolutionValue, 1, 1);
    ASSERT_EQ(module.Call("RestoreIconPositions", FALSE), S_OK);
    ASSERT_TRUE(host_.WaitForIcon("beta.txt", false));

    // The activation restores before the desktop has seen the file come back; the icon is placed
    // once it has.
    ASSERT_TRUE(ChangeScreenAndWait(800, 600));
    EXPECT_TRUE(WaitForIconAt("beta.txt", 500, 300));
}

TEST_F(ResolutionTest, DisplayChangeOfColourDepthAloneActivatesNothing) {
    const testbed::ModuleCopy& module = LoadModule();
    StartHost();
    ASSERT_TRUE(host_.MoveIcon("alpha.txt", 400, 300));
    ASSERT_EQ(module.Call("SaveCurrentProfile"), S_OK);
    ASSERT_TRUE(host_.MoveIcon("alpha.txt", 20, 400));
    // As Windows announces a change to 16 bits per pixel at the same size; the end of the quiet
    // period comes at once.
    HWND agent = testbed::FindAgentWindow();
    SendMessageA(agent, WM_DISPLAYCHANGE, 16, MAKELPARAM(1024, 768));
    SendMessageA(agent, WM_TIMER, plx::kDisplaySettleTimer, 0);
    EXPECT_TRUE(IconAt("alpha.txt", 20, 400));

    // A recorded size that differs is a change: the profile is applied again.
    WriteSavedPoint(plx::kRootKey, plx::kLastResolutionValue, 1280, 1024);
    SendMessageA(agent, WM_DISPLAYCHANGE, 32, MAKELPARAM(1024, 768));
    SendMessageA(agent, WM_TIMER, plx::kDisplaySettleTimer, 0);
    EXPECT_TRUE(IconAt("alpha.txt", 400, 300));
}

TEST_F(ResolutionTest, LegacySlotsMoveIntoTheDefaultProfile) {
    const testbed::ModuleCopy& module = LoadModule();
    StartHost();
    const testbed::IconState beta = Icon("beta.txt");
    ASSERT_TRUE(WriteSavedPoint(At(large_, "Manual"), "alpha.txt", 123, 45));
    ASSERT_TRUE(WriteSavedPoint(At(large_, "Manual"), "gone.txt", 9, 9));
    {
        // A value of another type is not a position and is not carried over.
        plx::unique_hkey legacy = plx::OpenKeyForWriting(HKEY_CURRENT_USER, At(large_, "Manual"));
        ASSERT_EQ(plx::WriteNumber(legacy.get(), "beta.txt", 77), ERROR_SUCCESS);
    }
    ASSERT_TRUE(WriteSavedPoint(At(large_, "Startup"), "beta.txt", 250, 150));

    testbed::MessageBoxWatcher watcher;
    ASSERT_EQ(module.Call("RestoreIconPositions", FALSE), S_OK);
    int x = 0, y = 0;
    ASSERT_TRUE(ReadSavedPoint(At(large_, "Default\\Manual"), "alpha.txt", x, y));
    EXPECT_EQ(x, 123);
    EXPECT_EQ(y, 45);
    ASSERT_TRUE(ReadSavedPoint(At(large_, "Default\\Manual"), "beta.txt", x, y));
    EXPECT_EQ(x, beta.x);
    EXPECT_EQ(y, beta.y);
    EXPECT_FALSE(ReadSavedPoint(At(large_, "Default\\Manual"), "gone.txt", x, y));
    EXPECT_FALSE(plx::OpenKeyForReading(HKEY_CURRENT_USER, At(large_, "Manual")));
    EXPECT_FALSE(plx::OpenKeyForReading(HKEY_CURRENT_USER, At(large_, "Startup")));
    EXPECT_TRUE(IconAt("alpha.txt", 123, 45));
    EXPECT_TRUE(watcher.Seen().empty());

    // The logon slot came over too, with the one position it had: the others are reported.
    ASSERT_EQ(module.Call("RestoreStartupIconPositions", FALSE), S_OK);
    EXPECT_TRUE(IconAt("beta.txt", 250, 150));
    ASSERT_TRUE(watcher.WaitFor(1));
    EXPECT_EQ(watcher.Seen()[0].text.rfind("Errors occurred when restoring the icon positions.", 0), 0u);
}

TEST_F(ResolutionTest, CreateDefaultProfileOnlyWhereTheSizeHasNone) {
    const testbed::ModuleCopy& module = LoadModule();
    StartHost();
    {
        plx::unique_hkey work = plx::CreateKey(HKEY_CURRENT_USER, At(large_, "Work"));
        plx::WriteString(work.get(), nullptr, plx::kProfileMarker);
        plx::unique_hkey resolution = plx::OpenKeyForWriting(HKEY_CURRENT_USER, At(large_));
        plx::WriteString(resolution.get(), plx::kCurrentProfileValue, "Work");
        ASSERT_TRUE(WriteSavedPoint(At(large_, "Manual"), "alpha.txt", 1, 2));
    }
    std::map<std::string, std::string> before, after;
    Dump(HKEY_CURRENT_USER, plx::kRootKey, before);
    const testbed::IconState alpha = Icon("alpha.txt");
    ASSERT_EQ(module.Call("CreateDefaultProfile"), S_OK);
    Dump(HKEY_CURRENT_USER, plx::kRootKey, after);
    EXPECT_EQ(after, before);
    EXPECT_TRUE(IconAt("alpha.txt", alpha.x, alpha.y));

    // At a new size the present desktop becomes "Default", and nothing moves. Without the agent
    // window nobody has done the set-up on the change of size already.
    SendMessageA(testbed::FindAgentWindow(), WM_CLOSE, 0, 0);
    ASSERT_TRUE(testbed::SetScreenSize(800, 600));
    ASSERT_TRUE(host_.MoveIcon("alpha.txt", 111, 222));
    ASSERT_EQ(module.Call("CreateDefaultProfile"), S_OK);
    int x = 0, y = 0;
    ASSERT_TRUE(ReadSavedPoint(At(small_, "Default\\Manual"), "alpha.txt", x, y));
    EXPECT_EQ(x, 111);
    EXPECT_EQ(y, 222);
    EXPECT_TRUE(IconAt("alpha.txt", 111, 222));
}

// In this process, with no desktop: the parts that need no icons.
class ResolutionStoreTest : public testing::Test {
protected:
    void SetUp() override { plx::DeleteKeyTree(HKEY_CURRENT_USER, plx::kRootKey); }
    void TearDown() override { plx::DeleteKeyTree(HKEY_CURRENT_USER, plx::kRootKey); }
};

TEST_F(ResolutionStoreTest, LegacySlotStaysWhenItsTargetCannotBeMade) {
    ASSERT_TRUE(WriteSavedPoint(plx::ResolutionKeyPath() + "\\Manual", "alpha.txt", 5, 6));
    // Key names are limited to 255 characters: such a name is never a profile's, to migrate into.
    EXPECT_FALSE(plx::ProfileName::From(std::string(300, 'p')));
    int x = 0, y = 0;
    ASSERT_TRUE(ReadSavedPoint(plx::ResolutionKeyPath() + "\\Manual", "alpha.txt", x, y));
    EXPECT_EQ(x, 5);

    // Nothing to migrate: nothing is created.
    plx::DeleteKeyTree(HKEY_CURRENT_USER, plx::ResolutionKeyPath() + "\\Manual");
    plx::MigrateLegacySlots(plx::GetScreenSize(), testbed::Profile("Default"));
    EXPECT_FALSE(plx::OpenKeyForReading(HKEY_CURRENT_USER, plx::ResolutionKeyPath() + "\\Default"));
}

TEST_F(ResolutionStoreTest, WithoutADesktopTheSetUpLeavesLegacySlotsAlone) {
    ASSERT_TRUE(WriteSavedPoint(plx::ResolutionKeyPath() + "\\Manual", "alpha.txt", 5, 6));
    ASSERT_EQ(FindWindowA("Progman", nullptr), nullptr);
    plx::PrepareResolution(nullptr);
    plx::EnsureDefaultProfile(nullptr);
    int x = 0, y = 0;
    ASSERT_TRUE(ReadSavedPoint(plx::ResolutionKeyPath() + "\\Manual", "alpha.txt", x, y));
    EXPECT_EQ(x, 5);
    EXPECT_FALSE(plx::OpenKeyForReading(HKEY_CURRENT_USER, plx::ResolutionKeyPath() + "\\Default\\Manual"));
}

TEST_F(ResolutionStoreTest, OnlyMarkedKeysCountAsProfiles) {
    EXPECT_EQ(plx::SearchProfiles(), plx::ProfileSearch::NotFound);
    plx::unique_hkey plain = plx::CreateKey(HKEY_CURRENT_USER, plx::ResolutionKeyPath() + "\\Manual");
    plx::unique_hkey other = plx::CreateKey(HKEY_CURRENT_USER, plx::ResolutionKeyPath() + "\\Other");
    plx::WriteString(other.get(), nullptr, "Something");
    EXPECT_EQ(plx::SearchProfiles(), plx::ProfileSearch::NotFound);
    plx::unique_hkey marked = plx::CreateKey(HKEY_CURRENT_USER, plx::ResolutionKeyPath() + "\\zz");
    plx::WriteString(marked.get(), nullptr, "PROFILE");
    EXPECT_EQ(plx::SearchProfiles(), plx::ProfileSearch::Found);
}

// A resolution key that holds profiles but cannot be listed (its access rules changed, say) is not
// a size without profiles: the set-up would save over the current profile.
TEST_F(ResolutionStoreTest, ResolutionKeyThatCannotBeListedIsNoSizeWithoutProfiles) {
    plx::unique_hkey work = plx::CreateKey(HKEY_CURRENT_USER, plx::ResolutionKeyPath() + "\\Work");
    plx::WriteString(work.get(), nullptr, plx::kProfileMarker);
    plx::unique_hkey resolution;
    ASSERT_EQ(
        RegOpenKeyExA(HKEY_CURRENT_USER, plx::ResolutionKeyPath().c_str(), 0, WRITE_DAC, resolution.put()),
        ERROR_SUCCESS);
    auto allow = [&](const char* sddl) { EXPECT_TRUE(testbed::SetKeyRules(resolution.get(), sddl)); };
    // Everyone may read and write values and change the rules, but not list the subkeys.
    allow("D:P(A;;0x60003;;;WD)");
    EXPECT_EQ(plx::SearchProfiles(), plx::ProfileSearch::Failed);
    allow("D:P(A;;KA;;;WD)");
    EXPECT_EQ(plx::SearchProfiles(), plx::ProfileSearch::Found);
}

}  // namespace
