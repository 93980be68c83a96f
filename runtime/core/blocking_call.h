// Work that blocks for long without the windows freezing: a commit that
// waits for the disk holds the thread for up to a second, and a window whose
// thread is held neither repaints nor takes input.
//
// RunBlocking(work) runs `work` to its end before it returns, as a plain
// call would, also when serving the windows throws meanwhile; then the
// work's own exception goes on if it threw one, else the serving's. On a
// thread with windows to serve (the user interface thread with a window
// open), `work` runs on a helper thread while the calling thread keeps
// asking the backend for input and repaints: what the user does meanwhile
// waits as events in the window's queue (a Cancel pressed during a commit is
// served right after it, never lost), and no handler runs. So nothing of the
// program runs while `work` does, and whatever `work` uses (a file's
// connection) is in use by one thread at a time, as if the calling thread
// ran it. Elsewhere `work` runs in place.
//
// The window layer installs the server (SetBlockedServer) when it opens a
// window: it serves the calling thread's windows without waiting and says
// whether there was anything to serve.
#pragma once

#include <functional>

namespace rt {

void RunBlocking(const std::function<void()>& work);

// Milliseconds between two turns of the server while work runs.
inline constexpr int kBlockedServeMs = 20;

// Serves the calling thread's windows once; false when it has none.
using BlockedServer = bool (*)();
void SetBlockedServer(BlockedServer server);

// Called on the calling thread at every turn of the server while work runs
// on the helper thread, before the windows are served: the program may
// change what a window shows (say that a commit is held up). Empty for none.
// Set and called on the user interface thread only.
using BlockedTurn = std::function<void()>;
void SetBlockedTurn(BlockedTurn turn);

}  // namespace rt
