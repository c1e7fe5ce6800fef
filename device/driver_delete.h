// Deleting an object the driver library handed out, and how our own implementations of its
// interfaces (the simulated library, test doubles) answer that call.
//
// The interfaces have no virtual destructor of their own: their destructor's entry is the slot
// DeletingDestructor (see device/driver_connection.h), called the way the maker's compiler calls it
// for `delete`, with flag bit 0 set.
#pragma once

#include "device/driver_connection.h"

// Bit 0 of the destructor entry's flags: free the storage once the object is destroyed.
inline constexpr unsigned int kDeleteFreesStorage = 1;

// `delete object` for a device or endpoint of the library; null is left alone.
template <typename Interface>
void DeleteDriverObject(Interface* object) {
    if (object != nullptr) {
        object->DeletingDestructor(kDeleteFreesStorage);
    }
}

// Base of an implementation of ours: answers the destructor entry by destroying the object as
// `Self` and freeing it when asked, and gives back its address as the maker's entry does.
template <typename Interface, typename Self>
class DriverObject : public Interface {
public:
    void* SHLK_METHOD DeletingDestructor(unsigned int flags) final {
        Self* const self = static_cast<Self*>(this);
        void* const address = self;
        if ((flags & kDeleteFreesStorage) != 0) {
            delete self;
        } else {
            self->~Self();
        }
        return address;
    }

protected:
    DriverObject() = default;
    ~DriverObject() = default;
    DriverObject(const DriverObject&) = default;
    DriverObject& operator=(const DriverObject&) = default;
};
