// The module's creatable classes and their class objects: one table, one generic class factory.
#pragma once

#include <windows.h>

namespace plx {

// DllGetClassObject: the class object of clsid, made on the first request and kept for later ones.
HRESULT GetClassObject(REFCLSID clsid, REFIID iid, void** object);
// Lets the kept class objects go; when the module is unloaded.
void ReleaseClassObjects();

}  // namespace plx
