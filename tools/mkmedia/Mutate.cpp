#include "tools/mkmedia/Mutate.h"

#include <algorithm>
#include <fstream>
#include <iterator>
#include <random>
#include <vector>

namespace mkmedia {
namespace {

bool ReadAll(const std::string &path, std::vector<char> &data)
{
    std::ifstream in(path, std::ios::binary);
    if (!in)
        return false;
    data.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    return !in.bad();
}

bool WriteAll(const std::string &path, const std::vector<char> &data)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(data.data(), static_cast<std::streamsize>(data.size()));
    return static_cast<bool>(out.flush());
}

} // namespace

bool MutateFile(const std::string &source, const std::string &target, Mutation kind,
                const MutationParams &params)
{
    std::vector<char> data;
    std::mt19937 rng(params.seed);
    switch (kind) {
    case Mutation::Truncate:
        if (!ReadAll(source, data))
            return false;
        data.resize(data.size() * static_cast<size_t>(std::clamp(params.percent, 0, 100)) / 100);
        break;
    case Mutation::FlipBytes:
        if (!ReadAll(source, data))
            return false;
        // The first bytes stay so that the file is still taken for what it was.
        if (data.size() > 16)
            for (int i = 0; i < params.count; ++i)
                data[16 + rng() % (data.size() - 16)] ^= static_cast<char>(0xFF);
        break;
    case Mutation::ZeroLength:
        break;
    case Mutation::RandomBytes:
        data.resize(params.size);
        for (char &c : data)
            c = static_cast<char>(rng());
        break;
    case Mutation::WrongExtension:
        if (!ReadAll(source, data))
            return false;
        break;
    }
    return WriteAll(target, data);
}

} // namespace mkmedia
