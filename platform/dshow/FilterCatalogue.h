// The filter catalogue: which classes the program can create, by class
// identifier, and which filters intelligent connect may draw from (name,
// merit, the input types they take). CoCreateInstance creates from it.
//
// The catalogue is process-wide. It knows the engine's own classes
// (CLSID_FilterGraph, CLSID_SystemClock, CLSID_CaptureGraphBuilder2) from the
// start; the system filters are registered by their libraries at start-up
// (RegisterFilter), before any graph is built.
//
// Any thread (a mutex guards the entries; factories run without it).
#pragma once

#include "platform/dshow/Strmif.h"

#include <functional>
#include <string>
#include <vector>

inline constexpr HRESULT REGDB_E_CLASSNOTREG = static_cast<HRESULT>(0x80040154u);
inline constexpr HRESULT CLASS_E_NOAGGREGATION = static_cast<HRESULT>(0x80040110u);
inline constexpr DWORD CLSCTX_INPROC_SERVER = 0x1;
inline constexpr DWORD CLSCTX_INPROC_HANDLER = 0x2;
inline constexpr DWORD CLSCTX_INPROC = CLSCTX_INPROC_SERVER | CLSCTX_INPROC_HANDLER;

// Filter merits. Intelligent connect uses filters above MERIT_DO_NOT_USE,
// highest first.
inline constexpr DWORD MERIT_PREFERRED = 0x800000;
inline constexpr DWORD MERIT_NORMAL = 0x600000;
inline constexpr DWORD MERIT_UNLIKELY = 0x400000;
inline constexpr DWORD MERIT_DO_NOT_USE = 0x200000;
inline constexpr DWORD MERIT_SW_COMPRESSOR = 0x100000;

// Creates an object of the class and answers riid on it.
using CreateFunction = std::function<HRESULT(REFIID riid, void **ppv)>;

struct FilterRegistration {
    CLSID clsid = GUID_NULL;
    std::wstring name;
    DWORD merit = MERIT_DO_NOT_USE;
    // (major type, subtype) pairs its input takes; GUID_NULL matches any.
    std::vector<std::pair<GUID, GUID>> inputTypes;
    bool isRenderer = false;  // IGraphBuilder::Render ends at one
    CreateFunction create;
};

// UI thread at start-up. Replaces an entry with the same class identifier.
void RegisterFilter(FilterRegistration registration);
void UnregisterFilter(REFCLSID clsid);
// A copy of the entry; false when the class is unknown.
bool FindFilterRegistration(REFCLSID clsid, FilterRegistration *out);
// Filters whose input takes (major, sub), merit above MERIT_DO_NOT_USE,
// highest merit first (registration order among equals).
std::vector<FilterRegistration> FiltersAccepting(REFGUID major, REFGUID sub);
std::vector<FilterRegistration> RendererFilters();

// The COM call the program's filter records make. pUnkOuter must be null.
HRESULT CoCreateInstance(REFCLSID rclsid, IUnknown *pUnkOuter, DWORD dwClsContext, REFIID riid,
                         void **ppv);

// The moniker the graph builder callback is shown for a catalogue filter.
ComPtr<IMoniker> CreateCatalogueMoniker(const FilterRegistration &registration);
