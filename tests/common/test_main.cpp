// GoogleTest entry point with the Qt application object the components need.
#include <gtest/gtest.h>

#ifdef VIDSTILL_TEST_GUI
#include <QApplication>
using TestApplication = QApplication;
#else
#include <QCoreApplication>
using TestApplication = QCoreApplication;
#endif

#include <QByteArray>
#include <QDir>

namespace {

// Nothing a test does may reach the real user's settings or files.
void IsolateFromTheUser()
{
    const QByteArray home = VIDSTILL_TEST_HOME;
    QDir().mkpath(QString::fromLocal8Bit(home + "/config"));
    qputenv("HOME", home);
    qputenv("XDG_CONFIG_HOME", home + "/config");
    qputenv("VIDSTILL_REGISTRY", home + "/HKCU.reg");
    if (qEnvironmentVariableIsEmpty("VIDSTILL_TOOLS_DIR"))
        qputenv("VIDSTILL_TOOLS_DIR", VIDSTILL_TEST_TOOLS);
    if (qEnvironmentVariableIsEmpty("VIDSTILL_TEST_ARTIFACTS"))
        qputenv("VIDSTILL_TEST_ARTIFACTS", VIDSTILL_TEST_ARTIFACTS_DIR);
}

}  // namespace

int main(int argc, char **argv)
{
    ::testing::InitGoogleTest(&argc, argv);
    IsolateFromTheUser();
#ifdef VIDSTILL_TEST_GUI
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
#endif
    TestApplication app(argc, argv);
    return RUN_ALL_TESTS();
}
