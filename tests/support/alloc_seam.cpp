#include "alloc_seam.h"

#include <cstdlib>
#include <new>

namespace {

struct Seam {
    bool armed = false;
    bool failAll = false;
    bool fired = false;
    uint64_t failAt = 0;
    uint64_t requests = 0;
};

thread_local Seam t_seam;

// Whether this request must fail.
bool refuse() {
    Seam& seam = t_seam;
    if (!seam.armed) {
        return false;
    }
    ++seam.requests;
    if (seam.failAll || seam.requests == seam.failAt) {
        seam.fired = true;
        return true;
    }
    return false;
}

void* allocate(std::size_t size) {
    if (refuse()) {
        return nullptr;
    }
    return std::malloc(size == 0 ? 1 : size);
}

}  // namespace

namespace allocseam {

Failing::Failing(uint64_t n) {
    t_seam = Seam{true, n == 0, false, n, 0};
}
Failing::~Failing() {
    t_seam = Seam{};
}
bool Failing::fired() const {
    return t_seam.fired;
}
uint64_t Failing::requests() const {
    return t_seam.requests;
}

Counting::Counting() {
    t_seam = Seam{true, false, false, 0, 0};
}
Counting::~Counting() {
    t_seam = Seam{};
}
uint64_t Counting::requests() const {
    return t_seam.requests;
}

}  // namespace allocseam

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
void operator delete(void* p) noexcept {
    std::free(p);
}
void operator delete[](void* p) noexcept {
    std::free(p);
}
void operator delete(void* p, std::size_t) noexcept {
    std::free(p);
}
void operator delete[](void* p, std::size_t) noexcept {
    std::free(p);
}
void operator delete(void* p, const std::nothrow_t&) noexcept {
    std::free(p);
}
void operator delete[](void* p, const std::nothrow_t&) noexcept {
    std::free(p);
}
