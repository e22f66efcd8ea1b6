// The Qt window over fake parts in a temporary directory, on the
// offscreen platform (or a real X server for the tests that need one).
#pragma once

#include <QCoreApplication>
#include <QElapsedTimer>
#include <functional>

#include "app/window_fixture.h"
#include "qt/qt_window.h"

namespace zud_test {

using zud::qt::ZudWindow;

class QtWindow : public TempDirTest {
protected:
    void SetUp() override
    {
        TempDirTest::SetUp();
        write_file("Zud.dat", test_data("small_Zud.dat"));
    }
    // Spins the event loop until `done` or the time runs out.
    static void spin_until(const std::function<bool()>& done, int ms = 60000)
    {
        QElapsedTimer timer;
        timer.start();
        while (!done() && timer.elapsed() < ms)
            QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    }
    zud::qt::WindowParts parts(bool real_worker)
    {
        zud::qt::WindowParts p{&box, &tray, &profile, &range, {}};
        if (!real_worker)
            p.start_run = [](zud::Run&) {};
        return p;
    }
    ScriptedBox box;
    FakeTray tray;
    MemoryProfile profile;
    ScriptedRange range;
};

}  // namespace zud_test
