#include "alloc_seam.h"

#include <cstdlib>
#include <new>

namespace {

void* allocate(std::size_t size) noexcept {
    allocseam::Seam& seam = allocseam::t_seam;
    if (seam.armed) {
        ++seam.requests;
        seam.largest = seam.largest > size ? seam.largest : size;
        if (seam.failAt == 0 || seam.requests == seam.failAt) {
            seam.fired = true;
            return nullptr;
        }
    }
    return std::malloc(size == 0 ? 1 : size);
}

}  // namespace

void* operator new(std::size_t size) {
    void* p = allocate(size);
    if (p == nullptr) {
        throw std::bad_alloc();
    }
    return p;
}
void* operator new[](std::size_t size) {
    return operator new(size);
}
void* operator new(std::size_t size, const std::nothrow_t&) noexcept {
    return allocate(size);
}
void* operator new[](std::size_t size, const std::nothrow_t&) noexcept {
    return allocate(size);
}

// Every form of delete gives back to malloc what the forms of new took from it.
#define QIR_FREE_WITH(name, ...)      \
    void name(__VA_ARGS__) noexcept { \
        std::free(p);                 \
    }
QIR_FREE_WITH(operator delete, void* p)
QIR_FREE_WITH(operator delete[], void* p)
QIR_FREE_WITH(operator delete, void* p, std::size_t)
QIR_FREE_WITH(operator delete[], void* p, std::size_t)
QIR_FREE_WITH(operator delete, void* p, const std::nothrow_t&)
QIR_FREE_WITH(operator delete[], void* p, const std::nothrow_t&)
