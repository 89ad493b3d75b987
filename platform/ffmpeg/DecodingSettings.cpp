#include "platform/ffmpeg/DecodingSettings.h"

#include "platform/registry/Registry.h"

#include <algorithm>
#include <optional>
#include <thread>

namespace {

// Beyond this, more threads only cost memory (and each adds a picture of delay).
constexpr unsigned kMaxThreads = 16;
// A cap the machine could never hold is a typing slip: the cache stays bounded.
constexpr uint32_t kMaxCacheMB = 64 * 1024;

std::optional<uint32_t> Dword(const char *name)
{
    const auto value = reg::QueryValue(QString::fromLatin1(kVideoDecodingKey), QString::fromLatin1(name));
    return value ? value->ToDword() : std::nullopt;
}

} // namespace

VideoDecodingSettings ReadVideoDecodingSettings()
{
    VideoDecodingSettings settings;
    if (const auto mb = Dword("PictureCacheMB"))
        settings.cacheBytes = int64_t(std::min(*mb, kMaxCacheMB)) << 20;
    if (const auto skip = Dword("SkipHidden"))
        settings.skipHidden = *skip != 0;
    return settings;
}

int MachineDecoderThreads()
{
    return int(std::clamp(std::thread::hardware_concurrency(), 1u, kMaxThreads));
}
