// orvane.exe, the command-line companion, run as a logon task or a script runs it: a process of its
// own beside a copy of the module, against the stand-in desktop in yet another process.
#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "engine/channel.h"
#include "engine/icon_watch.h"
#include "store/catalogue.h"
#include "store/snapshots.h"
#include "tests/desktop_process_fixture.h"
#include "tests/support/dialog_driver.h"
#include "tests/support/message_boxes.h"
#include "testbed/testbed.h"
#include "win32/unique.h"

namespace {

struct Outcome {
    DWORD exitCode = STILL_ACTIVE;
    std::string out;
    std::string errors;
};

class OrvaneTest : public testbed::DesktopProcessTest {
protected:
    void SetUp() override {
        testbed::DesktopProcessTest::SetUp();
        const testbed::ModuleCopy& module = LoadModule();
        const std::string moduleFile = module.AnsiPath();
        directory_ = moduleFile.substr(0, moduleFile.find_last_of('\\'));
        for (const char* program : {"\\orvane.exe", "\\orvanew.exe"})
            ASSERT_TRUE(CopyFileA((testbed::ExeDirectory() + program).c_str(), (directory_ + program).c_str(),
                                  FALSE));
    }

    // Starts orvane with the arguments, its output streams going to files; Finish collects them.
    void Start(const std::string& arguments) { StartLine("\"" + directory_ + "\\orvane.exe\" " + arguments); }
    void StartLine(const std::string& line) {
        SECURITY_ATTRIBUTES inherit = {sizeof(inherit), nullptr, TRUE};
        out_.reset(CreateFileA((output_.path() + "\\out.txt").c_str(), GENERIC_WRITE, FILE_SHARE_READ,
                               &inherit, CREATE_ALWAYS, 0, nullptr));
        errors_.reset(CreateFileA((output_.path() + "\\err.txt").c_str(), GENERIC_WRITE, FILE_SHARE_READ,
                                  &inherit, CREATE_ALWAYS, 0, nullptr));
        STARTUPINFOA startup = {sizeof(startup)};
        startup.dwFlags = STARTF_USESTDHANDLES;
        startup.hStdOutput = out_.get();
        startup.hStdError = errors_.get();
        PROCESS_INFORMATION pi = {};
        ASSERT_TRUE(testbed::StartTiedProcess(line, pi, &startup, TRUE));
        CloseHandle(pi.hThread);
        process_.reset(pi.hProcess);
    }
    Outcome Finish(DWORD timeoutMs = 30000) {
        Outcome outcome;
        if (WaitForSingleObject(process_.get(), timeoutMs) != WAIT_OBJECT_0) {
            TerminateProcess(process_.get(), 99);
            WaitForSingleObject(process_.get(), INFINITE);
        }
        GetExitCodeProcess(process_.get(), &outcome.exitCode);
        process_.reset();
        out_.reset();
        errors_.reset();
        outcome.out = testbed::ReadTextFile(output_.path() + "\\out.txt");
        outcome.errors = testbed::ReadTextFile(output_.path() + "\\err.txt");
        return outcome;
    }
    Outcome Orvane(const std::string& arguments) {
        Start(arguments);
        return Finish();
    }
    Outcome RunLine(const std::string& line) {
        StartLine(line);
        return Finish();
    }

    std::string directory_;
    testbed::TempDirectory output_;
    plx::unique_handle process_;
    plx::unique_handle out_;
    plx::unique_handle errors_;
};

TEST_F(OrvaneTest, SavesAndRestoresTheDesktopAndSaysWhyWhenItCannot) {
    {
        // No desktop at all: failure, with the reason.
        const Outcome outcome = Orvane("restore --quiet");
        EXPECT_EQ(outcome.exitCode, 1u);
        EXPECT_NE(outcome.errors.find("RestoreIconPositions failed"), std::string::npos) << outcome.errors;
    }
    StartHost();
    const testbed::IconState saved = Icon("alpha.txt");
    EXPECT_EQ(Orvane("save --quiet").exitCode, 0u);
    ASSERT_TRUE(host_.MoveIcon("alpha.txt", saved.x + 120, saved.y + 90));
    const Outcome restored = Orvane("restore --quiet");
    EXPECT_EQ(restored.exitCode, 0u);
    EXPECT_TRUE(restored.errors.empty()) << restored.errors;
    EXPECT_EQ(Icon("alpha.txt").x, saved.x);
    EXPECT_EQ(Icon("alpha.txt").y, saved.y);
    EXPECT_EQ(Orvane("save-startup --quiet").exitCode, 0u);
    ASSERT_TRUE(host_.MoveIcon("alpha.txt", saved.x + 60, saved.y + 60));
    EXPECT_EQ(Orvane("restore-startup --quiet").exitCode, 0u);
    EXPECT_EQ(Icon("alpha.txt").x, saved.x);
}

TEST_F(OrvaneTest, WrongCommandLinesGetTheUsageAndHelpAndVersionAnswer) {
    for (const char* arguments : {"", "restre", "save --wait", "save --wait x", "save --wait 99999",
                                  "save extra", "export", "import", "export f --as x", "import f --profile x",
                                  "import f --as", "undo f", "save --snapshot 1", "restore --snapshot 0"}) {
        const Outcome outcome = Orvane(arguments);
        EXPECT_EQ(outcome.exitCode, 2u) << arguments;
        EXPECT_EQ(outcome.errors.rfind("orvane: ", 0), 0u) << arguments;
        EXPECT_NE(outcome.errors.find("Usage: orvane COMMAND"), std::string::npos) << arguments;
    }
    const Outcome help = Orvane("--help");
    EXPECT_EQ(help.exitCode, 0u);
    EXPECT_NE(help.out.find("restore-startup"), std::string::npos);
    EXPECT_NE(help.out.find("32-bit shell"), std::string::npos);
    const Outcome version = Orvane("--version");
    EXPECT_EQ(version.exitCode, 0u);
    EXPECT_EQ(version.out, "orvane 1.1.0.1\n");
}

TEST_F(OrvaneTest, WaitEndsWhenTheDesktopShowsItsIconsAndGivesUpAtItsBound) {
    {
        const Outcome outcome = Orvane("save --quiet --wait 1");
        EXPECT_EQ(outcome.exitCode, 1u);
        EXPECT_NE(outcome.errors.find("did not show its icons within 1 seconds"), std::string::npos)
            << outcome.errors;
    }
    // Started before the desktop, as at logon: it acts once the icons are there, long before its bound.
    Start("save --quiet --wait 600");
    StartHost();
    const Outcome outcome = Finish(60000);
    EXPECT_EQ(outcome.exitCode, 0u) << outcome.errors;
    int x = 0;
    int y = 0;
    EXPECT_TRUE(testbed::ReadSavedPoint(plx::ResolutionKeyPath() + "\\Default\\Manual", "alpha.txt", x, y));
    EXPECT_EQ(x, Icon("alpha.txt").x);
}

// The subsystem in the program's header: what decides whether cmd.exe and PowerShell wait for it.
WORD Subsystem(const std::string& path) {
    plx::unique_hmodule image(LoadLibraryExA(path.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE));
    if (!image) return 0;
    // A module mapped as data has the low bit of its handle set.
    const auto* base =
        reinterpret_cast<const BYTE*>(reinterpret_cast<ULONG_PTR>(image.get()) & ~ULONG_PTR{3});
    const auto* dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(base);
    const auto* nt = reinterpret_cast<const IMAGE_NT_HEADERS*>(base + dos->e_lfanew);
    return nt->OptionalHeader.Subsystem;
}

TEST_F(OrvaneTest, IsAConsoleProgramWhoseExitCodeReachesErrorlevelAndHasAWindowlessTwin) {
    EXPECT_EQ(Subsystem(directory_ + "\\orvane.exe"), IMAGE_SUBSYSTEM_WINDOWS_CUI);
    EXPECT_EQ(Subsystem(directory_ + "\\orvanew.exe"), IMAGE_SUBSYSTEM_WINDOWS_GUI);
    char system[MAX_PATH] = {};
    ASSERT_TRUE(GetSystemDirectoryA(system, MAX_PATH));
    // No desktop runs: restore fails.
    const std::pair<const char*, const char*> cases[] = {
        {"--version", "0"}, {"restore --quiet", "1"}, {"restre", "2"}};
    for (const auto& [arguments, level] : cases) {
        const Outcome outcome =
            RunLine("\"" + std::string(system) + "\\cmd.exe\" /v:on /c \"\"" + directory_ +
                    "\\orvane.exe\" " + arguments + " & echo level=!ERRORLEVEL!\"");
        EXPECT_NE(outcome.out.find(std::string("level=") + level), std::string::npos)
            << arguments << ": " << outcome.out;
        EXPECT_EQ(outcome.exitCode, static_cast<DWORD>(level[0] - '0')) << arguments;
        EXPECT_EQ(RunLine("\"" + directory_ + "\\orvanew.exe\" " + arguments).exitCode,
                  static_cast<DWORD>(level[0] - '0'))
            << arguments;
    }
}

// The application manifest built into a program, as Windows reads it at start (RT_MANIFEST 1).
std::string EmbeddedManifest(const std::string& path) {
    plx::unique_hmodule image(LoadLibraryExA(path.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE));
    HRSRC found = image ? FindResourceA(image.get(), MAKEINTRESOURCEA(1), MAKEINTRESOURCEA(24)) : nullptr;
    HGLOBAL data = found ? LoadResource(image.get(), found) : nullptr;
    if (!data) return std::string();
    return std::string(static_cast<const char*>(LockResource(data)), SizeofResource(image.get(), found));
}

// Wine gives every process the true screen size, so only Windows shows what an unaware companion
// would do at 125 %: the manifest is what makes it see the screen as the shell does.
TEST_F(OrvaneTest, BothProgramsDeclareThemselvesAwareOfEachMonitorsDpi) {
    for (const char* program : {"\\orvane.exe", "\\orvanew.exe"}) {
        const std::string path = directory_ + program;
        const std::string manifest = EmbeddedManifest(path);
        ASSERT_FALSE(manifest.empty()) << program;
        EXPECT_NE(
            manifest.find("<dpiAwareness xmlns=\"http://schemas.microsoft.com/SMI/2016/WindowsSettings\">"
                          "PerMonitorV2, PerMonitor</dpiAwareness>"),
            std::string::npos)
            << manifest;
        EXPECT_NE(manifest.find("<dpiAware xmlns=\"http://schemas.microsoft.com/SMI/2005/WindowsSettings\">"
                                "true/pm</dpiAware>"),
                  std::string::npos)
            << manifest;
    }
}

TEST_F(OrvaneTest, AHungDesktopOrAHeldTurnFailsWithinItsBound) {
    StartHost();
    ASSERT_EQ(Orvane("save --quiet").exitCode, 0u);
    {
        // A caller keeps its turn while the message box of its action is open.
        HRESULT result = E_PENDING;
        std::thread caller([&] { result = module_->Call("RestoreStartupIconPositions", FALSE); });
        HWND box = nullptr;
        ASSERT_TRUE(testbed::WaitUntil(
            [&] { return (box = FindWindowA("#32770", plx::kMessageCaption)) != nullptr; }));
        Start("restore --quiet");
        const Outcome waited = Finish(plx::kAttachLockTimeoutMs + 30000);
        EXPECT_EQ(waited.exitCode, 1u) << waited.errors;
        EXPECT_NE(waited.errors.find("try again later"), std::string::npos) << waited.errors;
        PostMessageA(box, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0);
        caller.join();
        EXPECT_EQ(result, S_OK);
    }
    // The desktop's thread stops taking messages for far longer than any bound.
    ASSERT_TRUE(host_.Freeze(600000));
    Start("restore --quiet --wait 6");
    const Outcome waited = Finish(60000);
    EXPECT_EQ(waited.exitCode, 1u) << waited.errors;
    EXPECT_NE(waited.errors.find("did not show its icons within 6 seconds"), std::string::npos)
        << waited.errors;
    // The agent window is found, but its thread does not answer.
    const Outcome sent = Orvane("restore --quiet");
    EXPECT_EQ(sent.exitCode, 1u) << sent.errors;
    host_.Kill();
}

// The user's whole tree, one line per key and value with its type and bytes, so that two states compare.
std::string DumpTree(HKEY parent, const std::wstring& path) {
    plx::unique_hkey key;
    HKEY opened = nullptr;
    if (RegOpenKeyExW(parent, path.c_str(), 0, KEY_READ, &opened) != ERROR_SUCCESS) return "(none)";
    key.reset(opened);
    std::string dump = "[" + plx::ToUtf8(path) + "]\n";
    for (DWORD index = 0;; ++index) {
        wchar_t name[16384];
        DWORD length = ARRAYSIZE(name);
        DWORD type = 0;
        std::vector<BYTE> data(1 << 20);
        DWORD size = static_cast<DWORD>(data.size());
        if (RegEnumValueW(key.get(), index, name, &length, nullptr, &type, data.data(), &size) !=
            ERROR_SUCCESS)
            break;
        dump += plx::ToUtf8(name, length) + " " + std::to_string(type) + " " +
                std::string(reinterpret_cast<const char*>(data.data()), size) + "\n";
    }
    std::vector<std::wstring> subkeys;
    for (DWORD index = 0;; ++index) {
        wchar_t name[256];
        DWORD length = ARRAYSIZE(name);
        if (RegEnumKeyExW(key.get(), index, name, &length, nullptr, nullptr, nullptr, nullptr) !=
            ERROR_SUCCESS)
            break;
        subkeys.emplace_back(name, length);
    }
    for (const std::wstring& subkey : subkeys) dump += DumpTree(key.get(), subkey);
    return dump;
}

std::string DumpUserTree() { return DumpTree(HKEY_CURRENT_USER, plx::ToWide(plx::kRootKey)); }

TEST_F(OrvaneTest, ListsTheKeptLayoutsAndRestoresOneThatAnUndoTakesBack) {
    {
        plx::unique_hkey root = plx::CreateKey(HKEY_CURRENT_USER, plx::kRootKey);
        ASSERT_EQ(plx::WriteNumber(root.get(), plx::kLayoutStillTimeValue, 500), ERROR_SUCCESS);
    }
    StartHost();
    EXPECT_EQ(Orvane("snapshots --quiet").out,
              "orvane: no layout is kept for " + plx::ResolutionKeyName(plx::GetScreenSize()) + "\n");
    ASSERT_EQ(Orvane("save --quiet").exitCode, 0u);
    // The user's moves, each kept once the icons are still.
    for (const POINT& to : {POINT{300, 200}, POINT{420, 260}}) {
        ASSERT_TRUE(host_.MoveIcon("alpha.txt", to.x, to.y));
        ASSERT_TRUE(testbed::WaitUntil([&] {
            const std::optional<plx::Snapshot> latest = plx::ReadSnapshot(plx::GetScreenSize(), 1);
            if (!latest) return false;
            for (const plx::IconPlace& place : latest->places)
                if (place.label == "alpha.txt") return place.position.x == to.x && place.position.y == to.y;
            return false;
        }));
    }
    const Outcome listed = Orvane("snapshots");
    EXPECT_EQ(listed.exitCode, 0u);
    SYSTEMTIME today = {};
    GetLocalTime(&today);
    const std::string date = std::to_string(today.wYear) + "-";
    for (const char* number : {"\n1  ", "\n2  "})
        EXPECT_NE(listed.out.find(number + date), std::string::npos) << listed.out;
    const std::string icons = std::to_string(plx::ListSnapshots(plx::GetScreenSize())[0].icons) + " icons\n";
    EXPECT_NE(listed.out.find("  " + icons), std::string::npos) << listed.out;
    EXPECT_EQ(listed.out.find("\n3  "), std::string::npos) << listed.out;

    ASSERT_EQ(Orvane("restore --snapshot 2 --quiet").exitCode, 0u);
    EXPECT_EQ(Icon("alpha.txt").x, 300);
    ASSERT_EQ(Orvane("undo --quiet").exitCode, 0u);
    EXPECT_EQ(Icon("alpha.txt").x, 420);
    const Outcome missing = Orvane("restore --snapshot 9 --quiet");
    EXPECT_EQ(missing.exitCode, 1u);
    EXPECT_NE(missing.errors.find("no snapshot 9"), std::string::npos) << missing.errors;
}

TEST_F(OrvaneTest, UndoPutsBackWhatTheLastRestoreMovedAndASecondUndoTheRestoredPlaces) {
    StartHost();
    {
        const Outcome nothing = Orvane("undo --quiet");
        EXPECT_EQ(nothing.exitCode, 1u);
        EXPECT_NE(nothing.errors.find("no icon positions to undo"), std::string::npos) << nothing.errors;
    }
    ASSERT_EQ(Orvane("save --quiet").exitCode, 0u);
    const testbed::IconState saved = Icon("alpha.txt");
    const testbed::IconState other = Icon("beta.txt");
    const int handX = saved.x + 140, handY = saved.y + 110;
    ASSERT_TRUE(host_.MoveIcon("alpha.txt", handX, handY));
    ASSERT_EQ(Orvane("restore --quiet").exitCode, 0u);
    ASSERT_EQ(Icon("alpha.txt").x, saved.x);

    const Outcome undone = Orvane("undo --quiet");
    EXPECT_EQ(undone.exitCode, 0u) << undone.errors;
    EXPECT_EQ(Icon("alpha.txt").x, handX);
    EXPECT_EQ(Icon("alpha.txt").y, handY);
    EXPECT_EQ(Icon("beta.txt").x, other.x);
    EXPECT_EQ(Orvane("undo --quiet").exitCode, 0u);
    EXPECT_EQ(Icon("alpha.txt").x, saved.x);
    EXPECT_EQ(Icon("alpha.txt").y, saved.y);

    // Another program, through the export: the hand-placed icon once more.
    testbed::CallerProcess caller(module_->Path(), "UndoIconPositions", 1);
    EXPECT_EQ(caller.Failures(), 0);
    EXPECT_EQ(Icon("alpha.txt").x, handX);
    EXPECT_EQ(Icon("alpha.txt").y, handY);
    // What is kept for the undo is never a profile.
    EXPECT_EQ(plx::ListProfiles(plx::GetScreenSize()), plx::ProfileNameSet{"Default"});
}

// At a larger scale the companions must meet the profiles where the shell's desktop keeps them: under
// the screen size that the desktop's process, aware of each monitor's DPI, sees.
TEST_F(OrvaneTest, ExportImportAndUndoMeetTheShellsProfilesAtTheScreensDpi) {
    ASSERT_EQ(testbed::ScreenDpi(), testbed::WantedDpi());
    StartHost();
    // Saved and restored by the desktop's process: under the shell's key.
    ASSERT_EQ(Orvane("save --quiet").exitCode, 0u);
    const plx::ScreenSize shell = plx::GetScreenSize();
    ASSERT_EQ(plx::ListProfiles(shell), plx::ProfileNameSet{"Default"});
    const std::string file = output_.path() + "\\layout.txt";
    const Outcome exported = Orvane("export \"" + file + "\" --quiet");
    ASSERT_EQ(exported.exitCode, 0u) << exported.errors;
    EXPECT_NE(testbed::ReadTextFile(file).find("\r\nscreen " + plx::ResolutionKeyName(shell) + "\r\n"),
              std::string::npos);
    const Outcome imported = Orvane("import \"" + file + "\" --as Other --quiet");
    ASSERT_EQ(imported.exitCode, 0u) << imported.errors;
    EXPECT_EQ(plx::ListProfiles(shell), (plx::ProfileNameSet{"Default", "Other"}));

    const testbed::IconState saved = Icon("alpha.txt");
    ASSERT_TRUE(host_.MoveIcon("alpha.txt", saved.x + 150, saved.y + 100));
    ASSERT_EQ(Orvane("restore --quiet").exitCode, 0u);
    const Outcome undone = Orvane("undo --quiet");
    EXPECT_EQ(undone.exitCode, 0u) << undone.errors;
    EXPECT_EQ(Icon("alpha.txt").x, saved.x + 150);
    EXPECT_EQ(Icon("alpha.txt").y, saved.y + 100);
}

// The catalogue's ID of a desktop file.
int ItemId(const std::string& path) {
    plx::unique_hkey item = plx::OpenKeyForReading(
        HKEY_CURRENT_USER, std::string(plx::kItemsKey) + "\\" + plx::ItemKeyName(path));
    DWORD id = 0;
    return item && plx::ReadNumber(item.get(), "ID", id) == ERROR_SUCCESS ? static_cast<int>(id) : -1;
}

// Sets what the active profile says of one item, and has the next restore apply it as a change of
// screen size would.
void RecordVisible(int id, bool shown) {
    plx::unique_hkey record =
        plx::CreateKey(HKEY_CURRENT_USER, plx::ProfileKeyPath("Default") + "\\" + std::to_string(id));
    ASSERT_TRUE(record);
    ASSERT_EQ(plx::WriteNumber(record.get(), "Visible", shown ? 1 : 0), ERROR_SUCCESS);
    plx::unique_hkey root = plx::OpenKeyForWriting(HKEY_CURRENT_USER, plx::kRootKey);
    RegDeleteValueW(root.get(), L"LastResolution");
}

TEST_F(OrvaneTest, AProfileTravelsThroughAFileWithItsPlacesAndItemsInAnyLanguage) {
    // Look-alike labels, which one linguistic comparison takes as one, and labels of no code page.
    const std::vector<std::string> labels = {
        "Stra\xC3\x9F"
        "e.txt",
        "Strasse.txt", "\xCE\xA9\xCE\xBC\xCE\xAD\xCE\xB3\xCE\xB1.txt",
        "\xE6\x97\xA5\xE6\x9C\xAC\xE8\xAA\x9E.txt"};
    for (const std::string& label : labels) ASSERT_TRUE(testbed::WriteTextFile(desktop_ + "\\" + label, "x"));
    StartHost();
    std::vector<testbed::IconState> placed;
    for (size_t i = 0; i < labels.size(); ++i) {
        ASSERT_TRUE(host_.WaitForIcon(labels[i]));
        ASSERT_TRUE(host_.MoveIcon(labels[i], 300 + 90 * static_cast<int>(i), 400));
        placed.push_back(Icon(labels[i]));
    }
    ASSERT_EQ(Orvane("save --quiet").exitCode, 0u);
    const testbed::IconState alpha = Icon("alpha.txt");
    const int beta = ItemId(desktop_ + "\\beta.txt");
    ASSERT_GE(beta, 0);
    RecordVisible(beta, false);
    ASSERT_EQ(Orvane("restore --quiet").exitCode, 0u);
    ASSERT_TRUE(host_.WaitForIcon("beta.txt", false));

    const std::string file = output_.path() + "\\layout.txt";
    const Outcome exported = Orvane("export \"" + file + "\"");
    ASSERT_EQ(exported.exitCode, 0u) << exported.errors;
    const std::string text = testbed::ReadTextFile(file);
    EXPECT_EQ(text.rfind("Quillmar Orvane Deluxe profile\r\nformat 1\r\nscreen " +
                             plx::ResolutionKeyName(plx::GetScreenSize()) + "\r\nprofile Default\r\n",
                         0),
              0u)
        << text;
    EXPECT_NE(text.find("item hidden " + desktop_ + "\\beta.txt\r\n"), std::string::npos) << text;
    EXPECT_NE(text.find(" " + labels[0] + "\r\n"), std::string::npos) << text;
    // A file saved with several monitors names their arrangement; it comes in all the same.
    const std::string screen = "screen " + plx::ResolutionKeyName(plx::GetScreenSize());
    std::string arranged = text;
    arranged.insert(arranged.find(screen) + screen.size(), "+1024_768@-1024_-200");
    ASSERT_TRUE(testbed::WriteTextFile(file, arranged));

    // The item comes back, and the user's whole tree goes; the icons wander.
    RecordVisible(beta, true);
    ASSERT_EQ(Orvane("restore --quiet").exitCode, 0u);
    ASSERT_TRUE(host_.WaitForIcon("beta.txt"));
    ASSERT_EQ(plx::DeleteKeyTree(HKEY_CURRENT_USER, plx::kRootKey), ERROR_SUCCESS);
    ASSERT_TRUE(host_.MoveIcon("alpha.txt", alpha.x + 200, alpha.y + 150));
    for (size_t i = 0; i < labels.size(); ++i)
        ASSERT_TRUE(host_.MoveIcon(labels[i], 40 + 90 * static_cast<int>(i), 600));

    const Outcome imported = Orvane("import \"" + file + "\" --quiet");
    ASSERT_EQ(imported.exitCode, 0u) << imported.errors;
    EXPECT_NE(imported.out.find("imported the profile \"Default\""), std::string::npos) << imported.out;
    ASSERT_EQ(Orvane("restore --quiet").exitCode, 0u);
    EXPECT_TRUE(host_.WaitForIcon("beta.txt", false)) << "hidden as exported";
    EXPECT_EQ(Icon("alpha.txt").x, alpha.x);
    EXPECT_EQ(Icon("alpha.txt").y, alpha.y);
    for (size_t i = 0; i < labels.size(); ++i) {
        EXPECT_EQ(Icon(labels[i]).x, placed[i].x) << labels[i];
        EXPECT_EQ(Icon(labels[i]).y, placed[i].y) << labels[i];
    }
}

TEST_F(OrvaneTest, AnImportThatIsNotWholeOrWouldReplaceUnaskedChangesNothing) {
    StartHost();
    ASSERT_EQ(Orvane("save --quiet").exitCode, 0u);
    const std::string file = output_.path() + "\\layout.txt";
    ASSERT_EQ(Orvane("export \"" + file + "\"").exitCode, 0u);
    const std::string good = testbed::ReadTextFile(file);
    const size_t firstPosition = good.find("position Manual ");
    ASSERT_NE(firstPosition, std::string::npos) << good;
    std::string badLine = good;
    badLine.replace(firstPosition, 16, "position Manual x");
    const std::string binary(
        "\x7F"
        "ELF\x02\x01\x00\x00\xFF\xFE\x00\x10",
        12);
    // A file that would fill the registry, or the restores of the desktop's thread: a slot with more
    // positions than a desktop has icons, a label the shell never shows, a file of many megabytes.
    const size_t endLine =
        static_cast<size_t>(std::count(good.begin(), good.begin() + good.rfind("end"), '\n')) + 1;
    size_t manual = 0;
    for (size_t at = good.find("position Manual "); at != std::string::npos;
         at = good.find("position Manual ", at + 1))
        ++manual;
    std::string crowded = good, longLabel = good, huge = good;
    std::string many;
    for (int i = 0; i < 4001; ++i) many += "position Manual 1 1 icon " + std::to_string(i) + "\r\n";
    crowded.insert(crowded.rfind("end"), many);
    longLabel.insert(longLabel.rfind("end"), "position Startup 5 5 " + std::string(260, 'x') + "\r\n");
    huge.insert(huge.rfind("end"), std::string(5 << 20, '#'));
    const std::pair<std::string, std::string> cases[] = {
        {crowded,
         "line " + std::to_string(endLine + 4000 - manual) + ": more than 4000 positions in the slot Manual"},
        {longLabel, "line " + std::to_string(endLine) + ": a label longer than 259 characters"},
        {huge, "larger than 4 MB"},
        {badLine, "line 5: "},
        {good.substr(0, good.size() - 9), "cut short"},
        {binary, "line 1: "},
        {"[Desktop]\r\nIconX=10\r\n", "line 1: not a profile file"},
        {"Quillmar Orvane Deluxe profile\r\nformat 2\r\n", "line 2: format 2"},
    };
    const std::string before = DumpUserTree();
    for (const auto& [contents, reason] : cases) {
        ASSERT_TRUE(testbed::WriteTextFile(file + ".bad", contents));
        const Outcome refused = Orvane("import \"" + file + ".bad\" --as Other --quiet");
        EXPECT_EQ(refused.exitCode, 1u) << reason;
        EXPECT_NE(refused.errors.find(reason), std::string::npos) << refused.errors;
        EXPECT_EQ(DumpUserTree(), before) << reason;
    }
    {
        // The profile is there: --quiet replaces nothing, and a user who cancels keeps it too.
        const Outcome quiet = Orvane("import \"" + file + "\" --quiet");
        EXPECT_EQ(quiet.exitCode, 1u);
        EXPECT_NE(quiet.errors.find("replaces nothing"), std::string::npos) << quiet.errors;
        testbed::MessageBoxWatcher cancel(plx::kMessageCaption, IDCANCEL);
        EXPECT_EQ(Orvane("import \"" + file + "\"").exitCode, 1u);
        EXPECT_TRUE(
            cancel.SawOnly("The profile \"Default\" already exists at this screen size.\nDo you want to "
                           "replace it?",
                           nullptr));
        EXPECT_EQ(DumpUserTree(), before);
    }
    testbed::MessageBoxWatcher agree(plx::kMessageCaption, IDOK);
    EXPECT_EQ(Orvane("import \"" + file + "\"").exitCode, 0u);
    EXPECT_EQ(agree.Seen().size(), 1u);
    const Outcome another = Orvane("import \"" + file + "\" --as \"Other\" --quiet");
    EXPECT_EQ(another.exitCode, 0u) << another.errors;
    EXPECT_EQ(plx::ListProfiles(plx::GetScreenSize()), (plx::ProfileNameSet{"Default", "Other"}));
    EXPECT_EQ(plx::GetCurrentProfile().Text(), "Default") << "an import activates nothing";
}

}  // namespace
