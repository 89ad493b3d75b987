// vidstill-probe device FILE: what the media factory makes of a file (its
// device, the DV devices inside it and every source, each attached once to a
// graph manager to learn the type its notifier connects with), as one JSON
// object on stdout.
//
// Main thread only. Needs the FFmpeg filters registered (RegisterProbeFilters).
#pragma once

#include <string>

// Throws ProbeError (one line) when the factory takes no such extension or
// the file cannot be opened (an invalid device).
void ProbeDevice(const std::string &file);
