// Filter records and decoder lists: what a record makes, how a list keeps
// one decoder per stream type, and what it writes to and reads back from
// both stores, value by value.
#include "KWPack/uDecoders.h"
#include "KWPack/uPreferences.h"
#include "common/TestSupport.h"
#include "platform/dshow/FilterCatalogue.h"
#include "platform/dshow/SmartTee.h"
#include "platform/dshow/Uuids.h"
#include "platform/registry/Registry.h"

#include <gtest/gtest.h>

#include <QTemporaryDir>

namespace {

const QString kVideoKey = QStringLiteral("Software\\Vostrel\\Vidstill\\VideoDecoders");

const TMediaKey kH264{MEDIATYPE_Video, MEDIASUBTYPE_H264, FORMAT_VideoInfo2};
const TMediaKey kAvc1{MEDIATYPE_Video, MEDIASUBTYPE_AVC1, FORMAT_MPEG2Video};
const TMediaKey kDv{MEDIATYPE_Video, MEDIASUBTYPE_dvsd, FORMAT_VideoInfo};

const CLSID kDecoderA = *StringToGuid("{04FE9017-F873-410E-871E-AB91661A4EF7}");
const CLSID kDecoderB = *StringToGuid("{EE30215D-164F-4A92-A4EB-9D4C13390F9F}");

QString Text(REFGUID g)
{
    return QString::fromStdString(GuidToString(g));
}

void ExpectSameLinks(const TDecoderList &got, const TDecoderList &want)
{
    ASSERT_EQ(got.Count(), want.Count());
    for (int i = 0; i < want.Count(); ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(got.Key(i), want.Key(i));
        EXPECT_EQ(got.Decoder(i).Clsid(), want.Decoder(i).Clsid());
        EXPECT_EQ(got.Decoder(i).Name(), want.Decoder(i).Name());
    }
}

} // namespace

// ---------------------------------------------------------------- records

TEST(FilterRecords, PlainRecordsAskTheCatalogueHeldRecordsHandOutTheirInstance)
{
    RegisterFilter({CLSID_SmartTee, L"Smart Tee", MERIT_DO_NOT_USE, {}, false, [](REFIID riid, void **ppv) {
                        ComPtr<CBaseFilter> f(new CSmartTee());
                        return f->NonDelegatingQueryInterface(riid, ppv);
                    }});
    const TFilterRec tee(CLSID_SmartTee, "Smart Tee");
    const ComPtr<IBaseFilter> a = tee.CreateFilter(), b = tee.CreateFilter();
    ASSERT_TRUE(a && b);
    EXPECT_NE(a, b);
    EXPECT_EQ(TFilterRec(kDecoderA, "not in the catalogue").CreateFilter(), nullptr);
    EXPECT_EQ(TFilterRec(CLSID_FilterGraph, "no filter").CreateFilter(), nullptr);
    EXPECT_EQ(NoVideoDecoder().CreateFilter(), nullptr);

    const TBaseFilterRec held(kDecoderA, a, "Private ffdshow Video decoder");
    EXPECT_EQ(held.CreateFilter(), a);
    EXPECT_EQ(held.CreateFilter(), a);
    EXPECT_TRUE(IsSet(&held));
    const TBaseFilterRec empty(kDecoderA, nullptr, "Private ffdshow Video decoder");
    EXPECT_EQ(empty.Clsid(), GUID_NULL);
    EXPECT_EQ(empty.Name(), "No BaseFilter");
    EXPECT_FALSE(IsSet(&empty));
    EXPECT_FALSE(IsSet(&NoVideoDecoder()));
    EXPECT_FALSE(IsSet(&NoAudioDecoder()));
    EXPECT_EQ(NoAudioDecoder().Name(), "No Audio decoder");
    EXPECT_NE(&VideoDecoderList(), &AudioDecoderList());
}

// ---------------------------------------------------------------- the list

TEST(DecoderList, OneLinkPerKeyAllThreeIdentifiersCount)
{
    TDecoderList list;
    list.SetDecoder(kH264, TFilterRec(kDecoderA, "A"));
    list.SetDecoder(kAvc1, TFilterRec(kDecoderB, "B"));
    // Same major type and subtype as kH264, other format: a key of its own.
    const TMediaKey otherFormat{MEDIATYPE_Video, MEDIASUBTYPE_H264, FORMAT_VideoInfo};
    const TMediaKey otherMajor{MEDIATYPE_Audio, MEDIASUBTYPE_H264, FORMAT_VideoInfo2};
    EXPECT_EQ(list.IndexOf(otherFormat), -1);
    EXPECT_EQ(list.IndexOf(otherMajor), -1);
    EXPECT_EQ(list.GetDecoder(otherFormat), nullptr);

    list.SetDecoder(kH264, TFilterRec(kDecoderB, "B again"));  // replaces, keeps the length and place
    ASSERT_EQ(list.Count(), 2);
    EXPECT_EQ(list.IndexOf(kH264), 0);
    EXPECT_EQ(list.GetDecoder(kH264)->Name(), "B again");
    EXPECT_EQ(list.GetDecoder(kH264)->Clsid(), kDecoderB);

    list.RemoveDecoder(kDv);  // not there: nothing happens
    list.RemoveDecoder(kH264);
    ASSERT_EQ(list.Count(), 1);
    EXPECT_EQ(list.IndexOf(kAvc1), 0);
    EXPECT_EQ(list.GetDecoder(kH264), nullptr);
}

TEST(DecoderList, KeepsItsOwnPlainCopyOfWhatItIsGiven)
{
    TDecoderList list;
    ComPtr<IBaseFilter> instance(new CSmartTee());
    {
        const TBaseFilterRec given(kDecoderA, instance, "Private ffdshow Video decoder");
        list.SetDecoder(kH264, given);
    }
    const TFilterRec *kept = list.GetDecoder(kH264);
    ASSERT_NE(kept, nullptr);
    EXPECT_EQ(kept->Name(), "Private ffdshow Video decoder");
    EXPECT_EQ(dynamic_cast<const TBaseFilterRec *>(kept), nullptr);
    // The list holds no reference to the private instance: ours is the last.
    EXPECT_EQ(instance->AddRef(), 2u);
    instance->Release();
}

// ---------------------------------------------------------------- persistence

class DecoderListStore : public ::testing::TestWithParam<TSavePreferences> {
protected:
    void SetUp() override
    {
        gp.titre = "Vidstill";
        gp.ExeFolder = dir.path() + "/";
        gp.ExeName = dir.path() + "/Vidstill";
        gp.SetMode(GetParam());
        list.SetDecoder(kH264, TFilterRec(kDecoderA, "Private ffdshow Video decoder"));
        list.SetDecoder(kAvc1, TFilterRec(kDecoderB, QString::fromUtf8("Décodeur \"B\"")));
        list.SetDecoder(kDv, TFilterRec(GUID_NULL, "No Video Decoder"));
    }
    void SaveAs(const TDecoderList &l)
    {
        ASSERT_TRUE(gp.OpenKey("VideoDecoders"));
        l.Save(gp);
        gp.CloseKey();
    }
    void LoadInto(TDecoderList &l)
    {
        ASSERT_TRUE(gp.OpenKey("VideoDecoders"));
        l.Load(gp);
        gp.CloseKey();
    }
    // The five values of entry n, in the order they were written.
    QStringList Entry(int n)
    {
        QStringList values;
        const QString section = QStringLiteral("VideoDecoders\\dc%1").arg(n);
        if (GetParam() == spRegistre) {
            for (const QString &name : reg::ValueNames(kVideoKey + QStringLiteral("\\dc%1").arg(n)).value_or(QStringList()))
                values << name + "=" + reg::QueryValue(kVideoKey + QStringLiteral("\\dc%1").arg(n), name)->ToString();
            return values;
        }
        const QStringList lines = static_cast<TIniPreferencesMan *>(gp.Store())->Lines();
        for (qsizetype i = lines.indexOf("[" + section + "]") + 1; i > 0 && i < lines.size(); ++i) {
            if (lines[i].isEmpty() || lines[i].startsWith('['))
                break;
            values << lines[i];
        }
        return values;
    }

    TempHive hive;
    QTemporaryDir dir;
    TVostrelPreferences gp{nullptr};
    TDecoderList list;
};

TEST_P(DecoderListStore, WritesOneSubsectionPerLinkValueByValue)
{
    SaveAs(list);
    EXPECT_EQ(Entry(0), (QStringList{"majortype=" + Text(MEDIATYPE_Video), "subtype=" + Text(MEDIASUBTYPE_H264),
                                     "formattype=" + Text(FORMAT_VideoInfo2),
                                     "decoderguid={04FE9017-F873-410E-871E-AB91661A4EF7}",
                                     "name=Private ffdshow Video decoder"}));
    EXPECT_EQ(Entry(1)[1], "subtype={31435641-0000-0010-8000-00AA00389B71}");  // 'AVC1'
    EXPECT_EQ(Entry(1)[4], QString::fromUtf8("name=Décodeur \"B\""));
    EXPECT_EQ(Entry(2)[3], "decoderguid={00000000-0000-0000-0000-000000000000}");
    EXPECT_TRUE(Entry(3).isEmpty());

    TDecoderList back;
    LoadInto(back);
    ExpectSameLinks(back, list);
}

TEST_P(DecoderListStore, EntriesWithBadIdentifiersAreSkipped)
{
    SaveAs(list);
    ASSERT_TRUE(gp.OpenKey("VideoDecoders"));
    ASSERT_TRUE(gp.OpenKey("dc0"));
    gp.WriteWideString("majortype", "{73646976-0000-0010-8000}");
    gp.CloseKey();
    ASSERT_TRUE(gp.OpenKey("dc1"));
    gp.Store()->DeleteValue("decoderguid");
    gp.CloseKey();
    ASSERT_TRUE(gp.OpenKey("dc7"));  // only a name
    gp.WriteWideString("name", "orphan");
    gp.CloseKey();
    ASSERT_TRUE(gp.OpenKey("other"));  // not ours, but well formed: taken
    gp.WriteWideString("majortype", Text(MEDIATYPE_Audio));
    gp.WriteWideString("subtype", Text(MEDIASUBTYPE_PCM));
    gp.WriteWideString("formattype", Text(FORMAT_WaveFormatEx));
    gp.WriteWideString("decoderguid", Text(kDecoderB).toLower());
    gp.CloseKey();
    gp.CloseKey();

    TDecoderList back;
    LoadInto(back);
    ASSERT_EQ(back.Count(), 2);
    EXPECT_EQ(back.Key(0), kDv);
    EXPECT_EQ(back.Key(1), (TMediaKey{MEDIATYPE_Audio, MEDIASUBTYPE_PCM, FORMAT_WaveFormatEx}));
    EXPECT_EQ(back.Decoder(1).Clsid(), kDecoderB);
    EXPECT_EQ(back.Decoder(1).Name(), "");
}

TEST_P(DecoderListStore, ARemovedLinkDoesNotComeBack)
{
    SaveAs(list);
    list.RemoveDecoder(kDv);  // the last one: its entry would be read again
    SaveAs(list);
    TDecoderList back;
    LoadInto(back);
    ExpectSameLinks(back, list);
    // A later, longer save uses the entry again.
    list.SetDecoder(kDv, TFilterRec(kDecoderA, "again"));
    SaveAs(list);
    TDecoderList again;
    LoadInto(again);
    ExpectSameLinks(again, list);
}

TEST_P(DecoderListStore, ManyLinksComeBackInTheirOrder)
{
    TDecoderList many;
    for (uint32_t i = 0; i < 12; ++i)
        many.SetDecoder(TMediaKey{MEDIATYPE_Video, FourCCGuid(0x41000000u + i), FORMAT_VideoInfo},
                        TFilterRec(kDecoderA, QString::number(i)));
    SaveAs(many);
    TDecoderList back;
    LoadInto(back);
    ExpectSameLinks(back, many);
}

INSTANTIATE_TEST_SUITE_P(, DecoderListStore, ::testing::Values(spRegistre, spPortable),
                         [](const auto &info) { return info.param == spRegistre ? "Registry" : "Ini"; });
