// Damaged copies of generated clips for bad-input tests: truncated, with
// flipped bytes, empty, random, or with contents that do not match the name.
// Pure file operations; any thread.
#pragma once

#include <cstdint>
#include <string>

namespace mkmedia {

enum class Mutation {
    Truncate,       // keep the first `percent` per cent
    FlipBytes,      // invert `count` bytes at random positions past the first 16
    ZeroLength,     // an empty file
    RandomBytes,    // `size` random bytes, nothing of the source
    WrongExtension, // the source unchanged; the caller names the copy with another extension
};

struct MutationParams {
    int percent = 50;
    int count = 32;
    size_t size = 4096;
    uint32_t seed = 1; // same seed, same damage
};

// Writes the damaged version of `source` to `target`; false when a file cannot
// be read or written.
bool MutateFile(const std::string &source, const std::string &target, Mutation kind,
                const MutationParams &params = {});

} // namespace mkmedia
