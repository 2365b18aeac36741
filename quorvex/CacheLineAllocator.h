// A standard allocator whose buffers start on a 64-byte cache line, so that
// the block engine's vector rows never straddle two lines.
#pragma once

#include <cstddef>
#include <new>

template <class T>
struct CacheLineAllocator {
    using value_type = T;
    static constexpr std::align_val_t kAlignment{64};

    CacheLineAllocator() = default;
    template <class U>
    CacheLineAllocator(const CacheLineAllocator<U>&) noexcept {}

    T* allocate(std::size_t count) { return static_cast<T*>(::operator new(count * sizeof(T), kAlignment)); }
    void deallocate(T* p, std::size_t) noexcept { ::operator delete(p, kAlignment); }

    template <class U>
    bool operator==(const CacheLineAllocator<U>&) const noexcept {
        return true;
    }
    template <class U>
    bool operator!=(const CacheLineAllocator<U>&) const noexcept {
        return false;
    }
};
