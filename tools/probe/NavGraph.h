// The graph the program builds for a file, as its video and audio managers
// build it: the media factory's device, each source attached through its
// stream notifier, a decoder found by intelligent connect up to the
// renderer, the frame notifier inserted in front of the video renderer, and
// the audio renderer when there is sound; then a navigation manager wired to
// the frame notifier, its range set and the graph paused at the start.
//
// Used by vidstill-probe nav and by the navigation tests. UI thread only.
#pragma once

#include "KWPack/uMediaFactory.h"
#include "KWPack/uNavMan.h"

#include <QString>

#include <memory>
#include <stdexcept>

struct NavGraphError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

class NavGraph {
public:
    // `videoRenderer`: the renderer manager's video renderer (added to the
    // graph as "KW VideoWindow"). Throws NavGraphError when the file cannot
    // be opened or has no video that decodes.
    NavGraph(TNavMan &nav, IBaseFilter *videoRenderer, const QString &file, bool audio = true);
    ~NavGraph();
    NavGraph(const NavGraph &) = delete;
    NavGraph &operator=(const NavGraph &) = delete;

    TFramesNotifier *Notifier() const { return m_notifier.Get(); }
    bool HasAudio() const { return m_audio != nullptr; }

    // Puts `filter` between `downstream` and the pin feeding it, with the
    // connection's type; restores the connection when that fails.
    static bool InsertFilter(IGraphBuilder *graph, IBaseFilter *filter, IPin *downstream);

private:
    void ConnectVideo(IBaseFilter *renderer);
    void ConnectAudio();

    TNavMan &m_nav;
    TMediaFactory m_factory;
    TVideoSource *m_video = nullptr;
    TAudioSource *m_audio = nullptr;
    ComPtr<TFramesNotifier> m_notifier;
    ComPtr<IBaseFilter> m_audioRenderer;
};
