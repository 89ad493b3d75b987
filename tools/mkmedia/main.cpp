// mkmedia: writes one test clip. See MkMedia.h for what each extension gets.
#include "tools/mkmedia/MkMedia.h"

extern "C" {
#include <libavutil/log.h>
}

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

const char kUsage[] =
    "usage: mkmedia OUT.ext [--codec NAME] [--size WxH] [--rate N/D] [--frames N] [--gop N]"
    " [--bframes N] [--bitrate KBITS] [--sar N:D] [--audio|--no-audio] [--dv-type 1|2]"
    " [--dv-date \"YYYY-MM-DD hh:mm:ss\"]";

bool ParseInt(const char *s, int &out)
{
    char *end = nullptr;
    const long v = std::strtol(s, &end, 10);
    if (end == s || *end || v < 0 || v > 1000000)
        return false;
    out = static_cast<int>(v);
    return true;
}

bool ParsePair(const char *s, char sep, int &a, int &b)
{
    const char *at = std::strchr(s, sep);
    if (!at)
        return sep == '/' && ParseInt(s, a) && (b = 1, a > 0); // "25" means 25/1
    const std::string first(s, at);
    return ParseInt(first.c_str(), a) && ParseInt(at + 1, b) && a > 0 && b > 0;
}

// Returns an error text, empty when the option was understood.
std::string ParseOption(const std::string &opt, const char *value, mkmedia::ClipOptions &o)
{
    bool ok = value != nullptr;
    if (ok && opt == "--codec")
        o.codec = value;
    else if (ok && opt == "--size")
        ok = ParsePair(value, 'x', o.width, o.height);
    else if (ok && opt == "--rate")
        ok = ParsePair(value, '/', o.rate.num, o.rate.den);
    else if (ok && opt == "--sar")
        ok = ParsePair(value, ':', o.sar.num, o.sar.den);
    else if (ok && opt == "--frames")
        ok = ParseInt(value, o.frames) && o.frames > 0;
    else if (ok && opt == "--gop")
        ok = ParseInt(value, o.gop) && o.gop > 0;
    else if (ok && opt == "--bframes")
        ok = ParseInt(value, o.bframes);
    else if (ok && opt == "--bitrate")
        ok = ParseInt(value, o.bitRate) && o.bitRate > 0 && (o.bitRate *= 1000, true);
    else if (ok && opt == "--dv-type")
        ok = ParseInt(value, o.dvType);
    else if (ok && opt == "--dv-date")
        ok = mkmedia::ParseDvDateTime(value, o.dvStart);
    else
        return value ? "unknown option " + opt : "missing value for " + opt;
    return ok ? std::string() : "bad value for " + opt + ": " + value;
}

} // namespace

int main(int argc, char **argv)
{
    av_log_set_level(AV_LOG_ERROR);
    mkmedia::ClipOptions o;
    bool dvAsked = false;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        dvAsked = dvAsked || arg == "--dv-type" || arg == "--dv-date";
        std::string error;
        if (arg == "--help" || arg == "-h") {
            std::printf("%s\n", kUsage);
            return 0;
        }
        if (arg == "--audio" || arg == "--no-audio")
            o.audio = arg == "--audio" ? 1 : 0;
        else if (arg.rfind("--", 0) == 0)
            error = ParseOption(arg, i + 1 < argc ? argv[++i] : nullptr, o);
        else if (o.path.empty())
            o.path = arg;
        else
            error = "more than one output file";
        if (!error.empty()) {
            std::fprintf(stderr, "mkmedia: %s\n", error.c_str());
            return 2;
        }
    }
    if (o.path.empty()) {
        std::fprintf(stderr, "%s\n", kUsage);
        return 2;
    }
    // Asking for a DV type or a recording date means a DV clip.
    if (o.codec.empty() && dvAsked)
        o.codec = "dv";
    const mkmedia::ClipResult r = mkmedia::WriteClip(o);
    if (!r.ok) {
        std::fprintf(stderr, "mkmedia: %s\n", r.error.c_str());
        return 1;
    }
    std::printf("%s\n", r.description.c_str());
    return 0;
}
