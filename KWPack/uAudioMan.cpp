#include "KWPack/uAudioMan.h"

#include "KWPack/uDecoderVeto.h"
#include "KWPack/uMediaDevices.h"
#include "KWPack/uNavMan.h"
#include "KWPack/uPreferences.h"

#include "platform/dshow/Enumerate.h"
#include "platform/dshow/FilterCatalogue.h"
#include "platform/dshow/Uuids.h"

#include <QLabel>
#include <QProgressBar>
#include <QSignalBlocker>
#include <QSlider>

#include <algorithm>

const QString TAudioMan::kRendererName = QStringLiteral("KW Audio Renderer");
const QString TAudioMan::kNoDecoderName = QStringLiteral("No audio decoder");
const QString TAudioMan::kNoAudioText = QStringLiteral("No Audio");

namespace {

IFilterGraph *GraphOf(IBaseFilter *filter)
{
    FILTER_INFO info{};
    if (!filter || FAILED(filter->QueryFilterInfo(&info)) || !info.pGraph)
        return nullptr;
    info.pGraph->Release();  // the graph holds the filter, not the other way round
    return info.pGraph;
}

void SetSite(TGrapheMan *manager, IUnknown *site)
{
    if (manager && manager->GraphBuilder)
        if (auto withSite = ComQuery<IObjectWithSite>(manager->GraphBuilder))
            withSite->SetSite(site);
}

} // namespace

TAudioMan::TAudioMan(QObject *owner) : TKWActionComponent(owner)
{
    Source = NoAudio();
    if (FAILED(CoCreateInstance(CLSID_DSoundRender, nullptr, CLSCTX_INPROC_SERVER, IID_IBaseFilter,
                                AudioRenderer.ReleaseAndGetVoidAddress())))
        AudioRenderer.Reset();
    Resampler = MakeCom<TResampler>();
    DefaultAudioDecoder = &NoAudioDecoder();
    ChosenDecoder = &NoAudioDecoder();
    FCallback = MakeCom<TDecoderVeto>(&TriedDecoders);
    SetStatus(AudioRenderer ? asNoAudio : asErrorAudio);
}

TAudioMan::~TAudioMan()
{
    FCallback->Tried = nullptr;
    OnNotifyAudioDecoder = nullptr;
    OnNotifyAudioFormat = nullptr;
    OnStatus = nullptr;
    OnVolume = nullptr;
    try {
        if (SourceManager && !IsPlaceholder(Source))
            DisconnectAudio();
    } catch (...) {
    }
}

bool TAudioMan::IsPlaceholder(TAudioSource *source) const { return !source || source == NoAudio(); }

void TAudioMan::SetDefaultAudioDecoder(const TFilterRec *rec)
{
    DefaultAudioDecoder = rec ? rec : &NoAudioDecoder();
}

// ---- actions and preferences ----------------------------------------------------

void TAudioMan::CreateActions()
{
    caMute = NewAction<TCheckAction>(QStringLiteral("caMute"), QStringLiteral("Mute"));
    caMute->Switch = QStringLiteral("swi_m");
    caMute->SetShortCut(QKeySequence(Qt::CTRL | Qt::Key_M));
    caMute->ApplyWhenLoad = true;
    SetCheckTexts(caMute, QStringLiteral("Mute"), QStringLiteral("Mute"), QStringLiteral("Turn sound on"),
                  QStringLiteral("Turn sound off"));
    caMute->SetDefaultValue(false);

    struct Nope {
        TNopeAction **field;
        const char *name, *script, *switchName, *hint;
        QKeySequence keys;
    };
    const Nope nopes[] = {
        {&naNextDecoderAudio, "naNextDecoderAudio", "NextDecoderAudio", "swi_nextda",
         "Look for another Audio decoder for the current video.", QKeySequence(Qt::CTRL | Qt::Key_F9)},
        {&naIncVolume, "naIncVolume", "IncVolume", "swi_iv", "Increase the Volume of the audio by 10 points.",
         QKeySequence(Qt::KeypadModifier | Qt::Key_Plus)},
        {&naDecVolume, "naDecVolume", "DecVolume", "swi_dv", "Decrease the Volume of the audio by 10 points",
         QKeySequence(Qt::KeypadModifier | Qt::Key_Minus)},
    };
    for (const Nope &n : nopes) {
        *n.field = NewAction<TNopeAction>(QString::fromLatin1(n.name), QString::fromLatin1(n.script));
        (*n.field)->Switch = QString::fromLatin1(n.switchName);
        (*n.field)->SetShortCut(n.keys);
        (*n.field)->SetHint(QString::fromLatin1(n.hint));
    }

    iaVolume = NewAction<TIntegerAction>(QStringLiteral("iaVolume"), QStringLiteral("Volume"));
    iaVolume->Switch = QStringLiteral("swi_vol");
    iaVolume->ApplyWhenLoad = true;
    iaVolume->SetHint(QStringLiteral("Volume of 'Audio"));
    iaVolume->SetDefaultValue(5000);
}

void TAudioMan::LocateActions()
{
    caMute = Locate<TCheckAction>(QStringLiteral("caMute"));
    naNextDecoderAudio = Locate<TNopeAction>(QStringLiteral("naNextDecoderAudio"));
    naIncVolume = Locate<TNopeAction>(QStringLiteral("naIncVolume"));
    naDecVolume = Locate<TNopeAction>(QStringLiteral("naDecVolume"));
    iaVolume = Locate<TIntegerAction>(QStringLiteral("iaVolume"));
}

void TAudioMan::BindActions()
{
    const QPointer<TAudioMan> self(this);
    if (caMute) {
        caMute->InternalTrueApply = [self] {
            if (self)
                self->SetMute(true);
        };
        caMute->InternalFalseApply = [self] {
            if (self)
                self->SetMute(false);
        };
    }
    if (naNextDecoderAudio)
        naNextDecoderAudio->InternalApply = [self] {
            if (self)
                self->NextAudioDecoder();
        };
    if (naIncVolume)
        naIncVolume->InternalApply = [self] {
            if (self)
                self->StepVolume(kVolumeStep);
        };
    if (naDecVolume)
        naDecVolume->InternalApply = [self] {
            if (self)
                self->StepVolume(-kVolumeStep);
        };
    if (iaVolume) {
        iaVolume->InternalApply = [self](const int32_t &v) {
            if (self && !self->FStoringVolume)
                self->SetVolume(v);
        };
        iaVolume->InternalBeforeSave = [self](int32_t &v) {
            if (self)
                v = self->GetVolume();
            return true;
        };
    }
}

void TAudioMan::StepVolume(int delta)
{
    SetVolume(Volume + delta);
    if (!iaVolume)
        return;
    FStoringVolume = true;
    iaVolume->SetValue(Volume);
    FStoringVolume = false;
}

void TAudioMan::LoadPrefs(TVostrelPreferences *gp)
{
    if (!gp)
        return;
    LoadFromPrefs(gp);
    AudioDecoderList().LoadSection(*gp, QStringLiteral("AudioDecoders"));
}

void TAudioMan::SavePrefs(TVostrelPreferences *gp)
{
    if (!gp)
        return;
    SaveToPrefs(gp);
    AudioDecoderList().SaveSection(*gp, QStringLiteral("AudioDecoders"));
}

// ---- connection -----------------------------------------------------------------

bool TAudioMan::ConnectAudio(TAudioSource *source)
{
    if (source == Source && !IsPlaceholder(source))
        return true;
    // Held ready at the graph's usual format; nothing puts it into the graph.
    Resampler->SetResampling(true);
    Resampler->SetOutputRate(kResamplerRate);
    Source = source ? source : NoAudio();
    if (IsPlaceholder(Source)) {
        SetStatus(AudioRenderer ? asNoAudio : asErrorAudio);
        return false;
    }
    if (!AudioRenderer)
        return false;  // the status stays asErrorAudio
    bool ok = false;
    try {
        ok = ConnectSteps(Source);
    } catch (...) {
        ok = false;
    }
    SetSite(SourceManager, nullptr);
    if (ok) {
        SetStatus(Muted ? asMuted : asAudioOn);
        ApplyVolume();
    } else {
        DisconnectAudio();
        SetStatus(asBadAudio);
    }
    return ok;
}

bool TAudioMan::ConnectSteps(TAudioSource *source)
{
    TGrapheMan *manager = source->OwnerGrapheMan();
    if (!manager)
        if (TMediaDevice *root = RootDevice(source))
            manager = root->OwnerGrapheMan();
    SourceManager = manager;
    if (!manager || !manager->GraphBuilder || !source->Attach(manager, MessageWindow()))
        return false;
    if (IFilterGraph *previous = GraphOf(AudioRenderer.Get()))
        previous->RemoveFilter(AudioRenderer.Get());
    if (FAILED(manager->GraphBuilder->AddFilter(AudioRenderer.Get(), kRendererName.toStdWString().c_str())))
        return false;
    SetSite(manager, static_cast<IAMGraphBuilderCallback *>(FCallback.Get()));
    bool ok = TryConnectAudio();
    if (!ok && !TriedDecoders.isEmpty()) {
        TriedDecoders.clear();
        ok = TryConnectAudio();
    }
    if (ok)
        AfterConnect(source);
    return ok;
}

void TAudioMan::AfterConnect(TAudioSource *source)
{
    MediaKey = source->StreamType();
    QString name = QString::fromStdWString(dshow::FilterName(DecoderFilter.Get()));
    if (name == kRendererName)
        name = kNoDecoderName;
    AudioDecoderList().SetDecoder(MediaKey, TFilterRec(DecoderClsid, name));
    if (OnNotifyAudioDecoder)
        OnNotifyAudioDecoder(name);
    AudioConnected = true;
    if (TNotifier *own = source->SourceNotifierObj()) {
        own->SetAudioWindow(MessageWindow());
        own->SetAudioReports(true);
        own->KindCode = kSourceNotifierKind;
    }
    TGrapheMan *manager = SourceManager;
    if (auto *dv = qobject_cast<TDVMan *>(manager)) {
        if (!dv->DateSource())
            dv->SetDateSource(source);
        if (!dv->TimeCodeSource())
            dv->SetTimeCodeSource(source);
    }
    manager->RemoveUnconnectedFilters();
}

bool TAudioMan::TryConnectAudio()
{
    TAddedFilters added(SourceManager->GraphBuilder.Get());
    ChosenDecoder = &NoAudioDecoder();
    if (TriedDecoders.isEmpty()) {
        ChooseDecoder();
        if (IsSet(ChosenDecoder))
            added.Add(ChosenDecoder);
    }
    if (RenderAudio())
        return true;
    if (IsSet(FallbackAudioDecoder)) {
        added.Add(FallbackAudioDecoder);
        if (RenderAudio())
            return true;
    }
    added.RemoveUnconnected();
    return false;
}

void TAudioMan::ChooseDecoder()
{
    const TFilterRec *found = AudioDecoderList().GetDecoder(Source->StreamType());
    ChosenDecoder = IsSet(found) ? found : DefaultAudioDecoder;
}

// Source output to the renderer; when the source's own filter cannot get
// there, the filter upstream of it tries and the source's filter is left out.
bool TAudioMan::RenderAudio()
{
    IGraphBuilder *graph = SourceManager->GraphBuilder.Get();
    IPin *rendererIn = dshow::PinAt(AudioRenderer.Get(), 0);
    IBaseFilter *own = Source->SourceNotifierFilter();
    IPin *out = dshow::PinAt(own, 1);
    if (!rendererIn || !out)
        return false;
    if (SUCCEEDED(graph->Connect(out, rendererIn))) {
        PathStart = own;
        NotePath(out);
        return true;
    }
    return RenderFromUpstream(graph, rendererIn);
}

bool TAudioMan::RenderFromUpstream(IGraphBuilder *graph, IPin *rendererIn)
{
    IPin *in = dshow::PinAt(Source->SourceNotifierFilter(), 0);
    ComPtr<IPin> upstream = in ? dshow::PeerOf(in) : nullptr;
    if (!upstream)
        return false;
    graph->Disconnect(upstream.Get());
    graph->Disconnect(in);
    if (SUCCEEDED(graph->Connect(upstream.Get(), rendererIn))) {
        PathStart = dshow::FilterOf(upstream.Get());
        NotePath(upstream.Get());
        return true;
    }
    graph->Connect(upstream.Get(), in);
    return false;
}

void TAudioMan::NotePath(IPin *out)
{
    DecoderFilter = dshow::FilterOf(dshow::PeerOf(out).Get());
    DecoderClsid = GUID_NULL;
    if (DecoderFilter && DecoderFilter.Get() != AudioRenderer.Get())
        DecoderFilter->GetClassID(&DecoderClsid);
}

uint8_t TAudioMan::DisconnectAudio()
{
    AudioConnected = false;
    uint8_t result = 0;
    TGrapheMan *manager = SourceManager;
    if (manager && !IsPlaceholder(Source)) {
        try {
            if (auto *dv = qobject_cast<TDVMan *>(manager))
                dv->ForgetSource(Source);
            // Filters cannot leave a graph that runs.
            if (manager->FilterGraph()->State() != gsStopped)
                manager->Stop();
            IGraphBuilder *graph = manager->GraphBuilder.Get();
            const bool connected = PathStart && IsUpstreamOf(AudioRenderer.Get(), PathStart.Get());
            // A source whose connection failed leaves the graph all the same.
            if (!connected || RemoveFiltersBetween(AudioRenderer.Get(), PathStart.Get(), graph)) {
                if (graph)
                    graph->RemoveFilter(AudioRenderer.Get());
                result = Source->Detach() ? 1 : 0;
                SourceManager = nullptr;
                DecoderFilter.Reset();
                DecoderClsid = GUID_NULL;
                PathStart.Reset();
            }
        } catch (...) {
        }
    }
    if (OnNotifyAudioDecoder)
        OnNotifyAudioDecoder(NoAudioDecoder().Name());
    if (OnNotifyAudioFormat)
        OnNotifyAudioFormat(kNoAudioText);
    Source = NoAudio();
    SetStatus(AudioRenderer ? asNoAudio : asErrorAudio);
    if (auto *nav = qobject_cast<TNavMan *>(SourceManager.data()))
        nav->ResetTimeline();
    return result;
}

bool TAudioMan::NextAudioDecoder()
{
    const QPointer<TGrapheMan> manager = SourceManager;
    TAudioSource *source = Source;
    if (!manager || IsPlaceholder(source))
        return false;
    bool connected = false;
    try {
        AddTriedDecoder(TriedDecoders, DecoderClsid);
        AudioDecoderList().RemoveDecoder(MediaKey);
        const TGraphState state = manager->FilterGraph()->State();
        if (state != gsStopped)
            manager->Stop();
        DisconnectAudio();
        if (manager && manager->GraphBuilder)
            manager->GraphBuilder->AddFilter(AudioRenderer.Get(), kRendererName.toStdWString().c_str());
        if (manager)
            manager->RemoveUnconnectedFilters();
        connected = ConnectAudio(source);
        if (connected && manager) {
            manager->Play();
            if (state != gsRunning)
                manager->Pause();
        }
    } catch (...) {
    }
    return connected;
}

// ---- volume and status ------------------------------------------------------------

void TAudioMan::SetVolume(int v)
{
    Volume = std::clamp(v, 0, kVolumeMax);
    ApplyVolume();
}

int TAudioMan::GetVolume()
{
    if (!Muted && SourceManager)
        Volume = SourceManager->FilterGraph()->Volume();
    return Volume;
}

void TAudioMan::SetMute(bool m)
{
    Muted = m;
    if (AudioConnected)
        SetStatus(m ? asMuted : asAudioOn);
    ApplyVolume();
}

void TAudioMan::ApplyVolume()
{
    if (SourceManager)
        SourceManager->FilterGraph()->SetVolume(Muted ? 0 : Volume);
    if (FAudioGauge)
        FAudioGauge->setValue(Volume);
    if (FAudioSlider) {
        const QSignalBlocker quiet(FAudioSlider);
        FAudioSlider->setValue(Volume);
    }
    if (OnVolume)
        OnVolume(Volume);
}

void TAudioMan::SetStatus(TAudioStatus status)
{
    FStatus = status;
    ShowStatusPicture();
    if (OnStatus)
        OnStatus(status);
}

void TAudioMan::ShowStatusPicture()
{
    static constexpr int kPicture[] = {0, 2, 1, 3, 4};  // by TAudioStatus
    if (!FAudioImage)
        return;
    FAudioImage->clear();
    const int index = kPicture[FStatus];
    if (index < FAudioImages.size())
        FAudioImage->setPixmap(FAudioImages[index]);
}

QProgressBar *TAudioMan::AudioGauge() const { return FAudioGauge; }
QSlider *TAudioMan::AudioSlider() const { return FAudioSlider; }
QLabel *TAudioMan::AudioImage() const { return FAudioImage; }

void TAudioMan::SetAudioGauge(QProgressBar *gauge)
{
    FAudioGauge = gauge;
    if (!gauge)
        return;
    gauge->setRange(0, kVolumeMax);
    gauge->setValue(Volume);
}

void TAudioMan::SetAudioSlider(QSlider *slider)
{
    if (FAudioSlider)
        FAudioSlider->disconnect(this);
    FAudioSlider = slider;
    if (!slider)
        return;
    slider->setRange(0, kVolumeMax);
    {
        const QSignalBlocker quiet(slider);
        slider->setValue(Volume);
    }
    connect(slider, &QSlider::valueChanged, this, [this](int v) { SetVolume(v); });
}

void TAudioMan::SetAudioImage(QLabel *image)
{
    FAudioImage = image;
    ShowStatusPicture();
}

void TAudioMan::SetAudioImages(const QList<QPixmap> &images)
{
    FAudioImages = images;
    ShowStatusPicture();
}

void TAudioMan::WndProc(TMessage &message)
{
    if (message.Msg == WM_AUDIO_FORMAT) {
        if (message.wParam == 3 && message.lParam && OnNotifyAudioFormat)
            OnNotifyAudioFormat(reinterpret_cast<const TframeData *>(message.lParam)->AudioLabel);
        return;
    }
    TKWActionComponent::WndProc(message);
}
