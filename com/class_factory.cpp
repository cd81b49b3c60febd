#include "com/class_factory.h"

#include <new>

#include "com/desktop_plaxen.h"
#include "com/identities.h"
#include "win32/module.h"
#include "win32/boundary.h"

namespace plx {

namespace {

using CreateFunction = HRESULT (*)(IUnknown* outer, REFIID iid, void** object);

// A class object may be used from any thread, so its count is changed with interlocked operations.
// It holds no module lock of its own: a client that keeps it calls LockServer.
class ClassFactory final : public IClassFactory {
public:
    explicit ClassFactory(CreateFunction create) : create_(create) {}

    STDMETHODIMP QueryInterface(REFIID iid, void** object) override {
        if (!object) return E_POINTER;
        if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, IID_IClassFactory)) {
            *object = static_cast<IClassFactory*>(this);
            AddRef();
            return S_OK;
        }
        *object = nullptr;
        return E_NOINTERFACE;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return static_cast<ULONG>(InterlockedIncrement(&references_)); }
    STDMETHODIMP_(ULONG) Release() override {
        const LONG left = InterlockedDecrement(&references_);
        if (left == 0) delete this;
        return static_cast<ULONG>(left);
    }

    STDMETHODIMP CreateInstance(IUnknown* outer, REFIID iid, void** object) override {
        return CallAtBoundary(E_FAIL, [&] { return create_(outer, iid, object); });
    }
    STDMETHODIMP LockServer(BOOL lock) override {
        if (lock)
            LockModule();
        else
            UnlockModule();
        return S_OK;
    }

private:
    volatile LONG references_ = 1;
    CreateFunction create_;
};

struct ClassEntry {
    const CLSID* clsid;
    CreateFunction create;
    IClassFactory* classObject;  // made on the first request, under the module's critical section
};

ClassEntry g_classes[] = {
    {&CLSID_DesktopPlaxen, &DesktopPlaxen::Create, nullptr},
};

class SectionLock {
public:
    SectionLock() { EnterCriticalSection(&ModuleCriticalSection()); }
    ~SectionLock() { LeaveCriticalSection(&ModuleCriticalSection()); }
    SectionLock(const SectionLock&) = delete;
    SectionLock& operator=(const SectionLock&) = delete;
};

}  // namespace

HRESULT GetClassObject(REFCLSID clsid, REFIID iid, void** object) {
    if (!object) return E_POINTER;
    *object = nullptr;
    for (ClassEntry& entry : g_classes) {
        if (!IsEqualCLSID(clsid, *entry.clsid)) continue;
        {
            SectionLock lock;
            if (!entry.classObject) entry.classObject = new (std::nothrow) ClassFactory(entry.create);
            if (!entry.classObject) return E_OUTOFMEMORY;
        }
        return entry.classObject->QueryInterface(iid, object);
    }
    return CLASS_E_CLASSNOTAVAILABLE;
}

void ReleaseClassObjects() {
    for (ClassEntry& entry : g_classes) {
        if (entry.classObject) entry.classObject->Release();
        entry.classObject = nullptr;
    }
}

}  // namespace plx
