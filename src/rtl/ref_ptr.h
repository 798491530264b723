// RefPtr<T>: the one intrusive smart pointer for reference-counted objects
// (COM-style AddRef/Release: the archive reader, stream adapters and the
// library's own objects). Copying adds a reference, destruction releases it.
#pragma once

#include <utility>

namespace kv {

template <class T> class RefPtr {
public:
    RefPtr() noexcept = default;
    RefPtr(std::nullptr_t) noexcept {}
    // Takes a new reference to p.
    explicit RefPtr(T* p) noexcept : FPtr(p) {
        if (FPtr) FPtr->AddRef();
    }
    // Adopts p's existing reference (an object fresh from a factory with count 1).
    static RefPtr adopt(T* p) noexcept {
        RefPtr r;
        r.FPtr = p;
        return r;
    }
    RefPtr(const RefPtr& o) noexcept : RefPtr(o.FPtr) {}
    RefPtr(RefPtr&& o) noexcept : FPtr(std::exchange(o.FPtr, nullptr)) {}
    template <class U> RefPtr(const RefPtr<U>& o) noexcept : RefPtr(o.get()) {}
    ~RefPtr() { reset(); }
    RefPtr& operator=(RefPtr o) noexcept {
        std::swap(FPtr, o.FPtr);
        return *this;
    }
    void reset() noexcept {
        if (T* p = std::exchange(FPtr, nullptr)) p->Release();
    }
    // Gives up ownership without releasing (for handing a reference out).
    T* detach() noexcept { return std::exchange(FPtr, nullptr); }
    // For out-parameters (T**): releases what is held first.
    T** put() noexcept {
        reset();
        return &FPtr;
    }
    T* get() const noexcept { return FPtr; }
    T* operator->() const noexcept { return FPtr; }
    T& operator*() const noexcept { return *FPtr; }
    explicit operator bool() const noexcept { return FPtr != nullptr; }
    friend bool operator==(const RefPtr& a, const RefPtr& b) noexcept { return a.FPtr == b.FPtr; }

private:
    T* FPtr = nullptr;
};

} // namespace kv
