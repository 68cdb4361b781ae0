/* math.h - the C99 set, as macOS's libSystem provides it: each function in
 * double, float (f) and long double (l). See _darwin.h. */
#ifndef SPECTRA_DARWIN_MATH_H
#define SPECTRA_DARWIN_MATH_H

#include "_darwin.h"

SPECTRA_C_BEGIN

typedef float float_t;
typedef double double_t;

#define HUGE_VAL __builtin_huge_val()
#define HUGE_VALF __builtin_huge_valf()
#define HUGE_VALL __builtin_huge_vall()
#define INFINITY __builtin_inff()
#define NAN __builtin_nanf("")
#define FP_NAN 1
#define FP_INFINITE 2
#define FP_ZERO 3
#define FP_NORMAL 4
#define FP_SUBNORMAL 5
#define FP_ILOGB0 (-2147483647 - 1)
#define FP_ILOGBNAN (-2147483647 - 1)
#define MATH_ERRNO 1
#define MATH_ERREXCEPT 2
#define math_errhandling MATH_ERREXCEPT
#define M_PI 3.14159265358979323846264338327950288

#define fpclassify(x) __builtin_fpclassify(FP_NAN, FP_INFINITE, FP_NORMAL, FP_SUBNORMAL, FP_ZERO, x)
#define isfinite(x) __builtin_isfinite(x)
#define isinf(x) __builtin_isinf(x)
#define isnan(x) __builtin_isnan(x)
#define isnormal(x) __builtin_isnormal(x)
#define signbit(x) __builtin_signbit(x)
#define isgreater(x, y) __builtin_isgreater(x, y)
#define isgreaterequal(x, y) __builtin_isgreaterequal(x, y)
#define isless(x, y) __builtin_isless(x, y)
#define islessequal(x, y) __builtin_islessequal(x, y)
#define islessgreater(x, y) __builtin_islessgreater(x, y)
#define isunordered(x, y) __builtin_isunordered(x, y)


#define SPECTRA_DD(name) double name(double); float name##f(float); long double name##l(long double);
#define SPECTRA_DDD(name)                                                                        \
    double name(double, double);                                                                 \
    float name##f(float, float);                                                                 \
    long double name##l(long double, long double);
SPECTRA_DD(acos) SPECTRA_DD(asin) SPECTRA_DD(atan) SPECTRA_DD(ceil) SPECTRA_DD(cos)
SPECTRA_DD(cosh) SPECTRA_DD(exp) SPECTRA_DD(fabs) SPECTRA_DD(floor) SPECTRA_DD(log)
SPECTRA_DD(log10) SPECTRA_DD(sin) SPECTRA_DD(sinh) SPECTRA_DD(sqrt) SPECTRA_DD(tan)
SPECTRA_DD(tanh) SPECTRA_DD(acosh) SPECTRA_DD(asinh) SPECTRA_DD(atanh) SPECTRA_DD(cbrt)
SPECTRA_DD(erf) SPECTRA_DD(erfc) SPECTRA_DD(exp2) SPECTRA_DD(expm1) SPECTRA_DD(lgamma)
SPECTRA_DD(log1p) SPECTRA_DD(log2) SPECTRA_DD(logb) SPECTRA_DD(nearbyint) SPECTRA_DD(rint)
SPECTRA_DD(round) SPECTRA_DD(tgamma) SPECTRA_DD(trunc)
SPECTRA_DDD(atan2) SPECTRA_DDD(fmod) SPECTRA_DDD(pow) SPECTRA_DDD(copysign) SPECTRA_DDD(fdim)
SPECTRA_DDD(fmax) SPECTRA_DDD(fmin) SPECTRA_DDD(hypot) SPECTRA_DDD(nextafter)
SPECTRA_DDD(remainder)

double frexp(double, int*); float frexpf(float, int*); long double frexpl(long double, int*);
double ldexp(double, int); float ldexpf(float, int); long double ldexpl(long double, int);
double modf(double, double*); float modff(float, float*); long double modfl(long double, long double*);
double scalbn(double, int); float scalbnf(float, int); long double scalbnl(long double, int);
double scalbln(double, long); float scalblnf(float, long); long double scalblnl(long double, long);
int ilogb(double); int ilogbf(float); int ilogbl(long double);
long lrint(double); long lrintf(float); long lrintl(long double);
long lround(double); long lroundf(float); long lroundl(long double);
long long llrint(double); long long llrintf(float); long long llrintl(long double);
long long llround(double); long long llroundf(float); long long llroundl(long double);
double nan(const char*); float nanf(const char*); long double nanl(const char*);
double nexttoward(double, long double); float nexttowardf(float, long double);
long double nexttowardl(long double, long double);
double remquo(double, double, int*); float remquof(float, float, int*);
long double remquol(long double, long double, int*);
double fma(double, double, double); float fmaf(float, float, float);
long double fmal(long double, long double, long double);

#undef SPECTRA_DD
#undef SPECTRA_DDD

SPECTRA_C_END

#endif
