// The media factory on generated clips: which source and splitter each
// extension gets, first choice and fallbacks, what the devices offer (source
// counts, kinds and the types their notifiers connect with), the path cache,
// and files that are empty, damaged or named for another container.
#include "MediaDevicesKit.h"

#include "platform/dshow/Guid.h"
#include "tools/mkmedia/Mutate.h"

#include <QFile>

#include <ostream>

namespace {

using namespace devicetest;

struct Expect {
    const char *ext;
    int videos, audios;
    GUID videoSub;     // GUID_NULL: a FourCC not checked here
    GUID videoFormat;  // GUID_NULL: no video
};

void PrintTo(const Expect &e, std::ostream *os) { *os << e.ext; }

const Expect kThroughLav[] = {
    {"avi", 1, 1, GUID_NULL, FORMAT_VideoInfo2},
    {"ivf", 1, 0, GUID_NULL, FORMAT_VideoInfo2},
    {"mpg", 1, 1, MEDIASUBTYPE_MPEG1Payload, FORMAT_MPEGVideo},
    {"mpeg", 1, 1, MEDIASUBTYPE_MPEG2_VIDEO, FORMAT_MPEG2Video},
    {"m1v", 1, 0, MEDIASUBTYPE_MPEG1Payload, FORMAT_MPEGVideo},
    {"mp2", 1, 1, MEDIASUBTYPE_MPEG2_VIDEO, FORMAT_MPEG2Video},
    {"mpe", 1, 1, MEDIASUBTYPE_MPEG1Payload, FORMAT_MPEGVideo},
    {"m2v", 1, 0, MEDIASUBTYPE_MPEG2_VIDEO, FORMAT_MPEG2Video},
    {"wmv", 1, 1, FourCCGuid(MAKEFOURCC('W', 'M', 'V', '2')), FORMAT_VideoInfo2},
    {"asf", 1, 1, FourCCGuid(MAKEFOURCC('W', 'M', 'V', '2')), FORMAT_VideoInfo2},
    {"mts", 1, 1, MEDIASUBTYPE_H264, FORMAT_VideoInfo2},
    {"m2ts", 1, 1, MEDIASUBTYPE_H264, FORMAT_VideoInfo2},
    {"ts", 1, 1, MEDIASUBTYPE_MPEG2_VIDEO, FORMAT_MPEG2Video},
    {"vob", 1, 1, MEDIASUBTYPE_MPEG2_VIDEO, FORMAT_MPEG2Video},
    {"mkv", 1, 1, MEDIASUBTYPE_AVC1, FORMAT_MPEG2Video},
    {"mov", 1, 1, MEDIASUBTYPE_AVC1, FORMAT_MPEG2Video},
    {"mp4", 1, 1, MEDIASUBTYPE_AVC1, FORMAT_MPEG2Video},
    {"3g2", 1, 1, GUID_NULL, FORMAT_VideoInfo2},
    {"m4v", 1, 0, GUID_NULL, FORMAT_VideoInfo2},
    {"wav", 0, 1, GUID_NULL, GUID_NULL},
};

class FactoryExtensionTest : public DeviceTest, public ::testing::WithParamInterface<Expect> {};

// Attaching is what fills StreamType: each source goes in and out of the
// real graph, which is empty again afterwards.
TEST_P(FactoryExtensionTest, DefaultChoiceOffersTheFilesStreams)
{
    const Expect &e = GetParam();
    TFileDevice *device = factory.GetDevice(Make(QString("clip.") + e.ext));
    ASSERT_TRUE(device);
    ASSERT_TRUE(device->Valid());
    const bool wav = QString(e.ext) == "wav";
    EXPECT_EQ(device->SourceRecord()->Name(), wav ? "File Source (Async.)" : "LAV Splitter Source");
    EXPECT_EQ(device->SplitterRecord() ? device->SplitterRecord()->Name() : "", wav ? "Wave Parser" : "");
    EXPECT_EQ(device->Name(), QString("clip.") + e.ext);
    EXPECT_EQ(device->OwnerGrapheMan(), manager.get());
    EXPECT_EQ(device->VideoCount(), e.videos);
    EXPECT_EQ(device->AudioCount(), e.audios);
    EXPECT_EQ(device->DVCount() + device->StreamCount(), 0);
    EXPECT_FALSE(device->OutputFilter()) << "probing leaves the device detached";

    for (TVideoSource *video : device->VideoSources()) {
        ASSERT_TRUE(video->Attach(manager.get(), 0));
        EXPECT_EQ(video->StreamType().majortype, MEDIATYPE_Video);
        if (e.videoSub != GUID_NULL) {
            EXPECT_EQ(GuidToString(video->StreamType().subtype), GuidToString(e.videoSub));
        }
        EXPECT_EQ(GuidToString(video->StreamType().formattype), GuidToString(e.videoFormat));
        EXPECT_TRUE(video->Detach());
    }
    for (TAudioSource *audio : device->AudioSources()) {
        ASSERT_TRUE(audio->Attach(manager.get(), 0));
        EXPECT_EQ(audio->StreamType().majortype, MEDIATYPE_Audio);
        EXPECT_EQ(audio->StreamType().formattype, FORMAT_WaveFormatEx);
        EXPECT_FALSE(audio->SourceNotifierObj()->FrameData().AudioLabel.isEmpty());
        EXPECT_TRUE(audio->Detach());
    }
    EXPECT_TRUE(Names().empty());
}

INSTANTIATE_TEST_SUITE_P(Extensions, FactoryExtensionTest, ::testing::ValuesIn(kThroughLav));

struct Fallback {
    const char *ext;
    const char *source;
    const char *splitter;  // the last attempt's, valid or not
    bool valid;
};

void PrintTo(const Fallback &f, std::ostream *os) { *os << f.ext; }

const Fallback kFallbacks[] = {
    {"avi", "File Source (Async.)", "AVI Splitter", true},
    {"ivf", "File Source (Async.)", "AVI Splitter", false},
    {"mpg", "File Source (Async.)", "MPEG-I Stream Splitter", true},
    {"mpe", "File Source (Async.)", "MPEG-I Stream Splitter", true},
    {"m1v", "File Source (Async.)", "MPEG-I Stream Splitter", true},
    {"mpeg", "File Source (Async.)", "MPEG-2 Splitter", true},
    {"mp2", "File Source (Async.)", "MPEG-2 Splitter", true},
    {"vob", "File Source (Async.)", "MPEG-2 Splitter", true},
    {"ts", "File Source (Async.)", "MPEG-2 Splitter", true},
    {"mts", "File Source (Async.)", "MPEG-2 Splitter", true},
    {"m2ts", "File Source (Async.)", "MPEG-2 Splitter", true},
    {"m2v", "File Source (Async.)", "MPEG-I Stream Splitter", false},
    {"mkv", "File Source (Async.)", "MPEG-I Stream Splitter", false},
    {"mov", "File Source (Async.)", "MPEG-I Stream Splitter", false},
    {"mp4", "File Source (Async.)", "MPEG-I Stream Splitter", false},
    {"3g2", "File Source (Async.)", "MPEG-I Stream Splitter", false},
    {"m4v", "File Source (Async.)", "MPEG-I Stream Splitter", false},
    {"wmv", "WM ASF Reader", "", true},
    {"asf", "WM ASF Reader", "", true},
    {"wav", "File Source (Async.)", "Wave Parser", true},
};

class FactoryFallbackTest : public DeviceTest, public ::testing::WithParamInterface<Fallback> {};

// The first choice cannot be created: each fallback in turn; an invalid last
// attempt is still the answer, with no sources.
TEST_P(FactoryFallbackTest, FallsBackInOrderWhenTheFirstChoiceFails)
{
    const Fallback &f = GetParam();
    auto first = std::make_shared<CountingRec>(CLSID_Unregistered, "Nowhere");
    factory.SetSplitterSource(first);
    const QString file = Make(QString("clip.") + f.ext);
    const auto device = factory.CreateFileDevice(file);
    ASSERT_TRUE(device);
    EXPECT_EQ(first->created, QString(f.ext) == "wav" ? 0 : 1);
    EXPECT_EQ(device->Valid(), f.valid);
    EXPECT_EQ(device->SourceRecord()->Name(), f.source);
    EXPECT_EQ(device->SplitterRecord() ? device->SplitterRecord()->Name() : "", f.splitter);
    if (f.valid) {
        EXPECT_GT(device->VideoCount() + device->AudioCount(), 0);
    } else {
        EXPECT_EQ(device->VideoCount() + device->AudioCount() + device->DVCount() + device->StreamCount(), 0);
        EXPECT_EQ(device->VideoSources().Count() + device->AudioSources().Count(), 0);
    }
    EXPECT_TRUE(Names().empty()) << "probing happens in a graph of its own";
}

INSTANTIATE_TEST_SUITE_P(Extensions, FactoryFallbackTest, ::testing::ValuesIn(kFallbacks));

TEST_F(DeviceTest, AFirstChoiceThatRefusesTheFileAlsoFallsBack)
{
    // A real source, but one that takes only ASF.
    factory.SetSplitterSource(factory.ASFReaderRec());
    const auto ts = factory.CreateFileDevice(Make("clip.ts"));
    ASSERT_TRUE(ts && ts->Valid());
    EXPECT_EQ(ts->SplitterRecord()->Name(), "MPEG-2 Splitter");
    EXPECT_EQ(ts->VideoCount(), 1);
    EXPECT_EQ(ts->AudioCount(), 1);

    const auto wmv = factory.CreateFileDevice(Make("clip.wmv"));
    ASSERT_TRUE(wmv && wmv->Valid());
    EXPECT_EQ(wmv->SourceRecord()->Name(), "WM ASF Reader");
}

TEST_F(DeviceTest, SplitterSourceFallsBackToLavWhenCleared)
{
    EXPECT_EQ(factory.SplitterSource()->Name(), "LAV Splitter Source");
    factory.SetSplitterSource(factory.AVISplitterRec());
    EXPECT_EQ(factory.SplitterSource()->Name(), "AVI Splitter");
    factory.SetSplitterSource(nullptr);
    EXPECT_EQ(factory.SplitterSource()->Name(), "LAV Splitter Source");
    factory.SetSplitterSource(std::make_shared<const TFilterRec>(GUID_NULL, "Null"));
    EXPECT_EQ(factory.SplitterSource()->Clsid(), CLSID_LAVSplitterSource);
}

TEST_F(DeviceTest, ExtensionDecidesAndIsReadCaseBlind)
{
    EXPECT_EQ(TMediaFactory::FileExtension("/a/b/clip.WAV"), ".wav");
    EXPECT_EQ(TMediaFactory::FileExtension("/a/b.d/clip"), "");
    EXPECT_EQ(TMediaFactory::FileExtension("C:\\x.y\\clip"), "");
    EXPECT_EQ(TMediaFactory::FileExtension("clip.tar.MKV"), ".mkv");

    TFileDevice *wav = factory.GetDevice(Make("loud.WAV"));
    ASSERT_TRUE(wav && wav->Valid());
    EXPECT_EQ(wav->SplitterRecord()->Name(), "Wave Parser");
    EXPECT_EQ(wav->AudioCount(), 1);

    // A perfectly good clip under a name the factory does not take.
    const QString avi = Make("clip.avi");
    const QString renamed = dir.filePath("clip.xyz");
    ASSERT_TRUE(QFile::copy(avi, renamed));
    EXPECT_FALSE(factory.CreateFileDevice(renamed));
    EXPECT_FALSE(factory.GetDevice(renamed));
    EXPECT_FALSE(factory.GetDevice(dir.filePath("noextension")));
}

TEST_F(DeviceTest, TheSamePathGivesTheSameDeviceWithoutProbingAgain)
{
    const QString file = Make("clip.mp4");
    TFileDevice *first = factory.GetDevice(file);
    ASSERT_TRUE(first && first->Valid());
    // Gone from the disk: a second probe would fail, the cache does not.
    ASSERT_TRUE(QFile::remove(file));
    EXPECT_EQ(factory.GetDevice(file), first);
    EXPECT_EQ(factory.GetDevice(dir.path() + "/./clip.mp4"), first);
    EXPECT_TRUE(first->Valid());

    // Another file is another device, and the first stays cached.
    TFileDevice *other = factory.GetDevice(Make("other.mp4"));
    ASSERT_TRUE(other);
    EXPECT_NE(other, first);
    EXPECT_EQ(factory.GetDevice(file), first);
}

TEST_F(DeviceTest, NoGraphManagerNoDevice)
{
    const QString file = Make("clip.avi");
    TMediaFactory lone;
    EXPECT_FALSE(lone.GetDevice(file));

    lone.SetGrapheMan(manager.get());
    TFileDevice *device = lone.GetDevice(file);
    ASSERT_TRUE(device);
    EXPECT_EQ(device->OwnerGrapheMan(), manager.get());

    // The factory forgets a manager that goes, and so does the device.
    factory.SetGrapheMan(nullptr);
    manager.reset();
    EXPECT_EQ(lone.GrapheMan(), nullptr);
    EXPECT_EQ(device->OwnerGrapheMan(), nullptr);
    EXPECT_FALSE(lone.GetDevice(file));
}

// Broken files: every choice is tried, the answer is an invalid device with
// nothing to attach (or a valid one with what could be read), never a crash.
TEST_F(DeviceTest, DamagedAndMislabelledFilesGiveInvalidDevices)
{
    const QString mp4 = Make("good.mp4");
    const QString ts = Make("good.ts");
    using mkmedia::Mutation;
    const struct {
        const char *name;
        const QString *from;
        Mutation kind;
    } cases[] = {
        {"empty.mp4", &mp4, Mutation::ZeroLength},   {"random.avi", &mp4, Mutation::RandomBytes},
        {"random.wav", &mp4, Mutation::RandomBytes}, {"random.wmv", &ts, Mutation::RandomBytes},
        {"random.mpg", &ts, Mutation::RandomBytes},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        const QString path = dir.filePath(c.name);
        ASSERT_TRUE(mkmedia::MutateFile(c.from->toStdString(), path.toStdString(), c.kind));
        const auto device = factory.CreateFileDevice(path);
        ASSERT_TRUE(device);
        EXPECT_FALSE(device->Valid());
        EXPECT_EQ(device->VideoSources().Count() + device->AudioSources().Count(), 0);
        EXPECT_EQ(device->VideoSources()[0], nullptr);
    }

    // Named for another container: the first choice reads it anyway; the
    // named splitters refuse what is not theirs.
    const QString mislabelled = dir.filePath("really-mp4.avi");
    ASSERT_TRUE(QFile::copy(mp4, mislabelled));
    const auto lav = factory.CreateFileDevice(mislabelled);
    ASSERT_TRUE(lav && lav->Valid());
    EXPECT_EQ(lav->VideoCount(), 1);
    BreakSplitterSource();
    const auto avi = factory.CreateFileDevice(mislabelled);
    ASSERT_TRUE(avi);
    EXPECT_FALSE(avi->Valid());
    EXPECT_EQ(avi->SplitterRecord()->Name(), "AVI Splitter");

    // A half transport stream still opens through the MPEG-2 splitter.
    const QString half = dir.filePath("half.ts");
    ASSERT_TRUE(mkmedia::MutateFile(ts.toStdString(), half.toStdString(), Mutation::Truncate));
    const auto cut = factory.CreateFileDevice(half);
    ASSERT_TRUE(cut);
    EXPECT_EQ(cut->SplitterRecord()->Name(), "MPEG-2 Splitter");

    const auto missing = factory.CreateFileDevice(dir.filePath("missing.mkv"));
    ASSERT_TRUE(missing);
    EXPECT_FALSE(missing->Valid());
    EXPECT_TRUE(Names().empty());
}

} // namespace
