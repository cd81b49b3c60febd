// orvane.exe, the command-line companion, run as a logon task or a script runs it: a process of its
// own beside a copy of the module, against the stand-in desktop in yet another process.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>

#include "tests/desktop_process_fixture.h"
#include "tests/support/testbed.h"
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
        ASSERT_TRUE(CopyFileA((testbed::ExeDirectory() + "\\orvane.exe").c_str(),
                              (directory_ + "\\orvane.exe").c_str(), FALSE));
    }

    // Starts orvane with the arguments, its output streams going to files; Finish collects them.
    void Start(const std::string& arguments) {
        SECURITY_ATTRIBUTES inherit = {sizeof(inherit), nullptr, TRUE};
        out_.reset(CreateFileA((output_.path() + "\\out.txt").c_str(), GENERIC_WRITE, FILE_SHARE_READ,
                               &inherit, CREATE_ALWAYS, 0, nullptr));
        errors_.reset(CreateFileA((output_.path() + "\\err.txt").c_str(), GENERIC_WRITE, FILE_SHARE_READ,
                                  &inherit, CREATE_ALWAYS, 0, nullptr));
        STARTUPINFOA startup = {sizeof(startup)};
        startup.dwFlags = STARTF_USESTDHANDLES;
        startup.hStdOutput = out_.get();
        startup.hStdError = errors_.get();
        std::string commandLine = "\"" + directory_ + "\\orvane.exe\" " + arguments;
        PROCESS_INFORMATION pi = {};
        ASSERT_TRUE(CreateProcessA(nullptr, commandLine.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr,
                                   &startup, &pi));
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

}  // namespace
