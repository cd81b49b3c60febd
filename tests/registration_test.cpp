// The module as an in-process COM server: registered and unregistered with the system's own regsvr32,
// its class object and handler object loaded from a copy of the module, and the stand-in desktop
// hosting the registered handler as the shell does.
// clang-format off
#include <windows.h>
#include <aclapi.h>
#include <shlobj.h>
// clang-format on

#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

#include "com/identities.h"
#include "win32/module.h"
#include "store/catalogue.h"
#include "store/moves.h"
#include "store/profile_tree.h"
#include "store/visibility.h"
#include "testbed/desktop_host_process.h"
#include "tests/support/message_boxes.h"
#include "testbed/module_copy.h"
#include "testbed/testbed.h"
#include "win32/unique.h"

namespace {

const std::string kClsid = plx::GuidString(CLSID_DesktopPlaxen);
const std::string kAppIdText = plx::GuidString(plx::kAppId);
const std::string kLibId = plx::GuidString(LIBID_PlaxenLib);
const std::string kClassKey = "CLSID\\" + kClsid;
const std::string kHandlerKey = std::string(plx::kContextMenuHandlersKey) + "\\Plaxen";

// Runs the system's regsvr32 (for a 32-bit caller Wine takes the one in syswow64) on the module.
DWORD Regsvr32(const std::wstring& modulePath, bool unregister) {
    wchar_t system[MAX_PATH] = {};
    GetSystemDirectoryW(system, MAX_PATH);
    std::wstring command = L"\"" + std::wstring(system) + L"\\regsvr32.exe\" /s " +
                           (unregister ? L"/u " : L"") + L"\"" + modulePath + L"\"";
    PROCESS_INFORMATION pi = {};
    if (!testbed::StartTiedProcess(command, pi)) return ~0u;
    DWORD code = ~0u;
    if (WaitForSingleObject(pi.hProcess, 60000) == WAIT_OBJECT_0) GetExitCodeProcess(pi.hProcess, &code);
    CloseHandle(pi.hProcess);
    CloseHandle(pi.hThread);
    return code;
}
DWORD Regsvr32(const std::string& modulePath, bool unregister) {
    std::wstring wide(modulePath.size(), L'\0');
    wide.resize(static_cast<size_t>(MultiByteToWideChar(CP_ACP, 0, modulePath.data(),
                                                        static_cast<int>(modulePath.size()), &wide[0],
                                                        static_cast<int>(wide.size()))));
    return Regsvr32(wide, unregister);
}

bool KeyExists(HKEY root, const std::string& path) {
    return static_cast<bool>(plx::OpenKeyForReading(root, path));
}

// The value's text, or "<missing>".
std::string Text(HKEY root, const std::string& path, const char* name = nullptr) {
    plx::unique_hkey key = plx::OpenKeyForReading(root, path);
    std::string value;
    if (!key || plx::ReadString(key.get(), name, value, 1024) != ERROR_SUCCESS) return "<missing>";
    return value;
}

std::vector<std::string> Subkeys(HKEY root, const std::string& path) {
    std::vector<std::string> names;
    plx::unique_hkey key = plx::OpenKeyForReading(root, path);
    if (key)
        plx::ForEachSubkey(key.get(), [&](const std::string& name) {
            names.push_back(name);
            return true;
        });
    return names;
}

class RegistrationTest : public testing::Test {
protected:
    void SetUp() override {
        plx::DeleteKeyTree(HKEY_CURRENT_USER, plx::kRootKey);
        testbed::EmptyDesktopFolders();
        ASSERT_TRUE(module_.Loaded());
    }
    void TearDown() override {
        Regsvr32(module_.AnsiPath(), true);
        testbed::EmptyDesktopFolders();
        plx::DeleteKeyTree(HKEY_CURRENT_USER, plx::kRootKey);
    }
    template <typename F>
    F Export(const char* name) const {
        return reinterpret_cast<F>(GetProcAddress(module_.Handle(), name));
    }
    HRESULT ClassObject(REFCLSID clsid, void** object) const {
        auto get = Export<HRESULT(WINAPI*)(REFCLSID, REFIID, void**)>("DllGetClassObject");
        return get(clsid, IID_IClassFactory, object);
    }
    HRESULT CanUnloadNow() const { return Export<HRESULT(WINAPI*)()>("DllCanUnloadNow")(); }

    testbed::ModuleCopy module_;
};

TEST_F(RegistrationTest, RegsvrWritesEachEntryOnceAndUnregisteringRemovesThemAndTheUserTree) {
    ASSERT_EQ(Regsvr32(module_.AnsiPath(), false), 0u);
    // Stale keys below the entries that registration replaces must not survive a second run.
    plx::CreateKey(HKEY_CLASSES_ROOT, kClassKey + "\\Stale");
    plx::CreateKey(HKEY_CLASSES_ROOT, kHandlerKey + "\\Stale");
    ASSERT_EQ(Regsvr32(module_.AnsiPath(), false), 0u);

    EXPECT_EQ(Text(HKEY_CLASSES_ROOT, "Plaxen.DesktopPlaxen.1"), "DesktopPlaxen Class");
    EXPECT_EQ(Text(HKEY_CLASSES_ROOT, "Plaxen.DesktopPlaxen.1\\CLSID"), kClsid);
    EXPECT_EQ(Text(HKEY_CLASSES_ROOT, "Plaxen.DesktopPlaxen"), "DesktopPlaxen Class");
    EXPECT_EQ(Text(HKEY_CLASSES_ROOT, "Plaxen.DesktopPlaxen\\CLSID"), kClsid);
    EXPECT_EQ(Text(HKEY_CLASSES_ROOT, "Plaxen.DesktopPlaxen\\CurVer"), "Plaxen.DesktopPlaxen.1");
    EXPECT_EQ(Text(HKEY_CLASSES_ROOT, kClassKey), "DesktopPlaxen Class");
    EXPECT_EQ(Text(HKEY_CLASSES_ROOT, kClassKey, "AppID"), kAppIdText);
    EXPECT_EQ(Text(HKEY_CLASSES_ROOT, kClassKey + "\\ProgID"), "Plaxen.DesktopPlaxen.1");
    EXPECT_EQ(Text(HKEY_CLASSES_ROOT, kClassKey + "\\VersionIndependentProgID"), "Plaxen.DesktopPlaxen");
    EXPECT_TRUE(KeyExists(HKEY_CLASSES_ROOT, kClassKey + "\\Programmable"));
    EXPECT_EQ(Text(HKEY_CLASSES_ROOT, kClassKey + "\\InprocServer32"), module_.AnsiPath());
    EXPECT_EQ(Text(HKEY_CLASSES_ROOT, kClassKey + "\\InprocServer32", "ThreadingModel"), "Apartment");
    EXPECT_EQ(Text(HKEY_CLASSES_ROOT, kClassKey + "\\TypeLib"), kLibId);
    EXPECT_EQ(Subkeys(HKEY_CLASSES_ROOT, kClassKey),
              (std::vector<std::string>{"InprocServer32", "ProgID", "Programmable", "TypeLib",
                                        "VersionIndependentProgID"}));
    EXPECT_EQ(Text(HKEY_CLASSES_ROOT, kHandlerKey), kClsid);
    EXPECT_TRUE(Subkeys(HKEY_CLASSES_ROOT, kHandlerKey).empty());
    int handlers = 0;
    for (const std::string& name : Subkeys(HKEY_CLASSES_ROOT, plx::kContextMenuHandlersKey))
        handlers +=
            Text(HKEY_CLASSES_ROOT, std::string(plx::kContextMenuHandlersKey) + "\\" + name) == kClsid;
    EXPECT_EQ(handlers, 1);
    EXPECT_EQ(Text(HKEY_CLASSES_ROOT, "AppID\\" + kAppIdText), "Plaxen");
    EXPECT_EQ(Text(HKEY_CLASSES_ROOT, "AppID\\Plaxen.DLL", "AppID"), kAppIdText);
    EXPECT_EQ(Text(HKEY_LOCAL_MACHINE, plx::kApprovedKey, kClsid.c_str()), "Quillmar Orvane Deluxe");
    EXPECT_EQ(Text(HKEY_CLASSES_ROOT, "TypeLib\\" + kLibId + "\\1.0"), "Plaxen 1.0 Type Library");
    BSTR library = nullptr;
    EXPECT_EQ(QueryPathOfRegTypeLib(LIBID_PlaxenLib, 1, 0, 0x409, &library), S_OK);
    SysFreeString(library);

    plx::unique_hkey profile = plx::CreateKey(HKEY_CURRENT_USER, plx::ProfileKeyPath("Default") + "\\Manual");
    ASSERT_TRUE(profile);
    profile.reset();
    ASSERT_EQ(Regsvr32(module_.AnsiPath(), true), 0u);
    for (const std::string& gone :
         {std::string("Plaxen.DesktopPlaxen.1"), std::string("Plaxen.DesktopPlaxen"), kClassKey, kHandlerKey,
          "AppID\\" + kAppIdText, std::string("AppID\\Plaxen.DLL"), "TypeLib\\" + kLibId})
        EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, gone)) << gone;
    EXPECT_EQ(Text(HKEY_LOCAL_MACHINE, plx::kApprovedKey, kClsid.c_str()), "<missing>");
    EXPECT_FALSE(KeyExists(HKEY_CURRENT_USER, plx::kRootKey));
    for (const char* kept : {"CLSID", "AppID", "Directory", "Directory\\Background",
                             "Directory\\Background\\shellex", plx::kContextMenuHandlersKey})
        EXPECT_TRUE(KeyExists(HKEY_CLASSES_ROOT, kept)) << kept;
    EXPECT_TRUE(KeyExists(HKEY_LOCAL_MACHINE, plx::kApprovedKey));
}

// Takes the right to set values on the approval key from everybody, as a machine whose administrator
// keeps that key locked does, and gives the key its own security back afterwards.
class ApprovalKeyLocked {
public:
    ApprovalKeyLocked() {
        HKEY raw = nullptr;
        if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, plx::kApprovedKey, 0, READ_CONTROL | WRITE_DAC, &raw) !=
            ERROR_SUCCESS)
            return;
        key_.reset(raw);
        DWORD size = 0;
        RegGetKeySecurity(key_.get(), DACL_SECURITY_INFORMATION, nullptr, &size);
        saved_.resize(size);
        if (RegGetKeySecurity(key_.get(), DACL_SECURITY_INFORMATION, saved_.data(), &size) != ERROR_SUCCESS)
            return;

        SID_IDENTIFIER_AUTHORITY world = SECURITY_WORLD_SID_AUTHORITY;
        PSID everyone = nullptr;
        if (!AllocateAndInitializeSid(&world, 1, SECURITY_WORLD_RID, 0, 0, 0, 0, 0, 0, 0, &everyone)) return;
        std::vector<BYTE> acl(sizeof(ACL) + 2 * (sizeof(ACCESS_ALLOWED_ACE) + GetLengthSid(everyone)));
        auto* dacl = reinterpret_cast<PACL>(acl.data());
        SECURITY_DESCRIPTOR descriptor;
        locked_ = InitializeAcl(dacl, static_cast<DWORD>(acl.size()), ACL_REVISION) &&
                  AddAccessDeniedAce(dacl, ACL_REVISION, KEY_SET_VALUE, everyone) &&
                  AddAccessAllowedAce(dacl, ACL_REVISION, KEY_ALL_ACCESS, everyone) &&
                  InitializeSecurityDescriptor(&descriptor, SECURITY_DESCRIPTOR_REVISION) &&
                  SetSecurityDescriptorDacl(&descriptor, TRUE, dacl, FALSE) &&
                  RegSetKeySecurity(key_.get(), DACL_SECURITY_INFORMATION, &descriptor) == ERROR_SUCCESS;
        FreeSid(everyone);
    }
    ~ApprovalKeyLocked() {
        if (locked_) RegSetKeySecurity(key_.get(), DACL_SECURITY_INFORMATION, saved_.data());
    }
    bool Locked() const { return locked_; }

private:
    plx::unique_hkey key_;
    std::vector<BYTE> saved_;
    bool locked_ = false;
};

TEST_F(RegistrationTest, WithoutTheRightToApproveNothingIsRegistered) {
    auto registerServer = Export<HRESULT(WINAPI*)()>("DllRegisterServer");
    ASSERT_TRUE(registerServer);
    {
        ApprovalKeyLocked lock;
        ASSERT_TRUE(lock.Locked());
        HKEY probe = nullptr;
        ASSERT_NE(RegOpenKeyExA(HKEY_LOCAL_MACHINE, plx::kApprovedKey, 0, KEY_SET_VALUE, &probe),
                  ERROR_SUCCESS)
            << "the system did not refuse the locked key";
        EXPECT_EQ(registerServer(), E_ACCESSDENIED);
    }
    EXPECT_EQ(Text(HKEY_LOCAL_MACHINE, plx::kApprovedKey, kClsid.c_str()), "<missing>");
    for (const std::string& absent : {kClassKey, kHandlerKey, "AppID\\" + kAppIdText,
                                      std::string("Plaxen.DesktopPlaxen"), "TypeLib\\" + kLibId})
        EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, absent)) << absent;
    // With the key's own security back, registering works.
    EXPECT_EQ(registerServer(), S_OK);
}

TEST_F(RegistrationTest, ClassObjectServesOneClassAndTheModuleStaysWhileAHandlerLives) {
    void* object = reinterpret_cast<void*>(1);
    EXPECT_EQ(ClassObject(IID_IContextMenu, &object), CLASS_E_CLASSNOTAVAILABLE);
    EXPECT_EQ(object, nullptr);
    EXPECT_EQ(ClassObject(CLSID_DesktopPlaxen, nullptr), E_POINTER);

    plx::ComPtr<IClassFactory> factory;
    ASSERT_EQ(ClassObject(CLSID_DesktopPlaxen, reinterpret_cast<void**>(factory.put())), S_OK);
    plx::ComPtr<IClassFactory> again;
    ASSERT_EQ(ClassObject(CLSID_DesktopPlaxen, reinterpret_cast<void**>(again.put())), S_OK);
    EXPECT_EQ(factory.get(), again.get());  // made once, then kept
    EXPECT_EQ(CanUnloadNow(), S_OK);

    plx::ComPtr<IContextMenu> menu;
    ASSERT_EQ(factory->CreateInstance(nullptr, IID_IContextMenu, reinterpret_cast<void**>(menu.put())), S_OK);
    EXPECT_EQ(CanUnloadNow(), S_FALSE);
    // Its interfaces, all of one object.
    plx::ComPtr<IUnknown> identity, viaDispatch;
    plx::ComPtr<IDispatch> dispatch;
    plx::ComPtr<IShellExtInit> init;
    ASSERT_EQ(menu->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(identity.put())), S_OK);
    ASSERT_EQ(menu->QueryInterface(IID_IDispatch, reinterpret_cast<void**>(dispatch.put())), S_OK);
    ASSERT_EQ(dispatch->QueryInterface(IID_IShellExtInit, reinterpret_cast<void**>(init.put())), S_OK);
    ASSERT_EQ(init->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(viaDispatch.put())), S_OK);
    EXPECT_EQ(identity.get(), viaDispatch.get());
    UINT typeInfos = 1;
    EXPECT_EQ(dispatch->GetTypeInfoCount(&typeInfos), S_OK);
    EXPECT_EQ(typeInfos, 0u);
    void* none = nullptr;
    EXPECT_EQ(menu->QueryInterface(IID_IContextMenu2, &none), E_NOINTERFACE);
    EXPECT_EQ(menu->QueryInterface(IID_IContextMenu3, &none), E_NOINTERFACE);

    identity.reset();
    viaDispatch.reset();
    dispatch.reset();
    init.reset();
    EXPECT_EQ(CanUnloadNow(), S_FALSE);
    menu.reset();
    EXPECT_EQ(CanUnloadNow(), S_OK);

    ASSERT_EQ(factory->LockServer(TRUE), S_OK);
    EXPECT_EQ(CanUnloadNow(), S_FALSE);
    ASSERT_EQ(factory->LockServer(FALSE), S_OK);
    EXPECT_EQ(CanUnloadNow(), S_OK);
}

// An object that aggregates the handler: it hands out the handler's interfaces as its own.
class Outer final : public IUnknown {
public:
    STDMETHODIMP QueryInterface(REFIID iid, void** object) override {
        if (IsEqualIID(iid, IID_IUnknown)) {
            *object = this;
            AddRef();
            return S_OK;
        }
        return inner_ ? inner_->QueryInterface(iid, object) : E_NOINTERFACE;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return ++references_; }
    STDMETHODIMP_(ULONG) Release() override { return --references_; }

    IUnknown* inner_ = nullptr;
    ULONG references_ = 1;
};

TEST_F(RegistrationTest, AggregatedHandlerAnswersForItsOuterObject) {
    plx::ComPtr<IClassFactory> factory;
    ASSERT_EQ(ClassObject(CLSID_DesktopPlaxen, reinterpret_cast<void**>(factory.put())), S_OK);
    Outer outer;
    void* refused = reinterpret_cast<void*>(1);
    EXPECT_EQ(factory->CreateInstance(&outer, IID_IContextMenu, &refused), CLASS_E_NOAGGREGATION);
    EXPECT_EQ(refused, nullptr);
    ASSERT_EQ(factory->CreateInstance(&outer, IID_IUnknown, reinterpret_cast<void**>(&outer.inner_)), S_OK);
    EXPECT_EQ(outer.references_, 1u);  // the inner object does not hold its outer one
    EXPECT_EQ(CanUnloadNow(), S_FALSE);

    // Through the outer object, in the order of the handler's table; each answer leads back to it.
    for (const IID* iid : {&IID_IDispatch, &IID_IShellExtInit, &IID_IContextMenu}) {
        IUnknown* part = nullptr;
        ASSERT_EQ(outer.QueryInterface(*iid, reinterpret_cast<void**>(&part)), S_OK);
        EXPECT_EQ(outer.references_, 2u);  // a reference on a part counts on the outer object
        IUnknown* identity = nullptr;
        ASSERT_EQ(part->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(&identity)), S_OK);
        EXPECT_EQ(identity, &outer);
        identity->Release();
        part->Release();
        EXPECT_EQ(outer.references_, 1u);
    }
    void* none = nullptr;
    EXPECT_EQ(outer.QueryInterface(IID_IContextMenu2, &none), E_NOINTERFACE);
    // The inner identity answers for itself only.
    IUnknown* innerIdentity = nullptr;
    ASSERT_EQ(outer.inner_->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(&innerIdentity)), S_OK);
    EXPECT_EQ(innerIdentity, outer.inner_);
    innerIdentity->Release();

    EXPECT_EQ(outer.inner_->Release(), 0u);
    outer.inner_ = nullptr;
    EXPECT_EQ(CanUnloadNow(), S_OK);
}

TEST_F(RegistrationTest, UnregisteringWithoutAShellBringsTheHiddenItemsBack) {
    ASSERT_EQ(Regsvr32(module_.AnsiPath(), false), 0u);
    const std::string desktop = testbed::UserDesktopDirectory();
    for (const char* name : {"alpha.txt", "beta.txt", "gamma.txt"})
        ASSERT_TRUE(testbed::WriteTextFile(desktop + "\\" + name, name));
    // Hide the three as a profile would, into the store beside the registered copy.
    plx::SetModuleInstance(module_.Handle());
    const std::string store = plx::HiddenStoreDirectory();
    plx::DesktopItemList items = plx::BuildItemCatalogue(nullptr);
    {
        plx::unique_hkey hidden = plx::CreateKey(HKEY_CURRENT_USER, plx::kHiddenItemsKey);
        CreateDirectoryA(store.c_str(), nullptr);
        for (plx::DesktopItem& item : items) {
            if (!item.Movable()) continue;
            item.Visible = false;
            EXPECT_EQ(plx::ApplyItemVisibility(item, store, hidden.get()), plx::VisibilityOutcome::Hidden);
        }
    }
    plx::SetModuleInstance(nullptr);
    // A new file took gamma's place on the desktop: gamma cannot come back, and must not be lost.
    ASSERT_TRUE(testbed::WriteTextFile(desktop + "\\gamma.txt", "newer"));
    ASSERT_EQ(testbed::FindAgentWindow(), nullptr);

    ASSERT_EQ(Regsvr32(module_.AnsiPath(), true), 0u);

    EXPECT_EQ(testbed::ReadTextFile(desktop + "\\alpha.txt"), "alpha.txt");
    EXPECT_EQ(testbed::ReadTextFile(desktop + "\\beta.txt"), "beta.txt");
    EXPECT_EQ(testbed::ReadTextFile(desktop + "\\gamma.txt"), "newer");
    EXPECT_EQ(testbed::ReadTextFile(plx::StorePathFor(store, desktop + "\\gamma.txt")), "gamma.txt");
    EXPECT_EQ(GetFileAttributesA(plx::StorePathFor(store, desktop + "\\alpha.txt").c_str()),
              INVALID_FILE_ATTRIBUTES);
    // Of the user's tree only what finds gamma again is left.
    EXPECT_EQ(Subkeys(HKEY_CURRENT_USER, plx::kRootKey), (std::vector<std::string>{"HiddenItems", "Items"}));
    EXPECT_EQ(Subkeys(HKEY_CURRENT_USER, plx::kHiddenItemsKey),
              (std::vector<std::string>{plx::ItemKeyName(desktop + "\\gamma.txt")}));
    EXPECT_TRUE(Subkeys(HKEY_CURRENT_USER, plx::kItemsKey).empty());
    plx::unique_hkey catalogue = plx::OpenKeyForReading(HKEY_CURRENT_USER, plx::kItemsKey);
    DWORD next = 0;
    EXPECT_EQ(plx::ReadNumber(catalogue.get(), "NextID", next), ERROR_SUCCESS);
    EXPECT_GE(next, 3u);
    // The registration entries went all the same.
    EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, kClassKey));
    EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, kHandlerKey));
}

// Calls the module's DllUnregisterServer on a thread that acts with token (null: the process's own).
HRESULT UnregisterActingAs(HRESULT(WINAPI* unregister)(), HANDLE token) {
    HRESULT result = E_UNEXPECTED;
    std::thread caller([&] {
        if (token && !SetThreadToken(nullptr, token)) return;
        OleInitialize(nullptr);
        result = unregister();
        OleUninitialize();
        if (token) RevertToSelf();
    });
    caller.join();
    return result;
}

TEST_F(RegistrationTest, UnderAnAdministratorsTokenTheUsersOwnReleaseDoesNotRun) {
    HANDLE raw = nullptr;
    ASSERT_TRUE(OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &raw));
    const plx::unique_handle process(raw);
    TOKEN_ELEVATION elevation = {};
    DWORD size = 0;
    ASSERT_TRUE(GetTokenInformation(process.get(), TokenElevation, &elevation, sizeof(elevation), &size));
    auto unregister = Export<HRESULT(WINAPI*)()>("DllUnregisterServer");
    ASSERT_TRUE(unregister);

    // What a hide between volumes that was cut short leaves: the item still on the desktop, its entry
    // marked as moving into the store, and a partial copy in the user's own folder of the store.
    plx::SetModuleInstance(module_.Handle());
    const std::string store = plx::HiddenStoreDirectory();
    plx::SetModuleInstance(nullptr);
    const std::string item = testbed::UserDesktopDirectory() + "\\alpha.txt";
    const std::string partial = plx::StagingPathFor(plx::StorePathFor(store, item));
    const auto interruptedHide = [&] {
        ASSERT_TRUE(testbed::WriteTextFile(item, "alpha"));
        CreateDirectoryA(store.c_str(), nullptr);
        ASSERT_TRUE(plx::EnsureStoreDirectory(store, plx::SplitPath(item).directory));
        ASSERT_TRUE(testbed::WriteTextFile(partial, "alp"));
        plx::unique_hkey entry = plx::CreateKey(
            HKEY_CURRENT_USER, std::string(plx::kHiddenItemsKey) + "\\" + plx::ItemKeyName(item));
        ASSERT_TRUE(entry);
        plx::WriteNumber(entry.get(), "ID", 1);
        plx::WriteNumber(entry.get(), plx::kMovingValue, plx::kMovingIntoStore);
    };

    // Wine gives every process an administrator's elevated token, linked to the user's limited one.
    HANDLE userToken = nullptr;
    TOKEN_LINKED_TOKEN linked = {};
    if (elevation.TokenIsElevated) {
        // With the administrator's rights nothing of the user's release runs: its sweep would delete in
        // a folder that the user controls. The copy stays, and is named among what is kept.
        interruptedHide();
        EXPECT_EQ(UnregisterActingAs(unregister, nullptr), S_OK);
        EXPECT_EQ(testbed::ReadTextFile(item), "alpha");
        EXPECT_EQ(testbed::ReadTextFile(partial), "alp");
        // Windows hands out the linked token at the identification level only, which no thread may act
        // with; Wine lets one.
        if (!testbed::OnWine()) GTEST_SKIP() << "the user's own half needs a process that is not elevated";
        ASSERT_TRUE(GetTokenInformation(process.get(), TokenLinkedToken, &linked, sizeof(linked), &size));
        userToken = linked.LinkedToken;
    }
    const plx::unique_handle ownedUserToken(userToken);

    // The user's own unregister settles the interrupted hide as it always did: the copy goes.
    interruptedHide();
    EXPECT_EQ(UnregisterActingAs(unregister, userToken), S_OK);
    EXPECT_EQ(testbed::ReadTextFile(item), "alpha");
    EXPECT_EQ(GetFileAttributesA(partial.c_str()), INVALID_FILE_ATTRIBUTES);
    testbed::RemoveTree(store);
}

TEST_F(RegistrationTest, UnregisteringTwiceOrAfterARegistrationCutShortSucceedsAndLeavesNothing) {
    // From a folder that no code page spells: the class names that very file.
    testbed::ModuleCopy module(L"m\u03A9dule");
    ASSERT_TRUE(module.Loaded());
    ASSERT_EQ(Regsvr32(module.Path(), false), 0u);
    wchar_t registered[1024] = {};
    DWORD size = sizeof(registered);
    EXPECT_EQ(
        RegGetValueW(HKEY_CLASSES_ROOT,
                     (L"CLSID\\" + std::wstring(kClsid.begin(), kClsid.end()) + L"\\InprocServer32").c_str(),
                     nullptr, RRF_RT_REG_SZ, nullptr, registered, &size),
        ERROR_SUCCESS);
    EXPECT_EQ(std::wstring(registered), module.Path());

    EXPECT_EQ(Regsvr32(module.Path(), true), 0u);
    EXPECT_EQ(Regsvr32(module.Path(), true), 0u);
    ASSERT_EQ(Regsvr32(module.Path(), false), 0u);
    plx::DeleteKeyTree(HKEY_CLASSES_ROOT, kClassKey);
    EXPECT_EQ(Regsvr32(module.Path(), true), 0u);
    for (const std::string& gone :
         {std::string("Plaxen.DesktopPlaxen.1"), std::string("Plaxen.DesktopPlaxen"), kHandlerKey,
          "AppID\\" + kAppIdText, std::string("AppID\\Plaxen.DLL"), "TypeLib\\" + kLibId})
        EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, gone)) << gone;
}

}  // namespace

namespace {

using MenuLines = std::vector<std::vector<std::string>>;

const std::vector<std::string>* FindLine(const MenuLines& lines, const std::string& kind, size_t field,
                                         const std::string& value) {
    for (const auto& line : lines)
        if (line.size() > field && line[0] == kind && line[field] == value) return &line;
    return nullptr;
}

TEST_F(RegistrationTest, DesktopRightClickShowsItsItemsWithTheRegisteredHandlerCreatedAndReleased) {
    ASSERT_EQ(Regsvr32(module_.AnsiPath(), false), 0u);
    testbed::DesktopHostProcess host;
    ASSERT_TRUE(host.Start("--empty"));
    ASSERT_TRUE(host.RightClickBackground({400, 300}));
    HWND popup = host.WaitForPopupMenu();
    ASSERT_NE(popup, nullptr);

    MenuLines lines;
    ASSERT_TRUE(host.MenuReport(lines));
    for (const char* own : {"&Arrange Icons", "R&efresh", "P&roperties"})
        EXPECT_TRUE(FindLine(lines, "item", 6, own)) << own;
    const auto* handler = FindLine(lines, "handler", 1, kClsid);
    ASSERT_TRUE(handler);
    EXPECT_EQ((*handler)[2], "00000000");  // created from the registration

    // The user picks "Refresh" by its mnemonic; the menu closes and the handler goes.
    PostMessageA(popup, WM_CHAR, 'e', 0);
    ASSERT_TRUE(
        testbed::WaitUntil([&] { return host.MenuReport(lines) && FindLine(lines, "chosen", 0, "chosen"); }));
    EXPECT_EQ((*FindLine(lines, "chosen", 0, "chosen"))[1], "2");
    handler = FindLine(lines, "handler", 1, kClsid);
    ASSERT_TRUE(handler);
    ASSERT_EQ(handler->size(), 6u);
    EXPECT_EQ((*handler)[5], "0");  // no reference left: the object is gone
    host.Stop();
}

}  // namespace

namespace {

TEST_F(RegistrationTest, ThroughTheDesktopsOwnMenuASavedLayoutComesBack) {
    ASSERT_EQ(Regsvr32(module_.AnsiPath(), false), 0u);
    const std::string desktop = testbed::UserDesktopDirectory();
    for (const char* name : {"alpha.txt", "beta.txt"})
        ASSERT_TRUE(testbed::WriteTextFile(desktop + "\\" + name, name));
    testbed::MessageBoxWatcher messages;
    testbed::DesktopHostProcess host;
    ASSERT_TRUE(host.Start());
    ASSERT_TRUE(host.WaitForIcon("alpha.txt"));
    ASSERT_TRUE(host.WaitForIcon("beta.txt"));
    testbed::HostReport before;
    ASSERT_TRUE(host.Report(before));

    ASSERT_TRUE(host.PickFromMenu({900, 700}, "Save Active Profile"));
    ASSERT_TRUE(host.MoveIcon("alpha.txt", 600, 300));
    ASSERT_TRUE(host.MoveIcon("beta.txt", 300, 500));
    ASSERT_TRUE(host.PickFromMenu({900, 700}, "Restore Icon Positions"));

    testbed::HostReport after;
    ASSERT_TRUE(host.Report(after));
    for (const char* label : {"alpha.txt", "beta.txt"}) {
        ASSERT_TRUE(after.Find(label)) << label;
        EXPECT_EQ(after.Find(label)->x, before.Find(label)->x) << label;
        EXPECT_EQ(after.Find(label)->y, before.Find(label)->y) << label;
    }
    EXPECT_TRUE(messages.Seen().empty());
    host.Stop();
}

}  // namespace
