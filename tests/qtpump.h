#pragma once
// Lets the GUI thread of a Qt test handle its events until a condition holds.
#include <QCoreApplication>
#include <chrono>
#include <thread>

namespace testing_qt {

// False when `limit` passed first: a safety net against hangs, not a
// measurement.
template <typename Done>
bool PumpUntil(Done done, std::chrono::seconds limit = std::chrono::seconds(60)) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (!done()) {
        if (std::chrono::steady_clock::now() > deadline)
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        std::this_thread::yield();
    }
    return true;
}

} // namespace testing_qt
