#include "platform/ui/eventpump.h"

#include "platform/core/hooks.h"

#include <QCoreApplication>
#include <QThread>

namespace platform {

void PumpGuiEvents() {
    QCoreApplication* app = QCoreApplication::instance();
    if (app && QThread::currentThread() == app->thread())
        QCoreApplication::processEvents();
}

void InstallQtEventPump() {
    SetProcessEventsHook(PumpGuiEvents);
}

} // namespace platform
