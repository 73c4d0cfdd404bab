#pragma once
// The event pump behind the core hook platform::ProcessPendingEvents.
//
// Display-free code (the attachment decoder) lets the calling thread handle
// its pending window messages now and then. On the GUI thread that keeps
// timers, store notifications and clicks going during a long decode; worker
// threads have no windows of the system, so there it does nothing.
namespace platform {

// Installs the pump into the core hook. The program calls this once its
// QApplication exists.
void InstallQtEventPump();
// The pump itself: QCoreApplication::processEvents() on the GUI thread,
// nothing on any other thread or without an application.
void PumpGuiEvents();

} // namespace platform
