// orvane.exe, the command-line companion, run as a logon task or a script runs it: a process of its
// own beside a copy of the module, against the stand-in desktop in yet another process.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <utility>

#include "engine/channel.h"
#include "tests/desktop_process_fixture.h"
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
    for (const char* arguments :
         {"", "restre", "save --wait", "save --wait x", "save --wait 99999", "save extra"}) {
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

}  // namespace
