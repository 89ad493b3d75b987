// Loading a module by path and creating objects through the class factory it
// exports, the way a program uses an in-process server without registering
// it: load the file, find DllGetClassObject, ask it for the IClassFactory of
// a class and let the factory create the object.
//
// A module stays mapped while a CModule holds it. Whatever a module created
// runs its code, so its objects must be released before the module is freed:
// when the module exports DllCanUnloadNow and answers S_FALSE (objects still
// alive, whoever made them), the destructor leaves it mapped and
// CoFreeUnusedLibraries, called again by every later destructor, frees it
// once it answers S_OK.
//
// Failures (a missing file, a file that is no library, a missing export, a
// factory that refuses) come back as an error text, never as a crash.
//
// UI thread. A CModule is owned by whoever called Load.
#pragma once

#include "platform/dshow/Strmif.h"

#include <QString>

#include <memory>

inline constexpr HRESULT CLASS_E_CLASSNOTAVAILABLE = static_cast<HRESULT>(0x80040111u);

// The module exports, as the SDK declares them.
using LPFNGETCLASSOBJECT = HRESULT (*)(REFCLSID, REFIID, void **);
using LPFNCANUNLOADNOW = HRESULT (*)();

class CModule {
public:
    // The module at `path`; null with *error set when it cannot be loaded or
    // does not export DllGetClassObject.
    static std::unique_ptr<CModule> Load(const QString &path, QString *error);
    ~CModule();
    CModule(const CModule &) = delete;
    CModule &operator=(const CModule &) = delete;

    const QString &Path() const { return m_path; }

    // The exported symbol, or null.
    void *GetProcAddress(const char *name) const;

    // The module's factory for `clsid`; on failure the result code and *error.
    HRESULT GetClassObject(REFCLSID clsid, ComPtr<IClassFactory> *factory, QString *error) const;
    // A new object of class `clsid` answering riid (one reference, the caller's).
    HRESULT CreateInstance(REFCLSID clsid, REFIID riid, void **ppv, QString *error) const;
    // A new filter of class `clsid`, or null with *error set.
    ComPtr<IBaseFilter> CreateFilter(REFCLSID clsid, QString *error) const;

private:
    CModule(void *handle, QString path, LPFNGETCLASSOBJECT getClassObject);

    void *m_handle;
    QString m_path;
    LPFNGETCLASSOBJECT m_getClassObject;
};

// Frees the modules given up while their objects lived, once DllCanUnloadNow
// says they may go.
void CoFreeUnusedLibraries();

// Loads the module at `path` into *module (when it holds none yet) and makes
// a filter of `clsid` with it. Null with *error when either step fails; a
// module that loaded stays in *module.
ComPtr<IBaseFilter> LoadModuleFilter(const QString &path, REFCLSID clsid, std::unique_ptr<CModule> *module,
                                     QString *error);

// "0x80040111", for error texts.
QString HResultText(HRESULT hr);
