// vidstill-probe connect FILE [--next-decoder] [--private DIR]: the file's
// first audio and video sources connected as the main window connects them
// (the audio manager, then the video manager on an offscreen host, into the
// navigation manager's graph, the sound kept silent), paused on the first
// picture. Prints one JSON object: the
// video state, the decoder (name and class identifier), the media key, the
// aspect after the format report, the status panel's text, the audio
// decoder and status, and the frame duration the navigation manager got.
// With --next-decoder the video manager then switches to the next decoder
// once and a second object follows. The private decoders of DIR (by default
// the build's private folder beside the tool) give the fallback decoders.
//
// Main thread only. Needs the FFmpeg and renderer filters registered.
#pragma once

#include <string>
#include <vector>

// args: what follows "connect". Throws ProbeError (one line) for a bad
// option or a file the media factory cannot open.
void ProbeConnect(const std::vector<std::string> &args);
