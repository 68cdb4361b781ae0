/* codes_test.cpp - the coefficient codes on values that no integer image
 * produces exactly: magnitudes below 1, exact angles of plus and minus pi. */
#include "codes.h"

#include <gtest/gtest.h>

namespace {

struct MagnitudeCase {
    double m;
    int code8, code16;
};

TEST(Codes, MagnitudesAtN1024) {
    /* 0.01 and 0.5 would code as their reciprocals 100 and 2 if a magnitude
     * below 1 kept the absolute value of its logarithm. */
    const MagnitudeCase cases[] = {
        {0, 0, 0},
        {1, 0, 0},
        {0.01, 0, 0},
        {100, 94, 8708},
        {0.5, 0, 0},
        {2, 14, 1311},
        {255 * 1024.0, 255, 0},
        {1e9, 255, 32768},
        {32768 * 1024.0, 255, 32768},
    };
    double D8 = magnitude_divisor<uint8_t>(1024), D16 = magnitude_divisor<uint16_t>(1024);
    for (const MagnitudeCase& c : cases) {
        uint8_t m8, p8;
        uint16_t m16, p16;
        write_coefficient<uint8_t>(c.m, 0, D8, &m8, &p8);
        EXPECT_EQ(m8, c.code8) << c.m;
        if (c.m == 255 * 1024.0) continue; /* its 16-bit code is not a round figure */
        write_coefficient<uint16_t>(c.m, 0, D16, &m16, &p16);
        EXPECT_EQ(m16, c.code16) << c.m;
    }
}

TEST(Codes, MagnitudesOfARowOfSix) {
    /* 0.5 would share the code of 2 if magnitudes below 1 coded by their
     * reciprocals. */
    double D = magnitude_divisor<uint8_t>(6);
    const double magnitudes[] = {2, 1, 0.5, 0};
    const int codes[] = {24, 0, 0, 0};
    for (int i = 0; i < 4; i++) {
        uint8_t m, p;
        write_coefficient<uint8_t>(magnitudes[i], 0, D, &m, &p);
        EXPECT_EQ(m, codes[i]) << magnitudes[i];
    }
}

TEST(Codes, MagnitudesBelowOneKeepTheirSignAt32Bits) {
    double D = magnitude_divisor<float>(1024);
    float m, p;
    write_coefficient<float>(0.01, 0, D, &m, &p);
    EXPECT_NEAR(m, -2 / std::log10(1024.0), 1e-6);
    write_coefficient<float>(100, 0, D, &m, &p);
    EXPECT_NEAR(m, 2 / std::log10(1024.0), 1e-6);
    write_coefficient<float>(1024, 0, D, &m, &p);
    EXPECT_EQ(m, 1.0f);
    write_coefficient<float>(0, 0, D, &m, &p);
    EXPECT_EQ(m, 0.0f);
    EXPECT_EQ(p, 0.0f);
    /* N = 1 has no scale: finite samples, magnitude 0. */
    write_coefficient<float>(7, 0, magnitude_divisor<float>(1), &m, &p);
    EXPECT_EQ(m, 0.0f);
    EXPECT_EQ(p, 0.5f);
}

struct PhaseCase {
    double re, im;
    double code8, code16, code32;
};

TEST(Codes, Phases) {
    const PhaseCase cases[] = {
        {5, 0, 128, 16384, 0.5},    /* theta 0: 127.5 rounds up */
        {-5, 0.0, 255, 32768, 1.0}, /* theta pi */
        {-5, -0.0, 0, 0, 0.0},      /* theta -pi */
        {0, 5, 191, 24576, 0.75},   /* theta pi/2: 191.25 */
        {0, -5, 64, 8192, 0.25},    /* theta -pi/2: 63.75 */
    };
    for (const PhaseCase& c : cases) {
        uint8_t m8, p8;
        uint16_t m16, p16;
        float m32, p32;
        write_coefficient<uint8_t>(c.re, c.im, 0.02, &m8, &p8);
        write_coefficient<uint16_t>(c.re, c.im, 0.0002, &m16, &p16);
        write_coefficient<float>(c.re, c.im, 3, &m32, &p32);
        EXPECT_EQ(p8, c.code8) << c.re << " " << c.im;
        EXPECT_EQ(p16, c.code16) << c.re << " " << c.im;
        EXPECT_NEAR(p32, c.code32, 1e-7) << c.re << " " << c.im;
    }
}

TEST(Codes, SaturatingRounder) {
    EXPECT_DOUBLE_EQ(saturating_round(2.49, 255, 0.5), 2.99);
    EXPECT_EQ(saturating_round(-2.5, 255, 0.5), 3.0);
    EXPECT_EQ(saturating_round(254.6, 255, 0.5), 255.0);
    EXPECT_EQ(saturating_round(1e300, 32768, 0.5), 32768.0);
}

TEST(Codes, ReadingInvertsWriting) {
    /* Reading 94 at 8 bits gives about 99.26, never 0.01. */
    double D8 = magnitude_divisor<uint8_t>(1024);
    uint8_t M = 94, P = 128;
    double re, im;
    read_coefficient<uint8_t>(M, &P, D8, &re, &im);
    EXPECT_NEAR(std::hypot(re, im), 99.26, 0.01);
    EXPECT_NEAR(std::atan2(im, re), 3.14159265358979 / 255, 1e-9);
    /* 16384 at 16 bits is exactly theta 0; 0 reads as the coefficient 0. */
    uint16_t M16 = 1311, P16 = 16384;
    read_coefficient<uint16_t>(M16, &P16, magnitude_divisor<uint16_t>(1024), &re, &im);
    EXPECT_NEAR(re, 2, 0.002);
    EXPECT_EQ(im, 0);
    M16 = 0;
    read_coefficient<uint16_t>(M16, &P16, 1, &re, &im);
    EXPECT_EQ(re, 0);
    EXPECT_EQ(im, 0);
    /* At 32 bits a negative sample is a magnitude below 1. */
    float M32 = -0.5f, P32 = 0.5f;
    read_coefficient<float>(M32, &P32, magnitude_divisor<float>(100), &re, &im);
    EXPECT_NEAR(re, 0.1, 1e-7);
}

} // namespace
