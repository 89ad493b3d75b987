// Loading modules by path: what a missing, foreign or misbehaving module
// gives (an error text, never a crash), the private modules' filters, and a
// module that stays mapped while its objects live.
#include "platform/modules/Module.h"

#include "platform/dshow/FilterCatalogue.h"
#include "platform/ffmpeg/FFmpegCommon.h"
#include "TestModuleIds.h"

#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <cwchar>
#include <dlfcn.h>

namespace {

const CLSID kffdshowVideo = *StringToGuid("{04FE9017-F873-410E-871E-AB91661A4EF7}");
const CLSID kffdshowAudio = *StringToGuid("{0F40E1E5-4F79-4988-B1A9-CC98794E6B55}");
const CLSID kLAVVideo = *StringToGuid("{EE30215D-164F-4A92-A4EB-9D4C13390F9F}");
const CLSID kLAVAudio = *StringToGuid("{E8E73B6B-4CB3-44A4-BE99-4F7BCB96E491}");

QString PrivateFile(const char *relative)
{
    return QStringLiteral(VIDSTILL_PRIVATE_DIR "/") + QLatin1String(relative);
}

QString TestModule(const char *name)
{
    return QStringLiteral(VIDSTILL_TEST_MODULES "/") + QLatin1String(name);
}

std::wstring FilterName(IBaseFilter *f)
{
    FILTER_INFO info{};
    if (FAILED(f->QueryFilterInfo(&info)))
        return L"?";
    return info.achName;
}

HRESULT CanUnloadNow(const CModule &m)
{
    auto *f = reinterpret_cast<LPFNCANUNLOADNOW>(m.GetProcAddress("DllCanUnloadNow"));
    return f ? f() : E_NOTIMPL;
}

class ModuleTest : public ::testing::Test {
protected:
    // The program holds FFmpeg and the libraries under it for its whole life,
    // so unloading a module unloads the module alone; so does the test.
    static void SetUpTestSuite()
    {
        EXPECT_GT(avcodec_version() + avformat_version() + swscale_version() + swresample_version(), 0u);
    }

    QString Write(const char *name, const QByteArray &bytes)
    {
        const QString path = dir.filePath(QLatin1String(name));
        QFile f(path);
        EXPECT_TRUE(f.open(QIODevice::WriteOnly) && f.write(bytes) == bytes.size());
        return path;
    }
    QTemporaryDir dir;
};

} // namespace

TEST_F(ModuleTest, WhatCannotBeLoadedGivesAnErrorText)
{
    QFile real(PrivateFile("LAV/LAVVideo.ax"));
    ASSERT_TRUE(real.open(QIODevice::ReadOnly));
    const struct {
        QString path;
        const char *expected;
    } cases[] = {
        {dir.filePath("missing.ax"), "no such file"},
        {dir.path(), "no such file"},  // a folder
        {Write("text.ax", "REGEDIT4\r\nnot a library\r\n"), "cannot load"},
        {Write("empty.ax", QByteArray()), "cannot load"},
        {Write("truncated.ax", real.read(8192)), "cut off"},  // would fault inside dlopen
        {Write("header.ax", (real.seek(0), real.read(80))), "cut off"},
        {TestModule("NoExport.ax"), "does not export DllGetClassObject"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(qPrintable(c.path));
        QString error;
        EXPECT_EQ(CModule::Load(c.path, &error), nullptr);
        EXPECT_TRUE(error.contains(QLatin1String(c.expected))) << qPrintable(error);
        EXPECT_TRUE(error.contains(c.path)) << qPrintable(error);
        std::unique_ptr<CModule> kept;
        error.clear();
        EXPECT_EQ(LoadModuleFilter(c.path, kLAVVideo, &kept, &error), nullptr);
        EXPECT_EQ(kept, nullptr);
        EXPECT_FALSE(error.isEmpty());
    }
}

TEST_F(ModuleTest, RefusalsOfTheEntryPointOrTheFactoryAreErrors)
{
    QString error;
    auto module = CModule::Load(TestModule("Refusing.ax"), &error);
    ASSERT_NE(module, nullptr) << qPrintable(error);

    EXPECT_EQ(module->CreateFilter(kLAVVideo, &error), nullptr);
    EXPECT_TRUE(error.contains("{EE30215D-164F-4A92-A4EB-9D4C13390F9F}") && error.contains("0x80040111"))
        << qPrintable(error);
    EXPECT_EQ(module->CreateFilter(CLSID_TestRefusingFactory, &error), nullptr);
    EXPECT_TRUE(error.contains("made no object") && error.contains("0x8007000E")) << qPrintable(error);
    // "Yes" with nothing in hand is no factory either.
    ComPtr<IClassFactory> factory;
    EXPECT_EQ(E_FAIL, module->GetClassObject(CLSID_TestEmptyAnswer, &factory, &error));
    EXPECT_EQ(factory, nullptr);
    void *raw = reinterpret_cast<void *>(1);
    EXPECT_TRUE(FAILED(module->CreateInstance(CLSID_TestEmptyAnswer, IID_IBaseFilter, &raw, &error)));
    EXPECT_EQ(raw, nullptr);

    // A real module asked for a class it does not have.
    auto video = CModule::Load(PrivateFile("LAV/LAVVideo.ax"), &error);
    ASSERT_NE(video, nullptr) << qPrintable(error);
    EXPECT_EQ(CLASS_E_CLASSNOTAVAILABLE, video->GetClassObject(kffdshowVideo, &factory, &error));
}

TEST_F(ModuleTest, OnlyTheEntryPointsAreExported)
{
    QString error;
    for (const char *file : {"LAV/LAVSplitter.ax", "LAV/LAVVideo.ax", "LAV/LAVAudio.ax", "ffdshow/ffdshow.ax"}) {
        SCOPED_TRACE(file);
        auto module = CModule::Load(PrivateFile(file), &error);
        ASSERT_NE(module, nullptr) << qPrintable(error);
        EXPECT_NE(module->GetProcAddress("DllGetClassObject"), nullptr);
        EXPECT_NE(module->GetProcAddress("DllCanUnloadNow"), nullptr);
        // Its own copy of the engine: nothing of it may bind to the program's.
        EXPECT_EQ(module->GetProcAddress("_ZN6ffmpeg14ParseVideoTypeERK10CMediaTypePNS_12DecoderInputE"), nullptr);
        EXPECT_EQ(module->GetProcAddress("_ZN3reg10QueryValueERK7QStringS2_"), nullptr);
    }
}

TEST_F(ModuleTest, FactoriesRefuseAggregationAndLocksKeepTheModule)
{
    QString error;
    auto module = CModule::Load(PrivateFile("ffdshow/ffdshow.ax"), &error);
    ASSERT_NE(module, nullptr) << qPrintable(error);
    ComPtr<IClassFactory> factory;
    ASSERT_EQ(S_OK, module->GetClassObject(kffdshowAudio, &factory, &error));
    void *raw = nullptr;
    EXPECT_EQ(CLASS_E_NOAGGREGATION, factory->CreateInstance(factory.Get(), IID_IBaseFilter, &raw));
    EXPECT_EQ(E_NOINTERFACE, factory->CreateInstance(nullptr, IID_IClassFactory, &raw));
    EXPECT_EQ(raw, nullptr);
    factory->LockServer(TRUE);
    factory.Reset();
    EXPECT_EQ(S_FALSE, CanUnloadNow(*module));
    ASSERT_EQ(S_OK, module->GetClassObject(kffdshowAudio, &factory, &error));
    factory->LockServer(FALSE);
    factory->LockServer(FALSE);  // one too many must not go below zero
    factory->LockServer(TRUE);
    factory->LockServer(FALSE);
    factory.Reset();
    EXPECT_EQ(S_OK, CanUnloadNow(*module));
}

TEST_F(ModuleTest, AModuleStaysMappedWhileItsFiltersLive)
{
    const QByteArray path = QFile::encodeName(PrivateFile("LAV/LAVAudio.ax"));
    const auto mapped = [&] {
        void *probe = dlopen(path.constData(), RTLD_NOW | RTLD_NOLOAD);
        if (probe)
            dlclose(probe);
        return probe != nullptr;
    };
    QString error;
    auto first = CModule::Load(PrivateFile("LAV/LAVAudio.ax"), &error);
    auto second = CModule::Load(PrivateFile("LAV/LAVAudio.ax"), &error);
    ASSERT_TRUE(first && second) << qPrintable(error);
    ComPtr<IBaseFilter> held = first->CreateFilter(kLAVAudio, &error);
    ASSERT_NE(held, nullptr) << qPrintable(error);
    EXPECT_EQ(S_FALSE, CanUnloadNow(*second));  // the count is the module's, not the loader's
    first.reset();
    second.reset();
    ASSERT_TRUE(mapped());  // the filter's code must stay where it is
    EXPECT_EQ(FilterName(held.Get()), L"Private LAV Audio Decoder");
    ComPtr<IEnumPins> pins;
    EXPECT_EQ(S_OK, held->EnumPins(pins.ReleaseAndGetAddressOf()));
    pins.Reset();
    held.Reset();
    CoFreeUnusedLibraries();
    EXPECT_FALSE(mapped());
}
