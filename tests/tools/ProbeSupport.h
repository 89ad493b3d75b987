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

inline ProbeRun Probe(const QStringList &args, int timeoutMs = 30000)
{
    QProcess p;
    p.start(ToolsDir() + "/vidstill-probe", args);
    ProbeRun r;
    if (!p.waitForFinished(timeoutMs)) {
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

// Frame index drawn in a BMP written by grab (its 14-byte file header, then
// the renderer's bitmap).
inline int IndexInBmp(const QString &path)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return -2;
    // A vector, not the QByteArray: GCC's bounds check under the sanitizers
    // takes the byte array for its empty shared buffer.
    const QByteArray raw = f.readAll();
    const std::vector<uint8_t> b(raw.begin(), raw.end());
    if (b.size() < 54 || b[0] != 'B' || b[1] != 'M')
        return -3;
    return mkmedia::ReadFrameIndexFromDib(b.data() + 14, b.size() - 14);
}

} // namespace probetest
