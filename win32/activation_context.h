// The module's windows and dialogs are made inside the activation context of its own manifest, so
// that they get version 6 of the common controls even inside a process that asks for none.
#pragma once

#include <windows.h>

namespace plx {

// Activates the module's context for its lifetime. Without one (no manifest, or a system that
// refuses it) it does nothing, and windows get the process's controls.
class ModuleActivationScope {
public:
    ModuleActivationScope();
    ~ModuleActivationScope();
    ModuleActivationScope(const ModuleActivationScope&) = delete;
    ModuleActivationScope& operator=(const ModuleActivationScope&) = delete;

private:
    ULONG_PTR cookie_ = 0;
    bool active_ = false;
};

}  // namespace plx
