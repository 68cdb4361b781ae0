/* _darwin.h - the part of macOS's C library that the plug-ins and FFTW use,
 * declared for building macOS bundles on Linux, where no package ships
 * Darwin's headers. Every standard header of this folder includes this one
 * file; clang's own stddef.h, stdint.h, stdarg.h, limits.h, float.h and
 * intrinsics headers serve as they are.
 *
 * Declarations only: the code behind them is the Mac's libSystem, linked
 * through ../lib/libSystem.tbd. Sizes, layouts and constants are those of
 * 64-bit macOS (x86-64 and arm64 alike), taken from Apple's open-source
 * headers (Libc, libpthread, xnu: stdio.h, _types.h, sys/errno.h,
 * pthread/pthread_impl.h, sys/unistd.h, dlfcn.h) and their public
 * documentation:
 *  - LP64: long and pointers are 64-bit; off_t is 64-bit, suseconds_t 32,
 *    mode_t 16; long double is 8 bytes on arm64 and 16 on x86-64;
 *  - FILE is opaque and the standard streams are __stdinp, __stdoutp and
 *    __stderrp; errno is (*__error());
 *  - each pthread object is a long signature followed by opaque bytes:
 *    attr 56, mutex 56, mutexattr 8, cond 40, condattr 8, once 8, and a
 *    thread's own 8176 after its cleanup stack (__PTHREAD_*_SIZE__ in
 *    pthread_impl.h), with the initialisers'
 *    signatures _PTHREAD_MUTEX_SIG_init 0x32AAABA7, _PTHREAD_COND_SIG_init
 *    0x3CB0B1BB and _PTHREAD_ONCE_SIG_init 0x30B1BCBA;
 *  - mbstate_t is 128 bytes (__mbstate_t in _types.h). */
#ifndef SPECTRA_DARWIN_H
#define SPECTRA_DARWIN_H

#include <stddef.h>
#include <stdint.h>
#include <stdarg.h>

#ifdef __cplusplus
#define SPECTRA_C_BEGIN extern "C" {
#define SPECTRA_C_END }
#define SPECTRA_NOEXCEPT noexcept
#else
#define SPECTRA_C_BEGIN
#define SPECTRA_C_END
#define SPECTRA_NOEXCEPT
#endif

#define __APPLE_API_PUBLIC
#define __DARWIN_ALIAS(x)

SPECTRA_C_BEGIN

/* sys/_types.h */
typedef long ssize_t;
typedef long long off_t;
typedef int pid_t;
typedef unsigned int uid_t, gid_t, useconds_t;
typedef unsigned short mode_t;
typedef long time_t;
typedef unsigned long clock_t;
typedef int suseconds_t;
typedef int clockid_t;
typedef union {
    char __mbstate8[128];
    long long _mbstateL;
} mbstate_t;
typedef int wint_t;
typedef long long fpos_t;

/* errno.h: sys/errno.h's numbers */
int* __error(void);
#define errno (*__error())
#define EPERM 1
#define ENOENT 2
#define EINTR 4
#define EIO 5
#define EBADF 9
#define ENOMEM 12
#define EACCES 13
#define EFAULT 14
#define EBUSY 16
#define EEXIST 17
#define EINVAL 22
#define ENOSPC 28
#define EDOM 33
#define ERANGE 34
#define EAGAIN 35
#define ENOTSUP 45
#define ETIMEDOUT 60
#define EOVERFLOW 84
#define EILSEQ 92

/* stdlib.h */
typedef struct {
    int quot, rem;
} div_t;
typedef struct {
    long quot, rem;
} ldiv_t;
typedef struct {
    long long quot, rem;
} lldiv_t;
#define EXIT_SUCCESS 0
#define EXIT_FAILURE 1
#define RAND_MAX 0x7fffffff
int ___mb_cur_max(void);
#define MB_CUR_MAX ((size_t)___mb_cur_max())
void* malloc(size_t);
void* calloc(size_t, size_t);
void* realloc(void*, size_t);
void free(void*);
void* aligned_alloc(size_t, size_t);
int posix_memalign(void**, size_t, size_t);
void abort(void) __attribute__((noreturn));
void exit(int) __attribute__((noreturn));
void _Exit(int) __attribute__((noreturn));
int atexit(void (*)(void));
char* getenv(const char*);
int system(const char*);
int atoi(const char*);
long atol(const char*);
long long atoll(const char*);
double atof(const char*);
long strtol(const char*, char**, int);
long long strtoll(const char*, char**, int);
unsigned long strtoul(const char*, char**, int);
unsigned long long strtoull(const char*, char**, int);
double strtod(const char*, char**);
float strtof(const char*, char**);
long double strtold(const char*, char**);
int abs(int);
long labs(long);
long long llabs(long long);
div_t div(int, int);
ldiv_t ldiv(long, long);
lldiv_t lldiv(long long, long long);
void qsort(void*, size_t, size_t, int (*)(const void*, const void*));
void* bsearch(const void*, const void*, size_t, size_t, int (*)(const void*, const void*));
int rand(void);
void srand(unsigned);
int mblen(const char*, size_t);
int mbtowc(wchar_t*, const char*, size_t);
int wctomb(char*, wchar_t);
size_t mbstowcs(wchar_t*, const char*, size_t);
size_t wcstombs(char*, const wchar_t*, size_t);

/* string.h, strings.h */
void* memcpy(void*, const void*, size_t);
void* memmove(void*, const void*, size_t);
void* memset(void*, int, size_t);
int memcmp(const void*, const void*, size_t);
void* memchr(const void*, int, size_t);
size_t strlen(const char*);
int strcmp(const char*, const char*);
int strncmp(const char*, const char*, size_t);
int strcoll(const char*, const char*);
char* strcpy(char*, const char*);
char* strncpy(char*, const char*, size_t);
char* strcat(char*, const char*);
char* strncat(char*, const char*, size_t);
char* strchr(const char*, int);
char* strrchr(const char*, int);
char* strstr(const char*, const char*);
char* strpbrk(const char*, const char*);
size_t strspn(const char*, const char*);
size_t strcspn(const char*, const char*);
char* strtok(char*, const char*);
char* strerror(int);
size_t strxfrm(char*, const char*, size_t);
char* strdup(const char*);
void bzero(void*, size_t);
int strcasecmp(const char*, const char*);

/* stdio.h */
typedef struct __sFILE FILE;
extern FILE* __stdinp;
extern FILE* __stdoutp;
extern FILE* __stderrp;
#define stdin __stdinp
#define stdout __stdoutp
#define stderr __stderrp
#define EOF (-1)
#define BUFSIZ 1024
#define FILENAME_MAX 1024
#define FOPEN_MAX 20
#define L_tmpnam 1024
#define TMP_MAX 308915776
#define SEEK_SET 0
#define SEEK_CUR 1
#define SEEK_END 2
#define _IOFBF 0
#define _IOLBF 1
#define _IONBF 2
FILE* fopen(const char*, const char*);
FILE* freopen(const char*, const char*, FILE*);
FILE* fdopen(int, const char*);
int fclose(FILE*);
int fflush(FILE*);
void setbuf(FILE*, char*);
int setvbuf(FILE*, char*, int, size_t);
int printf(const char*, ...);
int fprintf(FILE*, const char*, ...);
int sprintf(char*, const char*, ...);
int snprintf(char*, size_t, const char*, ...);
int vprintf(const char*, va_list);
int vfprintf(FILE*, const char*, va_list);
int vsprintf(char*, const char*, va_list);
int vsnprintf(char*, size_t, const char*, va_list);
int scanf(const char*, ...);
int fscanf(FILE*, const char*, ...);
int sscanf(const char*, const char*, ...);
int vscanf(const char*, va_list);
int vfscanf(FILE*, const char*, va_list);
int vsscanf(const char*, const char*, va_list);
int fgetc(FILE*);
char* fgets(char*, int, FILE*);
int fputc(int, FILE*);
int fputs(const char*, FILE*);
int getc(FILE*);
int getchar(void);
int putc(int, FILE*);
int putchar(int);
int puts(const char*);
int ungetc(int, FILE*);
size_t fread(void*, size_t, size_t, FILE*);
size_t fwrite(const void*, size_t, size_t, FILE*);
int fgetpos(FILE*, fpos_t*);
int fseek(FILE*, long, int);
int fsetpos(FILE*, const fpos_t*);
long ftell(FILE*);
void rewind(FILE*);
void clearerr(FILE*);
int feof(FILE*);
int ferror(FILE*);
void perror(const char*);
int remove(const char*);
int rename(const char*, const char*);
FILE* tmpfile(void);
char* tmpnam(char*);

/* ctype.h: functions only (Darwin's macros read a locale table) */
int isalnum(int);
int isalpha(int);
int isblank(int);
int iscntrl(int);
int isdigit(int);
int isgraph(int);
int islower(int);
int isprint(int);
int ispunct(int);
int isspace(int);
int isupper(int);
int isxdigit(int);
int tolower(int);
int toupper(int);

/* time.h, sys/time.h */
struct timespec {
    time_t tv_sec;
    long tv_nsec;
};
struct timeval {
    time_t tv_sec;
    suseconds_t tv_usec;
};
struct tm {
    int tm_sec, tm_min, tm_hour, tm_mday, tm_mon, tm_year, tm_wday, tm_yday, tm_isdst;
    long tm_gmtoff;
    char* tm_zone;
};
#define CLOCKS_PER_SEC 1000000
#define CLOCK_REALTIME 0
#define CLOCK_MONOTONIC 6
#define TIME_UTC 1
clock_t clock(void);
time_t time(time_t*);
double difftime(time_t, time_t);
time_t mktime(struct tm*);
size_t strftime(char*, size_t, const char*, const struct tm*);
char* asctime(const struct tm*);
char* ctime(const time_t*);
struct tm* gmtime(const time_t*);
struct tm* localtime(const time_t*);
int timespec_get(struct timespec*, int);
int clock_gettime(clockid_t, struct timespec*);
int nanosleep(const struct timespec*, struct timespec*);
int gettimeofday(struct timeval*, void*);

/* sched.h, unistd.h */
struct sched_param {
    int sched_priority;
    char __opaque[4];
};
int sched_yield(void);
#define _SC_NPROCESSORS_CONF 57
#define _SC_NPROCESSORS_ONLN 58
long sysconf(int);
int usleep(useconds_t);
unsigned sleep(unsigned);
pid_t getpid(void);
ssize_t read(int, void*, size_t);
ssize_t write(int, const void*, size_t);
int close(int);

/* pthread.h */
struct __darwin_pthread_handler_rec {
    void (*__routine)(void*);
    void* __arg;
    struct __darwin_pthread_handler_rec* __next;
};
struct _opaque_pthread_t {
    long __sig;
    struct __darwin_pthread_handler_rec* __cleanup_stack;
    char __opaque[8176];
};
typedef struct _opaque_pthread_t* pthread_t;
/* cleanup handlers: macros over the thread's own stack of them */
#define pthread_cleanup_push(func, val)                                                          \
    {                                                                                            \
        struct __darwin_pthread_handler_rec __handler;                                           \
        pthread_t __self = pthread_self();                                                       \
        __handler.__routine = func;                                                              \
        __handler.__arg = val;                                                                   \
        __handler.__next = __self->__cleanup_stack;                                              \
        __self->__cleanup_stack = &__handler;
#define pthread_cleanup_pop(execute)                                                             \
    __self->__cleanup_stack = __handler.__next;                                                  \
    if (execute) (__handler.__routine)(__handler.__arg);                                         \
    }
typedef struct {
    long __sig;
    char __opaque[56];
} pthread_attr_t;
typedef struct {
    long __sig;
    char __opaque[56];
} pthread_mutex_t;
typedef struct {
    long __sig;
    char __opaque[8];
} pthread_mutexattr_t;
typedef struct {
    long __sig;
    char __opaque[40];
} pthread_cond_t;
typedef struct {
    long __sig;
    char __opaque[8];
} pthread_condattr_t;
typedef struct {
    long __sig;
    char __opaque[8];
} pthread_once_t;
typedef unsigned long pthread_key_t;
#define PTHREAD_MUTEX_INITIALIZER {0x32AAABA7, {0}}
#define PTHREAD_COND_INITIALIZER {0x3CB0B1BB, {0}}
#define PTHREAD_ONCE_INIT {0x30B1BCBA, {0}}
#define PTHREAD_CREATE_JOINABLE 1
#define PTHREAD_CREATE_DETACHED 2
#define PTHREAD_SCOPE_SYSTEM 1
#define PTHREAD_SCOPE_PROCESS 2
#define PTHREAD_MUTEX_NORMAL 0
#define PTHREAD_MUTEX_ERRORCHECK 1
#define PTHREAD_MUTEX_RECURSIVE 2
#define PTHREAD_MUTEX_DEFAULT PTHREAD_MUTEX_NORMAL
int pthread_create(pthread_t*, const pthread_attr_t*, void* (*)(void*), void*);
int pthread_join(pthread_t, void**);
int pthread_detach(pthread_t);
void pthread_exit(void*) __attribute__((noreturn));
pthread_t pthread_self(void);
int pthread_equal(pthread_t, pthread_t);
int pthread_attr_init(pthread_attr_t*);
int pthread_attr_destroy(pthread_attr_t*);
int pthread_attr_setdetachstate(pthread_attr_t*, int);
int pthread_attr_setscope(pthread_attr_t*, int);
int pthread_mutex_init(pthread_mutex_t*, const pthread_mutexattr_t*);
int pthread_mutex_destroy(pthread_mutex_t*);
int pthread_mutex_lock(pthread_mutex_t*);
int pthread_mutex_trylock(pthread_mutex_t*);
int pthread_mutex_unlock(pthread_mutex_t*);
int pthread_mutexattr_init(pthread_mutexattr_t*);
int pthread_mutexattr_destroy(pthread_mutexattr_t*);
int pthread_mutexattr_settype(pthread_mutexattr_t*, int);
int pthread_cond_init(pthread_cond_t*, const pthread_condattr_t*);
int pthread_cond_destroy(pthread_cond_t*);
int pthread_cond_wait(pthread_cond_t*, pthread_mutex_t*);
int pthread_cond_timedwait(pthread_cond_t*, pthread_mutex_t*, const struct timespec*);
int pthread_cond_signal(pthread_cond_t*);
int pthread_cond_broadcast(pthread_cond_t*);
int pthread_once(pthread_once_t*, void (*)(void));
int pthread_key_create(pthread_key_t*, void (*)(void*));
void* pthread_getspecific(pthread_key_t);
int pthread_setspecific(pthread_key_t, const void*);

/* sys/sysctl.h */
int sysctlbyname(const char*, void*, size_t*, void*, size_t);

/* dlfcn.h */
#define RTLD_LAZY 0x1
#define RTLD_NOW 0x2
#define RTLD_LOCAL 0x4
#define RTLD_GLOBAL 0x8
#define RTLD_NOLOAD 0x10
#define RTLD_NODELETE 0x80
typedef struct dl_info {
    const char* dli_fname;
    void* dli_fbase;
    const char* dli_sname;
    void* dli_saddr;
} Dl_info;
void* dlopen(const char*, int);
int dlclose(void*);
void* dlsym(void*, const char*);
char* dlerror(void);
int dladdr(const void*, Dl_info*);

SPECTRA_C_END

#endif
