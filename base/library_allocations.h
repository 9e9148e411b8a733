// A scope in which what a library allocates is not reported as a leak: for the few libraries
// that keep a block for good on a path of theirs (a failed connection, a refused set-up), in
// the sanitizer build only; elsewhere it is nothing.
#pragma once

#if defined(__SANITIZE_ADDRESS__)
#define TOLVANE_LEAK_CHECKER 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define TOLVANE_LEAK_CHECKER 1
#endif
#endif
#ifdef TOLVANE_LEAK_CHECKER
#include <sanitizer/lsan_interface.h>
#endif

struct LibraryAllocations {
#ifdef TOLVANE_LEAK_CHECKER
    LibraryAllocations() {
        __lsan_disable();
    }
    ~LibraryAllocations() {
        __lsan_enable();
    }
#else
    LibraryAllocations() {}
    ~LibraryAllocations() {}
#endif
    LibraryAllocations(const LibraryAllocations&) = delete;
    LibraryAllocations& operator=(const LibraryAllocations&) = delete;
};
