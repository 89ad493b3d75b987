#include "TestSupport.h"

#include <QDir>
#include <QFile>
#include <QStringDecoder>

TempHive::TempHive()
{
    m_path = m_dir.filePath(QStringLiteral("HKCU.reg"));
    m_hadPrevious = qEnvironmentVariableIsSet("VIDSTILL_REGISTRY");
    m_previous = qgetenv("VIDSTILL_REGISTRY");
    qputenv("VIDSTILL_REGISTRY", m_path.toLocal8Bit());
}

TempHive::~TempHive()
{
    if (m_hadPrevious)
        qputenv("VIDSTILL_REGISTRY", m_previous);
    else
        qunsetenv("VIDSTILL_REGISTRY");
}

QByteArray TempHive::readFile() const
{
    QFile f(m_path);
    if (!f.open(QIODevice::ReadOnly))
        return {};
    return f.readAll();
}

QString TempHive::readText() const
{
    const QByteArray bytes = readFile();
    auto enc = QStringConverter::encodingForData(bytes);
    QStringDecoder dec(enc.value_or(QStringConverter::Utf8));
    QString text = dec(bytes);
    if (text.startsWith(QChar(0xFEFF)))
        text.remove(0, 1);
    return text;
}

QString TestArtifactsDir()
{
    QString dir = qEnvironmentVariable("VIDSTILL_TEST_ARTIFACTS");
    if (dir.isEmpty())
        dir = QDir::temp().filePath(QStringLiteral("vidstill-test-artifacts"));
    QDir().mkpath(dir);
    return dir;
}

QString ToolsDir()
{
    return qEnvironmentVariable("VIDSTILL_TOOLS_DIR");
}
