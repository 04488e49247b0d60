#pragma once

// For the tests of windows and dialogs: a main that runs them on the offscreen
// platform (unless another is asked for), and a wait that keeps Qt's loop going.

#include <gtest/gtest.h>

#include <QApplication>
#include <QElapsedTimer>
#include <cstdlib>
#include <functional>

namespace tw::test {

// Lets the loop run until `ready` holds or `ms` have passed; whether it holds.
inline bool WaitFor(const std::function<bool()>& ready, int ms = 10000) {
    QElapsedTimer timer;
    timer.start();
    while (!ready() && timer.elapsed() < ms)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    return ready();
}

inline int RunQtTests(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    // What the settings write for the desktop (the autostart entry) goes to a
    // folder of the tests' own, never the user's.
    char config[] = "/tmp/tonewell-config-XXXXXX";
    if (mkdtemp(config)) qputenv("XDG_CONFIG_HOME", config);
    QApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}

}  // namespace tw::test
