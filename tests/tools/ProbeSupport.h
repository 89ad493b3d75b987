// Running vidstill-probe from tests and reading what it writes.
#pragma once

#include "common/TestSupport.h"
#include "tools/mkmedia/FrameIndex.h"

#include <QFile>
#include <QProcess>
#include <QStringList>

#include <cmath>
#include <cstring>
#include <vector>

namespace probetest {

struct ProbeRun {
    int exitCode = -1;
    QString out, err;
};

inline ProbeRun Probe(const QStringList &args)
{
    QProcess p;
    p.start(ToolsDir() + "/vidstill-probe", args);
    ProbeRun r;
    if (!p.waitForFinished(30000)) {
        p.kill();
        p.waitForFinished();
        r.err = "timed out";
        return r;
    }
    r.exitCode = p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -2;
    r.out = QString::fromUtf8(p.readAllStandardOutput());
    r.err = QString::fromUtf8(p.readAllStandardError());
    return r;
}

inline std::vector<long long> Times(const ProbeRun &r)
{
    std::vector<long long> t;
    for (const QString &line : r.out.split('\n', Qt::SkipEmptyParts))
        t.push_back(line.toLongLong());
    return t;
}

// Frame index drawn in a 32-bit bottom-up BMP written by grab.
inline int IndexInBmp(const QString &path)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return -2;
    // A vector, not the QByteArray: GCC's bounds check under the sanitizers
    // takes the byte array for its empty shared buffer.
    const QByteArray raw = f.readAll();
    const std::vector<char> b(raw.begin(), raw.end());
    if (b.size() < 54 || b[0] != 'B' || b[1] != 'M')
        return -3;
    int32_t offset, width, height;
    uint16_t bits;
    std::memcpy(&offset, b.data() + 10, 4);
    std::memcpy(&width, b.data() + 18, 4);
    std::memcpy(&height, b.data() + 22, 4);
    std::memcpy(&bits, b.data() + 28, 2);
    if (bits != 32 || width <= 0 || height <= 0 || qint64(b.size()) < offset + qint64(width) * height * 4)
        return -4;
    std::vector<uint8_t> luma(size_t(width) * size_t(height));
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
            const auto *px = reinterpret_cast<const uint8_t *>(b.data()) + offset
                + (size_t(height - 1 - y) * size_t(width) + size_t(x)) * 4;
            const double full = 0.114 * px[0] + 0.587 * px[1] + 0.299 * px[2];
            luma[size_t(y) * size_t(width) + size_t(x)] = uint8_t(std::lround(16 + full * 219 / 255));
        }
    return mkmedia::ReadFrameIndex(luma.data(), width, width, height);
}

} // namespace probetest
