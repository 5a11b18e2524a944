#pragma once

// Counts what a real-time thread does that it must not: a program that compiles realtime_watch.cpp has its
// allocation and locking entry points replaced, and counts every call made on a watched thread while counting
// is on.

#include <atomic>

namespace sonaric::test::realtime
{

/// Raised on a thread to watch it.
extern thread_local bool watching;
/// Whether watched threads are counted now (on until turned off).
extern std::atomic<bool> counting;
/// Calls of malloc, operator new and operator delete on watched threads.
extern std::atomic<int> allocations;
/// Calls taking a mutex or read-write lock on watched threads.
extern std::atomic<int> locks;

/// Whether lock calls are counted at all. Not under ThreadSanitizer: its own wrappers of them must see who called
/// (its suppressions name libpulse's internals by their caller), and the plain and AddressSanitizer runs count
/// them anyway.
#if defined(__SANITIZE_THREAD__)
inline constexpr bool kLocksCounted = false;
#else
inline constexpr bool kLocksCounted = true;
#endif

} // namespace sonaric::test::realtime
