// The private ffdshow module: one module file with a video and an audio
// decoder, loaded by path and used without registering it; and its settings,
// imported from "ffdshow/VOS.reg" and deleted again at exit.
//
// UI thread only. The object owns the module and the two instances it made;
// Unload (or the destructor) releases the instances before freeing the module.
#pragma once

#include "platform/dshow/Strmif.h"

#include <QString>

#include <memory>

class CModule;

// {04FE9017-F873-410E-871E-AB91661A4EF7}
inline constexpr CLSID CLSID_PrivateffdshowVideo{0x04FE9017, 0xF873, 0x410E,
                                                 {0x87, 0x1E, 0xAB, 0x91, 0x66, 0x1A, 0x4E, 0xF7}};
// {0F40E1E5-4F79-4988-B1A9-CC98794E6B55}
inline constexpr CLSID CLSID_PrivateffdshowAudio{0x0F40E1E5, 0x4F79, 0x4988,
                                                 {0xB1, 0xA9, 0xCC, 0x98, 0x79, 0x4E, 0x6B, 0x55}};

class TPrivateffdshow {
public:
    TPrivateffdshow();
    ~TPrivateffdshow();
    TPrivateffdshow(const TPrivateffdshow &) = delete;
    TPrivateffdshow &operator=(const TPrivateffdshow &) = delete;

    // Loads the module (unloading what was loaded before), then makes the
    // video instance, then the audio one. True only when both exist; what
    // failed is logged and its instance stays empty.
    bool Load(const QString &modulePath);
    void Unload();

    const ComPtr<IBaseFilter> &Video() const { return FVideo; }
    const ComPtr<IBaseFilter> &Audio() const { return FAudio; }

    // In-process and finished on return. False (and a log line) when the
    // file cannot be imported / the keys cannot be deleted.
    static bool ImportSettings(const QString &fileName);
    static bool RemoveSettings();  // HKCU\Software\VOS and its subkeys

private:
    std::unique_ptr<CModule> FModule;
    ComPtr<IBaseFilter> FVideo, FAudio;
};
