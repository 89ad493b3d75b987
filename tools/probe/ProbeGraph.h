// The graphs vidstill-probe builds: a file opened by a source (and
// optionally a splitter) in a graph without a clock, and for playback the
// video pin connected through a decoder to the video mixing renderer, with a
// frame tap in front of it noting what it presents.
//
// Failures throw ProbeError with a one-line message. Main thread only.
#pragma once

#include "platform/dshow/FilterGraph.h"
#include "tools/probe/FrameTap.h"

#include <stdexcept>
#include <string>
#include <vector>

struct ProbeError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

// Registers the FFmpeg filters and the renderers; call once first.
void RegisterProbeFilters();

std::wstring PinName(IPin *pin);
// The pin's connection type, else the first type it offers (invalid if none).
CMediaType PinType(IPin *pin);

class ProbeGraph {
public:
    // Empty names: "LAV Splitter Source" alone.
    ProbeGraph(const std::string &file, const std::string &sourceName, const std::string &splitterName);
    ~ProbeGraph();
    ProbeGraph(const ProbeGraph &) = delete;
    ProbeGraph &operator=(const ProbeGraph &) = delete;

    std::wstring SourceName() const { return m_sourceName; }
    std::wstring SplitterName() const { return m_splitterName; }
    // The output pins of the splitter, else of the source.
    std::vector<ComPtr<IPin>> StreamPins() const;
    // 0 when nobody knows.
    REFERENCE_TIME Duration() const;

    // Source -> decoder -> tap -> "Video Mixing Renderer 9".
    void BuildPlayback();
    // Stopped graph: an exact seek to `target`.
    void Seek(REFERENCE_TIME target);
    // Runs and collects the presented times until the end, or `count` of them
    // (count 0: no limit). Fails when nothing happens for 10 s.
    std::vector<REFERENCE_TIME> Play(size_t count);
    // Pauses and waits for the still picture; its media time.
    REFERENCE_TIME PauseForStill();
    // The renderer's current image, a packed DIB (header and pixels).
    std::vector<BYTE> CurrentImage();
    void Stop();

private:
    ComPtr<IBaseFilter> CreateNamed(const std::string &name) const;
    void AddSource(const std::string &file, const std::string &sourceName);
    void AddSplitter(const std::string &splitterName);
    ComPtr<IPin> VideoPin() const;

    ComPtr<IGraphBuilder> m_graph;
    ComPtr<IBaseFilter> m_source, m_splitter, m_renderer;
    ComPtr<CFrameTap> m_tap;
    std::wstring m_sourceName, m_splitterName;
};
