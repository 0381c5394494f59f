// SIGINT and SIGTERM ask the window to close, as its close button does, so a
// program told to end from a terminal or a session manager ends in order
// (and asks first, like the close button). The signals are blocked in the
// calling thread, and so in every thread started after it, and taken by one
// watching thread.
#pragma once

namespace plat {

class Window;

// Call on the window thread before other threads start; later calls move
// the requests to the new window.
void CloseOnTerminationSignals(Window* window);

}  // namespace plat
