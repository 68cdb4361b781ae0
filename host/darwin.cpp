/* darwin.cpp - what the macOS bundles import from libSystem, given by
 * glibc, for running them on Linux (see macho.h).
 *
 * Most imports are the same function on both systems and are bound to
 * glibc's own. The rest convert, as the Darwin declarations in
 * platform/macos lay things out:
 *  - pthread objects: Darwin's are larger, a signature and opaque bytes;
 *    each holds a pointer to a glibc object of its kind, made at its init
 *    or, for the static initialisers' signatures, at first use;
 *  - Darwin's constants (thread attributes, sysconf's names) and its
 *    struct timeval (a 32-bit tv_usec);
 *  - sysctlbyname's processor keys, answered from this processor;
 *  - the standard streams (pointers to FILE pointers), the stack guard;
 *  - dladdr and dlopen, for a bundle that pins itself;
 *  - fprintf: on arm64 Darwin passes every variadic argument on the stack,
 *    where glibc's va_list does not look, so there only the format is
 *    written (FFTW prints only when an assertion fails). */
#include "macho.h"

#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <pthread.h>
#include <sched.h>
#include <sys/time.h>
#include <unistd.h>

namespace {

/* The signatures of Darwin's static initialisers, and the ones its init
 * functions leave. */
const long mutex_static = 0x32AAABA7, cond_static = 0x3CB0B1BB;
const long mutex_made = 0x4D555458, cond_made = 0x434F4E44, attr_made = 0x54484154;

struct DarwinObject {
    long signature;
    void* native;
};

/* The glibc object of a Darwin one: made by `init`, with the signature
 * that Darwin's init leaves, and destroyed by `destroy`. */
template <typename T> int make(void* object, long signature, int (*init)(T*)) {
    DarwinObject* d = static_cast<DarwinObject*>(object);
    T* t = new T;
    d->signature = signature;
    d->native = t;
    return init(t);
}

template <typename T> int unmake(void* object, int (*destroy)(T*)) {
    DarwinObject* d = static_cast<DarwinObject*>(object);
    T* t = static_cast<T*>(d->native);
    d->native = nullptr;
    int r = t ? destroy(t) : 0;
    delete t;
    return r;
}

/* The glibc object, made at first use where a static initialiser's
 * signature stands. */
std::mutex lazy_lock;

template <typename T>
T* native_of(void* object, long static_signature, long signature, int (*init)(T*)) {
    DarwinObject* d = static_cast<DarwinObject*>(object);
    std::lock_guard<std::mutex> hold(lazy_lock);
    if (!d->native && d->signature == static_signature) make(object, signature, init);
    return static_cast<T*>(d->native);
}

int mutex_init(pthread_mutex_t* m) {
    return pthread_mutex_init(m, nullptr);
}
int cond_init(pthread_cond_t* c) {
    return pthread_cond_init(c, nullptr);
}

pthread_mutex_t* mutex_of(void* m) {
    return native_of(m, mutex_static, mutex_made, mutex_init);
}
pthread_cond_t* cond_of(void* c) {
    return native_of(c, cond_static, cond_made, cond_init);
}
pthread_attr_t* attr_of(const void* a) {
    return a ? static_cast<pthread_attr_t*>(static_cast<const DarwinObject*>(a)->native) : nullptr;
}

int d_mutex_init(void* m, const void*) {
    return make(m, mutex_made, mutex_init);
}
int d_mutex_destroy(void* m) {
    return unmake(m, pthread_mutex_destroy);
}
int d_mutex_lock(void* m) {
    return pthread_mutex_lock(mutex_of(m));
}
int d_mutex_unlock(void* m) {
    return pthread_mutex_unlock(mutex_of(m));
}
int d_cond_init(void* c, const void*) {
    return make(c, cond_made, cond_init);
}
int d_cond_destroy(void* c) {
    return unmake(c, pthread_cond_destroy);
}
int d_cond_wait(void* c, void* m) {
    return pthread_cond_wait(cond_of(c), mutex_of(m));
}
int d_cond_signal(void* c) {
    return pthread_cond_signal(cond_of(c));
}
int d_cond_broadcast(void* c) {
    return pthread_cond_broadcast(cond_of(c));
}
int d_attr_init(void* a) {
    return make(a, attr_made, pthread_attr_init);
}
int d_attr_destroy(void* a) {
    return unmake(a, pthread_attr_destroy);
}
/* Darwin: joinable 1, detached 2; system scope 1, process scope 2 */
int d_attr_setdetachstate(void* a, int state) {
    return pthread_attr_setdetachstate(attr_of(a), state == 2 ? PTHREAD_CREATE_DETACHED
                                                              : PTHREAD_CREATE_JOINABLE);
}
int d_attr_setscope(void* a, int scope) {
    return pthread_attr_setscope(attr_of(a),
                                 scope == 2 ? PTHREAD_SCOPE_PROCESS : PTHREAD_SCOPE_SYSTEM);
}
int d_create(void** thread, const void* attr, void* (*start)(void*), void* argument) {
    pthread_t t;
    int r = pthread_create(&t, attr_of(attr), start, argument);
    if (r == 0) *thread = reinterpret_cast<void*>(t);
    return r;
}
int d_join(void* thread, void** result) {
    return pthread_join(reinterpret_cast<pthread_t>(thread), result);
}
[[noreturn]] void d_exit(void* result) {
    pthread_exit(result);
}

/* Darwin's _SC_NPROCESSORS_CONF and _ONLN */
long d_sysconf(int name) {
    if (name == 57) return sysconf(_SC_NPROCESSORS_CONF);
    if (name == 58) return sysconf(_SC_NPROCESSORS_ONLN);
    return -1;
}

int d_sysctlbyname(const char* name, void* value, size_t* size, void*, size_t) {
    int answer = -1;
#if defined(__x86_64__)
    __builtin_cpu_init();
    struct Key {
        const char* name;
        bool has;
    } keys[] = {
        {"hw.optional.avx2_0", __builtin_cpu_supports("avx2") != 0},
        {"hw.optional.fma", __builtin_cpu_supports("fma") != 0},
        {"hw.optional.avx512f", __builtin_cpu_supports("avx512f") != 0},
        {"hw.optional.avx512dq", __builtin_cpu_supports("avx512dq") != 0},
        {"hw.optional.avx512bw", __builtin_cpu_supports("avx512bw") != 0},
        {"hw.optional.avx512vl", __builtin_cpu_supports("avx512vl") != 0},
    };
    for (const Key& k : keys)
        if (std::strcmp(name, k.name) == 0) answer = k.has;
    /* the vector paths' test switches: a key said to be absent */
    if (const char* off = std::getenv("SPECTRA_DARWIN_WITHOUT"))
        if (std::strstr(off, name)) answer = 0;
#else
    (void)name;
#endif
    if (answer < 0 || !size || *size < sizeof(int)) return -1;
    if (value) std::memcpy(value, &answer, sizeof answer);
    *size = sizeof answer;
    return 0;
}

struct DarwinTimeval {
    long seconds;
    int microseconds;
};
int d_gettimeofday(DarwinTimeval* tv, void*) {
    timeval t;
    int r = gettimeofday(&t, nullptr);
    if (tv) *tv = DarwinTimeval{long(t.tv_sec), int(t.tv_usec)};
    return r;
}

struct SinCos {
    double sin, cos;
};
SinCos d_sincos_stret(double x) {
    return SinCos{std::sin(x), std::cos(x)};
}
double d_exp10(double x) {
    return ::exp10(x);
}
void d_memset_pattern16(void* to, const void* pattern, size_t size) {
    uint8_t* p = static_cast<uint8_t*>(to);
    for (size_t i = 0; i < size; i += 16)
        std::memcpy(p + i, pattern, size - i < 16 ? size - i : 16);
}
void d_bzero(void* to, size_t size) {
    std::memset(to, 0, size);
}

int d_fprintf(FILE* f, const char* format, ...) {
#if defined(__x86_64__)
    va_list arguments;
    va_start(arguments, format);
    int r = vfprintf(f, format, arguments);
    va_end(arguments);
    return r;
#else
    return std::fputs(format, f);
#endif
}

uintptr_t stack_guard = 0x5eed5eed5eed5eedu;
[[noreturn]] void d_stack_chk_fail() {
    std::fputs("a macOS bundle's stack guard was overwritten\n", stderr);
    std::abort();
}
[[noreturn]] void d_stub_binder() {
    std::fputs("a macOS bundle called dyld_stub_binder: an import was left unbound\n", stderr);
    std::abort();
}

FILE* darwin_stdout;
FILE* darwin_stderr;

struct DarwinDlInfo {
    const char* fname;
    void* fbase;
    const char* sname;
    void* saddr;
};
int d_dladdr(const void* address, DarwinDlInfo* info) {
    const char* path;
    void* base;
    if (!macho_module_of(address, &path, &base)) return 0;
    *info = DarwinDlInfo{path, base, nullptr, nullptr};
    return 1;
}
/* Darwin's RTLD_NOLOAD 0x10 and RTLD_NODELETE 0x80: a bundle that pins
 * itself; nothing else is opened */
void* d_dlopen(const char* path, int mode) {
    if (path && (mode & 0x10) && (mode & 0x80) && macho_pin(path)) return &darwin_stdout;
    return nullptr;
}

struct Import {
    const char* name;
    void* address;
};

template <typename F> void* address(F* f) {
    return reinterpret_cast<void*>(f);
}

} // namespace

void* darwin_import(const char* name) {
    darwin_stdout = stdout;
    darwin_stderr = stderr;
    typedef double (*D1)(double);
    typedef double (*D2)(double, double);
    static const Import imports[] = {
        {"___bzero", address(d_bzero)},
        {"_bzero", address(d_bzero)},
        {"___exp10", address(d_exp10)},
        {"___sincos_stret", address(d_sincos_stret)},
        {"___stack_chk_fail", address(d_stack_chk_fail)},
        {"___stack_chk_guard", &stack_guard},
        {"___stderrp", &darwin_stderr},
        {"___stdoutp", &darwin_stdout},
        {"_abort", address(std::abort)},
        {"_atan2", address(static_cast<D2>(::atan2))},
        {"_cos", address(static_cast<D1>(::cos))},
        {"_sin", address(static_cast<D1>(::sin))},
        {"_exp", address(static_cast<D1>(::exp))},
        {"_log", address(static_cast<D1>(::log))},
        {"_log10", address(static_cast<D1>(::log10))},
        {"_fmod", address(static_cast<D2>(::fmod))},
        {"_hypot", address(static_cast<D2>(::hypot))},
        {"_lround", address(static_cast<long (*)(double)>(::lround))},
        {"_dladdr", address(d_dladdr)},
        {"_dlopen", address(d_dlopen)},
        {"_fflush", address(std::fflush)},
        {"_fprintf", address(d_fprintf)},
        {"_free", address(std::free)},
        {"_malloc", address(std::malloc)},
        {"_getenv", address(std::getenv)},
        {"_atol", address(std::atol)},
        {"_gettimeofday", address(d_gettimeofday)},
        {"_memcpy", address(static_cast<void* (*)(void*, const void*, size_t)>(std::memcpy))},
        {"_memmove", address(static_cast<void* (*)(void*, const void*, size_t)>(std::memmove))},
        {"_memset", address(static_cast<void* (*)(void*, int, size_t)>(std::memset))},
        {"_memset_pattern16", address(d_memset_pattern16)},
        {"_strcmp", address(static_cast<int (*)(const char*, const char*)>(std::strcmp))},
        {"_qsort", address(std::qsort)},
        {"_sched_yield", address(sched_yield)},
        {"_sysconf", address(d_sysconf)},
        {"_sysctlbyname", address(d_sysctlbyname)},
        {"_pthread_attr_init", address(d_attr_init)},
        {"_pthread_attr_destroy", address(d_attr_destroy)},
        {"_pthread_attr_setdetachstate", address(d_attr_setdetachstate)},
        {"_pthread_attr_setscope", address(d_attr_setscope)},
        {"_pthread_cond_init", address(d_cond_init)},
        {"_pthread_cond_destroy", address(d_cond_destroy)},
        {"_pthread_cond_wait", address(d_cond_wait)},
        {"_pthread_cond_signal", address(d_cond_signal)},
        {"_pthread_cond_broadcast", address(d_cond_broadcast)},
        {"_pthread_create", address(d_create)},
        {"_pthread_join", address(d_join)},
        {"_pthread_exit", address(d_exit)},
        {"_pthread_mutex_init", address(d_mutex_init)},
        {"_pthread_mutex_destroy", address(d_mutex_destroy)},
        {"_pthread_mutex_lock", address(d_mutex_lock)},
        {"_pthread_mutex_unlock", address(d_mutex_unlock)},
        {"dyld_stub_binder", address(d_stub_binder)},
    };
    for (const Import& i : imports)
        if (std::strcmp(i.name, name) == 0) return i.address;
    return nullptr;
}
