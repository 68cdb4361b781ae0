/* codes.h - how a complex coefficient is written as two image samples and
 * read back.
 *
 * A coefficient X = re + i im becomes a magnitude sample, the logarithm of |X|
 * on a scale whose top (the depth's white w) belongs to N * w, and a phase
 * sample that maps -180 degrees to 0, 0 degrees to w / 2 and +180 degrees to
 * w. The constants are ratios of the depth's white to 360 degrees or to pi,
 * written out so that every build computes the same samples.
 *
 * A magnitude below 1 has a negative logarithm. At 8 and 16 bits it codes as
 * 0, the code of magnitude 1: coding it by its absolute value would turn the
 * round-off of an empty frequency (1e-14, say) into the brightest sample of
 * the picture. At 32 bits the sample keeps its sign, so nothing is lost. */
#ifndef SPECTRA_CODES_H
#define SPECTRA_CODES_H

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <type_traits>

/* Degrees per radian. */
constexpr double degrees_per_radian = 57.29577951308232;

/* The smaller of limit and |v| + bias: with limit w and bias 0.5, and the
 * caller truncating, |v| rounded half up and saturated at white. */
inline double saturating_round(double v, double limit, double bias) {
    double a = v >= 0 ? v + bias : bias - v;
    return a < limit ? a : limit;
}

/* The codes' constants for each sample type. */
template <typename T> struct Depth;

template <> struct Depth<uint8_t> {
    static constexpr double white = 255;
    static constexpr double half = 127.5;
    static constexpr double phase_scale = 0.7083333333333334;  /* 255 / 360 */
    static constexpr double phase_divisor = 40.58451048843332; /* 127.5 / pi */
    static double divisor(double N) { return std::log10(255 * N) / 255; }
};

template <> struct Depth<uint16_t> {
    static constexpr double white = 32768;
    static constexpr double half = 16384;
    static constexpr double phase_scale = 91.02222222222223;   /* 32768 / 360 */
    static constexpr double phase_divisor = 5215.189175235227; /* 16384 / pi */
    static double divisor(double N) { return std::log10(32768 * N) * 3.0517578125e-05; }
};

template <> struct Depth<float> {
    static constexpr double white = 1.0;
    static constexpr double half = 0.5;
    static constexpr double phase_scale = 0.002777777777777778;  /* 1 / 360 */
    static constexpr double phase_divisor = 0.15915494309189535; /* 1 / (2 pi) */
    static double divisor(double N) { return std::log10(N); }
};

/* The magnitude divisor D = log10(N w) / w of a transform of N values. */
template <typename T> inline double magnitude_divisor(double N) {
    return Depth<T>::divisor(N);
}

/* A sample from a value in the depth's own scale: rounded and saturated at
 * 8 and 16 bits, narrowed to single precision at 32 bits. */
template <typename T> inline T to_sample(double v) {
    return T(saturating_round(v, Depth<T>::white, 0.5));
}
template <> inline float to_sample<float>(double v) {
    return float(v);
}

/* The magnitude code of m > 0. */
template <typename T> inline T magnitude_code(double m, double D) {
    if (m < 1) return 0;
    return to_sample<T>(std::log10(m) / D);
}
template <> inline float magnitude_code<float>(double m, double D) {
    /* A transform of one value (N = 1) has D = 0 and no scale to code on:
     * such a magnitude writes 0, never inf or NaN. */
    if (D == 0) return 0;
    return float(std::log10(m) / D);
}

/* The phase code of theta = atan2(im, re). */
template <typename T> inline T phase_code(double im, double re) {
    double phi = std::atan2(im, re) * degrees_per_radian * Depth<T>::phase_scale + Depth<T>::half;
    return to_sample<T>(std::fabs(phi));
}

/* Writes coefficient re + i im as its magnitude and phase samples. */
template <typename T>
inline void write_coefficient(double re, double im, double D, T* magnitude, T* phase) {
    double m = std::sqrt(im * im + re * re);
    if (m > 0) {
        *magnitude = magnitude_code<T>(m, D);
        *phase = phase_code<T>(im, re);
    } else {
        *magnitude = 0;
        *phase = 0;
    }
}

/* Reads the coefficient coded by magnitude sample M and phase sample P. Only
 * a magnitude sample of 0 reads as the coefficient 0 (at 32 bits a negative
 * sample is a magnitude below 1); the phase sample is read only otherwise. */
template <typename T>
inline void read_coefficient(T M, const T* P, double D, double* re, double* im) {
    if (M == 0) {
        *re = 0;
        *im = 0;
        return;
    }
    double m = std::pow(10.0, double(M) * D);
    if (Depth<T>::white == 1.0) m = float(m);
    double theta = (double(*P) - Depth<T>::half) / Depth<T>::phase_divisor;
    *re = std::cos(theta) * m;
    *im = std::sin(theta) * m;
}

/* read_coefficient() for every sample of a run. At 8 and 16 bits a sample
 * has few values, so the magnitude and the angle's cosine and sine of each
 * are worked out once per run, by the same expressions: the coefficients
 * read are the same to the bit, at a fraction of the cost. The tables hold
 * the values 0 to white, which is all a picture of the forward transform
 * holds; a 16-bit sample above white (up to 65535) is read directly. */
template <typename T> class CoefficientReader {
  public:
    /* Without tables (with_tables false, or no memory for them) every
     * coefficient is read directly. */
    explicit CoefficientReader(double D, bool with_tables = true) : D(D) {
        if constexpr (values > 0) {
            if (with_tables) table = static_cast<double*>(std::malloc(3 * values * sizeof(double)));
            /* the magnitudes, then the cosine and sine of each angle side
             * by side: one cache line holds both */
            for (size_t v = 0; table && v < values; v++) {
                table[v] = v == 0 ? 0 : std::pow(10.0, double(T(v)) * D);
                double theta = (double(T(v)) - Depth<T>::half) / Depth<T>::phase_divisor;
                table[values + 2 * v] = std::cos(theta);
                table[values + 2 * v + 1] = std::sin(theta);
            }
        }
    }
    ~CoefficientReader() { std::free(table); }
    CoefficientReader(const CoefficientReader&) = delete;
    CoefficientReader& operator=(const CoefficientReader&) = delete;

    double divisor() const { return D; }

    void read(T M, const T* P, double* re, double* im) const {
        if (!table || size_t(M) >= values) return read_coefficient<T>(M, P, D, re, im);
        if (M == 0) {
            *re = 0;
            *im = 0;
            return;
        }
        size_t angle_at = size_t(*P);
        if (angle_at >= values) return read_coefficient<T>(M, P, D, re, im);
        double m = table[size_t(M)];
        const double* angle = table + values + 2 * angle_at;
        *re = angle[0] * m;
        *im = angle[1] * m;
    }

  private:
    static const size_t values = std::is_same<T, float>::value ? 0 : size_t(Depth<T>::white) + 1;
    double D;
    double* table = nullptr;
};

#endif
