// Test entry for the windows: an offscreen Qt application, settings kept in a folder of the
// build, and every message box and file dialog answered by the tests.
#include <gtest/gtest.h>

#include <QApplication>
#include <QDir>
#include <cstdlib>

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    if (!std::getenv("QT_QPA_PLATFORM")) setenv("QT_QPA_PLATFORM", "offscreen", 1);
    // QSettings and fontconfig write below these; keep them out of the user's home.
    const char* tmp = std::getenv("RUVALDA_TEST_TMP");
    const QString base = QString::fromUtf8(tmp ? tmp : "/tmp") + "/gui-home-" +
                         QString::number(QCoreApplication::applicationPid());
    QDir().mkpath(base + "/config");
    QDir().mkpath(base + "/cache");
    setenv("XDG_CONFIG_HOME", (base + "/config").toUtf8().constData(), 1);
    setenv("XDG_CACHE_HOME", (base + "/cache").toUtf8().constData(), 1);
    QApplication app(argc, argv);
    int result = RUN_ALL_TESTS();
    QDir(base).removeRecursively();
    return result;
}
