#pragma once

#include <functional>

// Worker threads reach controls only through the main thread. RunInMainThread
// runs AProc there and waits until it has run; on the main thread itself (or
// when no Qt application exists) it runs at once. An exception raised by AProc
// is re-raised in the caller.
//
// The main thread serves these hand-offs whenever it processes events. A main
// thread that must wait for workers has to wait through WaitServing (or an
// event loop), never by blocking, or a worker waiting on it would deadlock.
// Even that is not enough inside a hand-off: the worker that made it waits
// below on the same stack, so a wait for workers started there never ends
// (see ServingHandOff).
void RunInMainThread(const std::function<void()>& AProc);

// True on the thread of the Qt application (or when there is none).
bool IsMainThread();

// Runs every hand-off waiting for the main thread. Main thread only.
void ServeHandOffs();

// Main thread, once a Qt application exists: sets up how workers wake the
// main thread for their hand-offs. Called by the engine's objects when they
// are created (and by ServeHandOffs); without it a queued call wakes it.
void PrepareHandOffs();

// True on the main thread while it runs a worker's hand-off, including all
// the events it processes meanwhile. A wait for worker threads may start only
// when this is false.
bool ServingHandOff();

// Main thread: processes events and hand-offs until ADone gives true or
// ATimeoutMSec has passed (negative: no limit). Returns ADone's last answer.
bool WaitServing(const std::function<bool()>& ADone, int ATimeoutMSec = -1);
