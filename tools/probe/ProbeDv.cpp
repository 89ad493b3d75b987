#include "tools/probe/ProbeDv.h"

#include "KWPack/uMediaFactory.h"
#include "KWPack/uNotifier.h"
#include "platform/base/DateTimeText.h"
#include "platform/dshow/Renderer.h"
#include "tools/probe/ProbeApp.h"
#include "tools/probe/ProbeGraph.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>

#include <cstdio>
#include <memory>

namespace {

inline constexpr CLSID CLSID_ProbeSink{0x5A1D0C01, 0x7E3B, 0x4C52, {0x9B, 0x61, 0x2F, 0x10, 0xD4, 0x3A, 0x88, 0x30}};

// Takes any sample and does nothing with it: the frames only have to flow.
class CTakeAllRenderer final : public CBaseRenderer {
public:
    CTakeAllRenderer() : CBaseRenderer(CLSID_ProbeSink, L"Probe Sink") {}
    HRESULT CheckMediaType(const CMediaType *) override { return S_OK; }
    HRESULT DoRenderSample(IMediaSample *) override { return S_OK; }
};

IPin *OutputOf(IBaseFilter *filter)
{
    ComPtr<IEnumPins> pins;
    ComPtr<IPin> pin;
    if (FAILED(filter->EnumPins(pins.ReleaseAndGetAddressOf())))
        return nullptr;
    while (pins->Next(1, pin.ReleaseAndGetAddressOf(), nullptr) == S_OK) {
        PIN_DIRECTION dir;
        if (SUCCEEDED(pin->QueryDirection(&dir)) && dir == PINDIR_OUTPUT)
            return pin.Get();  // the filter keeps its pins
    }
    return nullptr;
}

std::string Line(const TDVCodesRec &r)
{
    const QString date = r.DateValid ? FormatDateTime("yyyy-mm-dd hh:nn:ss", r.Date, QLocale::c()) : "-";
    const QString code = r.TimeCodeValid ? r.TimeCodeText : "-";
    return QString::asprintf("%d %d %s %d %s\n", r.FrameCounter, int(r.DateValid), qPrintable(date),
                             int(r.TimeCodeValid), qPrintable(code))
        .toStdString();
}

// The lines so far; `running` is set once the graph runs, so the record sent
// when the reports are switched on is not taken for a frame.
struct Collector {
    bool running = false;
    long long limit = 0;
    long long seen = 0;
    std::string out;
    void Take(const TDVCodesRec &r)
    {
        if (!running || (limit && seen >= limit))
            return;
        ++seen;
        out += Line(r);
    }
    bool Full() const { return limit && seen >= limit; }
};

struct Window {
    explicit Window(TWndMethod method) : wnd(AllocateHWnd(std::move(method))) {}
    ~Window() { DeallocateHWnd(wnd); }
    Window(const Window &) = delete;
    Window &operator=(const Window &) = delete;
    const HWND wnd;
};

void Run(TGrapheMan &manager, Collector &lines, bool &complete)
{
    manager.OnGraphCompleted = [&complete] { complete = true; };
    ComQuery<IMediaFilter>(manager.GraphBuilder)->SetSyncSource(nullptr);
    lines.running = true;
    if (!manager.Play())
        throw ProbeError("the graph does not run");
    QElapsedTimer quiet;
    quiet.start();
    long long before = 0;
    while (!complete && !lines.Full()) {
        ProcessMessages();
        if (lines.seen != before) {
            before = lines.seen;
            quiet.restart();
        } else if (quiet.elapsed() > 10000) {
            throw ProbeError("no frame for 10 s");
        }
    }
    manager.Stop();
}

} // namespace

void ProbeDv(const std::string &file, long long count)
{
    ProbeArgv av;
    QCoreApplication app(av.argc, av.argv);
    std::unique_ptr<TGrapheMan> manager(TKWActionComponent::New<TGrapheMan>());
    TMediaFactory factory;
    factory.SetGrapheMan(manager.get());
    TFileDevice *device = OpenFileDevice(factory, file);
    TVideoSource *source = device->VideoSources()[0];
    if (!source)
        throw ProbeError("no video stream in " + file);

    Collector lines;
    lines.limit = count;
    const Window window([&lines](TMessage &m) {
        if (m.Msg == WM_VIDEO_DVCODES)
            lines.Take(*reinterpret_cast<const TDVCodesRec *>(m.wParam));
    });
    if (!source->Attach(manager.get(), window.wnd))
        throw ProbeError("cannot attach the video of " + file);
    source->ActiveNotifierObj()->SetFrameDateReports(true, window.wnd);
    const auto sink = MakeCom<CTakeAllRenderer>();
    manager->GraphBuilder->AddFilter(sink.Get(), L"Probe Sink");
    if (FAILED(manager->GraphBuilder->ConnectDirect(OutputOf(source->SourceNotifierFilter()),
                                                    sink->GetPin(0), nullptr)))
        throw ProbeError("cannot connect the video of " + file);
    bool complete = false;
    Run(*manager, lines, complete);
    source->ActiveNotifierObj()->SetFrameDateReports(false, 0);
    std::fputs(lines.out.c_str(), stdout);
}
