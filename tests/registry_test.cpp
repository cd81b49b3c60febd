// The registry tree, its access rules, the current profile and the list of profiles, against the
// test prefix's real registry.
#include <windows.h>

#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "store/profile_tree.h"
#include "store/snapshots.h"
#include "testbed/testbed.h"
#include "win32/wide_text.h"

namespace {

using plx::unique_hkey;

class RegistryTest : public testing::Test {
protected:
    void SetUp() override { plx::DeleteKeyTree(HKEY_CURRENT_USER, plx::kRootKey); }
    void TearDown() override { plx::DeleteKeyTree(HKEY_CURRENT_USER, plx::kRootKey); }

    static unique_hkey Create(const std::string& path) {
        unique_hkey key = plx::CreateKey(HKEY_CURRENT_USER, path);
        EXPECT_TRUE(key) << path;
        return key;
    }
    static void SetRaw(const std::string& path, const char* name, DWORD type, const void* data, DWORD size) {
        unique_hkey key = Create(path);
        ASSERT_EQ(RegSetValueExA(key.get(), name, 0, type, static_cast<const BYTE*>(data), size),
                  ERROR_SUCCESS);
    }
    static void MakeProfile(const std::string& name, const char* marker = "Profile") {
        unique_hkey key = Create(plx::ResolutionKeyPath() + "\\" + name);
        if (marker) plx::WriteString(key.get(), nullptr, marker);
    }
    static std::string CurrentValue() {
        unique_hkey key = plx::OpenKeyForReading(HKEY_CURRENT_USER, plx::ResolutionKeyPath());
        std::string value;
        if (key) plx::ReadString(key.get(), "CurrentProfile", value, 1024);
        return value;
    }
    static std::vector<std::string> Names(const plx::ProfileNameSet& set) { return {set.begin(), set.end()}; }
};

TEST_F(RegistryTest, ResolutionKeyIsNamedAfterTheScreen) {
    const plx::ScreenSize size = plx::GetScreenSize();
    EXPECT_EQ(size.width, GetSystemMetrics(SM_CXSCREEN));
    EXPECT_EQ(size.height, GetSystemMetrics(SM_CYSCREEN));
    EXPECT_EQ(plx::ResolutionKeyPath({1280, 1024}), "Software\\Quillmar\\Orvane\\1280_1024");
    EXPECT_EQ(plx::ResolutionKeyPath(), plx::ResolutionKeyPath(size));
    EXPECT_EQ(plx::SlotKeyPath("Work", "Startup"), plx::ResolutionKeyPath() + "\\Work\\Startup");
}

TEST_F(RegistryTest, ArrangementKeysKeepOneMonitorsKeyAFixedOrderAndTheRegistrysLimit) {
    using plx::MonitorRect;
    // One monitor: the key as it always was.
    EXPECT_EQ(plx::ResolutionKeyName(plx::ArrangementOf(1280, 1024, {{{0, 0, 1280, 1024}, true}})),
              "1280_1024");
    // Others by place, relative to the primary, whatever order the system lists them in; a clone of a
    // monitor already counted adds nothing.
    const std::vector<MonitorRect> listed = {{{1280, 0, 2304, 768}, false},
                                             {{-1920, -200, 0, 880}, false},
                                             {{0, 0, 1280, 1024}, true},
                                             {{1280, 0, 2304, 768}, false}};
    const std::vector<MonitorRect> reversed(listed.rbegin(), listed.rend());
    const std::string key = plx::ResolutionKeyName(plx::ArrangementOf(1280, 1024, listed));
    EXPECT_EQ(key, "1280_1024+1920_1080@-1920_-200+1024_768@1280_0");
    EXPECT_EQ(plx::ResolutionKeyName(plx::ArrangementOf(1280, 1024, reversed)), key);
    // So many monitors that the key would pass 255 characters: the ones that fit, then their count and
    // a checksum, so that two such arrangements still differ.
    std::vector<MonitorRect> wall = {{{0, 0, 3840, 2160}, true}}, other;
    for (int i = 1; i <= 16; ++i) wall.push_back({{3840 * i, 0, 3840 * (i + 1), 2160}, false});
    other = wall;
    other.back().rect.bottom = 1080;
    const std::string wallKey = plx::ResolutionKeyName(plx::ArrangementOf(3840, 2160, wall));
    const std::string otherKey = plx::ResolutionKeyName(plx::ArrangementOf(3840, 2160, other));
    EXPECT_LE(wallKey.size(), 255u);
    EXPECT_LE(otherKey.size(), 255u);
    EXPECT_NE(wallKey, otherKey);
    EXPECT_EQ(wallKey.substr(0, 26), "3840_2160+3840_2160@3840_0");
    EXPECT_TRUE(plx::OpenResolutionKey(plx::ArrangementOf(3840, 2160, wall), plx::KeyAccess::Create));
}

TEST_F(RegistryTest, ValuesAreReadOnlyWithTheirTypeAndShape) {
    const std::string path = std::string(plx::kRootKey) + "\\Values";
    unique_hkey key = Create(path);

    // Strings keep their terminating zero.
    ASSERT_EQ(plx::WriteString(key.get(), "s", "abc"), ERROR_SUCCESS);
    DWORD type = 0, size = 0;
    ASSERT_EQ(RegQueryValueExA(key.get(), "s", nullptr, &type, nullptr, &size), ERROR_SUCCESS);
    EXPECT_EQ(type, static_cast<DWORD>(REG_SZ));
    EXPECT_EQ(size, 4u);
    std::string text;
    EXPECT_EQ(plx::ReadString(key.get(), "s", text), ERROR_SUCCESS);
    EXPECT_EQ(text, "abc");
    SetRaw(path, "x", REG_EXPAND_SZ, "%x%", 4);
    EXPECT_EQ(plx::ReadString(key.get(), "x", text), ERROR_SUCCESS);
    EXPECT_EQ(text, "%x%");
    SetRaw(path, "bin", REG_BINARY, "abc", 4);
    EXPECT_EQ(plx::ReadString(key.get(), "bin", text), ERROR_INVALID_DATA);
    const std::string longText(300, 'q');
    ASSERT_EQ(plx::WriteString(key.get(), "long", longText), ERROR_SUCCESS);
    EXPECT_NE(plx::ReadString(key.get(), "long", text), ERROR_SUCCESS);
    EXPECT_TRUE(text.empty());
    EXPECT_EQ(plx::ReadString(key.get(), "long", text, 301), ERROR_SUCCESS);
    EXPECT_EQ(text, longText);
    EXPECT_EQ(plx::ReadString(key.get(), "missing", text), ERROR_FILE_NOT_FOUND);

    // Numbers are REG_DWORD and nothing else.
    DWORD number = 7;
    ASSERT_EQ(plx::WriteNumber(key.get(), "n", 42), ERROR_SUCCESS);
    EXPECT_EQ(plx::ReadNumber(key.get(), "n", number), ERROR_SUCCESS);
    EXPECT_EQ(number, 42u);
    const DWORD four = 5;
    SetRaw(path, "b4", REG_BINARY, &four, 4);
    EXPECT_EQ(plx::ReadNumber(key.get(), "b4", number), ERROR_INVALID_DATA);
    EXPECT_EQ(number, 42u);

    // Byte blocks are REG_BINARY; the size read back is the caller's to check.
    BYTE block[8] = {};
    DWORD blockSize = sizeof(block);
    EXPECT_EQ(plx::ReadBytes(key.get(), "n", block, blockSize), ERROR_INVALID_DATA);
    blockSize = sizeof(block);
    EXPECT_EQ(plx::ReadBytes(key.get(), "b4", block, blockSize), ERROR_SUCCESS);
    EXPECT_EQ(blockSize, 4u);
    const BYTE twelve[12] = {};
    SetRaw(path, "b12", REG_BINARY, twelve, 12);
    blockSize = sizeof(block);
    EXPECT_EQ(plx::ReadBytes(key.get(), "b12", block, blockSize), ERROR_MORE_DATA);

    // The default value is reached by an empty or null name.
    ASSERT_EQ(plx::WriteString(key.get(), "", "default"), ERROR_SUCCESS);
    EXPECT_EQ(plx::ReadString(key.get(), nullptr, text), ERROR_SUCCESS);
    EXPECT_EQ(text, "default");
}

TEST_F(RegistryTest, KeyTreesAreDeletedWholeAndOnlyThemselves) {
    const std::string base = std::string(plx::kRootKey) + "\\Tree";
    for (const char* sub : {"\\a\\b\\c", "\\a\\d", "\\e", "\\f\\g"}) Create(base + sub);
    Create(std::string(plx::kRootKey) + "\\TreeSibling");
    {
        unique_hkey a = Create(base + "\\a");
        plx::WriteNumber(a.get(), "v", 1);
    }

    EXPECT_EQ(plx::DeleteKeyTree(HKEY_CURRENT_USER, base), ERROR_SUCCESS);
    EXPECT_FALSE(plx::OpenKeyForReading(HKEY_CURRENT_USER, base));
    EXPECT_TRUE(plx::OpenKeyForReading(HKEY_CURRENT_USER, std::string(plx::kRootKey) + "\\TreeSibling"));
    EXPECT_NE(plx::DeleteKeyTree(HKEY_CURRENT_USER, base), ERROR_SUCCESS);
}

TEST_F(RegistryTest, CurrentProfileDefaultsAndIsWrittenBack) {
    // A screen size never seen before.
    EXPECT_FALSE(plx::OpenKeyForReading(HKEY_CURRENT_USER, plx::ResolutionKeyPath()));
    EXPECT_EQ(plx::GetCurrentProfile().Text(), "Default");
    EXPECT_EQ(CurrentValue(), "Default");

    const std::string resolution = plx::ResolutionKeyPath();
    {
        unique_hkey key = Create(resolution);
        plx::WriteString(key.get(), "CurrentProfile", "Work");
    }
    EXPECT_EQ(plx::GetCurrentProfile().Text(), "Work");

    // A name at the limit of a key name is still a name.
    const std::string longest(255, 'n');
    {
        unique_hkey key = Create(resolution);
        plx::WriteString(key.get(), "CurrentProfile", longest);
    }
    EXPECT_EQ(plx::GetCurrentProfile().Text(), longest);

    // Unusable values read as missing and are replaced, never cut down to another profile's name.
    struct Bad {
        DWORD type;
        std::string data;
    };
    const std::vector<Bad> bad = {
        {REG_SZ, std::string("\0", 1)},         {REG_DWORD, std::string("\1\0\0\0", 4)},
        {REG_BINARY, std::string("Work\0", 5)}, {REG_SZ, std::string(256, 'n') + '\0'},
        {REG_SZ, std::string(260, 'n') + '\0'}, {REG_SZ, std::string("Work\\Manual\0", 12)},
    };
    for (const Bad& value : bad) {
        SetRaw(resolution, "CurrentProfile", value.type, value.data.data(),
               static_cast<DWORD>(value.data.size()));
        EXPECT_EQ(plx::GetCurrentProfile().Text(), "Default")
            << "type " << value.type << " size " << value.data.size();
        EXPECT_EQ(CurrentValue(), "Default");
    }
}

// An import's replace of "Work" that ended at each of its steps, as the registry then holds it: the
// next reader of "CurrentProfile" finishes the replace while the new profile is whole, or puts the old
// one back, and lets the record go. "CurrentProfile" then names the one profile that is there.
TEST_F(RegistryTest, AReplaceCutShortIsFinishedOrUndoneByTheNextReader) {
    const plx::ScreenSize size = plx::GetScreenSize();
    // What "Work", the one put aside and the new one hold: the old profile, the new one, a new one not
    // yet whole ("part"), or nothing; then what "Work" holds afterwards.
    const char* const rows[][4] = {{"old", nullptr, "new", "new"},
                                   {nullptr, "old", "new", "new"},
                                   {"new", "old", nullptr, "new"},
                                   {nullptr, "old", "part", "old"},
                                   {"new", nullptr, nullptr, "new"}};
    const char* const names[] = {"Work", "Work replaced 1", "Work imported 1"};
    for (const auto& row : rows) {
        plx::DeleteKeyTree(HKEY_CURRENT_USER, plx::kRootKey);
        for (int i = 0; i < 3; ++i) {
            if (!row[i]) continue;
            MakeProfile(names[i], std::string(row[i]) == "part" ? nullptr : "Profile");
            SetRaw(plx::ProfileKeyPath(names[i]), "From", REG_SZ, row[i],
                   static_cast<DWORD>(std::string(row[i]).size() + 1));
        }
        SetRaw(plx::ResolutionKeyPath(), "CurrentProfile", REG_SZ, "Work", 5);
        ASSERT_TRUE(plx::RecordPendingReplace(size, testbed::Profile(names[0]), testbed::Profile(names[2]),
                                              testbed::Profile(names[1])));
        EXPECT_EQ(plx::GetCurrentProfile(size).Text(), "Work");
        EXPECT_EQ(Names(plx::ListProfiles(size)), std::vector<std::string>{"Work"})
            << row[0] << row[1] << row[2];
        EXPECT_FALSE(plx::ProfileKeyExists(size, testbed::Profile(names[2])));
        std::string from;
        plx::ReadString(plx::OpenKeyForReading(HKEY_CURRENT_USER, plx::ProfileKeyPath("Work")).get(), "From",
                        from);
        EXPECT_EQ(from, row[3]);
        EXPECT_NE(RegGetValueA(HKEY_CURRENT_USER, plx::ResolutionKeyPath().c_str(), plx::kPendingReplaceValue,
                               RRF_RT_ANY, nullptr, nullptr, nullptr),
                  ERROR_SUCCESS);
    }
}

TEST_F(RegistryTest, ProfilesAreMarkedKeysInLstrcmpOrder) {
    for (const char* name : {"gamma", "Delta", "beta", "Alpha"}) MakeProfile(name);
    MakeProfile("Upper", "PROFILE");
    MakeProfile("Manual", nullptr);     // a legacy slot, not a profile
    MakeProfile("Folder", "Profiles");  // another marker
    const DWORD one = 1;
    SetRaw(plx::ResolutionKeyPath() + "\\Numbered", nullptr, REG_DWORD, &one, 4);
    {
        unique_hkey key = Create(plx::ResolutionKeyPath());
        plx::WriteString(key.get(), "CurrentProfile", "beta");
    }

    // lstrcmpA sorts by words first, not by character codes.
    EXPECT_EQ(Names(plx::ListProfiles(plx::GetScreenSize())),
              (std::vector<std::string>{"Alpha", "beta", "Delta", "gamma", "Upper"}));
    EXPECT_EQ(Names(plx::UpperCaseNames(plx::ListProfiles(plx::GetScreenSize()))),
              (std::vector<std::string>{"ALPHA", "BETA", "DELTA", "GAMMA", "UPPER"}));
    EXPECT_EQ(Names(plx::ListOtherProfiles(plx::GetScreenSize())),
              (std::vector<std::string>{"Alpha", "Delta", "gamma", "Upper"}));

    // The current profile is left out whatever its case.
    {
        unique_hkey key = Create(plx::ResolutionKeyPath());
        plx::WriteString(key.get(), "CurrentProfile", "ALPHA");
    }
    EXPECT_EQ(Names(plx::UpperCaseNames(plx::ListOtherProfiles(plx::GetScreenSize()))),
              (std::vector<std::string>{"BETA", "DELTA", "GAMMA", "UPPER"}));
}

TEST_F(RegistryTest, NamesStoredThroughTheCodePageReadBackTheSame) {
    // Earlier versions wrote a profile's key and "CurrentProfile" through the ANSI functions.
    const std::string cafe = testbed::InCodePage(L"Caf\u00e9");
    ASSERT_FALSE(cafe.empty()) << "the test bed's code page spells the name";
    HKEY profile = nullptr;
    ASSERT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, (plx::ResolutionKeyPath() + "\\" + cafe).c_str(), 0, nullptr,
                              0, KEY_ALL_ACCESS, nullptr, &profile, nullptr),
              ERROR_SUCCESS);
    unique_hkey owned(profile);
    ASSERT_EQ(RegSetValueExA(profile, nullptr, 0, REG_SZ, reinterpret_cast<const BYTE*>("Profile"), 8),
              ERROR_SUCCESS);
    SetRaw(plx::ResolutionKeyPath(), "CurrentProfile", REG_SZ, cafe.c_str(),
           static_cast<DWORD>(cafe.size() + 1));
    EXPECT_EQ(plx::GetCurrentProfile().Text(), "Caf\u00e9");
    EXPECT_EQ(Names(plx::ListProfiles(plx::GetScreenSize())), std::vector<std::string>{"Caf\u00e9"});
}

// Sets of stored names order and match them as the system's ordinal comparison without case does:
// ASCII upcased only from a to z, and every other unit left to the system, whose upcase of one may be
// ASCII.
TEST_F(RegistryTest, NameComparisonAgreesWithTheSystemsOrdinalComparisonWithoutCase) {
    const std::vector<std::wstring> names = {L"",
                                             L"a",
                                             L"A",
                                             L"ab",
                                             L"aB",
                                             L"a_",
                                             L"a[",
                                             L"a`",
                                             L"a{",
                                             L"a~",
                                             L"a@",
                                             L"C:\\Users\\x\\Desktop\\Item 0001.txt",
                                             L"c:\\users\\X\\desktop\\item 0001.TXT",
                                             L"C:\\Users\\x\\Desktop\\Item 0002.txt",
                                             L"C:\\Users\\x\\Desktop\\Item 0001.txt\u0131",
                                             L"\u0131",
                                             L"I",
                                             L"i",
                                             L"\u017f",
                                             L"S",
                                             L"s",
                                             L"x\u0131y",
                                             L"XIY",
                                             L"\u00df",
                                             L"SS",
                                             L"\u00e4",
                                             L"\u00c4",
                                             L"\u00c4b",
                                             L"ab\u00e4",
                                             L"AB\u00c4",
                                             L"\xd83d\xde00",
                                             L"z",
                                             L"\u212a",
                                             L"k",
                                             L"\u0430",
                                             L"\u0410"};
    for (size_t i = 0; i < names.size(); ++i)
        for (size_t j = 0; j < names.size(); ++j) {
            const int system =
                CompareStringOrdinal(names[i].c_str(), static_cast<int>(names[i].size()), names[j].c_str(),
                                     static_cast<int>(names[j].size()), TRUE) -
                CSTR_EQUAL;
            EXPECT_EQ(plx::CompareNoCaseOrdinal(names[i], names[j]), system) << "names " << i << " and " << j;
        }
}

TEST_F(RegistryTest, NamesAreOneProfileExactlyWhenTheRegistryKeepsThemAsOneKey) {
    EXPECT_TRUE(plx::SameProfileName("Work", "wORK"));
    EXPECT_TRUE(plx::SameProfileName("caf\u00e9", "CAF\u00c9"));
    EXPECT_FALSE(plx::SameProfileName("Work", "Work2"));
    // Equal for a linguistic comparison, two keys for the registry.
    EXPECT_FALSE(plx::SameProfileName("Strasse",
                                      "Stra\u00df"
                                      "e"));
    EXPECT_FALSE(plx::SameProfileName("Home", "Ho\u00adme"));
    plx::ProfileNameSet names;
    for (const char* name : {"Strasse",
                             "Stra\u00df"
                             "e"})
        names.insert(name);
    EXPECT_EQ(names.size(), 2u);
    EXPECT_TRUE(plx::ContainsProfileName(names, "strasse"));
    EXPECT_FALSE(plx::ContainsProfileName(names, "Ho\u00adme"));
    EXPECT_EQ(plx::UpperCaseName("caf\u00e9"), "CAF\u00c9");
    EXPECT_FALSE(plx::IsUsableProfileName(""));
    EXPECT_FALSE(plx::IsUsableProfileName("a\\b"));
    // A key name holds 255 characters, counted as characters, not bytes.
    EXPECT_FALSE(plx::IsUsableProfileName(std::string(256, 'x')));
    EXPECT_TRUE(plx::IsUsableProfileName(std::string(255, 'x')));
    std::string kana;  // three bytes of UTF-8, one character each
    for (int i = 0; i < 255; ++i) kana += "\u3042";
    EXPECT_TRUE(plx::IsUsableProfileName(kana));
    EXPECT_FALSE(plx::IsUsableProfileName(kana + "\u3042"));
    // A double-byte character whose trail byte has the value of a backslash is no separator.
    EXPECT_TRUE(plx::IsUsableProfileName("\x95\x5C", 932));
    EXPECT_FALSE(plx::IsUsableProfileName("\x95\x5C\\", 932));
}

TEST_F(RegistryTest, WalksOverSubkeysEndAtTheEndAndAtAnError) {
    const std::string base = std::string(plx::kRootKey) + "\\Walk";
    for (const char* name : {"a", "b", "c"}) Create(base + "\\" + name);
    unique_hkey key = plx::OpenKeyForReading(HKEY_CURRENT_USER, base);
    std::vector<std::string> seen;
    EXPECT_EQ(plx::ForEachSubkey(key.get(),
                                 [&](const std::string& name) {
                                     seen.push_back(name);
                                     return name != "b";
                                 }),
              ERROR_SUCCESS);
    EXPECT_EQ(seen, (std::vector<std::string>{"a", "b"}));

    // Deleted behind the open handle, the key answers an error at every index: the walk ends there.
    ASSERT_EQ(plx::DeleteKeyTree(HKEY_CURRENT_USER, base), ERROR_SUCCESS);
    seen.clear();
    EXPECT_NE(plx::ForEachSubkey(key.get(),
                                 [&](const std::string& name) {
                                     seen.push_back(name);
                                     return true;
                                 }),
              ERROR_SUCCESS);
    EXPECT_TRUE(seen.empty());
}

}  // namespace

namespace {

// A layout of one icon at x, y.
plx::IconPlaces OneIcon(int x) { return {{"alpha.txt", {x, 10}}}; }

TEST_F(RegistryTest, SnapshotsKeepTheLatestAndTenBeforeItEachWriteReplacingOnlyTheOldest) {
    const plx::ScreenSize size = plx::GetScreenSize();
    // No key for the arrangement yet: none is made for a snapshot.
    EXPECT_FALSE(plx::KeepSnapshot(size, OneIcon(1), 96));
    EXPECT_FALSE(plx::OpenResolutionKey(size, plx::KeyAccess::Read));
    Create(plx::ResolutionKeyPath(size));
    for (int x = 1; x <= 13; ++x) ASSERT_TRUE(plx::KeepSnapshot(size, OneIcon(x), 96 + x));
    std::vector<plx::SnapshotInfo> listed = plx::ListSnapshots(size);
    ASSERT_EQ(listed.size(), plx::kSnapshotHistory + 1);
    for (size_t i = 0; i < listed.size(); ++i) {
        EXPECT_EQ(listed[i].number, static_cast<int>(i + 1));
        EXPECT_EQ(listed[i].dpi, 96u + 13 - i);
        EXPECT_EQ(listed[i].icons, 1u);
    }
    EXPECT_EQ(plx::ReadSnapshot(size, 1)->places[0].position.x, 13);
    EXPECT_EQ(plx::ReadSnapshot(size, 11)->places[0].position.x, 3);
    EXPECT_FALSE(plx::ReadSnapshot(size, 12));

    // A write cut short damages the value it replaced, the oldest: the others are read as before,
    // and the next snapshot takes that value first.
    unique_hkey resolution = plx::OpenResolutionKey(size, plx::KeyAccess::Write);
    std::string oldest;
    for (int slot = 0; slot <= static_cast<int>(plx::kSnapshotHistory) && oldest.empty(); ++slot) {
        BYTE data[64];
        DWORD length = sizeof(data);
        const std::string name = "Snapshot" + std::to_string(slot);
        if (RegQueryValueExA(resolution.get(), name.c_str(), nullptr, nullptr, data, &length) ==
                ERROR_SUCCESS &&
            length > 28 && data[28] == 3)
            oldest = name;
    }
    ASSERT_FALSE(oldest.empty());
    SetRaw(plx::ResolutionKeyPath(size), oldest.c_str(), REG_BINARY, "PXS1", 4);
    EXPECT_EQ(plx::ListSnapshots(size).size(), plx::kSnapshotHistory);
    ASSERT_TRUE(plx::KeepSnapshot(size, OneIcon(14), 96));
    EXPECT_EQ(plx::ReadSnapshot(size, 1)->places[0].position.x, 14);
    EXPECT_EQ(plx::ReadSnapshot(size, 11)->places[0].position.x, 4);

    // The same layout seen again takes a new time and no place in the history; a profile saved since
    // makes it older until it is seen again.
    plx::NoteProfileTime(size);
    EXPECT_FALSE(plx::SnapshotNewerThanProfile(size));
    ASSERT_TRUE(plx::KeepSnapshot(size, OneIcon(14), 96));
    EXPECT_EQ(plx::ReadSnapshot(size, 11)->places[0].position.x, 4);
    ASSERT_TRUE(plx::SnapshotNewerThanProfile(size));

    // "KeepLayout": on unless 0.
    EXPECT_TRUE(plx::KeepLayoutAutomatically());
    ASSERT_TRUE(plx::SetKeepLayoutAutomatically(false));
    EXPECT_FALSE(plx::KeepLayoutAutomatically());
}

}  // namespace
