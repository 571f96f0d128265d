#pragma once
// Gives the calling thread an alternate signal stack, so that a handler for a fault still runs
// when the thread has overflowed its own stack. Call it first thing in every thread the program
// starts; the stack lives until the thread ends. A thread that already has one keeps it.

namespace platform {

// True when the thread has an alternate signal stack afterwards.
bool EnsureSignalStack();

}  // namespace platform
