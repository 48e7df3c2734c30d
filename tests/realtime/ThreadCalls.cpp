#include "ThreadCalls.h"

#include <cerrno>
#include <dlfcn.h>
#include <pthread.h>
#include <sys/mman.h>
#include <sys/syscall.h>
#include <unistd.h>

// glibc's own entry points, under the names it exports for this purpose.
extern "C" void* __libc_malloc (std::size_t);
extern "C" void* __libc_calloc (std::size_t, std::size_t);
extern "C" void* __libc_realloc (void*, std::size_t);
extern "C" void* __libc_memalign (std::size_t, std::size_t);
extern "C" void __libc_free (void*);

namespace ThreadCalls
{
    std::atomic<std::size_t> refuseAllocationsOver { 0 };
    std::atomic<std::size_t> refuseMapsFrom { 0 };
    std::atomic<bool> refuseThreads { false };

    namespace
    {
        // Plain thread-local data: nothing here may allocate.
        __thread long heapCalls = 0;
        __thread long mappingCalls = 0;

        bool refused (std::size_t bytes)
        {
            const auto limit = refuseAllocationsOver.load (std::memory_order_relaxed);
            return limit != 0 && bytes > limit;
        }
    }

    Counts ofThisThread() noexcept   { return { heapCalls, mappingCalls }; }
}

using namespace ThreadCalls;

//==============================================================================
extern "C"
{
void* malloc (std::size_t n)
{
    ++heapCalls;
    return refused (n) ? nullptr : __libc_malloc (n);
}

void* calloc (std::size_t count, std::size_t n)
{
    ++heapCalls;
    return refused (count * n) ? nullptr : __libc_calloc (count, n);
}

void* realloc (void* p, std::size_t n)
{
    ++heapCalls;
    return refused (n) ? nullptr : __libc_realloc (p, n);
}

void free (void* p)
{
    if (p != nullptr)
        ++heapCalls;

    __libc_free (p);
}

void* memalign (std::size_t alignment, std::size_t n)
{
    ++heapCalls;
    return refused (n) ? nullptr : __libc_memalign (alignment, n);
}

void* aligned_alloc (std::size_t alignment, std::size_t n)
{
    return memalign (alignment, n);
}

int posix_memalign (void** result, std::size_t alignment, std::size_t n)
{
    *result = memalign (alignment, n);
    return *result != nullptr ? 0 : ENOMEM;
}

//==============================================================================
void* mmap (void* address, std::size_t n, int protection, int flags, int fd, off_t offset)
{
    ++mappingCalls;
    const auto limit = refuseMapsFrom.load (std::memory_order_relaxed);

    if (limit != 0 && n >= limit && (flags & MAP_ANONYMOUS) != 0)
    {
        errno = ENOMEM;
        return MAP_FAILED;
    }

    return (void*) syscall (SYS_mmap, address, n, protection, flags, fd, offset);
}

void* mmap64 (void* address, std::size_t n, int protection, int flags, int fd, off_t offset)
{
    return mmap (address, n, protection, flags, fd, offset);
}

int munmap (void* address, std::size_t n)
{
    ++mappingCalls;
    return (int) syscall (SYS_munmap, address, n);
}

int madvise (void* address, std::size_t n, int advice)
{
    ++mappingCalls;
    return (int) syscall (SYS_madvise, address, n, advice);
}

//==============================================================================
int pthread_create (pthread_t* thread, const pthread_attr_t* attributes, void* (*start) (void*), void* argument)
{
    using Create = int (*) (pthread_t*, const pthread_attr_t*, void* (*) (void*), void*);
    static const auto real = (Create) dlsym (RTLD_NEXT, "pthread_create");

    if (refuseThreads.load())
        return EAGAIN;

    return real (thread, attributes, start, argument);
}
}
