// What the device and factory tests share: generated clips, a graph manager
// with a media factory on it, the names of the filters in a graph, and a
// filter record the catalogue cannot create (to force the fallbacks).
// Include once per test program (it brings the sanitizer suppressions).
#pragma once

#include "KWPack/uMediaFactory.h"

#include "platform/ffmpeg/FFmpegFilters.h"
#include "platform/ffmpeg/FilterTestKit.h"
#include "tools/mkmedia/MkMedia.h"

extern "C" {
#include <libavutil/log.h>
}

#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <memory>
#include <ostream>
#include <set>
#include <string>

inline void PrintTo(const QString &text, std::ostream *os) { *os << '"' << text.toStdString() << '"'; }

namespace devicetest {

// Nothing is registered under this class.
inline constexpr CLSID CLSID_Unregistered{0x7E57F0D0, 0x0BAD, 0x0BAD, {0, 0, 0, 0, 0, 0, 0, 1}};

// A record that counts how often a filter was asked of it.
class CountingRec : public TFilterRec {
public:
    using TFilterRec::TFilterRec;
    ComPtr<IBaseFilter> CreateFilter() const override
    {
        ++created;
        return TFilterRec::CreateFilter();
    }
    mutable int created = 0;
};

inline std::set<std::wstring> FilterNames(IFilterGraph *graph)
{
    std::set<std::wstring> names;
    ComPtr<IEnumFilters> e;
    if (!graph || FAILED(graph->EnumFilters(e.ReleaseAndGetAddressOf())))
        return names;
    ComPtr<IBaseFilter> filter;
    while (e->Next(1, filter.ReleaseAndGetAddressOf(), nullptr) == S_OK) {
        FILTER_INFO info{};
        filter->QueryFilterInfo(&info);
        if (info.pGraph)
            info.pGraph->Release();
        names.insert(info.achName);
    }
    return names;
}

// A fresh graph manager and a factory working on it, per test.
class DeviceTest : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        av_log_set_level(AV_LOG_QUIET);
        RegisterFFmpegFilters();
    }

    void SetUp() override
    {
        manager.reset(TKWActionComponent::New<TGrapheMan>());
        factory.SetGrapheMan(manager.get());
    }

    // A clip of `frames` frames by mkmedia's defaults for the extension.
    QString Make(const QString &name, int audio = -1, int dvType = 2, const char *codec = "")
    {
        mkmedia::ClipOptions o;
        o.path = dir.filePath(name).toStdString();
        o.codec = codec;
        o.frames = 6;
        o.audio = audio;
        o.dvType = dvType;
        if (!*codec) {
            o.width = 160;
            o.height = 120;
        }
        const auto r = mkmedia::WriteClip(o);
        EXPECT_TRUE(r.ok) << r.error;
        return QString::fromStdString(o.path);
    }

    QString Dv(const QString &name, int dvType) { return Make(name, 1, dvType, "dv"); }

    IFilterGraph *Graph() const { return manager->GraphBuilder.Get(); }
    std::set<std::wstring> Names() const { return FilterNames(Graph()); }

    // The fallbacks are reached only when the first choice fails.
    void BreakSplitterSource()
    {
        factory.SetSplitterSource(std::make_shared<const TFilterRec>(CLSID_Unregistered, "Nowhere"));
    }

    QTemporaryDir dir;
    std::unique_ptr<TGrapheMan> manager;
    TMediaFactory factory;
};

} // namespace devicetest
