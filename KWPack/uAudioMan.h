// TAudioMan: the audio manager. Connects the first audio stream of the open
// file through a decoder to its own audio renderer, chooses the decoder and
// remembers it per stream type, switches to the next decoder on request, and
// owns the volume and the mute switch.
//
// Decoder choice works as the video manager's: decoders already tried for
// the current file are refused through the graph builder's callback while
// this manager connects, and the chosen decoder is put into the graph first,
// so intelligent connect goes through it.
//
// Volume: 0 to 10000 on the graph's linear scale (10000 is 0 dB, 0 is
// -100 dB). Muting sends 0 to the graph and keeps Volume, which the gauge
// and the slider go on showing.
//
// UI thread only. The stream notifier posts its audio-format report to the
// message window with its own copy of the record.
//
// Ownership: the audio renderer and the resampler are created with the
// manager and live as long as it. Source and SourceManager are borrowed (the
// source belongs to its device; SourceManager clears itself when its manager
// goes). Decoder records set by SetDefaultAudioDecoder and
// SetFallbackAudioDecoder are borrowed. The bound controls are forgotten
// when they are destroyed.
//
// Create with TKWActionComponent::New<TAudioMan>(owner).
#pragma once

#ifndef Q_MOC_RUN  // moc cannot read what this header pulls in
#include "KWPack/uDecoders.h"
#include "KWPack/uResampler.h"
#endif
#include "KWPack/uWndComponent.h"

#include <QList>
#include <QPixmap>
#include <QPointer>
#include <QStringList>

#include <functional>

class QLabel;
class QProgressBar;
class QSlider;
class TAudioSource;
class TGrapheMan;
class TVostrelPreferences;
class TDecoderVeto;

enum TAudioStatus { asNoAudio, asErrorAudio, asBadAudio, asMuted, asAudioOn };

class TAudioMan : public TKWActionComponent {
    Q_OBJECT
public:
    static constexpr int kVolumeStep = 1000;
    static constexpr int kSourceNotifierKind = 130;
    static constexpr int kResamplerRate = 44100;

    explicit TAudioMan(QObject *owner = nullptr);
    ~TAudioMan() override;

    // ---- operations (UI thread) ----
    bool ConnectAudio(TAudioSource *source);
    // The source's detach result (0 when nothing was detached).
    uint8_t DisconnectAudio();
    bool NextAudioDecoder();
    void SetVolume(int v);
    int GetVolume();
    void SetMute(bool m);
    // Borrowed; null or an unset record means none.
    void SetDefaultAudioDecoder(const TFilterRec *rec);
    void SetFallbackAudioDecoder(const TFilterRec *rec) { FallbackAudioDecoder = rec; }
    // The action values, then the remembered decoders in "AudioDecoders".
    void LoadPrefs(TVostrelPreferences *gp);
    void SavePrefs(TVostrelPreferences *gp);

    // ---- bound controls ----
    QProgressBar *AudioGauge() const;
    void SetAudioGauge(QProgressBar *gauge);
    QSlider *AudioSlider() const;
    void SetAudioSlider(QSlider *slider);
    QLabel *AudioImage() const;
    void SetAudioImage(QLabel *image);
    // Status pictures by index: 0 no audio, 1 bad, 2 error, 3 muted, 4 on.
    const QList<QPixmap> &AudioImages() const { return FAudioImages; }
    void SetAudioImages(const QList<QPixmap> &images);

    TAudioStatus Status() const { return FStatus; }

    // ---- overrides ----
    void WndProc(TMessage &message) override;
    void CreateActions() override;
    void LocateActions() override;
    void BindActions() override;

    // ---- fields of the design ----
    ComPtr<IBaseFilter> AudioRenderer;
    TAudioSource *Source = nullptr;  // the placeholder when none
    QPointer<TGrapheMan> SourceManager;
    bool AudioConnected = false;
    ComPtr<IBaseFilter> PathStart;
    QStringList TriedDecoders;  // sorted GUID texts, no duplicates
    ComPtr<IBaseFilter> DecoderFilter;
    CLSID DecoderClsid = GUID_NULL;
    TMediaKey MediaKey;
    const TFilterRec *ChosenDecoder = nullptr;
    const TFilterRec *DefaultAudioDecoder = nullptr;
    const TFilterRec *FallbackAudioDecoder = nullptr;
    int Volume = 5000;
    bool Muted = false;
    ComPtr<TResampler> Resampler;

    // ---- published events ----
    std::function<void(const QString &notifystring)> OnNotifyAudioDecoder;
    std::function<void(const QString &notifystring)> OnNotifyAudioFormat;
    std::function<QString()> OnNoAudioStream;  // published, not called
    std::function<QString()> OnBadAudioStream;  // published, not called
    std::function<void(TAudioStatus status)> OnStatus;
    std::function<void(int vol)> OnVolume;

    TCheckAction *caMute = nullptr;
    TNopeAction *naNextDecoderAudio = nullptr;
    TNopeAction *naIncVolume = nullptr;
    TNopeAction *naDecVolume = nullptr;
    TIntegerAction *iaVolume = nullptr;

    static const QString kRendererName;   // "KW Audio Renderer"
    static const QString kNoDecoderName;  // "No audio decoder": the source feeds the renderer
    static const QString kNoAudioText;    // "No Audio"


private:
    bool ConnectSteps(TAudioSource *source);
    void AfterConnect(TAudioSource *source);
    bool TryConnectAudio();
    void ChooseDecoder();
    bool RenderAudio();
    bool RenderFromUpstream(IGraphBuilder *graph, IPin *rendererIn);
    void NotePath(IPin *out);
    bool IsPlaceholder(TAudioSource *source) const;
    void SetStatus(TAudioStatus status);
    void ShowStatusPicture();
    void ApplyVolume();
    void StepVolume(int delta);

    TAudioStatus FStatus = asNoAudio;
    QPointer<QProgressBar> FAudioGauge;
    QPointer<QSlider> FAudioSlider;
    QPointer<QLabel> FAudioImage;
    QList<QPixmap> FAudioImages;
    bool FStoringVolume = false;  // iaVolume takes a value without applying it
    ComPtr<TDecoderVeto> FCallback;
};
