// The built module: it loads, and it carries the identity other programs and the shell read from it.
#include <windows.h>

#include <cstring>
#include <set>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "testbed/testbed.h"

namespace {

class ModuleTest : public testing::Test {
protected:
    void SetUp() override {
        module_ = LoadLibraryA(testbed::ModulePath().c_str());
        ASSERT_NE(module_, nullptr) << "cannot load " << testbed::ModulePath() << ", error "
                                    << GetLastError();
    }
    void TearDown() override {
        if (module_) FreeLibrary(module_);
    }

    template <typename T>
    const T* At(DWORD rva) const {
        return reinterpret_cast<const T*>(reinterpret_cast<const BYTE*>(module_) + rva);
    }
    const IMAGE_DATA_DIRECTORY& Directory(int index) const {
        auto* dos = At<IMAGE_DOS_HEADER>(0);
        auto* nt = At<IMAGE_NT_HEADERS>(dos->e_lfanew);
        return nt->OptionalHeader.DataDirectory[index];
    }
    std::string StringValue(const std::vector<BYTE>& block, const char* name) const {
        char* value = nullptr;
        UINT size = 0;
        std::string query = std::string("\\StringFileInfo\\040904b0\\") + name;
        if (!VerQueryValueA(block.data(), query.c_str(), reinterpret_cast<void**>(&value), &size) || !value)
            return {};
        return value;
    }

    HMODULE module_ = nullptr;
};

TEST_F(ModuleTest, VersionBlockNamesTheProductAndVersion) {
    const std::string path = testbed::ModulePath();
    DWORD handle = 0;
    DWORD size = GetFileVersionInfoSizeA(path.c_str(), &handle);
    ASSERT_GT(size, 0u);
    std::vector<BYTE> block(size);
    ASSERT_TRUE(GetFileVersionInfoA(path.c_str(), 0, size, block.data()));

    VS_FIXEDFILEINFO* fixed = nullptr;
    UINT fixedSize = 0;
    ASSERT_TRUE(VerQueryValueA(block.data(), "\\", reinterpret_cast<void**>(&fixed), &fixedSize));
    ASSERT_NE(fixed, nullptr);
    EXPECT_EQ(fixed->dwFileVersionMS, 0x00010001u);
    EXPECT_EQ(fixed->dwFileVersionLS, 0x00000001u);
    EXPECT_EQ(fixed->dwProductVersionMS, 0x00010001u);
    EXPECT_EQ(fixed->dwProductVersionLS, 0x00000001u);
    EXPECT_EQ(fixed->dwFileType, static_cast<DWORD>(VFT_DLL));

    EXPECT_EQ(StringValue(block, "ProductName"), "Quillmar Orvane Deluxe");
    EXPECT_EQ(StringValue(block, "FileVersion"), "1.1.0.1");
    EXPECT_EQ(StringValue(block, "ProductVersion"), "1.1.0.1");
}

TEST_F(ModuleTest, ManifestAsksForCommonControlsSix) {
    HRSRC res = FindResourceA(module_, MAKEINTRESOURCEA(3), MAKEINTRESOURCEA(24));  // RT_MANIFEST
    ASSERT_NE(res, nullptr);
    HGLOBAL data = LoadResource(module_, res);
    ASSERT_NE(data, nullptr);
    std::string text(static_cast<const char*>(LockResource(data)), SizeofResource(module_, res));
    EXPECT_NE(text.find("name=\"Microsoft.Windows.Orvane\""), std::string::npos);
    EXPECT_NE(text.find("name=\"Microsoft.Windows.Common-Controls\" version=\"6.0.0.0\""), std::string::npos);

    // The activation context built from it is what the module's windows are created in.
    char path[MAX_PATH];
    ASSERT_TRUE(GetModuleFileNameA(module_, path, MAX_PATH));
    ACTCTXA ctx = {sizeof(ctx)};
    ctx.dwFlags = ACTCTX_FLAG_RESOURCE_NAME_VALID | ACTCTX_FLAG_HMODULE_VALID;
    ctx.lpSource = path;
    ctx.lpResourceName = MAKEINTRESOURCEA(3);
    ctx.hModule = module_;
    HANDLE actCtx = CreateActCtxA(&ctx);
    EXPECT_NE(actCtx, INVALID_HANDLE_VALUE) << GetLastError();
    if (actCtx != INVALID_HANDLE_VALUE) ReleaseActCtx(actCtx);
}

TEST_F(ModuleTest, IconAndAgentTemplateArePresent) {
    HICON small = static_cast<HICON>(LoadImageA(module_, MAKEINTRESOURCEA(103), IMAGE_ICON, 16, 16, 0));
    HICON large = static_cast<HICON>(LoadImageA(module_, MAKEINTRESOURCEA(103), IMAGE_ICON, 32, 32, 0));
    EXPECT_NE(small, nullptr);
    EXPECT_NE(large, nullptr);
    if (small) DestroyIcon(small);
    if (large) DestroyIcon(large);

    HRSRC dialog = FindResourceA(module_, MAKEINTRESOURCEA(201), MAKEINTRESOURCEA(5));  // RT_DIALOG
    ASSERT_NE(dialog, nullptr);
    // DIALOGEX: signature, then help id, extended style, style.
    auto* words = static_cast<const WORD*>(LockResource(LoadResource(module_, dialog)));
    ASSERT_EQ(words[1], 0xFFFF);
    DWORD style = *reinterpret_cast<const DWORD*>(words + 6);
    EXPECT_TRUE(style & WS_CAPTION);
    EXPECT_TRUE(style & DS_SETFONT);
    EXPECT_FALSE(style & WS_VISIBLE);
}

TEST_F(ModuleTest, ExportTableIsNamedPlaxenAndUndecorated) {
    const IMAGE_DATA_DIRECTORY& dir = Directory(IMAGE_DIRECTORY_ENTRY_EXPORT);
    ASSERT_NE(dir.VirtualAddress, 0u);
    auto* exports = At<IMAGE_EXPORT_DIRECTORY>(dir.VirtualAddress);
    EXPECT_STREQ(At<char>(exports->Name), "Plaxen.DLL");
    auto* names = At<DWORD>(exports->AddressOfNames);
    for (DWORD i = 0; i < exports->NumberOfNames; ++i) {
        const char* name = At<char>(names[i]);
        EXPECT_EQ(std::strchr(name, '@'), nullptr) << name;
        EXPECT_NE(GetProcAddress(module_, name), nullptr) << name;
    }
    for (const char* name : {"DllCanUnloadNow", "SaveCurrentProfile", "SaveStartupIconPositions",
                             "RestoreIconPositions", "RestoreStartupIconPositions", "CreateDefaultProfile"})
        EXPECT_NE(GetProcAddress(module_, name), nullptr) << name;
}

TEST_F(ModuleTest, NoSectionIsSharedBetweenProcesses) {
    // Memory shared by every process that maps the module would be one copy for every user and
    // session of the machine.
    auto* nt = At<IMAGE_NT_HEADERS>(At<IMAGE_DOS_HEADER>(0)->e_lfanew);
    const IMAGE_SECTION_HEADER* section = IMAGE_FIRST_SECTION(nt);
    for (WORD i = 0; i < nt->FileHeader.NumberOfSections; ++i, ++section)
        EXPECT_FALSE(section->Characteristics & IMAGE_SCN_MEM_SHARED)
            << std::string(reinterpret_cast<const char*>(section->Name), 8).c_str();
}

TEST_F(ModuleTest, NeedsNoRuntimeLibraryBesideIt) {
    const IMAGE_DATA_DIRECTORY& dir = Directory(IMAGE_DIRECTORY_ENTRY_IMPORT);
    ASSERT_NE(dir.VirtualAddress, 0u);
    const std::set<std::string> system = {"KERNEL32.DLL", "USER32.DLL",  "GDI32.DLL",   "ADVAPI32.DLL",
                                          "SHELL32.DLL",  "SHLWAPI.DLL", "OLE32.DLL",   "OLEAUT32.DLL",
                                          "COMCTL32.DLL", "MSVCRT.DLL",  "VERSION.DLL", "WTSAPI32.DLL"};
    for (auto* imp = At<IMAGE_IMPORT_DESCRIPTOR>(dir.VirtualAddress); imp->Name; ++imp) {
        std::string name = At<char>(imp->Name);
        for (char& c : name) c = static_cast<char>(toupper(static_cast<unsigned char>(c)));
        EXPECT_TRUE(system.count(name) || name.rfind("API-MS-WIN-", 0) == 0) << "imports " << name;
    }
}

}  // namespace
