// The media factory: the entry point from a file name to its device. It
// chooses the source and splitter filters by the file's extension, with
// fixed fallbacks, and keeps every device it probed, one per file path, so a
// file opened again reuses its device without probing.
//
// Ownership: the factory owns the cached devices (freed with it) and its
// filter records. The graph manager is borrowed; the factory forgets it when
// that component is destroyed.
//
// Threads: UI thread only.
#pragma once

#include "KWPack/uFileDevices.h"

#include <QObject>
#include <QString>

#include <map>
#include <memory>

// A component that works on a graph manager it does not own. The reference
// clears itself when the manager is destroyed.
class TGrapheComponent : public QObject {
public:
    explicit TGrapheComponent(QObject *owner = nullptr);
    ~TGrapheComponent() override;

    TGrapheMan *GrapheMan() const { return FGrapheMan; }
    void SetGrapheMan(TGrapheMan *manager);

private:
    TGrapheMan *FGrapheMan = nullptr;
    QMetaObject::Connection FWatch;
};

class TMediaFactory : public TGrapheComponent {
public:
    explicit TMediaFactory(QObject *owner = nullptr);
    ~TMediaFactory() override;

    // The cached device of the file (probed and stored on the first call),
    // with OwnerGrapheMan set to GrapheMan(). Null without a graph manager
    // and for an extension the factory does not take. The factory keeps it.
    TFileDevice *GetDevice(const QString &fileName);
    // A new device by the extension's branch: each attempt is kept when it
    // is valid; the last one is returned valid or not. Null for an
    // extension outside the lists. The caller owns it.
    std::unique_ptr<TFileDevice> CreateFileDevice(const QString &fileName) const;

    // The record tried first for most files. Assigning null or a record with
    // GUID_NULL restores "LAV Splitter Source".
    const TFilterRecPtr &SplitterSource() const { return FSplitterSource; }
    void SetSplitterSource(TFilterRecPtr record);

    // The records of the system filters the branches use.
    const TFilterRecPtr &LAVSplitterSourceRec() const { return FLAVSplitterSource; }
    const TFilterRecPtr &FileSourceRec() const { return FFileSource; }
    const TFilterRecPtr &AVISplitterRec() const { return FAVISplitter; }
    const TFilterRecPtr &ASFReaderRec() const { return FASFReader; }
    const TFilterRecPtr &WaveParserRec() const { return FWaveParser; }
    const TFilterRecPtr &MPEG2SplitterRec() const { return FMPEG2Splitter; }
    const TFilterRecPtr &MPEG1SplitterRec() const { return FMPEG1Splitter; }

    // Lower-case extension with its dot (".wav"), "" when none.
    static QString FileExtension(const QString &fileName);

private:
    using TAttempt = std::pair<TFilterRecPtr, TFilterRecPtr>;  // splitter, source
    std::unique_ptr<TFileDevice> TryInTurn(const QString &fileName, std::initializer_list<TAttempt> attempts) const;

    TFilterRecPtr FLAVSplitterSource;
    TFilterRecPtr FFileSource;
    TFilterRecPtr FAVISplitter;
    TFilterRecPtr FASFReader;
    TFilterRecPtr FWaveParser;
    TFilterRecPtr FMPEG2Splitter;
    TFilterRecPtr FMPEG1Splitter;
    TFilterRecPtr FSplitterSource;
    // Full file name -> device (null for a file no branch takes).
    std::map<QString, std::unique_ptr<TFileDevice>> FDevices;
};
