#include "win32/activation_context.h"

#include "win32/module.h"
#include "resources/resource.h"

namespace plx {

namespace {

// Made once per process and kept while the module is loaded: the context is read-only, and the
// module may be entered on any thread.
HANDLE ModuleContext() {
    static const HANDLE context = [] {
        ACTCTXW request = {sizeof(request)};
        request.dwFlags = ACTCTX_FLAG_RESOURCE_NAME_VALID | ACTCTX_FLAG_HMODULE_VALID;
        request.hModule = ModuleInstance();
        request.lpResourceName = MAKEINTRESOURCEW(IDR_MANIFEST);
        return CreateActCtxW(&request);
    }();
    return context;
}

}  // namespace

ModuleActivationScope::ModuleActivationScope() {
    HANDLE context = ModuleContext();
    if (context != INVALID_HANDLE_VALUE) active_ = ActivateActCtx(context, &cookie_) != FALSE;
}

ModuleActivationScope::~ModuleActivationScope() {
    if (active_) DeactivateActCtx(0, cookie_);
}

}  // namespace plx
