// A plain reference count under objects that are handed out and given up with Release.
#pragma once

#include <cstdint>

class RefCounted {
public:
    RefCounted() = default;
    virtual ~RefCounted() = default;
    RefCounted(const RefCounted&) = delete;
    RefCounted& operator=(const RefCounted&) = delete;
    RefCounted(RefCounted&&) = delete;
    RefCounted& operator=(RefCounted&&) = delete;

    // Gives up one reference; the last one destroys the object. Not atomic: one holder at a time.
    void Release() {
        if (--refCount == 0) {
            delete this;
        }
    }

    std::int32_t refCount = 1;
};
