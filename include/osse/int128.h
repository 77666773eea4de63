/* 128-bit integers and small integer helpers.
 *
 * `int128` holds a 128-bit value as four 32-bit words, least significant first, and nothing else;
 * `Uint128` reads it as an unsigned number, `Sint128` as a two's-complement signed one. All
 * arithmetic wraps modulo 2^128. The classes are plain (no virtuals), so objects placed in raw or
 * shared memory can be set up with their `constructor` members.
 *
 * Outcomes this interface defines where a plain reading leaves them open:
 *  - Division by zero never faults: the quotient has all 128 bits set (Uint128 max, Sint128 -1)
 *    and the remainder is the dividend, on every path (64-bit and 128-bit, unsigned and signed).
 *  - Signed division divides the magnitudes and negates the quotient when the signs differ
 *    (truncation toward zero); the remainder takes the sign of the dividend. The one overflowing
 *    case, min / -1, wraps to min with remainder 0.
 *  - Shifts by 128 or more give 0 (Sint128 >> gives 0 or -1 by the sign).
 *  - From float/double: the integer part, truncated toward zero. NaN gives 0. Unsigned: negative
 *    values give 0, values of 2^128 and above (and +inf) give all ones. Signed: values saturate to
 *    [-2^127, 2^127 - 1] (+inf gives the maximum, -inf the minimum).
 *  - To double: truncation toward zero in magnitude (the nearest double not above the value in
 *    magnitude), for every magnitude.
 *    The conversion operators are explicit (static_cast<double>(v)): an implicit one would make
 *    every mixed expression such as v * 10 or v == 0 ambiguous.
 *  - ossComputeMontgomeryInverse32(0) returns 0.
 *  - ossComputeLCM is exact whenever the least common multiple fits in 32 bits (it divides before
 *    it multiplies); otherwise it is the least common multiple modulo 2^32. lcm(a, 0) is 0.
 */
#ifndef OSSE_INT128_H
#define OSSE_INT128_H

#include "osse/base.h"

#ifdef __cplusplus

/* The 128 bits shared by Uint128 and Sint128: four 32-bit words, least significant first. The two
 * types differ only in how they read the top bit. */
class OSSE_API int128
{
public:
    /* The value, least significant word first. */
    Uint32 m_word[4];

    constexpr int128() : m_word{0, 0, 0, 0} {}
    /* The value with the given high and low 64-bit halves. */
    constexpr int128(Uint64 high, Uint64 low)
        : m_word{(Uint32)low, (Uint32)(low >> 32), (Uint32)high, (Uint32)(high >> 32)}
    {
    }

    /* Word i (0 to 3, least significant first). */
    constexpr Uint32 word(unsigned int i) const { return m_word[i & 3]; }
    /* The low 64 bits. */
    constexpr Uint64 low64() const { return (Uint64)m_word[1] << 32 | m_word[0]; }
    /* The high 64 bits. */
    constexpr Uint64 high64() const { return (Uint64)m_word[3] << 32 | m_word[2]; }
    /* Sets the value from its high and low 64-bit halves. */
    void setHalves(Uint64 high, Uint64 low)
    {
        m_word[0] = (Uint32)low;
        m_word[1] = (Uint32)(low >> 32);
        m_word[2] = (Uint32)high;
        m_word[3] = (Uint32)(high >> 32);
    }
    /* Sets the value from its four words, least significant first. */
    void setWords(Uint32 w0, Uint32 w1, Uint32 w2, Uint32 w3)
    {
        m_word[0] = w0;
        m_word[1] = w1;
        m_word[2] = w2;
        m_word[3] = w3;
    }
    /* True when the value is 0. */
    bool isZero() const { return (m_word[0] | m_word[1] | m_word[2] | m_word[3]) == 0; }
    /* True when the top bit is set (negative when read as Sint128). */
    bool signBit() const { return (m_word[3] >> 31) != 0; }

    /* Sets the value from decimal text: white space is skipped, then an optional '+', then an
     * optional '-', then leading zeros; decimal digits are taken up to the first non-digit,
     * accumulating value * 10 + digit modulo 2^128; the result is negated when '-' was seen. No
     * digits (or a null pointer) give 0. Returns this object. */
    int128& strToInt128(const char* text);

    /* Writes the value as decimal text into buffer (size bytes, terminator included); when
     * isSigned and the value is negative the text starts with '-'. Returns the length of the
     * text (sign included), or -1 when size is 0, buffer is null or the text and its terminator
     * do not fit; on -1 with room for one byte the buffer holds the empty string. The largest
     * text, "-170141183460469231731687303715884105728", needs 41 bytes (39 digits and no sign for
     * unsigned values: 40 bytes). */
    int tostr(char* buffer, unsigned int size, bool isSigned) const;

    /* Quotient and remainder of unsigned division (either pointer may be null). Division by
     * zero gives an all-ones quotient and the dividend as remainder. */
    static void udivmod(const int128& dividend, const int128& divisor, int128* quotient,
                        int128* remainder);
};

/* Unsigned 128-bit integer. */
class OSSE_API Uint128 : public int128
{
public:
    Uint128() {}
    /* Conversions from the built-in numbers: a negative integer is sign-extended (as the C
     * conversion to an unsigned type), a floating value truncated toward zero; (high, low) gives
     * the two 64-bit halves. */
    Uint128(int v) { constructor((Sint64)v); }
    Uint128(unsigned int v) { constructor((Uint64)v); }
    Uint128(long v) { constructor((Sint64)v); }
    Uint128(unsigned long v) { constructor((Uint64)v); }
    Uint128(long long v) { constructor((Sint64)v); }
    Uint128(unsigned long long v) { constructor((Uint64)v); }
    constexpr Uint128(Uint64 high, Uint64 low) : int128(high, low) {}
    explicit Uint128(float v) { constructor(v); }
    explicit Uint128(double v) { constructor(v); }
    /* The same 128 bits, read as unsigned. */
    explicit Uint128(const int128& bits) : int128(bits) {}

    /* Sets the value (the language constructors call these): 0, or an unsigned 64-bit value. */
    void constructor() { setHalves(0, 0); }
    void constructor(Uint64 v) { setHalves(0, v); }
    /* Sign-extended, as the C conversion of a negative number to an unsigned type. */
    void constructor(Sint64 v) { setHalves(v < 0 ? ~(Uint64)0 : 0, (Uint64)v); }
    /* Sets the value from a floating value, truncated toward zero. */
    void constructor(float v);
    void constructor(double v);

    /* The largest value, 2^128 - 1. */
    static Uint128 maxValue() { return Uint128(~(Uint64)0, ~(Uint64)0); }

    /* Truncated toward zero: the nearest double not above the value. */
    explicit operator double() const;

    /* Arithmetic modulo 2^128, bit operations and shifts, in place; ++ and -- add and subtract 1. */
    Uint128& operator+=(const Uint128& b);
    Uint128& operator-=(const Uint128& b);
    Uint128& operator*=(const Uint128& b);
    Uint128& operator/=(const Uint128& b);
    Uint128& operator%=(const Uint128& b);
    Uint128& operator&=(const Uint128& b);
    Uint128& operator|=(const Uint128& b);
    Uint128& operator^=(const Uint128& b);
    Uint128& operator<<=(unsigned int n);
    Uint128& operator>>=(unsigned int n);
    Uint128& operator++() { return *this += Uint128(1u); }
    Uint128& operator--() { return *this -= Uint128(1u); }
};

/* Signed 128-bit integer, two's complement. */
class OSSE_API Sint128 : public int128
{
public:
    Sint128() {}
    /* Conversions from the built-in numbers: an integer keeps its value, a floating value is
     * truncated toward zero; (high, low) gives the two 64-bit halves of the two's-complement bits. */
    Sint128(int v) { constructor((Sint64)v); }
    Sint128(unsigned int v) { constructor((Uint64)v); }
    Sint128(long v) { constructor((Sint64)v); }
    Sint128(unsigned long v) { constructor((Uint64)v); }
    Sint128(long long v) { constructor((Sint64)v); }
    Sint128(unsigned long long v) { constructor((Uint64)v); }
    constexpr Sint128(Uint64 high, Uint64 low) : int128(high, low) {}
    explicit Sint128(float v) { constructor(v); }
    explicit Sint128(double v) { constructor(v); }
    /* The same 128 bits, read as two's complement. */
    explicit Sint128(const int128& bits) : int128(bits) {}

    /* Sets the value (the language constructors call these): 0, an unsigned or a signed 64-bit
     * value. */
    void constructor() { setHalves(0, 0); }
    void constructor(Uint64 v) { setHalves(0, v); }
    void constructor(Sint64 v) { setHalves(v < 0 ? ~(Uint64)0 : 0, (Uint64)v); }
    /* Sets the value from a floating value, truncated toward zero. */
    void constructor(float v);
    void constructor(double v);

    /* The largest value, 2^127 - 1. */
    static Sint128 maxValue() { return Sint128((~(Uint64)0) >> 1, ~(Uint64)0); }
    /* The smallest value, -2^127. */
    static Sint128 minValue() { return Sint128((Uint64)1 << 63, 0); }

    /* True when the value is below 0. */
    bool isNegative() const { return signBit(); }
    /* |value| as an unsigned number (min gives 2^127). */
    Uint128 magnitude() const;

    /* Truncated toward zero: the nearest double not above the value in magnitude. */
    explicit operator double() const;

    /* Arithmetic in two's complement modulo 2^128, bit operations and shifts, in place. */
    Sint128& operator+=(const Sint128& b);
    Sint128& operator-=(const Sint128& b);
    Sint128& operator*=(const Sint128& b);
    Sint128& operator/=(const Sint128& b);
    Sint128& operator%=(const Sint128& b);
    Sint128& operator&=(const Sint128& b);
    Sint128& operator|=(const Sint128& b);
    Sint128& operator^=(const Sint128& b);
    Sint128& operator<<=(unsigned int n);
    /* Arithmetic: the sign bit fills from the left. */
    Sint128& operator>>=(unsigned int n);
    /* Add and subtract 1. */
    Sint128& operator++() { return *this += Sint128(1); }
    Sint128& operator--() { return *this -= Sint128(1); }
};

/* Sum, difference, negation and complement modulo 2^128. */
OSSE_API Uint128 operator+(const Uint128& a, const Uint128& b);
OSSE_API Uint128 operator-(const Uint128& a, const Uint128& b);
OSSE_API Uint128 operator-(const Uint128& a);
OSSE_API Uint128 operator~(const Uint128& a);
/* Product modulo 2^128. */
OSSE_API Uint128 operator*(const Uint128& a, const Uint128& b);
/* Quotient truncated: a 64-bit division when both values fit in 64 bits, short division for a
 * one-word divisor, else restoring division one bit at a time. */
OSSE_API Uint128 operator/(const Uint128& a, const Uint128& b);
/* Remainder of the truncated division: a == (a / b) * b + a % b. */
OSSE_API Uint128 operator%(const Uint128& a, const Uint128& b);
/* Bitwise and, or and exclusive or; shifts by n bits; comparisons. */
OSSE_API Uint128 operator&(const Uint128& a, const Uint128& b);
OSSE_API Uint128 operator|(const Uint128& a, const Uint128& b);
OSSE_API Uint128 operator^(const Uint128& a, const Uint128& b);
OSSE_API Uint128 operator<<(const Uint128& a, unsigned int n);
OSSE_API Uint128 operator>>(const Uint128& a, unsigned int n);
OSSE_API bool operator==(const Uint128& a, const Uint128& b);
OSSE_API bool operator!=(const Uint128& a, const Uint128& b);
OSSE_API bool operator<(const Uint128& a, const Uint128& b);
OSSE_API bool operator<=(const Uint128& a, const Uint128& b);
OSSE_API bool operator>(const Uint128& a, const Uint128& b);
OSSE_API bool operator>=(const Uint128& a, const Uint128& b);

/* Sum, difference, negation and complement in two's complement modulo 2^128. */
OSSE_API Sint128 operator+(const Sint128& a, const Sint128& b);
OSSE_API Sint128 operator-(const Sint128& a, const Sint128& b);
OSSE_API Sint128 operator-(const Sint128& a);
OSSE_API Sint128 operator~(const Sint128& a);
/* Two's-complement product modulo 2^128. */
OSSE_API Sint128 operator*(const Sint128& a, const Sint128& b);
/* Quotient truncated toward zero. */
OSSE_API Sint128 operator/(const Sint128& a, const Sint128& b);
/* Remainder with the sign of the dividend: a == (a / b) * b + a % b. */
OSSE_API Sint128 operator%(const Sint128& a, const Sint128& b);
/* Bitwise and, or and exclusive or; shifts by n bits; comparisons of the signed values. */
OSSE_API Sint128 operator&(const Sint128& a, const Sint128& b);
OSSE_API Sint128 operator|(const Sint128& a, const Sint128& b);
OSSE_API Sint128 operator^(const Sint128& a, const Sint128& b);
OSSE_API Sint128 operator<<(const Sint128& a, unsigned int n);
OSSE_API Sint128 operator>>(const Sint128& a, unsigned int n);
OSSE_API bool operator==(const Sint128& a, const Sint128& b);
OSSE_API bool operator!=(const Sint128& a, const Sint128& b);
OSSE_API bool operator<(const Sint128& a, const Sint128& b);
OSSE_API bool operator<=(const Sint128& a, const Sint128& b);
OSSE_API bool operator>(const Sint128& a, const Sint128& b);
OSSE_API bool operator>=(const Sint128& a, const Sint128& b);

/* Layout: 16 bytes, the four words least significant first, nothing else. */
static_assert(sizeof(int128) == 16 && sizeof(Uint128) == 16 && sizeof(Sint128) == 16,
              "128-bit integers are 16 bytes");
static_assert(offsetof(int128, m_word) == 0, "the words start the object");
static_assert(int128(0x0000000400000003ull, 0x0000000200000001ull).m_word[0] == 1 &&
                  int128(0x0000000400000003ull, 0x0000000200000001ull).m_word[1] == 2 &&
                  int128(0x0000000400000003ull, 0x0000000200000001ull).m_word[2] == 3 &&
                  int128(0x0000000400000003ull, 0x0000000200000001ull).m_word[3] == 4,
              "least significant word first");

#else /* C: the value is passed by address only. */
typedef struct Uint128 Uint128;
#endif

/* The value *value as a double, truncated toward zero (the nearest double not above it); a null
 * pointer gives 0. */
OSSE_C_API double ossUint128ToDouble(const Uint128* value);

/* Greatest common divisor (Euclid); gcd(a, 0) == a, gcd(0, b) == b. */
OSSE_C_API Uint32 ossComputeGCD(Uint32 a, Uint32 b);
/* Least common multiple; 0 when either is 0; modulo 2^32 when it does not fit. */
OSSE_C_API Uint32 ossComputeLCM(Uint32 a, Uint32 b);
/* The x with m * x == -1 (mod 2^32), where m is n with its trailing zero bits removed (the odd
 * part of n). n == 0 gives 0. */
OSSE_C_API Uint32 ossComputeMontgomeryInverse32(Uint32 n);

#endif
