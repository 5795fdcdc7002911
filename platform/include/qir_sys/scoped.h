// Scoped<Traits>: the one owner of a platform resource (a descriptor, a handle, a loaded module,
// an open registry key), in the manner of Chromium's ScopedGeneric. It releases what it holds
// when it goes, hands it over on a move and is never copied. Traits name the value that holds
// nothing (`invalid()`) and how a held value is released (`release(value)`, which must not
// throw).
#pragma once

#include <utility>

namespace qir::sys {

template <class Traits>
class Scoped {
  public:
    using Value = decltype(Traits::invalid());

    Scoped() noexcept : m_value(Traits::invalid()) {}
    explicit Scoped(Value value) noexcept : m_value(value) {}
    ~Scoped() { reset(); }
    Scoped(Scoped&& other) noexcept : m_value(other.take()) {}
    Scoped& operator=(Scoped&& other) noexcept {
        if (this != &other) {
            reset(other.take());
        }
        return *this;
    }
    Scoped(const Scoped&) = delete;
    Scoped& operator=(const Scoped&) = delete;

    explicit operator bool() const { return m_value != Traits::invalid(); }
    Value get() const { return m_value; }

    // Gives up ownership without releasing.
    Value take() noexcept { return std::exchange(m_value, Traits::invalid()); }

    // Releases what is held and holds `value` instead.
    void reset(Value value = Traits::invalid()) noexcept {
        const Value old = std::exchange(m_value, value);
        if (old != Traits::invalid()) {
            Traits::release(old);
        }
    }

  private:
    Value m_value;
};

}  // namespace qir::sys
