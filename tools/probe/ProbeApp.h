// What the subcommands that drive the program's own components share: an
// application object's arguments, the quiet offscreen setup and opening a
// file through the media factory. Main thread only.
#pragma once

#include "tools/QuietTool.h"

#include <string>

class TFileDevice;
class TMediaFactory;

// Outlives the application object built from it.
struct ProbeArgv {
    int argc = 1;
    char name[15] = "vidstill-probe";
    char *argv[2] = {name, nullptr};
};


// The factory's device for the file; throws ProbeError when the extension is
// unknown or the file cannot be opened.
TFileDevice *OpenFileDevice(TMediaFactory &factory, const std::string &file);
