// vidstill-probe dv FILE [--count N]: the DV recording date and time code of
// every analysed frame of the file's first video source, one line each:
//   COUNTER DATEVALID yyyy-mm-dd hh:nn:ss|- TCVALID h:mm:ss:ff|-
// The source is attached as the program attaches it, its reporting notifier
// sends the per-frame record, and the file runs to its end (or N frames)
// without a clock into a renderer that only takes the samples.
//
// Main thread only. Needs the FFmpeg filters registered (RegisterProbeFilters).
#pragma once

#include <string>

// count 0: the whole file. Throws ProbeError (one line) when the file cannot
// be opened, has no video, or stalls for 10 s.
void ProbeDv(const std::string &file, long long count);
