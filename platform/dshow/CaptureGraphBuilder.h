// The capture graph builder (CLSID_CaptureGraphBuilder2): pin finding by
// direction, category and media type, and stream rendering, on a filter
// graph it is bound to (SetFiltergraph).
//
// Holds a reference to its graph. UI thread.
#pragma once

#include "platform/dshow/Strmif.h"

class CCaptureGraphBuilder final : public CUnknown, public ICaptureGraphBuilder2 {
public:
    DECLARE_IUNKNOWN
    HRESULT NonDelegatingQueryInterface(REFIID riid, void **ppv) override;

    HRESULT SetFiltergraph(IGraphBuilder *pfg) override;
    // Makes a filter graph when none was given.
    HRESULT GetFiltergraph(IGraphBuilder **ppfg) override;
    // pf itself, then its pins (pCategory and pType narrow the pins).
    HRESULT FindInterface(const GUID *pCategory, const GUID *pType, IBaseFilter *pf, REFIID riid,
                          void **ppint) override;
    // From pSource's first matching free output pin (or pSource itself when
    // it is a pin), through pfCompressor when given, to pfRenderer (its free
    // input pins in turn, intelligent connect) or, with no renderer, to
    // whatever IGraphBuilder::Render finds.
    HRESULT RenderStream(const GUID *pCategory, const GUID *pType, IUnknown *pSource,
                         IBaseFilter *pfCompressor, IBaseFilter *pfRenderer) override;
    // A pin matches when its direction is pindir, its category (IKsPropertySet)
    // is *pCategory when given, one of its types (the connection type when
    // connected) has the major type *pType when given, and it is free when
    // fUnconnected. num counts matches from 0. E_FAIL when there is none.
    HRESULT FindPin(IUnknown *pSource, PIN_DIRECTION pindir, const GUID *pCategory, const GUID *pType,
                    BOOL fUnconnected, int num, IPin **ppPin) override;

private:
    HRESULT ConnectToFilter(IPin *pOut, IBaseFilter *pFilter);

    ComPtr<IGraphBuilder> m_graph;
};

// The catalogue's factory for CLSID_CaptureGraphBuilder2.
HRESULT CreateCaptureGraphBuilder(REFIID riid, void **ppv);
