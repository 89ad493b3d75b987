// vidstill-probe decoders [--private DIR]: the decoder records the program
// can draw on, one line each, "KIND<TAB>NAME<TAB>{CLSID}<TAB>ok|failed":
// the system decoders of the filter catalogue (KIND "system"; ok when the
// record makes an instance) and the five private records after loading the
// private folder (KIND "private"; a record without an instance is "No
// BaseFilter" with the null identifier). DIR defaults to the program
// folder's "../bin/".
//
// Failures (a bad option, a folder that is not one) throw ProbeError.
// Main thread only; the filters must be registered first.
#pragma once

#include <string>
#include <vector>

// `args` are the words after "decoders".
void ProbeDecoders(const std::vector<std::string> &args);
