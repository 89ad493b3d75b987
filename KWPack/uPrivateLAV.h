// The private LAV modules: the splitter, video and audio decoders, each in
// its own module file of a folder ("LAVSplitter.ax", "LAVVideo.ax",
// "LAVAudio.ax"), loaded by path and used without registering them; and
// their settings, imported from "LAV/LBV.reg" and deleted again at exit.
//
// UI thread only. The object owns the modules and the instances they made;
// Unload (or the destructor) releases the instances, then frees the modules
// (audio, video, splitter).
#pragma once

#include "platform/dshow/Strmif.h"
#include "platform/dshow/Uuids.h"

#include <QString>

#include <memory>

class CModule;

// The private splitter answers to the class identifier of "LAV Splitter Source".
inline constexpr CLSID CLSID_PrivateLAVSplitter = CLSID_LAVSplitterSource;
// {EE30215D-164F-4A92-A4EB-9D4C13390F9F}
inline constexpr CLSID CLSID_PrivateLAVVideo{0xEE30215D, 0x164F, 0x4A92,
                                             {0xA4, 0xEB, 0x9D, 0x4C, 0x13, 0x39, 0x0F, 0x9F}};
// {E8E73B6B-4CB3-44A4-BE99-4F7BCB96E491}
inline constexpr CLSID CLSID_PrivateLAVAudio{0xE8E73B6B, 0x4CB3, 0x44A4,
                                             {0xBE, 0x99, 0x4F, 0x7B, 0xCB, 0x96, 0xE4, 0x91}};

class TPrivateLAV {
public:
    TPrivateLAV();
    ~TPrivateLAV();
    TPrivateLAV(const TPrivateLAV &) = delete;
    TPrivateLAV &operator=(const TPrivateLAV &) = delete;

    // Unloads what was loaded, then loads the splitter, the video decoder and
    // the audio decoder from `folder`, each only when the one before gave an
    // instance. True only when all three exist; what failed is logged.
    bool Load(const QString &folder);
    void Unload();

    const ComPtr<IBaseFilter> &Splitter() const { return FSplitter; }
    const ComPtr<IBaseFilter> &Video() const { return FVideo; }
    const ComPtr<IBaseFilter> &Audio() const { return FAudio; }

    // In-process and finished on return. False (and a log line) when the
    // file cannot be imported / the keys cannot be deleted.
    static bool ImportSettings(const QString &fileName);
    static bool RemoveSettings();  // HKCU\Software\LBV and its subkeys

private:
    std::unique_ptr<CModule> FSplitterModule, FVideoModule, FAudioModule;
    ComPtr<IBaseFilter> FSplitter, FVideo, FAudio;
};
