#pragma once

// The waits of the GUI and web-engine tests, on the rule of waiting.h: the event loop runs until
// what the test needs has happened, however long a busy machine takes. It runs as the program's
// own loop does: the web engine loads far more slowly under a loop of single passes
// (QTest::qWaitFor), which sleeps between them.

#include <QElapsedTimer>
#include <QEventLoop>
#include <QSignalSpy>
#include <QTimer>
#include <chrono>

#include "tests/support/waiting.h"

namespace paginor {

// Runs the event loop until done() holds, looking every 10 ms.
template <typename Done>
void waitUntil(Done done, const char* what) {
    if (done()) {
        return;
    }
    QEventLoop loop;
    QTimer look;
    QElapsedTimer clock;
    clock.start();
    qint64 note = std::chrono::milliseconds(kWaitNoteInterval).count();
    QObject::connect(&look, &QTimer::timeout, &loop, [&] {
        if (done()) {
            loop.quit();
        } else if (clock.elapsed() >= note) {
            noteStillWaiting(what, std::chrono::seconds(clock.elapsed() / 1000));
            note += std::chrono::milliseconds(kWaitNoteInterval).count();
        }
    });
    look.start(10);
    loop.exec();
}

// Runs the event loop until spy has caught its signal.
inline void waitForSignal(QSignalSpy& spy, const char* what) {
    std::chrono::seconds waited{0};
    while (spy.isEmpty() &&
           !spy.wait(static_cast<int>(std::chrono::milliseconds(kWaitNoteInterval).count()))) {
        waited += kWaitNoteInterval;
        noteStillWaiting(what, waited);
    }
}

}  // namespace paginor
