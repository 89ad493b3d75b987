// What every private module exports: DllGetClassObject, handing out a class
// factory for each class of the module, and DllCanUnloadNow, which answers
// S_OK only while none of the module's objects (filters, factories, server
// locks) is alive, so that the host never unmaps code still in use.
//
// The module's classes are a table of (class identifier, maker). Each module
// links its own copy of this code: the counts are per module.
//
// Any thread: counts are atomic.
#pragma once

#include "platform/dshow/BaseFilter.h"

#include <span>

// Marks the two entry points of a module; everything else stays hidden.
#define VIDSTILL_MODULE_EXPORT extern "C" __attribute__((visibility("default")))

struct PrivateClass {
    CLSID clsid;
    CBaseFilter *(*create)();  // a new filter, not yet referenced
};

// Counts one live object of the module from construction to destruction.
// Put it first among the bases, so it goes last.
class CModuleObject {
public:
    CModuleObject();
    ~CModuleObject();
    CModuleObject(const CModuleObject &) = delete;
    CModuleObject &operator=(const CModuleObject &) = delete;
};

// The bodies of the two exports.
HRESULT GetPrivateClassObject(std::span<const PrivateClass> classes, REFCLSID clsid, REFIID riid, void **ppv);
HRESULT CanUnloadPrivateModule();
