// Test-clip generator: writes small clips in every container the program
// accepts, each picture carrying its own index (FrameIndex.h), and DV files
// carrying recording dates and time codes (DvPacks.h). Used by the mkmedia
// tool and by tests, which generate what they need at run time.
// Functions are reentrant; any thread, one call per output file.
#pragma once

#include "tools/mkmedia/DvPacks.h"

#include <string>

namespace mkmedia {

struct Rational {
    int num = 0;
    int den = 0;
};

// Zero / empty / -1 fields take the defaults of the output's extension.
struct ClipOptions {
    std::string path;       // extension chooses the container
    std::string codec;      // mpeg1, mpeg2, mpeg4, h264, vp8, wmv2, dv (or an encoder name)
    int width = 0;
    int height = 0;
    Rational rate;          // frames per second
    int frames = 0;
    int gop = -1;
    int bframes = -1;
    int bitRate = 0;        // video bits per second; 0: a third of a bit per pixel
    Rational sar;           // sample aspect ratio
    int audio = -1;         // -1 default for the extension, 0 none, 1 with audio
    int dvType = 2;         // DV in AVI: 1 interleaved ('iavs'), 2 separate streams
    DvDateTime dvStart;     // recording date and time of the first DV frame
};

struct ClipResult {
    bool ok = false;
    std::string error;       // one line, when !ok
    std::string description; // one line describing what was written
    // What was actually written (after defaults and the codec's constraints).
    std::string container;
    std::string videoEncoder;
    std::string audioEncoder; // empty without audio
    int width = 0;
    int height = 0;
    Rational rate;
    Rational sar;
    int frames = 0;
};

ClipResult WriteClip(const ClipOptions &options);

// Lower-case extension without the dot ("" when none).
std::string ExtensionOf(const std::string &path);

// Every extension WriteClip accepts.
const char *const *SupportedExtensions();

} // namespace mkmedia
