// The private filters loaded from the private folder the build makes: the
// five records, real clips decoded through a graph, the settings files'
// visible effect (imported, changed, deleted), folders with missing or broken
// modules, and remembered decoders mapped to the loaded ones.
#include "KWPack/uDecoders.h"
#include "KWPack/uPrivateLAV.h"
#include "KWPack/uPrivateffdshow.h"
#include "common/TestSupport.h"
#include "platform/ffmpeg/FilterTestKit.h"
#include "platform/registry/Registry.h"
#include "tools/mkmedia/FrameIndex.h"
#include "tools/mkmedia/MkMedia.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <numeric>

namespace {

using filtertest::KeepingSink;

const QString kPrivateDir = QStringLiteral(VIDSTILL_PRIVATE_DIR);
constexpr int kFrames = 12;

QStringList gLog;

void KeepLog(QtMsgType, const QMessageLogContext &, const QString &text)
{
    gLog << text;
}

// Collects the log lines written while it lives.
struct LogCapture {
    LogCapture() : previous(qInstallMessageHandler(KeepLog)) { gLog.clear(); }
    ~LogCapture() { qInstallMessageHandler(previous); }
    bool Has(const QString &part) const { return !gLog.filter(part).isEmpty(); }
    QtMessageHandler previous;
};

std::wstring FilterName(IBaseFilter *f)
{
    FILTER_INFO info{};
    return f && SUCCEEDED(f->QueryFilterInfo(&info)) ? std::wstring(info.achName) : std::wstring();
}

// The filter's first output pin offering `major`.
ComPtr<IPin> OutputOf(IBaseFilter *f, REFGUID major)
{
    for (const ComPtr<IPin> &pin : filtertest::Pins(f)) {
        PIN_DIRECTION dir{};
        pin->QueryDirection(&dir);
        ComPtr<IEnumMediaTypes> types;
        CMediaType *mt = nullptr;
        if (dir == PINDIR_OUTPUT && SUCCEEDED(pin->EnumMediaTypes(types.ReleaseAndGetAddressOf()))
            && types->Next(1, &mt, nullptr) == S_OK) {
            const bool match = mt->Type() == major;
            DeleteMediaType(mt);
            if (match)
                return pin;
        }
    }
    return nullptr;
}

class PrivateFiltersTest : public ::testing::Test {
protected:
    QString Clip(const char *name)
    {
        mkmedia::ClipOptions o;
        o.path = dir.filePath(name).toStdString();
        o.width = 176;
        o.height = 144;
        o.frames = kFrames;
        o.audio = 1;
        const auto result = mkmedia::WriteClip(o);
        EXPECT_TRUE(result.ok) << result.error;
        return QString::fromStdString(o.path);
    }

    static ComPtr<IBaseFilter> LoadedSplitter(IBaseFilter *splitter, const QString &file, HRESULT *hr = nullptr)
    {
        const HRESULT r = ComQuery<IFileSourceFilter>(splitter)->Load(file.toStdWString().c_str(), nullptr);
        if (hr)
            *hr = r;
        return SUCCEEDED(r) ? ComPtr<IBaseFilter>(splitter) : nullptr;
    }

    // Whether the decoder takes what the splitter offers for `major`.
    static HRESULT ConnectTo(IGraphBuilder *graph, IBaseFilter *splitter, REFGUID major, IBaseFilter *decoder)
    {
        graph->AddFilter(decoder, FilterName(decoder).c_str());
        return graph->ConnectDirect(OutputOf(splitter, major).Get(), filtertest::Pin(decoder, 0), nullptr);
    }

    // A writable copy of a settings file of the private folder, with `from` replaced by `to`.
    QString ChangedCopy(const char *relative, const QString &from, const QString &to)
    {
        QFile in(QDir(kPrivateDir).filePath(QLatin1String(relative)));
        EXPECT_TRUE(in.open(QIODevice::ReadOnly));
        QString text = QString::fromUtf8(in.readAll());
        EXPECT_TRUE(text.contains(from)) << qPrintable(from);
        text.replace(from, to);
        const QString path = dir.filePath(QFileInfo(in.fileName()).fileName());
        QFile out(path);
        EXPECT_TRUE(out.open(QIODevice::WriteOnly));
        out.write(text.toUtf8());
        return path;
    }

    // A private folder holding the given files, copied from the real one or written as given.
    QString Folder(const std::vector<std::pair<QString, QString>> &files)
    {
        const QString root = dir.filePath("private");
        for (const auto &[relative, source] : files) {
            const QString target = QDir(root).filePath(relative);
            QDir().mkpath(QFileInfo(target).path());
            if (source.startsWith('/'))
                EXPECT_TRUE(QFile::copy(source, target)) << qPrintable(source);
            else {
                QFile f(target);
                EXPECT_TRUE(f.open(QIODevice::WriteOnly));
                f.write(source.toUtf8());
            }
        }
        return root;
    }
    static QString Real(const char *relative) { return QDir(kPrivateDir).filePath(QLatin1String(relative)); }

    TempHive hive;
    QTemporaryDir dir;
};

} // namespace

TEST_F(PrivateFiltersTest, LoadsTheFiveRecordsInTheirOrder)
{
    TPrivateFilters pf;
    EXPECT_FALSE(pf.Loaded());
    EXPECT_TRUE(pf.Records().empty());
    ASSERT_TRUE(pf.Load(kPrivateDir));
    const auto records = pf.Records();
    ASSERT_EQ(records.size(), 5u);
    const char *const names[] = {"Private ffdshow Video decoder", "Private ffdshow Audio decoder",
                                 "Private LAV Source Splitter", "Private LAV Video Decoder",
                                 "Private LAV Audio Decoder"};
    const CLSID clsids[] = {CLSID_PrivateffdshowVideo, CLSID_PrivateffdshowAudio, CLSID_PrivateLAVSplitter,
                            CLSID_PrivateLAVVideo, CLSID_PrivateLAVAudio};
    for (int i = 0; i < 5; ++i) {
        SCOPED_TRACE(names[i]);
        EXPECT_EQ(records[size_t(i)], pf.Record(TPrivateFilters::TPrivateIndex(i)));
        EXPECT_EQ(records[size_t(i)]->Name(), names[i]);
        EXPECT_EQ(records[size_t(i)]->Clsid(), clsids[i]);
        const ComPtr<IBaseFilter> instance = records[size_t(i)]->CreateFilter();
        EXPECT_EQ(instance, records[size_t(i)]->CreateFilter());  // one instance for every graph
        EXPECT_EQ(FilterName(instance.Get()), QString(names[i]).toStdWString());
    }
    // The catalogue cannot make them: only the loaded records can.
    EXPECT_EQ(TFilterRec(CLSID_PrivateLAVVideo, "Private LAV Video Decoder").CreateFilter(), nullptr);

    ASSERT_TRUE(pf.Load(QDir(kPrivateDir).filePath("LAV/..") + "/"));  // again, over the first load
    EXPECT_EQ(pf.Records().size(), 5u);
    pf.Unload();
    EXPECT_FALSE(pf.Loaded());
    EXPECT_EQ(pf.Record(TPrivateFilters::pfLAVVideo), nullptr);
}

TEST_F(PrivateFiltersTest, DecodesClipsThroughAGraph)
{
    const QString clip = Clip("clip.avi");  // MPEG-4 video, MP2 sound
    TPrivateFilters pf;
    ASSERT_TRUE(pf.Load(kPrivateDir));
    TPrivateLAV secondSplitter;  // a splitter opens one file in its life
    ASSERT_TRUE(secondSplitter.Load(QDir(kPrivateDir).filePath("LAV")));
    const struct {
        ComPtr<IBaseFilter> splitter, video, audio;
    } chains[] = {
        {pf.Record(TPrivateFilters::pfLAVSplitter)->CreateFilter(), pf.Record(TPrivateFilters::pfLAVVideo)->CreateFilter(),
         pf.Record(TPrivateFilters::pfLAVAudio)->CreateFilter()},
        {secondSplitter.Splitter(), pf.Record(TPrivateFilters::pfFFDShowVideo)->CreateFilter(),
         pf.Record(TPrivateFilters::pfFFDShowAudio)->CreateFilter()},
    };
    for (const auto &chain : chains) {
        SCOPED_TRACE(QString::fromStdWString(FilterName(chain.video.Get())).toStdString());
        ASSERT_NE(LoadedSplitter(chain.splitter.Get(), clip), nullptr);
        ComPtr<IGraphBuilder> graph = filtertest::ClocklessGraph();
        ASSERT_EQ(S_OK, graph->AddFilter(chain.splitter.Get(), L"Splitter"));
        auto pictures = MakeCom<KeepingSink>(GUID_NULL, GUID_NULL, MEDIATYPE_Video);
        auto sound = MakeCom<KeepingSink>(MEDIASUBTYPE_PCM, GUID_NULL, MEDIATYPE_Audio);
        graph->AddFilter(pictures.Get(), L"Pictures");
        graph->AddFilter(sound.Get(), L"Sound");
        ASSERT_EQ(S_OK, ConnectTo(graph.Get(), chain.splitter.Get(), MEDIATYPE_Video, chain.video.Get()));
        ASSERT_EQ(S_OK, ConnectTo(graph.Get(), chain.splitter.Get(), MEDIATYPE_Audio, chain.audio.Get()));
        ASSERT_EQ(S_OK, graph->ConnectDirect(filtertest::Pin(chain.video.Get(), 1), pictures->InputPin(), nullptr));
        ASSERT_EQ(S_OK, graph->ConnectDirect(filtertest::Pin(chain.audio.Get(), 1), sound->InputPin(), nullptr));

        ASSERT_TRUE(SUCCEEDED(ComQuery<IMediaControl>(graph)->Run()));
        LONG code = 0;
        EXPECT_EQ(S_OK, ComQuery<IMediaEvent>(graph)->WaitForCompletion(10000, &code));
        EXPECT_EQ(EC_COMPLETE, code);
        ComQuery<IMediaControl>(graph)->Stop();

        const auto *vih = pictures->type.FormatAs<VIDEOINFOHEADER2>();
        ASSERT_NE(vih, nullptr);
        const int w = vih->bmiHeader.biWidth, h = vih->bmiHeader.biHeight;
        std::vector<int> indexes;
        for (const auto &s : pictures->Samples())
            indexes.push_back(mkmedia::ReadFrameIndex(s.bytes.data(), w, w, h));
        std::vector<int> expected(kFrames);
        std::iota(expected.begin(), expected.end(), 0);
        EXPECT_EQ(indexes, expected);
        size_t bytes = 0;
        for (const auto &s : sound->Samples())
            bytes += s.bytes.size();
        EXPECT_GT(bytes, size_t(48000 * 4 * kFrames / 25 / 2));  // at least half of the clip's sound
    }
    // A graph may outlive the records: its filters keep their code.
    ComPtr<IBaseFilter> held = pf.Record(TPrivateFilters::pfLAVVideo)->CreateFilter();
    pf.Unload();
    CLSID clsid{};
    EXPECT_EQ(S_OK, held->GetClassID(&clsid));
    EXPECT_EQ(clsid, CLSID_PrivateLAVVideo);
}

TEST_F(PrivateFiltersTest, SettingsChangeWhatTheFiltersTake)
{
    const QString avi = Clip("clip.avi");  // MPEG-4 video, MP2 sound
    const QString mkv = Clip("clip.mkv");  // H.264 video, AAC sound
    TPrivateFilters pf;
    ASSERT_TRUE(pf.Load(kPrivateDir));
    const auto takes = [&](const QString &file, REFGUID major, TPrivateFilters::TPrivateIndex decoder) {
        TPrivateLAV lav;  // a fresh splitter for each file
        lav.Load(QDir(kPrivateDir).filePath("LAV"));
        ComPtr<IGraphBuilder> graph = filtertest::ClocklessGraph();
        ComPtr<IBaseFilter> splitter = LoadedSplitter(lav.Splitter().Get(), file);
        if (!splitter)
            return E_FAIL;
        graph->AddFilter(splitter.Get(), L"Splitter");
        return ConnectTo(graph.Get(), splitter.Get(), major, pf.Record(decoder)->CreateFilter().Get());
    };

    TPrivateFilters::ImportSettings(kPrivateDir);
    EXPECT_TRUE(reg::KeyExists("Software\\LBV\\LAV Video\\Formats"));
    EXPECT_TRUE(reg::KeyExists("Software\\VOS\\ffdshow\\Codecs"));
    EXPECT_EQ(S_OK, takes(avi, MEDIATYPE_Video, TPrivateFilters::pfLAVVideo));
    EXPECT_EQ(S_OK, takes(avi, MEDIATYPE_Audio, TPrivateFilters::pfFFDShowAudio));

    // MPEG-4 switched off for LAV only; H.264 still taken.
    ASSERT_TRUE(TPrivateLAV::ImportSettings(
        ChangedCopy("LAV/LBV.reg", "\"mpeg4\"=dword:00000001", "\"mpeg4\"=dword:00000000")));
    EXPECT_TRUE(FAILED(takes(avi, MEDIATYPE_Video, TPrivateFilters::pfLAVVideo)));
    EXPECT_EQ(S_OK, takes(avi, MEDIATYPE_Video, TPrivateFilters::pfFFDShowVideo));
    EXPECT_EQ(S_OK, takes(mkv, MEDIATYPE_Video, TPrivateFilters::pfLAVVideo));

    // MP2 switched off for ffdshow's audio decoder.
    ASSERT_TRUE(TPrivateffdshow::ImportSettings(
        ChangedCopy("ffdshow/VOS.reg", "\"mp2\"=dword:00000001", "\"mp2\"=dword:00000000")));
    EXPECT_TRUE(FAILED(takes(avi, MEDIATYPE_Audio, TPrivateFilters::pfFFDShowAudio)));
    EXPECT_EQ(S_OK, takes(avi, MEDIATYPE_Audio, TPrivateFilters::pfLAVAudio));
    EXPECT_EQ(S_OK, takes(mkv, MEDIATYPE_Audio, TPrivateFilters::pfFFDShowAudio));

    // AVI files refused by the splitter.
    ASSERT_TRUE(TPrivateLAV::ImportSettings(ChangedCopy("LAV/LBV.reg", "\"avi\"=dword:00000001", "\"avi\"=dword:00000000")));
    TPrivateLAV lav;
    ASSERT_TRUE(lav.Load(QDir(kPrivateDir).filePath("LAV")));
    HRESULT hr = S_OK;
    EXPECT_EQ(LoadedSplitter(lav.Splitter().Get(), avi, &hr), nullptr);
    EXPECT_TRUE(FAILED(hr));

    // Deleted: every key of both, nothing else; the defaults take everything again.
    reg::CreateKey("Software\\Vostrel\\Vidstill");
    TPrivateFilters::RemoveSettings();
    EXPECT_FALSE(reg::KeyExists("Software\\LBV"));
    EXPECT_FALSE(reg::KeyExists("Software\\VOS"));
    EXPECT_TRUE(reg::KeyExists("Software\\Vostrel\\Vidstill"));
    EXPECT_EQ(S_OK, takes(avi, MEDIATYPE_Video, TPrivateFilters::pfLAVVideo));
    EXPECT_EQ(S_OK, takes(avi, MEDIATYPE_Audio, TPrivateFilters::pfFFDShowAudio));
    EXPECT_TRUE(TPrivateLAV::RemoveSettings());  // nothing left to delete is no failure
}

TEST_F(PrivateFiltersTest, AFolderWithoutTheLAVAudioModule)
{
    const QString folder = Folder({{"LAV/LAVSplitter.ax", Real("LAV/LAVSplitter.ax")},
                                   {"LAV/LAVVideo.ax", Real("LAV/LAVVideo.ax")},
                                   {"ffdshow/ffdshow.ax", Real("ffdshow/ffdshow.ax")}});
    LogCapture log;
    TPrivateFilters pf;
    EXPECT_FALSE(pf.Load(folder));
    EXPECT_TRUE(IsSet(pf.Record(TPrivateFilters::pfLAVSplitter)));
    EXPECT_TRUE(IsSet(pf.Record(TPrivateFilters::pfLAVVideo)));
    EXPECT_TRUE(IsSet(pf.Record(TPrivateFilters::pfFFDShowVideo)));
    EXPECT_TRUE(IsSet(pf.Record(TPrivateFilters::pfFFDShowAudio)));
    const TBaseFilterRec *audio = pf.Record(TPrivateFilters::pfLAVAudio);
    ASSERT_NE(audio, nullptr);
    EXPECT_EQ(audio->Name(), "No BaseFilter");
    EXPECT_EQ(audio->Clsid(), GUID_NULL);
    EXPECT_EQ(audio->CreateFilter(), nullptr);
    EXPECT_TRUE(log.Has("LAVAudio.ax")) << qPrintable(gLog.join('\n'));
}

TEST_F(PrivateFiltersTest, BrokenModulesGiveNoBaseFilter)
{
    // Not a library; a library without the entry point; a module that lacks
    // the class asked for. Each stops its chain, nothing crashes.
    const QString folder = Folder({{"ffdshow/ffdshow.ax", "this is no module\n"},
                                   {"LAV/LAVSplitter.ax", Real("LAV/LAVSplitter.ax")},
                                   {"LAV/LAVVideo.ax", QStringLiteral(VIDSTILL_NOEXPORT_MODULE)},
                                   {"LAV/LAVAudio.ax", Real("LAV/LAVAudio.ax")}});
    LogCapture log;
    TPrivateFilters pf;
    EXPECT_FALSE(pf.Load(folder));
    const bool expectedSet[] = {false, false, true, false, false};
    for (int i = 0; i < 5; ++i) {
        const TBaseFilterRec *rec = pf.Record(TPrivateFilters::TPrivateIndex(i));
        ASSERT_NE(rec, nullptr);
        EXPECT_EQ(IsSet(rec), expectedSet[i]) << i;
        if (!expectedSet[i]) {
            EXPECT_EQ(rec->Name(), "No BaseFilter");
        }
    }
    EXPECT_TRUE(log.Has("ffdshow.ax"));
    EXPECT_TRUE(log.Has("does not export DllGetClassObject"));
    EXPECT_FALSE(log.Has("LAVAudio.ax"));  // never tried after the video module failed

    EXPECT_FALSE(pf.Load(dir.filePath("no such folder")));
    EXPECT_EQ(pf.Records().size(), 5u);
}

TEST_F(PrivateFiltersTest, RememberedPrivateDecodersMapToTheLoadedRecords)
{
    TPrivateFilters pf;
    const TFilterRec ffdshow(CLSID_PrivateffdshowVideo, "Private ffdshow Video decoder");
    EXPECT_EQ(pf.RestorePrivate(&ffdshow), &ffdshow);  // nothing loaded yet
    ASSERT_TRUE(pf.Load(kPrivateDir));

    const TFilterRec numbered(CLSID_PrivateffdshowVideo, "Private ffdshow Video decoder 0001");
    const TFilterRec lav(CLSID_PrivateLAVVideo, "Private LAV Video Decoder");
    const TFilterRec otherCase(CLSID_PrivateffdshowVideo, "private ffdshow video decoder");
    const TFilterRec audio(CLSID_PrivateffdshowAudio, "Private ffdshow Audio decoder");
    EXPECT_EQ(pf.RestorePrivate(&ffdshow), pf.Record(TPrivateFilters::pfFFDShowVideo));
    EXPECT_EQ(pf.RestorePrivate(&numbered), pf.Record(TPrivateFilters::pfFFDShowVideo));
    EXPECT_EQ(pf.RestorePrivate(&lav), pf.Record(TPrivateFilters::pfLAVVideo));
    EXPECT_EQ(pf.RestorePrivate(&otherCase), &otherCase);
    EXPECT_EQ(pf.RestorePrivate(&audio), &audio);

    // Through the list: what was remembered comes back as the live filter.
    TDecoderList list;
    const TMediaKey key{MEDIATYPE_Video, MEDIASUBTYPE_AVC1, FORMAT_MPEG2Video};
    list.SetDecoder(key, *pf.Record(TPrivateFilters::pfLAVVideo));
    EXPECT_EQ(list.GetDecoder(key)->CreateFilter(), nullptr);
    EXPECT_EQ(pf.RestorePrivate(list.GetDecoder(key))->CreateFilter(), pf.Record(TPrivateFilters::pfLAVVideo)->Instance());

    // ffdshow failed to load: the remembered decoder maps to its unset record,
    // so the caller falls back to its default decoder.
    const QString folder = Folder({{"LAV/LAVSplitter.ax", Real("LAV/LAVSplitter.ax")},
                                   {"LAV/LAVVideo.ax", Real("LAV/LAVVideo.ax")},
                                   {"LAV/LAVAudio.ax", Real("LAV/LAVAudio.ax")}});
    LogCapture quiet;
    EXPECT_FALSE(pf.Load(folder));
    EXPECT_EQ(pf.RestorePrivate(&ffdshow), pf.Record(TPrivateFilters::pfFFDShowVideo));
    EXPECT_FALSE(IsSet(pf.RestorePrivate(&ffdshow)));
}
