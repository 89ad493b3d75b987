#include "platform/dshow/GraphDescription.h"

#include "platform/base/WideText.h"

#include "platform/dshow/FilterGraph.h"

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <mutex>
#include <sstream>
#include <unistd.h>

namespace {

struct Table {
    std::mutex lock;
    std::map<DWORD, IGraphInspection *> graphs;  // not referenced: see ForgetGraph
    DWORD next = 1;
};

Table &TheTable()
{
    static Table table;
    return table;
}

std::string FilterName(IBaseFilter *filter)
{
    FILTER_INFO info{};
    if (FAILED(filter->QueryFilterInfo(&info)))
        return "?";
    if (info.pGraph)
        info.pGraph->Release();
    return ToUtf8(info.achName);
}

std::string PinName(IPin *pin)
{
    PIN_INFO info{};
    if (FAILED(pin->QueryPinInfo(&info)))
        return "?";
    if (info.pFilter)
        info.pFilter->Release();
    return ToUtf8(info.achName);
}

void DescribePin(std::ostringstream &out, IPin *pin)
{
    PIN_DIRECTION dir = PINDIR_INPUT;
    pin->QueryDirection(&dir);
    out << "    [" << (dir == PINDIR_OUTPUT ? "out" : "in ") << "] \"" << PinName(pin) << "\"";
    ComPtr<IPin> peer;
    if (pin->ConnectedTo(peer.ReleaseAndGetAddressOf()) == S_OK) {
        PIN_INFO info{};
        peer->QueryPinInfo(&info);
        ComPtr<IBaseFilter> other = ComPtr<IBaseFilter>::Attach(info.pFilter);
        CMediaType type;
        pin->ConnectionMediaType(&type);
        out << (dir == PINDIR_OUTPUT ? " -> \"" : " <- \"") << (other ? FilterName(other.Get()) : "?")
            << "\".\"" << ToUtf8(info.achName) << "\" " << GuidToString(type.majortype) << " "
            << GuidToString(type.subtype);
    } else {
        out << " (not connected)";
    }
    out << "\n";
}

} // namespace

std::string GraphDescriptionFolder()
{
    const char *runtime = std::getenv("XDG_RUNTIME_DIR");
    std::filesystem::path folder = runtime && *runtime ? runtime : "/tmp";
    folder /= "vidstill-graphs";
    std::error_code ignored;
    std::filesystem::create_directories(folder, ignored);
    return folder.string();
}

HRESULT AddGraphToRot(IUnknown *pUnkGraph, DWORD *pdwRegister)
{
    if (!pUnkGraph || !pdwRegister)
        return E_POINTER;
    ComPtr<IGraphInspection> graph = ComQuery<IGraphInspection>(pUnkGraph);
    if (!graph)
        return E_NOINTERFACE;
    DWORD id = 0;
    {
        Table &t = TheTable();
        std::lock_guard lock(t.lock);
        id = t.next++;
        t.graphs[id] = graph.Get();
    }
    const std::string path =
        GraphDescriptionFolder() + "/" + std::to_string(getpid()) + "-" + std::to_string(id) + ".txt";
    *pdwRegister = id;
    return graph->SetDescriptionFile(path);
}

HRESULT RemoveGraphFromRot(DWORD dwRegister)
{
    IGraphInspection *graph = nullptr;
    {
        Table &t = TheTable();
        std::lock_guard lock(t.lock);
        const auto it = t.graphs.find(dwRegister);
        if (it == t.graphs.end())
            return S_FALSE;
        graph = it->second;
        t.graphs.erase(it);
    }
    return graph->SetDescriptionFile(std::string());
}

void ForgetGraphInRot(IGraphInspection *graph)
{
    Table &t = TheTable();
    std::lock_guard lock(t.lock);
    std::erase_if(t.graphs, [&](const auto &entry) { return entry.second == graph; });
}

// ---- The graph's side ---------------------------------------------------------------

HRESULT CFilterGraph::SetDescriptionFile(const std::string &path)
{
    CAutoLock lock(m_csGraph);
    if (!m_descriptionFile.empty() && m_descriptionFile != path)
        std::remove(m_descriptionFile.c_str());
    m_descriptionFile = path;
    if (!path.empty())
        WriteDescription();
    return S_OK;
}

std::string CFilterGraph::Describe()
{
    CAutoLock lock(m_csGraph);
    std::ostringstream out;
    const char *state = "Stopped";
    switch (m_state) {
    case GraphState::Stopped:
        break;
    case GraphState::Paused:
        state = "Paused";
        break;
    case GraphState::Running:
        state = "Running";
        break;
    }
    out << "Vidstill filter graph, process " << getpid() << "\n";
    out << "State: " << state << "\n";
    std::string clock = "none";
    if (m_clock)
        clock = m_clock == m_systemClock ? "system clock" : "a filter's clock";
    out << "Clock: " << clock << "\n";
    out << "Filters: " << m_filters.size() << "\n";
    for (const Entry &e : m_filters) {
        CLSID clsid = GUID_NULL;
        e.filter->GetClassID(&clsid);
        out << "  \"" << ToUtf8(e.name) << "\" " << GuidToString(clsid) << "\n";
        for (const ComPtr<IPin> &pin : dshow::PinsOf(e.filter.Get()))
            DescribePin(out, pin.Get());
    }
    return out.str();
}

// Written aside and renamed, so a reader never sees half a description.
void CFilterGraph::WriteDescription()
{
    const std::string temporary = m_descriptionFile + ".part";
    {
        std::ofstream file(temporary, std::ios::trunc);
        if (!file)
            return;
        file << Describe();
    }
    std::rename(temporary.c_str(), m_descriptionFile.c_str());
}
