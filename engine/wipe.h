// Key material is zeroed when a call is done with it, so that no copy of a
// key or of its round keys stays in the stack or the heap for whatever uses
// that memory next.
#pragma once

#include <cstddef>

// A memset of memory that is not read again may be left out by the
// compiler; the empty asm that takes the memory as read keeps it.  Static,
// so that a copy compiled in a kernel's file for its instruction set is
// never the one that another file calls.
static inline void wipe(void* data, size_t size) {
  __builtin_memset(data, 0, size);
  __asm__ __volatile__("" : : "r"(data) : "memory");
}
