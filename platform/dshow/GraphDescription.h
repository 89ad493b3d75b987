// The running-object-table stand-in: while a graph is registered, external
// tools can see its filters, pins and connections.
//
// A registered graph writes a text description of itself to
//   $XDG_RUNTIME_DIR/vidstill-graphs/<pid>-<n>.txt  (else /tmp/vidstill-graphs/)
// and rewrites it on every change of its filters, connections or state; the
// file goes when the graph is unregistered or destroyed. Look at it with
// `cat`, or follow it with `watch cat <file>`.
//
// UI thread (the graph's thread).
#pragma once

#include "platform/dshow/Unknown.h"

#include <string>

// Registers the graph (an object answering IGraphInspection, as the filter
// graph does). *pdwRegister gets the number to unregister it with.
HRESULT AddGraphToRot(IUnknown *pUnkGraph, DWORD *pdwRegister);
// Unknown numbers are ignored (S_FALSE).
HRESULT RemoveGraphFromRot(DWORD dwRegister);

// The folder the descriptions go to (created on demand).
std::string GraphDescriptionFolder();

struct IGraphInspection;
// Called by a graph as it goes: drops any registration of it.
void ForgetGraphInRot(IGraphInspection *graph);
