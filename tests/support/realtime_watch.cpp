#include "support/realtime_watch.h"

#include <cstdlib>
#include <dlfcn.h>
#include <new>
#include <pthread.h>

// These stand in for the allocator and the lock calls, which sanitizer runtimes wrap too, and run before such a
// runtime is ready (it allocates while it starts): they must not be instrumented themselves.
#define SONARIC_UNINSTRUMENTED __attribute__((no_sanitize("address", "thread", "undefined")))

namespace sonaric::test::realtime
{

thread_local bool watching = false;
std::atomic<bool> counting { true };
std::atomic<int> allocations { 0 };
std::atomic<int> locks { 0 };

} // namespace sonaric::test::realtime

namespace
{

using namespace sonaric::test::realtime;

// The std::atomic members are functions of their own, instrumented, and not inlined into uninstrumented code:
// the counters are reached through the compiler's atomic built-ins instead.
template <typename T> SONARIC_UNINSTRUMENTED T* storage(std::atomic<T>& value)
{
    static_assert(sizeof(std::atomic<T>) == sizeof(T) && std::atomic<T>::is_always_lock_free);
    return reinterpret_cast<T*>(&value);
}

SONARIC_UNINSTRUMENTED bool watched()
{
    return watching && __atomic_load_n(storage(counting), __ATOMIC_RELAXED);
}

SONARIC_UNINSTRUMENTED void count(std::atomic<int>& counter)
{
    __atomic_fetch_add(storage(counter), 1, __ATOMIC_RELAXED);
}

/// The next definition of `name` after this program's, looked up on first use. No function-local static: its
/// guard is itself wrapped by a sanitizer runtime, which calls malloc before it can take such calls.
template <typename Fn> SONARIC_UNINSTRUMENTED Fn real(Fn& cache, const char* name)
{
    Fn next = __atomic_load_n(&cache, __ATOMIC_RELAXED);
    if (!next) {
        next = reinterpret_cast<Fn>(dlsym(RTLD_NEXT, name));
        __atomic_store_n(&cache, next, __ATOMIC_RELAXED);
    }
    return next;
}

using Malloc = void* (*)(std::size_t);
using MutexCall = int (*)(pthread_mutex_t*);
using RwlockCall = int (*)(pthread_rwlock_t*);
Malloc nextMalloc = nullptr;
[[maybe_unused]] MutexCall nextMutexLock = nullptr, nextMutexTrylock = nullptr;
[[maybe_unused]] RwlockCall nextRdlock = nullptr, nextWrlock = nullptr;

SONARIC_UNINSTRUMENTED void* realMalloc(std::size_t size)
{
    return real(nextMalloc, "malloc")(size);
}

[[maybe_unused]] SONARIC_UNINSTRUMENTED void countLock()
{
    if (watched())
        count(locks);
}

} // namespace

// operator new takes its memory from the real malloc, so that one allocation counts once.
SONARIC_UNINSTRUMENTED void* operator new(std::size_t size)
{
    if (watched())
        count(allocations);
    if (void* p = realMalloc(size ? size : 1))
        return p;
    throw std::bad_alloc();
}
SONARIC_UNINSTRUMENTED void* operator new[](std::size_t size)
{
    return operator new(size);
}
SONARIC_UNINSTRUMENTED void operator delete(void* p) noexcept
{
    if (watched() && p)
        count(allocations);
    std::free(p);
}
SONARIC_UNINSTRUMENTED void operator delete[](void* p) noexcept
{
    operator delete(p);
}
SONARIC_UNINSTRUMENTED void operator delete(void* p, std::size_t) noexcept
{
    operator delete(p);
}
SONARIC_UNINSTRUMENTED void operator delete[](void* p, std::size_t) noexcept
{
    operator delete(p);
}

extern "C" {
SONARIC_UNINSTRUMENTED void* malloc(std::size_t size)
{
    if (watched())
        count(allocations);
    return realMalloc(size);
}
#if !defined(__SANITIZE_THREAD__)
SONARIC_UNINSTRUMENTED int pthread_mutex_lock(pthread_mutex_t* m)
{
    countLock();
    return real(nextMutexLock, "pthread_mutex_lock")(m);
}
SONARIC_UNINSTRUMENTED int pthread_mutex_trylock(pthread_mutex_t* m)
{
    countLock();
    return real(nextMutexTrylock, "pthread_mutex_trylock")(m);
}
SONARIC_UNINSTRUMENTED int pthread_rwlock_rdlock(pthread_rwlock_t* l)
{
    countLock();
    return real(nextRdlock, "pthread_rwlock_rdlock")(l);
}
SONARIC_UNINSTRUMENTED int pthread_rwlock_wrlock(pthread_rwlock_t* l)
{
    countLock();
    return real(nextWrlock, "pthread_rwlock_wrlock")(l);
}
#endif
}
