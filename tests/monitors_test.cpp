// Runs on a display with two monitors (scripts/on_monitors.sh): a 1280 x 1024 primary at 0,0 and a
// 1024 x 768 monitor at 1280,0, with the dead zone below the second. The tests detach and attach the
// second monitor as a laptop's user docks and undocks, while the stand-in desktop moves the icons of a
// monitor that went away, as the shell does.
#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <iterator>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "engine/channel.h"
#include "store/arrangements.h"
#include "store/kept_positions.h"
#include "layout/resolution.h"
#include "store/profile_tree.h"
#include "testbed/desktop_host.h"
#include "testbed/testbed.h"
#include "tests/desktop_process_fixture.h"
#include "tests/two_monitors.h"

namespace {

using testbed::CanChangeMonitors;
using testbed::kDocked;
using testbed::kUndocked;
using testbed::LastArrangement;
using testbed::ReadSavedPoint;
using testbed::SetSecondMonitor;
using testbed::WriteSavedPoint;

std::string Below(const std::string& key, const std::string& rest = "") {
    return std::string(plx::kRootKey) + "\\" + key + (rest.empty() ? "" : "\\" + rest);
}

bool KeyExists(const std::string& path) {
    return static_cast<bool>(plx::OpenKeyForReading(HKEY_CURRENT_USER, path));
}

// Every value below a key, flattened to "key\value" = type and bytes.
void Dump(const std::string& path, std::map<std::string, std::string>& out) {
    plx::unique_hkey key = plx::OpenKeyForReading(HKEY_CURRENT_USER, path);
    if (!key) return;
    for (DWORD i = 0;; ++i) {
        char name[1024];
        DWORD chars = sizeof(name), type = 0;
        BYTE data[2048];
        DWORD size = sizeof(data);
        if (RegEnumValueA(key.get(), i, name, &chars, nullptr, &type, data, &size) != ERROR_SUCCESS) break;
        out[path + "\\" + name] =
            std::to_string(type) + ":" + std::string(reinterpret_cast<char*>(data), size);
    }
    plx::ForEachSubkey(key.get(), [&](const std::string& name) {
        Dump(path + "\\" + name, out);
        return true;
    });
}

class MonitorsTest : public testbed::DesktopProcessTest {
protected:
    void SetUp() override {
        if (plx::ResolutionKeyName(plx::GetScreenSize()) != kDocked) {
            ASSERT_TRUE(SetSecondMonitor(true));
        }
        DesktopProcessTest::SetUp();
        SetSettleTime(plx::kMinDisplaySettleMs);
    }
    void TearDown() override {
        DesktopProcessTest::TearDown();
        ChangeDisplaySettingsExA(nullptr, nullptr, nullptr, 0, nullptr);  // any temporary mode ends
        if (plx::ResolutionKeyName(plx::GetScreenSize()) != kDocked) SetSecondMonitor(true);
    }
    void SetSettleTime(DWORD ms) {
        plx::unique_hkey root = plx::CreateKey(HKEY_CURRENT_USER, plx::kRootKey);
        ASSERT_EQ(plx::WriteNumber(root.get(), plx::kDisplaySettleTimeValue, ms), ERROR_SUCCESS);
    }
    bool WaitForIconAt(const std::string& label, int x, int y) const {
        return testbed::WaitUntil([&] {
            const testbed::IconState icon = Icon(label);
            return icon.x == x && icon.y == y;
        });
    }
    // A profile "Default" of the arrangement with one icon's place saved.
    static void MakeProfile(const char* arrangement, const char* label, int x, int y) {
        ASSERT_TRUE(WriteSavedPoint(Below(arrangement, "Default\\Manual"), label, x, y));
        plx::unique_hkey profile = plx::CreateKey(HKEY_CURRENT_USER, Below(arrangement, "Default"));
        ASSERT_EQ(plx::WriteString(profile.get(), nullptr, plx::kProfileMarker), ERROR_SUCCESS);
    }
    bool ChangeAndWait(bool attached, const char* arrangement) {
        return SetSecondMonitor(attached) &&
               testbed::WaitUntil([&] { return LastArrangement() == arrangement; });
    }
};

TEST_F(MonitorsTest, DockingAndUndockingBringEveryIconHomeAndOlderProfilesCarryOver) {
    if (!CanChangeMonitors()) GTEST_SKIP() << "this Wine changes monitors only from 64-bit processes";
    ASSERT_EQ(plx::ResolutionKeyName(plx::GetScreenSize()), kDocked);
    // As an older version left the tree for a user with both monitors: the profile under the
    // primary's size, and only "LastResolution".
    MakeProfile(kUndocked, "alpha.txt", 100, 100);
    ASSERT_TRUE(WriteSavedPoint(Below(kUndocked, "Default\\Manual"), "beta.txt", 1500, 200));
    ASSERT_TRUE(WriteSavedPoint(plx::kRootKey, plx::kLastResolutionValue, 1280, 1024));
    ASSERT_TRUE(plx::CreateKey(HKEY_CURRENT_USER, Below("Items")));
    ASSERT_TRUE(WriteSavedPoint(Below("1024_768", "Default\\Manual"), "alpha.txt", 7, 7));
    std::map<std::string, std::string> olderTree;
    Dump(Below(kUndocked), olderTree);
    Dump(Below("1024_768"), olderTree);

    const testbed::ModuleCopy& module = LoadModule();
    StartHost();
    ASSERT_TRUE(host_.MoveIcon("alpha.txt", 100, 100));
    ASSERT_TRUE(host_.MoveIcon("beta.txt", 1500, 200));
    ASSERT_EQ(module.Call("RestoreIconPositions"), S_OK);
    // The arrangement has a copy of the profiles; nothing older changed.
    int x = 0, y = 0;
    ASSERT_TRUE(ReadSavedPoint(Below(kDocked, "Default\\Manual"), "beta.txt", x, y));
    EXPECT_EQ(x, 1500);
    EXPECT_EQ(LastArrangement(), kDocked);
    std::map<std::string, std::string> after;
    Dump(Below(kUndocked), after);
    Dump(Below("1024_768"), after);
    EXPECT_EQ(after, olderTree);
    EXPECT_TRUE(WaitForIconAt("beta.txt", 1500, 200));

    // Undocked: the second monitor's icon is moved onto the primary; the undocked arrangement's own
    // profile is saved there.
    ASSERT_TRUE(ChangeAndWait(false, kUndocked));
    ASSERT_TRUE(host_.MoveIcon("beta.txt", 600, 600));
    ASSERT_EQ(module.Call("SaveCurrentProfile"), S_OK);

    // Docked again: every icon is back where the docked profile has it, the undocked one kept apart.
    ASSERT_TRUE(ChangeAndWait(true, kDocked));
    EXPECT_TRUE(WaitForIconAt("beta.txt", 1500, 200));
    EXPECT_TRUE(WaitForIconAt("alpha.txt", 100, 100));
    ASSERT_TRUE(ReadSavedPoint(Below(kUndocked, "Default\\Manual"), "beta.txt", x, y));
    EXPECT_EQ(x, 600);
    EXPECT_EQ(y, 600);
}

// The older tree carried over from each state that an earlier try, an end half-way or another entry
// point (an export) can leave: every profile of the primary's key ends under the arrangement, beside
// those the arrangement had, and nothing of the carry-over is left.
TEST_F(MonitorsTest, OlderProfilesCarryOverWholeFromWhateverAnEarlierTryLeft) {
    if (!CanChangeMonitors()) GTEST_SKIP() << "this Wine changes monitors only from 64-bit processes";
    // A profile "name" under each key of keys; "+" before a key marks it a whole copy.
    const auto seed = [](const std::vector<std::string>& keys, const char* name) {
        for (const std::string& key : keys) {
            const std::string at = key[0] == '+' ? key.substr(1) : key;
            ASSERT_TRUE(WriteSavedPoint(Below(at, std::string(name) + "\\Manual"), "alpha.txt", 10, 20));
            plx::WriteString(plx::CreateKey(HKEY_CURRENT_USER, Below(at, name)).get(), nullptr,
                             plx::kProfileMarker);
            if (key[0] == '+')
                plx::WriteNumber(plx::CreateKey(HKEY_CURRENT_USER, Below(at)).get(), "CarriedOver", 1);
        }
    };
    const std::string copy = "Carrying over", docked = kDocked;
    // The keys with "Default", "Work" and "Mine" besides the older ones, and "Mine" carried over.
    const std::vector<std::vector<std::string>> rows[] = {
        {{}, {}, {}, {}},                                  // the first time
        {{copy}, {}, {}, {}},                              // a copy cut short
        {{"+" + copy}, {copy}, {copy, docked}, {"mine"}},  // ended while the key of before went
        {{"+" + docked}, {docked}, {}, {}},                // renamed, not yet recorded
        {{}, {}, {docked}, {"mine"}},                      // the arrangement's key made first
        {{}, {}, {}, {"export"}},                          // an export first
    };
    for (const auto& row : rows) {
        plx::DeleteKeyTree(HKEY_CURRENT_USER, plx::kRootKey);
        seed({kUndocked}, "Default");
        seed({kUndocked}, "Work");
        ASSERT_TRUE(WriteSavedPoint(plx::kRootKey, plx::kLastResolutionValue, 1280, 1024));
        seed(row[0], "Default");
        seed(row[1], "Work");
        seed(row[2], "Mine");
        const bool mine = !row[3].empty() && row[3][0] == "mine", byExport = !row[3].empty() && !mine;
        if (byExport) {
            testbed::TempDirectory out;
            PROCESS_INFORMATION pi = {};
            ASSERT_TRUE(testbed::StartTiedProcess(
                "\"" + testbed::ExeDirectory() + "\\orvane.exe\" export \"" + out.path() + "\\p.txt\"", pi));
            plx::unique_handle process(pi.hProcess), thread(pi.hThread);
            ASSERT_EQ(WaitForSingleObject(process.get(), 30000), WAIT_OBJECT_0);
        } else {
            plx::CarryOverOlderProfiles();
        }
        const plx::ProfileNameSet carried = plx::ListProfiles(plx::GetScreenSize());
        const std::vector<std::string> withMine = {"Default", "Mine", "Work"}, without = {"Default", "Work"};
        EXPECT_EQ(std::vector<std::string>(carried.begin(), carried.end()), mine ? withMine : without)
            << &row - rows;
        EXPECT_EQ(LastArrangement(), kDocked);
        EXPECT_FALSE(KeyExists(Below(copy)));
        DWORD carriedOver = 0;
        EXPECT_NE(plx::ReadNumber(plx::OpenKeyForReading(HKEY_CURRENT_USER, Below(kDocked)).get(),
                                  "CarriedOver", carriedOver),
                  ERROR_SUCCESS);
    }
}

TEST_F(MonitorsTest, PositionsInTheDeadZoneAndNewIconsEndOnAMonitor) {
    const testbed::ModuleCopy& module = LoadModule();
    StartHost();
    ASSERT_EQ(module.Call("SaveCurrentProfile"), S_OK);
    // Below the second monitor no monitor shows the desktop.
    ASSERT_TRUE(WriteSavedPoint(Below(kDocked, "Default\\Manual"), "alpha.txt", 1500, 900));
    ASSERT_TRUE(testbed::WriteTextFile(desktop_ + "\\gamma.txt", "g"));
    ASSERT_TRUE(host_.WaitForIcon("gamma.txt"));
    ASSERT_TRUE(host_.MoveIcon("gamma.txt", 1700, 850));
    ASSERT_EQ(module.Call("RestoreIconPositions"), S_OK);

    // Each whole icon, its label included, on one monitor.
    const RECT monitors[] = {{0, 0, 1280, 1024}, {1280, 0, 2304, 768}};
    for (const char* label : {"alpha.txt", "gamma.txt"}) {
        const testbed::IconState icon = Icon(label);
        EXPECT_TRUE(std::any_of(std::begin(monitors), std::end(monitors),
                                [&](const RECT& monitor) {
                                    RECT common = {};
                                    return IntersectRect(&common, &icon.bounds, &monitor) &&
                                           EqualRect(&common, &icon.bounds);
                                }))
            << label << " at " << icon.bounds.left << "," << icon.bounds.top << "-" << icon.bounds.right
            << "," << icon.bounds.bottom;
    }
    // The saved place nearest the dead zone: the second monitor's bottom.
    EXPECT_EQ(Icon("alpha.txt").x, 1500);
    EXPECT_EQ(Icon("alpha.txt").bounds.bottom, 768);
}

TEST_F(MonitorsTest, AMonitorThatFlapsMovesNoFileAndAChangeThatStaysActsOnce) {
    if (!CanChangeMonitors()) GTEST_SKIP() << "this Wine changes monitors only from 64-bit processes";
    const testbed::ModuleCopy& module = LoadModule();
    StartHost();
    ASSERT_TRUE(host_.MoveIcon("beta.txt", 1500, 200));
    ASSERT_EQ(module.Call("SaveCurrentProfile"), S_OK);
    ASSERT_EQ(LastArrangement(), kDocked);
    const plx::ScreenSize docked = plx::GetScreenSize();

    // Gone and back within the quiet period: the stand-in moved the icon off the vanished monitor,
    // the product only puts it back, and sets up nothing for the arrangement it saw for a moment.
    SetSettleTime(3000);
    ASSERT_TRUE(SetSecondMonitor(false));
    ASSERT_TRUE(testbed::WaitUntil([&] { return Icon("beta.txt").x < 1280; }));
    ASSERT_TRUE(SetSecondMonitor(true));
    EXPECT_TRUE(WaitForIconAt("beta.txt", 1500, 200));
    EXPECT_FALSE(KeyExists(Below(kUndocked)));
    EXPECT_EQ(LastArrangement(), kDocked);

    // A change that stays, after flapping within the quiet period: the arrangement it settles in is
    // activated once, from the icons as they were before the first change; the arrangement seen for
    // a moment is not activated at all.
    MakeProfile(kUndocked, "alpha.txt", 400, 400);
    // The put-back kept an undo of its own; the arrangement seen for a moment must not replace it.
    const std::optional<plx::IconPlaces> keptDocked = plx::ReadKeptPositions(docked);
    ASSERT_TRUE(keptDocked);
    // An action asked for ends the look the product takes after the flap, so that the icon moved
    // next is not put back as the shell's doing.
    ASSERT_EQ(module.Call("CreateDefaultProfile"), S_OK);
    ASSERT_TRUE(host_.MoveIcon("alpha.txt", 300, 300));
    ASSERT_TRUE(SetSecondMonitor(false));
    ASSERT_TRUE(SetSecondMonitor(true));
    ASSERT_TRUE(ChangeAndWait(false, kUndocked));
    EXPECT_TRUE(WaitForIconAt("alpha.txt", 400, 400));
    EXPECT_EQ(plx::EncodeIconPlaces(plx::ReadKeptPositions(docked).value_or(plx::IconPlaces())),
              plx::EncodeIconPlaces(*keptDocked));
    const std::optional<plx::IconPlaces> kept = plx::ReadKeptPositions(plx::GetScreenSize());
    ASSERT_TRUE(kept);
    bool keptAlpha = false;
    for (const plx::IconPlace& place : *kept)
        if (place.label == "alpha.txt") keptAlpha = place.position.x == 300 && place.position.y == 300;
    EXPECT_TRUE(keptAlpha);
}

TEST_F(MonitorsTest, TheShellBringingTheModuleInIsEnoughToFollowDisplayChanges) {
    if (!CanChangeMonitors()) GTEST_SKIP() << "this Wine changes monitors only from 64-bit processes";
    const testbed::ModuleCopy& module = LoadModule();
    using ServerExport = HRESULT(WINAPI*)();
    auto registerServer =
        reinterpret_cast<ServerExport>(GetProcAddress(module.Handle(), "DllRegisterServer"));
    auto unregisterServer =
        reinterpret_cast<ServerExport>(GetProcAddress(module.Handle(), "DllUnregisterServer"));
    ASSERT_TRUE(registerServer && unregisterServer);
    ASSERT_EQ(registerServer(), S_OK);
    MakeProfile(kDocked, "alpha.txt", 100, 100);
    MakeProfile(kUndocked, "alpha.txt", 400, 400);
    ASSERT_TRUE(plx::CreateKey(HKEY_CURRENT_USER, Below("Items")));
    plx::WriteLastResolution(plx::GetScreenSize());
    StartHost();

    // Nothing but the class object: no menu, no action from another program, no logon restore.
    DWORD_PTR classes = 0;
    ASSERT_TRUE(SendMessageTimeoutA(host_.Progman(), desktophost::kGetHandlerClassesMessage, 0, 0,
                                    SMTO_NORMAL, 10000, &classes));
    EXPECT_EQ(classes, 1u);
    EXPECT_TRUE(testbed::WaitUntil([&] {
        HWND agent = testbed::FindAgentWindow();
        return agent && testbed::ProcessOf(agent) == host_.ProcessId();
    }));
    EXPECT_TRUE(ChangeAndWait(false, kUndocked));
    EXPECT_TRUE(WaitForIconAt("alpha.txt", 400, 400));
    host_.Stop();
    EXPECT_EQ(unregisterServer(), S_OK);
}

TEST_F(MonitorsTest, AFullScreenProgramsModeMovesNothingAndItsEndPutsTheIconsBack) {
    if (!CanChangeMonitors()) GTEST_SKIP() << "this Wine changes monitors only from 64-bit processes";
    const testbed::ModuleCopy& module = LoadModule();
    StartHost();
    ASSERT_TRUE(host_.MoveIcon("alpha.txt", 1150, 900));
    ASSERT_EQ(module.Call("SaveCurrentProfile"), S_OK);
    std::map<std::string, std::string> before, during;
    Dump(plx::kRootKey, before);

    // A program takes the primary at a smaller size for a while: the desktop moves the icon that it
    // no longer shows, and the quiet period ends with the program's mode still on.
    DEVMODEA mode = {};
    mode.dmSize = sizeof(mode);
    mode.dmFields = DM_PELSWIDTH | DM_PELSHEIGHT;
    mode.dmPelsWidth = 1024;
    mode.dmPelsHeight = 768;
    ASSERT_EQ(ChangeDisplaySettingsExA(nullptr, &mode, nullptr, CDS_FULLSCREEN, nullptr),
              DISP_CHANGE_SUCCESSFUL);
    ASSERT_TRUE(testbed::WaitUntil([&] { return Icon("alpha.txt").y < 768; }));
    HWND agent = testbed::FindAgentWindow();
    SendMessageA(agent, WM_TIMER, plx::kDisplaySettleTimer, 0);
    Dump(plx::kRootKey, during);
    EXPECT_EQ(during, before);

    // The program ends: the stored mode is back, and so is the icon.
    ASSERT_EQ(ChangeDisplaySettingsExA(nullptr, nullptr, nullptr, 0, nullptr), DISP_CHANGE_SUCCESSFUL);
    SendMessageA(agent, WM_TIMER, plx::kDisplaySettleTimer, 0);
    EXPECT_TRUE(WaitForIconAt("alpha.txt", 1150, 900));
    EXPECT_EQ(LastArrangement(), kDocked);
}

TEST_F(MonitorsTest, TheSecondMonitorMovedToTheOtherSideItsIconsFollowIt) {
    if (!CanChangeMonitors()) GTEST_SKIP() << "this Wine changes monitors only from 64-bit processes";
    const char kSwapped[] = "1280_1024+1024_768@-1024_0";
    const testbed::ModuleCopy& module = LoadModule();
    StartHost();
    ASSERT_TRUE(host_.MoveIcon("alpha.txt", 100, 100));
    ASSERT_TRUE(host_.MoveIcon("beta.txt", 1500, 200));
    ASSERT_EQ(module.Call("SaveCurrentProfile"), S_OK);
    ASSERT_TRUE(testbed::WriteTextFile(desktop_ + "\\gamma.txt", "g"));
    ASSERT_TRUE(host_.WaitForIcon("gamma.txt"));
    ASSERT_TRUE(host_.MoveIcon("gamma.txt", 600, 600));

    // Now left of the primary: the view's origin is the second monitor's corner, the primary's at
    // 1024,0, and the stand-in left beta on the primary's right edge, where the system puts it.
    ASSERT_TRUE(SetSecondMonitor(true, {-1024, 0}));
    ASSERT_TRUE(testbed::WaitUntil([&] { return LastArrangement() == kSwapped; }));
    EXPECT_TRUE(WaitForIconAt("beta.txt", 220, 200));
    EXPECT_TRUE(WaitForIconAt("alpha.txt", 1124, 100));
    // Saved nowhere: where the system put it.
    EXPECT_TRUE(WaitForIconAt("gamma.txt", 1624, 600));
    int x = 0, y = 0;
    ASSERT_TRUE(ReadSavedPoint(Below(kSwapped, "Default\\Manual"), "beta.txt", x, y));
    EXPECT_TRUE(x == 220 && y == 200) << x << "," << y;
}

// Arrangements read back from their key names, and the monitors of one found in another.
TEST(ArrangementKeysTest, ReadBackAndMatchedMonitorForMonitor) {
    using Monitors = std::vector<plx::ArrangedMonitor>;
    const struct {
        const char* name;
        bool parsed;
        bool whole;
        Monitors monitors;
    } keys[] = {
        {"1280_1024", true, true, {{1280, 1024, 0, 0}}},
        {"1280_1024+1024_768@-1024_-200", true, true, {{1280, 1024, 0, 0}, {1024, 768, -1024, -200}}},
        {"3840_2160+1920_1080@3840_0+17#0A1B2C3D", true, false, {{3840, 2160, 0, 0}, {1920, 1080, 3840, 0}}},
        {"Items", false, false, {}},
        {"0_768", false, false, {}},
        {"1280_1024+", false, false, {}},
        {"1280_1024+1024_768@1280", false, false, {}},
        {"1280_1024+1#0A1B2C3", false, false, {}},
        {"1280_1024+1024_768@1280_0+0#0A1B2C3D", false, false, {}},
    };
    for (const auto& key : keys) {
        const std::optional<plx::Arrangement> parsed = plx::ParseArrangement(key.name);
        ASSERT_EQ(parsed.has_value(), key.parsed) << key.name;
        if (!parsed) continue;
        EXPECT_EQ(parsed->whole, key.whole) << key.name;
        EXPECT_EQ(parsed->monitors, key.monitors) << key.name;
    }

    const struct {
        const char* from;
        const char* to;
        std::vector<int> match;
    } matches[] = {
        {kDocked, "1280_1024+1024_768@-1024_0", {0, 1}},
        // The roles swapped: the second monitor became the primary.
        {kDocked, "1024_768+1280_1024@-1280_0", {1, 0}},
        // Two of a size, one left: one for one.
        {"1920_1080+1920_1080@1920_0", "1920_1080", {0, -1}},
        {"1280_1024+1920_1080@-1920_0+1920_1080@1280_0",
         "1280_1024+1920_1080@1280_0+1920_1080@3200_0",
         {0, 1, 2}},
        // Another monitor for another monitor before a primary for another monitor.
        {"1920_1080+1920_1080@1920_0", "1280_1024+1920_1080@1280_0", {-1, 1}},
        {"1280_1024+1920_1080@1280_0", "1920_1080+1920_1080@1920_0", {-1, 1}},
        {kDocked, "1920_1080+1600_900@1920_0", {-1, -1}},
    };
    for (const auto& m : matches)
        EXPECT_EQ(plx::MatchMonitors(*plx::ParseArrangement(m.from), *plx::ParseArrangement(m.to)), m.match)
            << m.from << " -> " << m.to;

    // The nearest: most monitors in common, then the last used, then the least movement.
    const plx::ProfileName profile = *plx::ProfileName::From("Default");
    std::vector<plx::KnownArrangement> known;
    for (const plx::ScreenSize& size :
         {plx::ScreenSize{1024, 768, ""}, plx::ScreenSize{1280, 1024, "+1024_768@1280_0"},
          plx::ScreenSize{1280, 1024, "+1024_768@0_1024"}})
        known.push_back({size, *plx::ParseArrangement(plx::ResolutionKeyName(size)), profile, 0});
    const plx::Arrangement swapped = *plx::ParseArrangement("1280_1024+1024_768@-1024_0");
    EXPECT_EQ(plx::NearestArrangement(known, swapped, {}), std::optional<size_t>(2));
    EXPECT_EQ(plx::NearestArrangement(known, swapped, known[1].size), std::optional<size_t>(1));
    EXPECT_EQ(plx::NearestArrangement(known, *plx::ParseArrangement("1600_900"), {}), std::nullopt);

    // Places move with their monitor between the views of two arrangements (either may have its origin
    // left of the primary), scaled about the monitor's corner; one in the dead zone stays unseeded.
    const std::vector<plx::KeptMonitor> there =
        plx::KeptMonitors(*plx::ParseArrangement(kDocked), swapped, POINT{1024, 0});
    const std::vector<plx::KeptMonitor> back =
        plx::KeptMonitors(swapped, *plx::ParseArrangement(kDocked), POINT{0, 0});
    const struct {
        const std::vector<plx::KeptMonitor>* kept;
        POINT saved;
        UINT savedDpi;
        bool seeded;
        POINT moved;
    } places[] = {
        {&there, {1500, 200}, 144, true, {147, 133}},
        {&there, {1500, 900}, 96, false, {}},
        {&back, {220, 200}, 0, true, {1500, 200}},
    };
    for (const auto& place : places) {
        POINT moved = {};
        ASSERT_EQ(plx::MoveWithMonitor(place.saved, *place.kept, place.savedDpi, 96, moved), place.seeded);
        EXPECT_TRUE(!place.seeded || (moved.x == place.moved.x && moved.y == place.moved.y))
            << moved.x << "," << moved.y;
    }
}

}  // namespace
