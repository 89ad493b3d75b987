#include "KWPack/uDecoders.h"

#include "KWPack/uPreferences.h"
#include "KWPack/uPrivateLAV.h"
#include "KWPack/uPrivateffdshow.h"
#include "platform/dshow/FilterCatalogue.h"

#include <QDir>

#include <algorithm>
#include <limits>

// ---------------------------------------------------------------- records

ComPtr<IBaseFilter> TFilterRec::CreateFilter() const
{
    ComPtr<IBaseFilter> filter;
    if (FAILED(CoCreateInstance(FClsid, nullptr, CLSCTX_INPROC, IID_IBaseFilter, filter.ReleaseAndGetVoidAddress())))
        return nullptr;
    return filter;
}

TBaseFilterRec::TBaseFilterRec(REFCLSID clsid, ComPtr<IBaseFilter> instance, const QString &name)
    : TFilterRec(instance ? clsid : GUID_NULL, instance ? name : kNoBaseFilter), FInstance(std::move(instance))
{
}

TMediaKey MediaKeyOf(const CMediaType &mt)
{
    return TMediaKey{mt.Type(), mt.Subtype(), mt.FormatType()};
}

// ---------------------------------------------------------------- decoder list

namespace {

const QString kMajor = QStringLiteral("majortype");
const QString kSub = QStringLiteral("subtype");
const QString kFormat = QStringLiteral("formattype");
const QString kDecoder = QStringLiteral("decoderguid");
const QString kName = QStringLiteral("name");

QString GuidText(REFGUID guid)
{
    return QString::fromStdString(GuidToString(guid));
}

std::optional<GUID> GuidOf(const QString &text)
{
    return StringToGuid(text.toStdString());
}

// "dc<n>" -> n; -1 for other names.
int EntryNumber(const QString &name)
{
    if (!name.startsWith(QLatin1String("dc"), Qt::CaseInsensitive))
        return -1;
    bool ok = false;
    const int n = name.mid(2).toInt(&ok);
    return ok && n >= 0 ? n : -1;
}

} // namespace

int TDecoderList::IndexOf(const TMediaKey &key) const
{
    const auto it = std::find_if(FLinks.begin(), FLinks.end(), [&](const TDecoderLink &l) { return l.key == key; });
    return it == FLinks.end() ? -1 : static_cast<int>(it - FLinks.begin());
}

void TDecoderList::SetDecoder(const TMediaKey &key, const TFilterRec &rec)
{
    auto copy = std::make_unique<TFilterRec>(rec.Clsid(), rec.Name());
    const int index = IndexOf(key);
    if (index < 0)
        FLinks.push_back({key, std::move(copy)});
    else
        FLinks[static_cast<size_t>(index)].rec = std::move(copy);
}

const TFilterRec *TDecoderList::GetDecoder(const TMediaKey &key) const
{
    const int index = IndexOf(key);
    return index < 0 ? nullptr : FLinks[static_cast<size_t>(index)].rec.get();
}

void TDecoderList::RemoveDecoder(const TMediaKey &key)
{
    const int index = IndexOf(key);
    if (index >= 0)
        FLinks.erase(FLinks.begin() + index);
}

void TDecoderList::Load(TVostrelPreferences &gp)
{
    QStringList names;
    if (!gp.GetKeyNames(names))
        return;
    // In the order they were saved (the store lists "dc10" before "dc2"),
    // names of other forms after them.
    const auto order = [](const QString &name) {
        const int n = EntryNumber(name);
        return n < 0 ? std::numeric_limits<int>::max() : n;
    };
    std::stable_sort(names.begin(), names.end(),
                     [&](const QString &a, const QString &b) { return order(a) < order(b); });
    for (const QString &name : names) {
        if (!gp.OpenKey(name))
            continue;
        const auto major = GuidOf(gp.ReadWideString(kMajor, QString()));
        const auto sub = GuidOf(gp.ReadWideString(kSub, QString()));
        const auto format = GuidOf(gp.ReadWideString(kFormat, QString()));
        const QString decoderName = gp.ReadWideString(kName, QString());
        const auto decoder = GuidOf(gp.ReadWideString(kDecoder, QString()));
        if (major && sub && format && decoder)
            SetDecoder(TMediaKey{*major, *sub, *format}, TFilterRec(*decoder, decoderName));
        gp.CloseKey();
    }
}

void TDecoderList::LoadSection(TVostrelPreferences &gp, const QString &section)
{
    if (!gp.OpenKey(section))
        return;
    Load(gp);
    gp.CloseKey();
}

void TDecoderList::SaveSection(TVostrelPreferences &gp, const QString &section) const
{
    if (!gp.OpenKey(section))
        return;
    Save(gp);
    gp.CloseKey();
}

void TDecoderList::Save(TVostrelPreferences &gp) const
{
    QStringList existing;
    gp.GetKeyNames(existing);
    for (size_t i = 0; i < FLinks.size(); ++i) {
        const TDecoderLink &link = FLinks[i];
        if (!gp.OpenKey(QStringLiteral("dc%1").arg(i)))
            continue;
        gp.WriteWideString(kMajor, GuidText(link.key.majortype));
        gp.WriteWideString(kSub, GuidText(link.key.subtype));
        gp.WriteWideString(kFormat, GuidText(link.key.formattype));
        gp.WriteWideString(kDecoder, GuidText(link.rec->Clsid()));
        gp.WriteWideString(kName, link.rec->Name());
        gp.CloseKey();
    }
    // The store cannot delete a subsection; an emptied one is skipped by Load.
    for (const QString &name : existing) {
        if (EntryNumber(name) < static_cast<int>(FLinks.size()) || !gp.OpenKey(name))
            continue;
        for (const QString &value : {kMajor, kSub, kFormat, kDecoder, kName})
            gp.Store()->DeleteValue(value);
        gp.CloseKey();
    }
}

TDecoderList &VideoDecoderList()
{
    static TDecoderList list;
    return list;
}

TDecoderList &AudioDecoderList()
{
    static TDecoderList list;
    return list;
}

const TFilterRec &NoVideoDecoder()
{
    static const TFilterRec rec(GUID_NULL, QStringLiteral("No Video decoder"));
    return rec;
}

const TFilterRec &NoAudioDecoder()
{
    static const TFilterRec rec(GUID_NULL, QStringLiteral("No Audio decoder"));
    return rec;
}

// ---------------------------------------------------------------- private filters

namespace {

struct TPrivateDef {
    CLSID clsid;
    QString name;
};

const TPrivateDef &PrivateDef(TPrivateFilters::TPrivateIndex index)
{
    static const TPrivateDef defs[TPrivateFilters::pfCount] = {
        {CLSID_PrivateffdshowVideo, QStringLiteral("Private ffdshow Video decoder")},
        {CLSID_PrivateffdshowAudio, QStringLiteral("Private ffdshow Audio decoder")},
        {CLSID_PrivateLAVSplitter, QStringLiteral("Private LAV Source Splitter")},
        {CLSID_PrivateLAVVideo, QStringLiteral("Private LAV Video Decoder")},
        {CLSID_PrivateLAVAudio, QStringLiteral("Private LAV Audio Decoder")},
    };
    return defs[index];
}

} // namespace

const QString &TPrivateFilters::RecordName(TPrivateIndex index)
{
    return PrivateDef(index).name;
}

const CLSID &TPrivateFilters::RecordClsid(TPrivateIndex index)
{
    return PrivateDef(index).clsid;
}

TPrivateFilters::TPrivateFilters()
    : Fffdshow(std::make_unique<TPrivateffdshow>()), FLAV(std::make_unique<TPrivateLAV>())
{
}

TPrivateFilters::~TPrivateFilters()
{
    Unload();
}

bool TPrivateFilters::Load(const QString &folder)
{
    Unload();
    const QDir dir(folder);
    Fffdshow->Load(dir.filePath(QStringLiteral("ffdshow/ffdshow.ax")));
    FLAV->Load(dir.filePath(QStringLiteral("LAV")));
    const ComPtr<IBaseFilter> instances[pfCount] = {Fffdshow->Video(), Fffdshow->Audio(), FLAV->Splitter(),
                                                    FLAV->Video(), FLAV->Audio()};
    bool all = true;
    for (int i = 0; i < pfCount; ++i) {
        const auto index = static_cast<TPrivateIndex>(i);
        FRecords.push_back(std::make_unique<TBaseFilterRec>(RecordClsid(index), instances[i], RecordName(index)));
        all = all && instances[i];
    }
    return all;
}

void TPrivateFilters::Unload()
{
    FRecords.clear();
    FLAV->Unload();
    Fffdshow->Unload();
}

const TBaseFilterRec *TPrivateFilters::Record(TPrivateIndex index) const
{
    return Loaded() ? FRecords[static_cast<size_t>(index)].get() : nullptr;
}

std::vector<const TBaseFilterRec *> TPrivateFilters::Records() const
{
    std::vector<const TBaseFilterRec *> out;
    for (const auto &rec : FRecords)
        out.push_back(rec.get());
    return out;
}

const TFilterRec *TPrivateFilters::RestorePrivate(const TFilterRec *rec) const
{
    if (!rec || !Loaded())
        return rec;
    // By the fixed names: a private record that failed to load is named
    // "No BaseFilter", and the remembered decoder must still map to it.
    for (const TPrivateIndex index : {pfFFDShowVideo, pfLAVVideo})
        if (rec->Name().startsWith(RecordName(index)))
            return Record(index);
    return rec;
}

void TPrivateFilters::ImportSettings(const QString &folder)
{
    const QDir dir(folder);
    TPrivateLAV::ImportSettings(dir.filePath(QStringLiteral("LAV/LBV.reg")));
    TPrivateffdshow::ImportSettings(dir.filePath(QStringLiteral("ffdshow/VOS.reg")));
}

void TPrivateFilters::RemoveSettings()
{
    TPrivateffdshow::RemoveSettings();
    TPrivateLAV::RemoveSettings();
}
