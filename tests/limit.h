/* limit.h - runs a test again in a child process whose address space is
 * limited, so that allocations fail there as they would on a full machine.
 *
 * The child is a fresh run of the test program (fork, then exec), so it
 * inherits no FFTW threads from earlier tests. A test calls in_limited_child()
 * first: in the child it sets the limit and returns true, and the test does
 * its work; in the parent it returns false, and the test checks the child's
 * verdict with run_limited_child(). */
#ifndef SPECTRA_TEST_LIMIT_H
#define SPECTRA_TEST_LIMIT_H

#include <cstdint>

/* False on Windows, under AddressSanitizer, whose shadow memory needs more
 * address space than any useful limit leaves, and under qemu-user, which
 * does not enforce the limit. */
bool address_limits_work();

/* In the child: limits the address space to what is mapped now plus
 * `bytes` (or, with absolute, to `bytes` in all) and returns true. */
bool in_limited_child(uint64_t bytes, bool absolute);

/* In the parent: runs the current test in a child and returns true when it
 * passed there. */
bool run_limited_child();

#endif
