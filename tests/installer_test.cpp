// The setup program as an administrator runs it, silently: what it puts on the system, and what its
// uninstaller takes away again without losing a hidden item.
#include <windows.h>
#include <sddl.h>
#include <shlobj.h>
#include <tlhelp32.h>

#include <gtest/gtest.h>
#include <msi.h>

#include <algorithm>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "win32/module.h"
#include "store/catalogue.h"
#include "store/profile_tree.h"
#include "store/visibility.h"
#include "testbed/desktop_host_process.h"
#include "testbed/testbed.h"
#include "win32/unique.h"

namespace {

constexpr char kUninstallKey[] =
    "Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Quillmar Orvane Deluxe";
constexpr char kRunKey[] = "Software\\Microsoft\\Windows\\CurrentVersion\\Run";
constexpr char kRunValue[] = "Quillmar Orvane Deluxe";
constexpr char kHandlerKey[] = "Directory\\Background\\shellex\\ContextMenuHandlers\\Plaxen";
constexpr char kApprovedKey[] = "Software\\Microsoft\\Windows\\CurrentVersion\\Shell Extensions\\Approved";

bool Exists(const std::string& path) { return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

std::string ReadString(HKEY root, const std::string& path, const char* name) {
    char value[1024] = {};
    DWORD size = sizeof(value);
    if (RegGetValueA(root, path.c_str(), name, RRF_RT_REG_SZ, nullptr, value, &size) != ERROR_SUCCESS)
        return "<missing>";
    return value;
}

std::string CurrentUserSid() {
    const std::string sddl = testbed::SecuritySddl(testbed::ExeDirectory());
    return sddl.substr(2, sddl.find("D:") - 2);
}

bool KeyExists(HKEY root, const std::string& path) {
    return static_cast<bool>(plx::OpenKeyForReading(root, path));
}

DWORD RunAndWait(const std::string& commandLine) {
    PROCESS_INFORMATION pi = {};
    if (!testbed::StartTiedProcess(commandLine, pi)) return 0xFFFFFFFF;
    CloseHandle(pi.hThread);
    DWORD code = 0xFFFFFFFE;
    if (WaitForSingleObject(pi.hProcess, 120000) == WAIT_OBJECT_0) GetExitCodeProcess(pi.hProcess, &code);
    CloseHandle(pi.hProcess);
    return code;
}

// The uninstaller hands its work to a copy of itself in a folder "~nsu....tmp" of the temporary
// folder and ends at once; the work is done when that copy has ended.
bool WaitForUninstallerCopy() {
    plx::unique_handle snapshot(CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
    if (!snapshot || snapshot.get() == INVALID_HANDLE_VALUE) return false;
    PROCESSENTRY32 entry = {sizeof(entry)};
    for (BOOL more = Process32First(snapshot.get(), &entry); more;
         more = Process32Next(snapshot.get(), &entry)) {
        plx::unique_handle process(
            OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION | SYNCHRONIZE, FALSE, entry.th32ProcessID));
        char image[MAX_PATH] = {};
        DWORD size = sizeof(image);
        if (!process || !QueryFullProcessImageNameA(process.get(), 0, image, &size)) continue;
        if (std::string(image).find("\\~nsu") == std::string::npos) continue;
        if (WaitForSingleObject(process.get(), 120000) != WAIT_OBJECT_0) return false;
    }
    return true;
}

// What Windows does to files at the next restart: each file (without the "\\??\\" prefix and a
// folder's trailing backslash) with what it becomes: "" when it is removed, else the file it replaces.
std::map<std::string, std::string> PendingOperations() {
    std::vector<char> value(65536);
    DWORD size = static_cast<DWORD>(value.size() - 2);
    std::map<std::string, std::string> operations;
    if (RegGetValueA(HKEY_LOCAL_MACHINE, "SYSTEM\\CurrentControlSet\\Control\\Session Manager",
                     "PendingFileRenameOperations", RRF_RT_REG_MULTI_SZ, nullptr, value.data(),
                     &size) != ERROR_SUCCESS)
        return operations;
    const auto plain = [](std::string path) {
        if (!path.empty() && path[0] == '!') path.erase(0, 1);
        if (path.rfind("\\??\\", 0) == 0) path.erase(0, 4);
        if (!path.empty() && path.back() == '\\') path.pop_back();
        return path;
    };
    for (const char* entry = value.data(); *entry;) {
        const char* target = entry + std::strlen(entry) + 1;
        operations[plain(entry)] = plain(target);
        entry = target + std::strlen(target) + 1;
    }
    return operations;
}

// What the setup gives the store and the folders it makes there, and an install folder outside Program
// Files. Wine keeps no owner or list: it maps a list onto the Unix permission bits of the file's owner
// (the test's user) and reads back what those bits say, which for these rules is nothing for Everyone.
std::string ExpectedSddl(const char* windows) {
    const std::string user = CurrentUserSid();
    return testbed::OnWine() ? "O:" + user + "D:(A;OICI;FA;;;SY)(A;OICI;FA;;;" + user + ")" : windows;
}

constexpr char kStoreSddl[] = "O:BAD:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;;0x1200a4;;;BU)";
constexpr char kInstallSddl[] = "O:BAD:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;OICI;0x1200a9;;;BU)";

// Another user of the machine: a profile in the machine's list, with a desktop folder of its own.
struct SecondUser {
    static constexpr char kProfiles[] = "SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\ProfileList";
    static constexpr char kSid[] = "S-1-5-21-0-0-0-1001";
    std::string profile = ProfilesFolder() + "\\second";
    std::string desktop = profile + "\\Desktop";

    SecondUser() {
        CreateDirectoryA(profile.c_str(), nullptr);
        CreateDirectoryA(desktop.c_str(), nullptr);
        plx::unique_hkey key = plx::CreateKey(HKEY_LOCAL_MACHINE, std::string(kProfiles) + "\\" + kSid);
        plx::WriteString(key.get(), "ProfileImagePath", profile);
    }
    ~SecondUser() {
        plx::DeleteKeyTree(HKEY_LOCAL_MACHINE, std::string(kProfiles) + "\\" + kSid);
        testbed::RemoveTree(profile);
    }
    static std::string ProfilesFolder() {
        char path[MAX_PATH] = {};
        DWORD size = sizeof(path);
        RegGetValueA(HKEY_LOCAL_MACHINE, kProfiles, "ProfilesDirectory", RRF_RT_REG_SZ, nullptr, path, &size);
        return path;
    }
};

std::string FileBytes(const std::string& path) { return testbed::ReadTextFile(path); }

// Gives a file or folder the access list written in SDDL, as a user who may change its rules could.
bool SetRules(const std::string& path, const char* sddl) {
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (!ConvertStringSecurityDescriptorToSecurityDescriptorA(sddl, SDDL_REVISION_1, &descriptor, nullptr))
        return false;
    const bool set = SetFileSecurityA(path.c_str(), DACL_SECURITY_INFORMATION, descriptor) != FALSE;
    LocalFree(descriptor);
    return set;
}

// The machine's profile list names this user's profile folder as SYSTEM's, as Windows lists SYSTEM's
// "%SystemRoot%\System32\config\systemprofile" under S-1-5-18: a program this user runs then finds
// its own profile folder to be SYSTEM's, which is how the setup knows SYSTEM before it loads any
// plug-in. Wine gives every process the same user, so this is as near as a test comes to SYSTEM; on
// Windows it would change SYSTEM's own entry, so only Wine takes it.
struct SystemProfileListed {
    static constexpr char kKey[] = "SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\ProfileList\\S-1-5-18";
    SystemProfileListed() {
        char profile[MAX_PATH] = {};
        SHGetFolderPathA(nullptr, CSIDL_PROFILE, nullptr, 0, profile);
        plx::unique_hkey key = plx::CreateKey(HKEY_LOCAL_MACHINE, kKey);
        plx::WriteString(key.get(), "ProfileImagePath", profile);
    }
    ~SystemProfileListed() { plx::DeleteKeyTree(HKEY_LOCAL_MACHINE, kKey); }
};

// The store of a module installed below Program Files: in the machine's program data folder, where the
// default rules of application control run no program.
std::string MachineStore() {
    char data[MAX_PATH] = {};
    EXPECT_EQ(SHGetFolderPathA(nullptr, CSIDL_COMMON_APPDATA, nullptr, 0, data), S_OK);
    return std::string(data) + "\\Quillmar\\Orvane Deluxe\\Hidden";
}

// Hides every movable desktop item into the store of the installed module, as a profile hides them, and
// counts those hidden.
int HideDesktopItems(const std::string& module) {
    plx::unique_hmodule installed(LoadLibraryA(module.c_str()));
    if (!installed) return -1;
    plx::SetModuleInstance(installed.get());
    const std::string store = plx::HiddenStoreDirectory();
    EXPECT_EQ(store, MachineStore());
    plx::unique_hkey hiddenItems = plx::CreateKey(HKEY_CURRENT_USER, plx::kHiddenItemsKey);
    int hidden = 0;
    for (plx::DesktopItem& item : plx::BuildItemCatalogue(nullptr))
        if (item.Movable() && plx::HideItem(item, store, hiddenItems.get()) == plx::VisibilityOutcome::Hidden)
            ++hidden;
    plx::SetModuleInstance(nullptr);
    return hidden;
}

// Counts the items that the installed module finds in its store, as its menu lists them.
int StoredItemsFound(const std::string& module) {
    plx::unique_hmodule installed(LoadLibraryA(module.c_str()));
    if (!installed) return -1;
    plx::SetModuleInstance(installed.get());
    plx::DesktopItemList items;
    const bool read = plx::AppendHiddenItems(items, false);
    plx::SetModuleInstance(nullptr);
    return read ? static_cast<int>(items.size()) : -1;
}

// Today's layout of an installed store: beside the module, in the install folder.
void MoveStoreBesideModule(const std::string& directory) {
    ASSERT_TRUE(MoveFileA(MachineStore().c_str(), (directory + "\\Hidden").c_str()));
    ASSERT_FALSE(Exists(MachineStore()));
}

// A folder below Program Files that users may change, as another product may leave one.
struct OpenVendorFolder {
    std::string path;
    OpenVendorFolder() {
        char programFiles[MAX_PATH] = {};
        SHGetFolderPathA(nullptr, CSIDL_PROGRAM_FILES, nullptr, 0, programFiles);
        path = std::string(programFiles) + "\\OrvaneVendor";
        CreateDirectoryA(path.c_str(), nullptr);
        EXPECT_TRUE(SetRules(path, "D:(A;OICI;FA;;;WD)"));
    }
    ~OpenVendorFolder() { testbed::RemoveTree(path); }
    // Refused: a new folder in it, and the folder itself.
    std::vector<std::string> Refused() const { return {path + "\\Orvane", path}; }
};

// The exit code of the setup and of its uninstaller when the SYSTEM account runs them, and of the
// setup over an install of the Windows Installer package.
constexpr DWORD kRefusedAsSystem = 5;
constexpr DWORD kRefusedOverPackage = 6;
constexpr char kPackageKey[] = "Software\\Quillmar\\Orvane Deluxe";

class InstallerTest : public testing::Test {
protected:
    void SetUp() override {
        setup_ = testbed::ExeDirectory() + "\\..\\..\\OrvaneDeluxeSetup.exe";
        if (!Exists(setup_)) GTEST_SKIP() << "the setup program is built only with both architectures";
        char programFiles[MAX_PATH] = {};
        ASSERT_EQ(SHGetFolderPathA(nullptr, CSIDL_PROGRAM_FILES, nullptr, 0, programFiles), S_OK);
        directory_ = std::string(programFiles) + "\\Quillmar\\Orvane Deluxe";
        plx::DeleteKeyTree(HKEY_CURRENT_USER, plx::kRootKey);
        testbed::EmptyDesktopFolders();
        desktop_ = testbed::UserDesktopDirectory();
    }
    void TearDown() override {
        host_.Stop();
        // A test that ends with the product installed takes it away: later tests expect a system
        // without its registration.
        if (!directory_.empty() && Exists(directory_ + "\\uninstall.exe")) {
            RunAndWait("\"" + directory_ + "\\uninstall.exe\" /S");
            WaitForUninstallerCopy();
        }
        if (!directory_.empty()) testbed::RemoveTree(directory_);
        RemoveMachineStore();
        plx::SetModuleInstance(nullptr);
        testbed::EmptyDesktopFolders();
        plx::DeleteKeyTree(HKEY_CURRENT_USER, plx::kRootKey);
    }
    static void RemoveMachineStore() {
        const std::string store = MachineStore();
        testbed::RemoveTree(store.substr(0, store.rfind('\\', store.rfind('\\') - 1)));
    }

    std::string setup_;
    std::string directory_;
    std::string desktop_;
    testbed::DesktopHostProcess host_;
};

TEST_F(InstallerTest, InstallsRegistersAndUninstallsWithoutLosingAHiddenItem) {
    if (testbed::OnWine()) {
        // Run by SYSTEM, the setup stops before it changes anything.
        const SystemProfileListed system;
        EXPECT_EQ(RunAndWait("\"" + setup_ + "\" /S"), kRefusedAsSystem);
        EXPECT_FALSE(Exists(directory_));
        EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, kUninstallKey));
    }

    // A file where the store belongs: no store can be made, so nothing is installed.
    const std::string store = MachineStore();
    const std::string storeParent = store.substr(0, store.rfind('\\'));
    ASSERT_EQ(SHCreateDirectoryExA(nullptr, storeParent.c_str(), nullptr), ERROR_SUCCESS);
    ASSERT_TRUE(testbed::WriteTextFile(store, "in the way"));
    EXPECT_EQ(RunAndWait("\"" + setup_ + "\" /S"), 4u);
    EXPECT_FALSE(Exists(directory_ + "\\Plaxen.dll"));
    EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, kUninstallKey));
    ASSERT_TRUE(DeleteFileA(store.c_str()));

    // Nor over an install of the Windows Installer package, which names its product here.
    {
        plx::unique_hkey package = plx::CreateKey(HKEY_LOCAL_MACHINE, kPackageKey);
        plx::WriteString(package.get(), "ProductCode", "{00000000-0000-0000-0000-000000000000}");
    }
    EXPECT_EQ(RunAndWait("\"" + setup_ + "\" /S"), kRefusedOverPackage);
    EXPECT_FALSE(Exists(directory_ + "\\Plaxen.dll"));
    EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, kUninstallKey));
    plx::DeleteKeyTree(HKEY_LOCAL_MACHINE, "Software\\Quillmar");

    EXPECT_EQ(RunAndWait("\"" + setup_ + "\" /S"), 0u);
    const std::string module = directory_ + "\\Plaxen.dll";
    for (const char* file : {"Plaxen.dll", "Plaxen.chm", "orvane.exe", "orvanew.exe", "uninstall.exe",
                             "policies\\orvane.admx", "policies\\en-US\\orvane.adml"})
        EXPECT_TRUE(Exists(directory_ + "\\" + file)) << file;
    EXPECT_TRUE(Exists(store));
    EXPECT_FALSE(Exists(directory_ + "\\Hidden"));

    EXPECT_EQ(ReadString(HKEY_LOCAL_MACHINE, kUninstallKey, "DisplayName"), "Quillmar Orvane Deluxe");
    EXPECT_EQ(ReadString(HKEY_LOCAL_MACHINE, kUninstallKey, "DisplayVersion"), "1.1.0.1");
    EXPECT_EQ(ReadString(HKEY_LOCAL_MACHINE, kUninstallKey, "Publisher"), "Quillmar");
    EXPECT_EQ(ReadString(HKEY_LOCAL_MACHINE, kUninstallKey, "DisplayIcon"), directory_ + "\\orvane.exe,0");
    DWORD size = 0;
    DWORD sizeBytes = sizeof(size);
    EXPECT_EQ(RegGetValueA(HKEY_LOCAL_MACHINE, kUninstallKey, "EstimatedSize", RRF_RT_REG_DWORD, nullptr,
                           &size, &sizeBytes),
              ERROR_SUCCESS);
    EXPECT_GT(size, 100u);
    EXPECT_EQ(ReadString(HKEY_LOCAL_MACHINE, kRunKey, kRunValue),
              "\"" + directory_ + "\\orvanew.exe\" keep --quiet --wait 60");

    // Registered by the system's own regsvr32, for the system's shell.
    const std::string clsid = ReadString(HKEY_CLASSES_ROOT, kHandlerKey, nullptr);
    EXPECT_EQ(clsid.size(), 38u) << clsid;
    EXPECT_EQ(ReadString(HKEY_CLASSES_ROOT, "CLSID\\" + clsid + "\\InprocServer32", nullptr), module);
    EXPECT_EQ(ReadString(HKEY_LOCAL_MACHINE, kApprovedKey, clsid.c_str()), "Quillmar Orvane Deluxe");

    EXPECT_EQ(testbed::SecuritySddl(store), ExpectedSddl(kStoreSddl));
    EXPECT_EQ(testbed::SecuritySddl(store + "\\users"), ExpectedSddl(kStoreSddl));

    // Two items hidden into the installed module's store, as a profile hides them.
    ASSERT_TRUE(testbed::WriteTextFile(desktop_ + "\\report.txt", "r"));
    ASSERT_TRUE(CreateDirectoryA((desktop_ + "\\Projects").c_str(), nullptr));
    ASSERT_TRUE(testbed::WriteTextFile(desktop_ + "\\Projects\\plan.txt", "p"));
    EXPECT_EQ(HideDesktopItems(module), 2);
    ASSERT_FALSE(Exists(desktop_ + "\\report.txt"));
    // And two of a second user, whose profile the machine lists, hidden from that user's desktop.
    const SecondUser second;
    ASSERT_TRUE(plx::EnsureStoreDirectory(store, "\\users\\second\\Desktop\\Their folder\\"));
    ASSERT_TRUE(testbed::WriteTextFile(store + "\\users\\second\\Desktop\\theirs.txt", "t"));
    ASSERT_TRUE(testbed::WriteTextFile(store + "\\users\\second\\Desktop\\Their folder\\inner.txt", "i"));
    ASSERT_TRUE(host_.Start());

    if (testbed::OnWine()) {
        // Nor does the uninstaller run by SYSTEM remove anything. Run in place (_?=), its exit code is
        // that of the program that refuses; otherwise its copy in the temporary folder refuses, after
        // the uninstaller itself has ended with 0.
        const SystemProfileListed system;
        EXPECT_EQ(RunAndWait("\"" + directory_ + "\\uninstall.exe\" /S _?=" + directory_), kRefusedAsSystem);
        EXPECT_TRUE(Exists(module));
        EXPECT_TRUE(Exists(store + "\\users\\second\\Desktop\\theirs.txt"));
        EXPECT_TRUE(KeyExists(HKEY_LOCAL_MACHINE, kUninstallKey));
    }

    ASSERT_EQ(RunAndWait("\"" + directory_ + "\\uninstall.exe\" /S"), 0u);
    ASSERT_TRUE(WaitForUninstallerCopy());
    EXPECT_TRUE(Exists(desktop_ + "\\report.txt"));
    EXPECT_EQ(testbed::ReadTextFile(desktop_ + "\\Projects\\plan.txt"), "p");
    EXPECT_EQ(testbed::ReadTextFile(second.desktop + "\\theirs.txt"), "t");
    EXPECT_EQ(testbed::ReadTextFile(second.desktop + "\\Their folder\\inner.txt"), "i");
    // The running desktop keeps the module loaded, as the shell does: it goes at the next restart,
    // with its folder; everything else is gone now.
    for (const char* file : {"Plaxen.chm", "orvane.exe", "orvanew.exe", "uninstall.exe"})
        EXPECT_FALSE(Exists(directory_ + "\\" + file)) << file;
    EXPECT_FALSE(Exists(storeParent.substr(0, storeParent.rfind('\\')))) << "the store's folders stay";
    if (Exists(module)) {
        const std::map<std::string, std::string> pending = PendingOperations();
        EXPECT_EQ(pending.count(module), 1u);
        EXPECT_EQ(pending.count(directory_), 1u);
    }
    EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, "CLSID\\" + clsid));
    EXPECT_EQ(ReadString(HKEY_LOCAL_MACHINE, kRunKey, kRunValue), "<missing>");
    EXPECT_FALSE(KeyExists(HKEY_CURRENT_USER, plx::kRootKey));
}

TEST_F(InstallerTest, OutsideProgramFilesOnlyANewFolderBelowFoldersOnlyAdministratorsChangeIsTaken) {
    char programFiles[MAX_PATH] = {};
    ASSERT_EQ(SHGetFolderPathA(nullptr, CSIDL_PROGRAM_FILES, nullptr, 0, programFiles), S_OK);
    // Refused, with nothing installed or made: a folder that holds just a file "uninstall.exe" (no
    // uninstall entry names it), a folder that exists once ".." is taken out of a path through Program
    // Files, a new folder below one that everyone may change, and one below a link (to a folder that
    // only administrators change: a link can be turned elsewhere).
    const std::string holder = "C:\\OrvaneHolder", taken = "C:\\OrvaneTaken", open = "C:\\OrvaneOpen";
    const std::string closed = "C:\\OrvaneClosed", link = "C:\\OrvaneLink";
    for (const std::string& folder : {holder, taken, open, closed})
        ASSERT_TRUE(CreateDirectoryA(folder.c_str(), nullptr));
    ASSERT_TRUE(testbed::WriteTextFile(holder + "\\uninstall.exe", "not ours"));
    ASSERT_TRUE(testbed::WriteTextFile(taken + "\\notes.txt", "not ours"));
    ASSERT_TRUE(SetRules(open, "D:(A;OICI;FA;;;WD)"));
    ASSERT_TRUE(testbed::MakeDirectoryLink(link, closed));
    for (const std::string& folder :
         {holder, std::string(programFiles) + "\\..\\OrvaneTaken", open + "\\Orvane", link + "\\Orvane"}) {
        EXPECT_EQ(RunAndWait("\"" + setup_ + "\" /S /D=" + folder), 4u) << folder;
        EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, kUninstallKey)) << folder;
    }
    EXPECT_FALSE(Exists(holder + "\\Plaxen.dll"));
    EXPECT_EQ(testbed::ReadTextFile(holder + "\\uninstall.exe"), "not ours");
    EXPECT_FALSE(Exists(taken + "\\Plaxen.dll"));
    EXPECT_FALSE(Exists(open + "\\Orvane"));
    EXPECT_FALSE(Exists(closed + "\\Orvane"));
    EXPECT_TRUE(testbed::RemoveDirectoryLink(link));
    for (const std::string& folder : {holder, taken, open, closed}) testbed::RemoveTree(folder);

    // A new folder named through Program Files and "..": made where the path leads, outside Program
    // Files, with Program Files' rights, as is the new folder above it.
    directory_ = "C:\\OrvaneElsewhere\\Deluxe";
    ASSERT_EQ(RunAndWait("\"" + setup_ + "\" /S /D=" + programFiles + "\\..\\OrvaneElsewhere\\Deluxe"), 0u);
    EXPECT_EQ(ReadString(HKEY_LOCAL_MACHINE, kUninstallKey, "InstallLocation"), directory_);
    EXPECT_TRUE(Exists(directory_ + "\\Plaxen.dll"));
    EXPECT_EQ(testbed::SecuritySddl("C:\\OrvaneElsewhere"), ExpectedSddl(kInstallSddl));
    EXPECT_EQ(testbed::SecuritySddl(directory_), ExpectedSddl(kInstallSddl));
    EXPECT_EQ(testbed::SecuritySddl(directory_ + "\\Hidden"), ExpectedSddl(kStoreSddl));
    // An update goes into it again: its uninstall entry names it.
    EXPECT_EQ(RunAndWait("\"" + setup_ + "\" /S"), 0u);
    ASSERT_EQ(RunAndWait("\"" + directory_ + "\\uninstall.exe\" /S"), 0u);
    ASSERT_TRUE(WaitForUninstallerCopy());
    EXPECT_FALSE(Exists(directory_ + "\\Hidden"));
    EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, kUninstallKey));
    EXPECT_FALSE(Exists("C:\\OrvaneElsewhere"));
}

TEST_F(InstallerTest, BelowProgramFilesAFolderThatUsersMayChangeIsRefused) {
    const OpenVendorFolder vendor;
    for (const std::string& folder : vendor.Refused()) {
        EXPECT_EQ(RunAndWait("\"" + setup_ + "\" /S /D=" + folder), 4u) << folder;
        EXPECT_FALSE(Exists(folder + "\\Plaxen.dll")) << folder;
        EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, kUninstallKey)) << folder;
    }
    EXPECT_FALSE(Exists(vendor.path + "\\Orvane"));
}

TEST_F(InstallerTest, AnUpdateMovesTheStoreBesideTheModuleWholeAndTheUninstallReturnsItsItems) {
    ASSERT_EQ(RunAndWait("\"" + setup_ + "\" /S"), 0u);
    const std::string module = directory_ + "\\Plaxen.dll";
    ASSERT_TRUE(testbed::WriteTextFile(desktop_ + "\\report.txt", "r"));
    ASSERT_EQ(HideDesktopItems(module), 1);
    const SecondUser second;
    ASSERT_TRUE(plx::EnsureStoreDirectory(MachineStore(), "\\users\\second\\Desktop\\"));
    ASSERT_TRUE(testbed::WriteTextFile(MachineStore() + "\\users\\second\\Desktop\\theirs.txt", "t"));
    MoveStoreBesideModule(directory_);

    ASSERT_EQ(RunAndWait("\"" + setup_ + "\" /S"), 0u);
    EXPECT_FALSE(Exists(directory_ + "\\Hidden"));
    EXPECT_EQ(StoredItemsFound(module), 1);
    EXPECT_EQ(testbed::SecuritySddl(MachineStore()), ExpectedSddl(kStoreSddl));
    EXPECT_EQ(testbed::ReadTextFile(MachineStore() + "\\users\\second\\Desktop\\theirs.txt"), "t");

    ASSERT_EQ(RunAndWait("\"" + directory_ + "\\uninstall.exe\" /S"), 0u);
    ASSERT_TRUE(WaitForUninstallerCopy());
    EXPECT_EQ(testbed::ReadTextFile(desktop_ + "\\report.txt"), "r");
    EXPECT_EQ(testbed::ReadTextFile(second.desktop + "\\theirs.txt"), "t");
    EXPECT_FALSE(Exists(MachineStore()));
}

// After a setup run while the desktop holds the module, as every shell that ran an action does: the
// new module is the one in place and registered, now or at the next restart, nothing of the install
// goes at that restart, and the exit code asks for it.
void ExpectNewModuleInPlace(DWORD exitCode, const std::string& directory, const std::string& newBytes) {
    const std::string module = directory + "\\Plaxen.dll";
    const std::map<std::string, std::string> pending = PendingOperations();
    EXPECT_EQ(pending.count(module), 0u) << "the module itself is to be removed or replaced";
    EXPECT_EQ(pending.count(directory), 0u) << "the folder is to be removed";
    const auto replacement = std::find_if(pending.begin(), pending.end(),
                                          [&](const auto& operation) { return operation.second == module; });
    if (replacement != pending.end())
        EXPECT_TRUE(FileBytes(replacement->first) == newBytes)
            << "the module of the next restart is not the new one";
    else
        EXPECT_TRUE(FileBytes(module) == newBytes) << "the module in place is not the new one";
    EXPECT_EQ(exitCode, 3010u) << "the desktop keeps the old module until a restart";
    const std::string clsid = ReadString(HKEY_CLASSES_ROOT, kHandlerKey, nullptr);
    EXPECT_EQ(ReadString(HKEY_CLASSES_ROOT, "CLSID\\" + clsid + "\\InprocServer32", nullptr), module);
}

TEST_F(InstallerTest, ReinstallsAndUpdatesPutTheNewModuleInPlaceWhileTheDesktopHoldsTheOldOne) {
    const std::string module = directory_ + "\\Plaxen.dll";
    ASSERT_EQ(RunAndWait("\"" + setup_ + "\" /S"), 0u);
    // The setup's module, as every run of it installs it.
    const std::string newBytes = FileBytes(module);
    ASSERT_FALSE(newBytes.empty());
    // The installed module becomes an older one, which the desktop then loads and keeps.
    ASSERT_TRUE(testbed::WriteTextFile(module, newBytes + "older"));
    ASSERT_TRUE(testbed::WriteTextFile(desktop_ + "\\report.txt", "r"));
    ASSERT_TRUE(host_.Start());
    ASSERT_EQ(RunAndWait("\"" + directory_ + "\\orvane.exe\" save --quiet"), 0u);

    // The uninstall leaves the held module and the folder to the next restart; a setup before it
    // must not lose them to it.
    ASSERT_EQ(RunAndWait("\"" + directory_ + "\\uninstall.exe\" /S"), 0u);
    ASSERT_TRUE(WaitForUninstallerCopy());
    ASSERT_EQ(PendingOperations().count(module), 1u);
    ExpectNewModuleInPlace(RunAndWait("\"" + setup_ + "\" /S"), directory_, newBytes);

    // An update keeps the options of the install: here, no logon entry.
    plx::unique_hkey run = plx::OpenKeyForWriting(HKEY_LOCAL_MACHINE, kRunKey);
    ASSERT_TRUE(run);
    RegDeleteValueA(run.get(), kRunValue);
    // And it gives the store's shared folders their owner and rules again, as a user may have changed
    // them (or made the folder before the setup did), and leaves stored items as they are.
    const std::string users = MachineStore() + "\\users", stored = users + "\\OrvaneStored";
    ASSERT_TRUE(SetRules(users, "D:(A;OICI;FA;;;WD)"));
    ASSERT_NE(testbed::SecuritySddl(users), ExpectedSddl(kStoreSddl));
    ASSERT_TRUE(CreateDirectoryA(stored.c_str(), nullptr));
    ASSERT_TRUE(testbed::WriteTextFile(stored + "\\item.txt", "i"));
    ASSERT_TRUE(SetRules(stored + "\\item.txt", "D:(A;;FA;;;WD)"));
    const std::string storedRules = testbed::SecuritySddl(stored),
                      itemRules = testbed::SecuritySddl(stored + "\\item.txt");
    ExpectNewModuleInPlace(RunAndWait("\"" + setup_ + "\" /S"), directory_, newBytes);
    EXPECT_EQ(ReadString(HKEY_LOCAL_MACHINE, kRunKey, kRunValue), "<missing>");
    EXPECT_EQ(testbed::SecuritySddl(users), ExpectedSddl(kStoreSddl));
    EXPECT_EQ(testbed::SecuritySddl(stored), storedRules);
    EXPECT_EQ(testbed::SecuritySddl(stored + "\\item.txt"), itemRules);
    testbed::RemoveTree(stored);

    // A folder whose module would find another store is refused while the installed store keeps an item,
    // however deep in its folders, and while its folders go deeper than the setup looks (a user nests
    // folders as deep as they like).
    const std::string elsewhere = "C:\\OrvaneElsewhere";
    const std::string machineStore = MachineStore();
    std::string deep = machineStore + "\\deep";
    for (int level = 0; level < 70; ++level) deep += "\\d";
    const std::pair<std::string, std::string> stores[] = {{machineStore + "\\a\\b\\c", "kept.txt"},
                                                          {deep, ""}};
    for (const auto& [folder, file] : stores) {
        ASSERT_EQ(SHCreateDirectoryExA(nullptr, folder.c_str(), nullptr), ERROR_SUCCESS);
        if (!file.empty()) ASSERT_TRUE(testbed::WriteTextFile(folder + "\\" + file, "k"));
        EXPECT_EQ(RunAndWait("\"" + setup_ + "\" /S /D=" + elsewhere), 2u) << folder;
        EXPECT_FALSE(Exists(elsewhere));
        testbed::RemoveTree(folder.substr(0, folder.find('\\', machineStore.size() + 1)));
    }

    // Held open for deleting by somebody (who would rename it away once it is taken back, and make a new
    // one of her own): refused, as the setup holds each folder it secures without delete sharing.
    {
        plx::unique_hfile held(CreateFileA(users.c_str(), DELETE,
                                           FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                           OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
        ASSERT_TRUE(held);
        EXPECT_EQ(RunAndWait("\"" + setup_ + "\" /S"), 4u);
    }

    // A shared folder of the store that another user owns is taken back. Wine gives no file another
    // owner, so there the setup stops at the owner it reads back, before it installs anything.
    ASSERT_TRUE(testbed::GiveToAnotherUser(users));
    const DWORD code = RunAndWait("\"" + setup_ + "\" /S");
    if (testbed::OnWine()) {
        EXPECT_EQ(code, 4u);
    } else {
        ExpectNewModuleInPlace(code, directory_, newBytes);
        EXPECT_EQ(testbed::SecuritySddl(users), kStoreSddl);
    }
}

// The Windows Installer package of this architecture, as a management system runs it: silently,
// as an administrator, with its exit code and log.
constexpr DWORD kRefused = ERROR_INSTALL_FAILURE;

// The installed products of this name. By name, not by the packages' upgrade code: Wine's removal of
// the earlier product in an upgrade drops the upgrade code's whole registration, the new product's too.
std::vector<std::string> InstalledProducts() {
    std::vector<std::string> products;
    char product[39] = {};
    for (DWORD i = 0; MsiEnumProductsA(i, product) == ERROR_SUCCESS; ++i) {
        char name[64] = {};
        DWORD size = sizeof(name);
        if (MsiGetProductInfoA(product, INSTALLPROPERTY_PRODUCTNAME, name, &size) == ERROR_SUCCESS &&
            std::string(name) == "Quillmar Orvane Deluxe")
            products.push_back(product);
    }
    return products;
}

class PackageTest : public testing::Test {
protected:
    void SetUp() override {
        package_ = testbed::ExeDirectory() + "\\..\\..\\OrvaneDeluxe-x64.msi";
        earlier_ = testbed::ExeDirectory() + "\\..\\OrvaneDeluxe-x64-earlier.msi";
        if (!Exists(package_)) GTEST_SKIP() << "the Windows Installer package is built by scripts/testbed.sh";
        char programFiles[MAX_PATH] = {};
        ASSERT_EQ(SHGetFolderPathA(nullptr, CSIDL_PROGRAM_FILES, nullptr, 0, programFiles), S_OK);
        directory_ = std::string(programFiles) + "\\Quillmar\\Orvane Deluxe";
        log_ = testbed::ExeDirectory() + "\\package_test.log";
        plx::DeleteKeyTree(HKEY_CURRENT_USER, plx::kRootKey);
        testbed::EmptyDesktopFolders();
        desktop_ = testbed::UserDesktopDirectory();
    }
    void TearDown() override {
        host_.Stop();
        for (const std::string& product : InstalledProducts()) RunAndWait("msiexec /x " + product + " /qn");
        if (!directory_.empty()) testbed::RemoveTree(directory_);
        const std::string store = MachineStore();
        testbed::RemoveTree(store.substr(0, store.rfind('\\', store.rfind('\\') - 1)));
        DeleteFileA(log_.c_str());
        plx::SetModuleInstance(nullptr);
        testbed::EmptyDesktopFolders();
        plx::DeleteKeyTree(HKEY_CURRENT_USER, plx::kRootKey);
    }

    // Runs msiexec with the given options, a verbose log and no interface; its exit code.
    DWORD Msiexec(const std::string& options) {
        DeleteFileA(log_.c_str());
        return RunAndWait("msiexec " + options + " /qn /l*v \"" + log_ + "\"");
    }
    // The log of the last run, as plain text: Windows writes it in the system's code page, Wine in UTF-16.
    std::string Log() const {
        std::string text = testbed::ReadTextFile(log_);
        text.erase(std::remove(text.begin(), text.end(), '\0'), text.end());
        return text;
    }
    // Whether the log of the last run gives the reason of its refusal. Wine writes neither the message
    // of a launch condition nor that of an error action into the log, only the action that failed.
    bool LogGivesReason(const std::string& reason, const std::string& action) const {
        const std::string log = Log();
        return log.find(reason) != std::string::npos ||
               (testbed::OnWine() && log.find(": " + action + ". Return value 0.") != std::string::npos);
    }
    static bool Installed(DWORD code) {
        return code == ERROR_SUCCESS || code == ERROR_SUCCESS_REBOOT_REQUIRED;
    }

    std::string package_;
    std::string earlier_;
    std::string directory_;
    std::string log_;
    std::string desktop_;
    testbed::DesktopHostProcess host_;
};

TEST_F(PackageTest, InstallsSilentlyIntoTheSystemsViewAndRefusesWithItsReasonInTheLog) {
    // Refused, each with its reason in the log and nothing installed: a folder outside Program Files,
    // an install of the setup program, and (on 64-bit Windows) the 32-bit package.
    EXPECT_EQ(Msiexec("/i \"" + package_ + "\" INSTALLDIR=C:\\Orvane"), kRefused);
    EXPECT_TRUE(LogGivesReason("is installed only in a folder below", "RefuseInstallFolder"));
    {
        plx::unique_hkey setup = plx::CreateKey(HKEY_LOCAL_MACHINE, kUninstallKey);
        plx::WriteString(setup.get(), "InstallLocation", directory_);
    }
    EXPECT_EQ(Msiexec("/i \"" + package_ + "\""), kRefused);
    EXPECT_TRUE(LogGivesReason("was installed by its setup program", "LaunchConditions"));
    plx::DeleteKeyTree(HKEY_LOCAL_MACHINE, kUninstallKey);
    const std::string x86 = testbed::ExeDirectory() + "\\..\\..\\OrvaneDeluxe-x86.msi";
    if (Exists(x86)) {
        EXPECT_EQ(Msiexec("/i \"" + x86 + "\""), kRefused);
        EXPECT_TRUE(LogGivesReason("This package is for 32-bit Windows", "LaunchConditions"));
    }
    EXPECT_TRUE(InstalledProducts().empty());
    EXPECT_FALSE(Exists("C:\\Orvane"));
    EXPECT_FALSE(Exists(directory_ + "\\Plaxen.dll"));

    // With LOGONRESTORE=0: no logon entry.
    ASSERT_TRUE(Installed(Msiexec("/i \"" + package_ + "\" LOGONRESTORE=0"))) << Log();
    const std::string module = directory_ + "\\Plaxen.dll";
    for (const char* file : {"Plaxen.dll", "Plaxen.chm", "orvane.exe", "orvanew.exe", "policies\\orvane.admx",
                             "policies\\en-US\\orvane.adml"})
        EXPECT_TRUE(Exists(directory_ + "\\" + file)) << file;
    EXPECT_EQ(testbed::SecuritySddl(MachineStore() + SecondUser::ProfilesFolder().substr(2)),
              ExpectedSddl(kStoreSddl));
    EXPECT_EQ(ReadString(HKEY_LOCAL_MACHINE, kRunKey, kRunValue), "<missing>");
    // Registered by the module itself, in the registry view of the system's shell.
    const std::string clsid = ReadString(HKEY_CLASSES_ROOT, kHandlerKey, nullptr);
    EXPECT_EQ(clsid.size(), 38u) << clsid;
    EXPECT_EQ(ReadString(HKEY_CLASSES_ROOT, "CLSID\\" + clsid + "\\InprocServer32", nullptr), module);
    EXPECT_EQ(ReadString(HKEY_LOCAL_MACHINE, kApprovedKey, clsid.c_str()), "Quillmar Orvane Deluxe");

    // The companion works from the installed folder.
    ASSERT_TRUE(testbed::WriteTextFile(desktop_ + "\\report.txt", "r"));
    ASSERT_TRUE(host_.Start());
    EXPECT_EQ(RunAndWait("\"" + directory_ + "\\orvane.exe\" save --quiet"), 0u);
    host_.Stop();

    EXPECT_TRUE(Installed(Msiexec("/x \"" + package_ + "\""))) << Log();
    EXPECT_TRUE(InstalledProducts().empty());
    EXPECT_FALSE(Exists(directory_));
    EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, "CLSID\\" + clsid));
}

TEST_F(PackageTest, UpgradesAnEarlierVersionKeepingItsChoicesAndUninstallsWithoutLosingAHiddenItem) {
    ASSERT_FALSE(earlier_.empty());
    // A first install has the logon entry by default.
    ASSERT_TRUE(Installed(Msiexec("/i \"" + earlier_ + "\""))) << Log();
    const std::string logonEntry = "\"" + directory_ + "\\orvanew.exe\" keep --quiet --wait 60";
    EXPECT_EQ(ReadString(HKEY_LOCAL_MACHINE, kRunKey, kRunValue), logonEntry);
    const std::string module = directory_ + "\\Plaxen.dll";
    ASSERT_TRUE(testbed::WriteTextFile(desktop_ + "\\report.txt", "r"));
    ASSERT_EQ(HideDesktopItems(module), 1);
    // As versions before this one kept it: beside the module.
    MoveStoreBesideModule(directory_);

    // The update removes the earlier version, keeps the logon entry and leaves the item hidden, in the
    // store's new place, where the module finds it.
    ASSERT_TRUE(Installed(Msiexec("/i \"" + package_ + "\""))) << Log();
    const std::vector<std::string> products = InstalledProducts();
    ASSERT_EQ(products.size(), 1u);
    char version[32] = {};
    DWORD size = sizeof(version);
    EXPECT_EQ(MsiGetProductInfoA(products[0].c_str(), INSTALLPROPERTY_VERSIONSTRING, version, &size), 0u);
    EXPECT_STRNE(version, "1.0.0");
    EXPECT_EQ(ReadString(HKEY_LOCAL_MACHINE, kRunKey, kRunValue), logonEntry);
    EXPECT_FALSE(Exists(desktop_ + "\\report.txt"));
    EXPECT_TRUE(Exists(module));
    EXPECT_FALSE(Exists(directory_ + "\\Hidden"));
    EXPECT_EQ(StoredItemsFound(module), 1);

    // The uninstall brings the item back before it removes the module.
    ASSERT_TRUE(Installed(Msiexec("/x " + products[0]))) << Log();
    EXPECT_EQ(testbed::ReadTextFile(desktop_ + "\\report.txt"), "r");
    EXPECT_FALSE(Exists(directory_));
    EXPECT_EQ(ReadString(HKEY_LOCAL_MACHINE, kRunKey, kRunValue), "<missing>");
    EXPECT_TRUE(ReadString(HKEY_CLASSES_ROOT, kHandlerKey, nullptr) == "<missing>");
}

TEST_F(PackageTest, AnUpdateThatRollsBackLeavesTheStoreWhereTheEarlierVersionKeepsIt) {
    ASSERT_TRUE(Installed(Msiexec("/i \"" + earlier_ + "\""))) << Log();
    ASSERT_TRUE(testbed::WriteTextFile(MachineStore() + "\\kept.txt", "k"));
    MoveStoreBesideModule(directory_);
    // A folder where the update puts a file: it fails after it moved the store, and rolls back.
    const std::string help = directory_ + "\\Plaxen.chm";
    ASSERT_TRUE(DeleteFileA(help.c_str()));
    ASSERT_TRUE(CreateDirectoryA(help.c_str(), nullptr));
    ASSERT_TRUE(testbed::WriteTextFile(help + "\\in the way", "x"));
    EXPECT_FALSE(Installed(Msiexec("/i \"" + package_ + "\""))) << Log();
    EXPECT_EQ(testbed::ReadTextFile(directory_ + "\\Hidden\\kept.txt"), "k");
    EXPECT_FALSE(Exists(MachineStore()));
}

TEST_F(PackageTest, BelowProgramFilesAFolderThatUsersMayChangeIsRefused) {
    const OpenVendorFolder vendor;
    for (const std::string& folder : vendor.Refused()) {
        EXPECT_EQ(Msiexec("/i \"" + package_ + "\" INSTALLDIR=\"" + folder + "\""), kRefused) << folder;
        EXPECT_TRUE(LogGivesReason("users other than administrators can change", "CheckInstallFolder"))
            << Log();
        EXPECT_FALSE(Exists(folder + "\\Plaxen.dll")) << folder;
        EXPECT_TRUE(InstalledProducts().empty());
    }
}

TEST_F(PackageTest, AStoreFolderThatIsALinkIsRefusedAndWhatItLeadsToKeepsItsRules) {
    // An uninstall that left something in the store removed its empty mirror of the profiles folder; a
    // user put a link in its place, to a folder of her choosing.
    const std::string store = MachineStore();
    ASSERT_EQ(SHCreateDirectoryExA(nullptr, store.c_str(), nullptr), ERROR_SUCCESS);
    const std::string profiles = SecondUser::ProfilesFolder();
    const std::string mirror = store + profiles.substr(profiles.rfind('\\'));
    const testbed::TempDirectory decoy;
    ASSERT_TRUE(SetRules(decoy.path(), "D:(A;OICI;FA;;;WD)"));
    const std::string decoyRules = testbed::SecuritySddl(decoy.path());
    ASSERT_TRUE(testbed::MakeDirectoryLink(mirror, decoy.path()));

    EXPECT_EQ(Msiexec("/i \"" + package_ + "\""), kRefused);
    EXPECT_TRUE(LogGivesReason("is a file or a link", "PrepareStoreFolders")) << Log();
    EXPECT_EQ(testbed::SecuritySddl(decoy.path()), decoyRules);
    EXPECT_FALSE(Exists(directory_ + "\\Plaxen.dll"));
    EXPECT_TRUE(InstalledProducts().empty());
    EXPECT_TRUE(testbed::RemoveDirectoryLink(mirror));
}

TEST_F(PackageTest, ARepairKeepsTheLogonEntryAsInstalled) {
    ASSERT_TRUE(Installed(Msiexec("/i \"" + package_ + "\" LOGONRESTORE=1"))) << Log();
    const std::string entry = ReadString(HKEY_LOCAL_MACHINE, kRunKey, kRunValue);
    ASSERT_NE(entry, "<missing>");
    const std::vector<std::string> products = InstalledProducts();
    ASSERT_EQ(products.size(), 1u);
    // A repair as msiexec /fomus asks for it (Wine's msiexec refuses /f with a product code).
    EXPECT_TRUE(Installed(Msiexec("/i " + products[0] + " REINSTALL=ALL REINSTALLMODE=omus LOGONRESTORE=0")))
        << Log();
    EXPECT_EQ(ReadString(HKEY_LOCAL_MACHINE, kRunKey, kRunValue), entry);
    // Wine looks at no component's condition again in a repair, so there the entry stays whatever the
    // property says; the repair must have run with the installed choice, which Windows does look at.
    EXPECT_NE(Log().find("Property(S): LOGONRESTORE = 1"), std::string::npos) << Log();
}

}  // namespace
