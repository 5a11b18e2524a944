#include "support/realtime_watch.h"

#include <cstdlib>
#include <dlfcn.h>
#include <new>
#include <pthread.h>

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

bool watched()
{
    return watching && counting.load(std::memory_order_relaxed);
}

template <typename Fn> Fn real(const char* name)
{
    return reinterpret_cast<Fn>(dlsym(RTLD_NEXT, name));
}

void* realMalloc(std::size_t size)
{
    static auto next = real<void* (*)(std::size_t)>("malloc");
    return next(size);
}

void countLock()
{
    if (watched())
        ++locks;
}

} // namespace

// operator new takes its memory from the real malloc, so that one allocation counts once.
void* operator new(std::size_t size)
{
    if (watched())
        ++allocations;
    if (void* p = realMalloc(size ? size : 1))
        return p;
    throw std::bad_alloc();
}
void* operator new[](std::size_t size)
{
    return operator new(size);
}
void operator delete(void* p) noexcept
{
    if (watched() && p)
        ++allocations;
    std::free(p);
}
void operator delete[](void* p) noexcept
{
    operator delete(p);
}
void operator delete(void* p, std::size_t) noexcept
{
    operator delete(p);
}
void operator delete[](void* p, std::size_t) noexcept
{
    operator delete(p);
}

extern "C" {
void* malloc(std::size_t size)
{
    if (watched())
        ++allocations;
    return realMalloc(size);
}
int pthread_mutex_lock(pthread_mutex_t* m)
{
    static auto next = real<int (*)(pthread_mutex_t*)>("pthread_mutex_lock");
    countLock();
    return next(m);
}
int pthread_mutex_trylock(pthread_mutex_t* m)
{
    static auto next = real<int (*)(pthread_mutex_t*)>("pthread_mutex_trylock");
    countLock();
    return next(m);
}
int pthread_rwlock_rdlock(pthread_rwlock_t* l)
{
    static auto next = real<int (*)(pthread_rwlock_t*)>("pthread_rwlock_rdlock");
    countLock();
    return next(l);
}
int pthread_rwlock_wrlock(pthread_rwlock_t* l)
{
    static auto next = real<int (*)(pthread_rwlock_t*)>("pthread_rwlock_wrlock");
    countLock();
    return next(l);
}
}
