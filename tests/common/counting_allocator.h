// Counts every heap allocation of the process: the global operator new in
// all its forms, and malloc, calloc and realloc (which the C library and our
// own code could call without going through operator new).
#ifndef TESTS_COMMON_COUNTING_ALLOCATOR_H
#define TESTS_COMMON_COUNTING_ALLOCATOR_H

namespace alloc_count {

// Allocations since the process started.
long total();

}  // namespace alloc_count

#endif
