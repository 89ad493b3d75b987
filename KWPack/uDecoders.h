// Filter records (a filter named by class identifier and name, able to make
// an instance) and the decoder lists that remember, per stream type, the
// decoder that was used last; and the owner of the private filters' records.
//
// UI thread only.
#pragma once

#include "platform/dshow/Strmif.h"

#include <QString>

#include <memory>
#include <vector>

class TVostrelPreferences;
class TPrivateffdshow;
class TPrivateLAV;

// A filter named by its class identifier. Counts as set only when the
// identifier is not GUID_NULL (IsSet).
class TFilterRec {
public:
    TFilterRec(REFCLSID clsid, const QString &name) : FClsid(clsid), FName(name) {}
    virtual ~TFilterRec() = default;
    TFilterRec(const TFilterRec &) = default;
    TFilterRec &operator=(const TFilterRec &) = default;

    // A new instance from the filter catalogue, or null when it cannot be made.
    // The caller holds the returned reference.
    virtual ComPtr<IBaseFilter> CreateFilter() const;

    const CLSID &Clsid() const { return FClsid; }
    const QString &Name() const { return FName; }

protected:
    CLSID FClsid;
    QString FName;
};

// True when rec exists and its class identifier is not GUID_NULL.
inline bool IsSet(const TFilterRec *rec) { return rec && rec->Clsid() != GUID_NULL; }

// A record holding a ready instance (a private module's filter, which the
// catalogue cannot create): CreateFilter hands out that one instance, so every
// graph that uses the record uses the same filter object. Without an instance
// the record is "No BaseFilter" with GUID_NULL.
class TBaseFilterRec : public TFilterRec {
public:
    TBaseFilterRec(REFCLSID clsid, ComPtr<IBaseFilter> instance, const QString &name);

    ComPtr<IBaseFilter> CreateFilter() const override { return FInstance; }
    const ComPtr<IBaseFilter> &Instance() const { return FInstance; }

private:
    ComPtr<IBaseFilter> FInstance;
};

inline const QString kNoBaseFilter = QStringLiteral("No BaseFilter");

// The media-type key of the decoder memory: a stream's major type, subtype
// and format type.
struct TMediaKey {
    GUID majortype = GUID_NULL;
    GUID subtype = GUID_NULL;
    GUID formattype = GUID_NULL;
    friend bool operator==(const TMediaKey &, const TMediaKey &) = default;
};

TMediaKey MediaKeyOf(const CMediaType &mt);

// The decoder remembered for each stream type, in the order the types were
// first seen. The list owns its records: SetDecoder keeps a plain copy
// (class identifier and name) of what it is given, so the caller keeps its
// own record and a TBaseFilterRec's instance is not held by the list (the
// private records are mapped back by name, TPrivateFilters::RestorePrivate).
// Records returned by GetDecoder and Decoder live until that link is set
// again or removed.
class TDecoderList {
public:
    TDecoderList() = default;
    TDecoderList(const TDecoderList &) = delete;
    TDecoderList &operator=(const TDecoderList &) = delete;

    // Replaces the record of the link with that key, or appends a link.
    void SetDecoder(const TMediaKey &key, const TFilterRec &rec);
    // The record for the key, or null.
    const TFilterRec *GetDecoder(const TMediaKey &key) const;
    void RemoveDecoder(const TMediaKey &key);
    // Position of the link with that key, or -1.
    int IndexOf(const TMediaKey &key) const;

    int Count() const { return static_cast<int>(FLinks.size()); }
    const TMediaKey &Key(int index) const { return FLinks.at(static_cast<size_t>(index)).key; }
    const TFilterRec &Decoder(int index) const { return *FLinks.at(static_cast<size_t>(index)).rec; }
    void Clear() { FLinks.clear(); }

    // Inside the section the caller opened ("VideoDecoders", "AudioDecoders"):
    // one subsection "dc0", "dc1" ... per link with the values "majortype",
    // "subtype", "formattype", "decoderguid" (GUID text) and "name". Load adds
    // what it reads to the list and skips entries whose GUID texts are bad.
    void Load(TVostrelPreferences &gp);
    // Entries beyond the list left by an earlier, longer save are emptied, so
    // that a removed link does not come back at the next load.
    void Save(TVostrelPreferences &gp) const;
    // The same in the named section, opened and closed here.
    void LoadSection(TVostrelPreferences &gp, const QString &section);
    void SaveSection(TVostrelPreferences &gp, const QString &section) const;

private:
    struct TDecoderLink {
        TMediaKey key;
        std::unique_ptr<TFilterRec> rec;
    };
    std::vector<TDecoderLink> FLinks;
};

// The program-wide lists and placeholders; they live as long as the program.
TDecoderList &VideoDecoderList();
TDecoderList &AudioDecoderList();
const TFilterRec &NoVideoDecoder();  // "No Video decoder", GUID_NULL
const TFilterRec &NoAudioDecoder();  // "No Audio decoder", GUID_NULL

// The private LAV and ffdshow filters of a private folder, and their five
// records. The main window holds one while the private filters are in use.
class TPrivateFilters {
public:
    // The records, in this order.
    enum TPrivateIndex { pfFFDShowVideo, pfFFDShowAudio, pfLAVSplitter, pfLAVVideo, pfLAVAudio, pfCount };

    TPrivateFilters();
    ~TPrivateFilters();  // Unload
    TPrivateFilters(const TPrivateFilters &) = delete;
    TPrivateFilters &operator=(const TPrivateFilters &) = delete;

    // Loads "ffdshow/ffdshow.ax" and the modules of "LAV/" from `folder`
    // (with or without a trailing separator) and builds the five records; a
    // record whose instance could not be made is "No BaseFilter". True when
    // all five exist. Loads again after an Unload.
    bool Load(const QString &folder);
    // Frees the records, unloads LAV, then ffdshow.
    void Unload();
    bool Loaded() const { return !FRecords.empty(); }

    // Null before Load. Owned here, valid until Unload.
    const TBaseFilterRec *Record(TPrivateIndex index) const;
    // The five, or none before Load.
    std::vector<const TBaseFilterRec *> Records() const;

    // A remembered decoder whose name begins with "Private ffdshow Video
    // decoder" or "Private LAV Video Decoder" stands for the loaded private
    // record; any other record (or any record before Load) stands for itself.
    const TFilterRec *RestorePrivate(const TFilterRec *rec) const;

    // Imports the settings files of `folder`: LAV first, then ffdshow.
    static void ImportSettings(const QString &folder);
    // Deletes the keys they create: ffdshow first, then LAV.
    static void RemoveSettings();

    static const QString &RecordName(TPrivateIndex index);
    static const CLSID &RecordClsid(TPrivateIndex index);

private:
    std::unique_ptr<TPrivateffdshow> Fffdshow;
    std::unique_ptr<TPrivateLAV> FLAV;
    std::vector<std::unique_ptr<TBaseFilterRec>> FRecords;
};
