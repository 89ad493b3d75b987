// Shared test helpers: a throw-away registry hive and folders for artefacts.
#pragma once

#include <QByteArray>
#include <QString>
#include <QTemporaryDir>

// Points VIDSTILL_REGISTRY at a fresh hive file in a temporary folder for the
// object's life, then restores the previous value.
class TempHive {
public:
    TempHive();
    ~TempHive();
    TempHive(const TempHive &) = delete;
    TempHive &operator=(const TempHive &) = delete;

    QString path() const { return m_path; }
    QString dir() const { return m_dir.path(); }
    QByteArray readFile() const;
    // The hive's text (decoded from its byte-order mark).
    QString readText() const;

private:
    QTemporaryDir m_dir;
    QString m_path;
    QByteArray m_previous;
    bool m_hadPrevious = false;
};

// Folder for pictures and other outputs a person may want to look at
// (VIDSTILL_TEST_ARTIFACTS, else a temporary folder); created on demand.
QString TestArtifactsDir();

// Folder of the built command-line tools (VIDSTILL_TOOLS_DIR).
QString ToolsDir();
