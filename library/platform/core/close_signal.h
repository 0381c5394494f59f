// SIGINT, SIGTERM, SIGHUP (the terminal closed) and SIGQUIT end the program
// in order: they reach the window as
// kMsgEndSession, which ends it without the question the close button asks
// (a session manager, `kill`, a service stop or Ctrl+C from the terminal
// cannot answer one), and close any box that is open with its safe answer
// (CancelMessageBoxes). The signals are blocked in the calling thread, and so
// in every thread started after it, and taken by one watching thread.
// With the headless window, SIGUSR1 presses its close button (it has no
// other), so a test can drive a whole program from outside.
#pragma once

namespace plat {

class Window;

// Call on the window thread before other threads start; later calls move
// the requests to the new window. A request that arrives while there is no
// window (before it is made, or between two) is kept and handed to the
// next window set here.
void CloseOnTerminationSignals(Window* window);

// Blocks those signals in the calling thread (and the threads it starts)
// and starts the watching thread, so one that comes before there is a
// window is kept for it, and closes any box open meanwhile, instead of
// killing the program. Call first thing in main.
void BlockTerminationSignals();

// The requests that came while no window took them (read and cleared).
int TakePendingTerminationRequests();

}  // namespace plat
