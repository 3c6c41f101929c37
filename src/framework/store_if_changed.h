// The first step of a setter that acts only on a change of its value.
#pragma once

#include <type_traits>
#include <utility>

// Stores value in field and answers whether that changed it:
//     if (StoreIfChanged(kind_, kind)) {
//         Refresh();
//     }
template <typename T>
bool StoreIfChanged(T& field, std::type_identity_t<T> value) {
    if (field == value) {
        return false;
    }
    field = std::move(value);
    return true;
}

// Stores value in field and, when that changed it, empties cached (an owner of something made from
// the field, such as a GDI object), so that it is made anew when next asked for.
template <typename T, typename Owner>
void StoreIfChanged(T& field, std::type_identity_t<T> value, Owner& cached) {
    if (StoreIfChanged(field, std::move(value))) {
        cached.reset();
    }
}
