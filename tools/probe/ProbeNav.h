// vidstill-probe nav FILE [--fast] [--timing] COMMAND...: the program's
// navigation on a file. Builds the graph as the program does (source,
// decoders, the frame notifier in front of the video renderer, the audio
// renderer when there is sound), drives it with a navigation manager and a
// renderer manager on an offscreen host, pauses at the start, and runs the
// commands in order. After each it prints one line: the command, the media
// time of the frame shown (100 ns) and its "h:mm:ss:ff" text, and with
// --timing the milliseconds the command took.
//
// Commands: seek=TEXT (the typed-position seek), at=T (precise seek to T),
// fwd=STEP and back=STEP with STEP one of 1f 10f 1s 10s 1m 10m, start, end,
// play=MS (run MS ms of wall time, then pause), grab=PATH.bmp (the picture
// shown, written aside and renamed). --fast: steps and typed positions take
// the fast (key frame) path.
//
// Main thread only. Needs the FFmpeg and renderer filters registered.
#pragma once

#include <string>
#include <vector>

// args: what follows "nav" on the command line. Throws ProbeError (one line)
// for a bad option or command, or a file that cannot be opened.
void ProbeNav(const std::vector<std::string> &args);
