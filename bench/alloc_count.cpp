// Counts the heap allocations of each thread, so that a benchmark can show
// that a call allocates nothing.
#include <cstdlib>
#include <new>

namespace {
thread_local long allocations = 0;
}

namespace bench {
long thread_allocations() { return allocations; }
}  // namespace bench

void* operator new(std::size_t size) {
    ++allocations;
    if (void* p = std::malloc(size == 0 ? 1 : size)) return p;
    throw std::bad_alloc();
}
void operator delete(void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }
