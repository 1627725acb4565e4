// The sample array of a recording: a std::vector whose new elements are left uninitialised, so
// that a loader that sizes the array and then writes every element does not fill it twice.
#pragma once

#include <memory>
#include <new>
#include <type_traits>
#include <utility>
#include <vector>

template <typename T>
class DefaultInitAllocator : public std::allocator<T> {
  public:
    template <typename U>
    struct rebind {
        using other = DefaultInitAllocator<U>;
    };
    using std::allocator<T>::allocator;

    // Value-initialisation (resize, the sized constructor) becomes default-initialisation.
    template <typename U>
    void construct(U* p) noexcept(std::is_nothrow_default_constructible_v<U>) {
        ::new (static_cast<void*>(p)) U;
    }
    template <typename U, typename... Args>
    void construct(U* p, Args&&... args) {
        ::new (static_cast<void*>(p)) U(std::forward<Args>(args)...);
    }
};

using SampleVector = std::vector<double, DefaultInitAllocator<double>>;
