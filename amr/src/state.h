// Allocation of the coder's plain state records: zeroed at creation.
#pragma once
#include <cstdlib>

namespace amr {

template <class T>
int alloc_state(T** st) {
    if (st == nullptr) return -1;
    *st = static_cast<T*>(std::calloc(1, sizeof(T)));
    return *st ? 0 : -1;
}

template <class T>
void free_state(T** st) {
    if (st == nullptr || *st == nullptr) return;
    std::free(*st);
    *st = nullptr;
}

}  // namespace amr
