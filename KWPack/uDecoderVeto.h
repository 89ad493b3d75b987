// The graph builder callback a manager installs while it connects a stream:
// intelligent connect asks it about each filter it selects, and it refuses
// the decoders the manager has tried already, so a retry goes elsewhere.
//
// The graph holds it only while the manager connects; the manager clears
// `Tried` when it goes. UI thread.
#pragma once

#include "platform/dshow/Strmif.h"

#include <QStringList>

#include <vector>

class TFilterRec;

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

// The decoders one connection attempt puts into the graph. What the attempt
// leaves unconnected must go again, or the next attempt would connect through
// it before the catalogue. UI thread.
class TAddedFilters {
public:
    explicit TAddedFilters(IGraphBuilder *graph) : Graph(graph) {}
    // Creates the record's filter and adds it under the record's name.
    void Add(const TFilterRec *rec);
    void RemoveUnconnected();

private:
    IGraphBuilder *Graph;
    std::vector<ComPtr<IBaseFilter>> Added;
};
