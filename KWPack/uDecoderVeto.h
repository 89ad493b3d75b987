// The graph builder callback a manager installs while it connects a stream:
// intelligent connect asks it about each filter it selects, and it refuses
// the decoders the manager has tried already, so a retry goes elsewhere.
//
// The graph holds it only while the manager connects; the manager clears
// `Tried` when it goes. UI thread.
#pragma once

#include "platform/dshow/Strmif.h"

#include <QStringList>

// Sorted class-identifier texts, no duplicates.
void AddTriedDecoder(QStringList &tried, const CLSID &clsid);
bool IsTriedDecoder(const QStringList &tried, const CLSID &clsid);

class TDecoderVeto final : public CUnknown, public IAMGraphBuilderCallback {
public:
    explicit TDecoderVeto(const QStringList *tried) : Tried(tried) {}
    DECLARE_IUNKNOWN
    HRESULT NonDelegatingQueryInterface(REFIID riid, void **ppv) override;
    HRESULT SelectedFilter(IMoniker *pMon) override;
    HRESULT CreatedFilter(IBaseFilter *) override { return S_OK; }

    const QStringList *Tried;  // the manager's list; null once it is gone
};
