/* runtime.cpp - the one piece of the C++ runtime that the macOS bundles
 * use, kept inside them: the guards of function-local statics. On a Mac
 * they live in libc++abi, and the bundles import from libSystem alone.
 *
 * A guard is 64 bits (the Itanium C++ ABI, which Darwin follows on x86-64
 * and arm64): its first byte says the static is made, the second that a
 * thread is making it. A thread that finds one being made waits for it;
 * statics made inside another's initialiser have guards of their own. */
#include <cstdint>
#include <sched.h>

extern "C" {

int __cxa_guard_acquire(uint64_t* guard) {
    uint8_t* done = reinterpret_cast<uint8_t*>(guard);
    for (;;) {
        if (__atomic_load_n(done, __ATOMIC_ACQUIRE)) return 0;
        if (!__atomic_exchange_n(done + 1, uint8_t(1), __ATOMIC_ACQUIRE)) {
            if (!__atomic_load_n(done, __ATOMIC_ACQUIRE)) return 1;
            __atomic_store_n(done + 1, uint8_t(0), __ATOMIC_RELEASE);
            return 0;
        }
        sched_yield();
    }
}

void __cxa_guard_release(uint64_t* guard) {
    uint8_t* done = reinterpret_cast<uint8_t*>(guard);
    __atomic_store_n(done, uint8_t(1), __ATOMIC_RELEASE);
    __atomic_store_n(done + 1, uint8_t(0), __ATOMIC_RELEASE);
}

void __cxa_guard_abort(uint64_t* guard) {
    __atomic_store_n(reinterpret_cast<uint8_t*>(guard) + 1, uint8_t(0), __ATOMIC_RELEASE);
}
}
