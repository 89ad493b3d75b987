// What our video decoders read from the current user's registry, under
// HKCU\Software\Vidstill\Video Decoder, when their input connects:
//   PictureCacheMB  DWORD  the decoded-picture cache's cap in MB (0: no cache)
//   SkipHidden      DWORD  0: convert and decode every picture, also those a
//                          precise seek swallows
// A missing or unreadable value means the default.
//
// UI thread (connections).
#pragma once

#include <cstdint>

struct VideoDecodingSettings {
    static constexpr uint32_t kDefaultCacheMB = 512;
    int64_t cacheBytes = int64_t(kDefaultCacheMB) << 20;
    bool skipHidden = true;
};

inline constexpr const char *kVideoDecodingKey = "Software\\Vidstill\\Video Decoder";

VideoDecodingSettings ReadVideoDecodingSettings();

// The decoding threads that suit this machine: one per processor, at most 16.
int MachineDecoderThreads();
