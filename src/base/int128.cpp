// 128-bit integers on four 32-bit words (the i686 compiler has no 128-bit type), their
// conversions to and from floating point and decimal text, and small integer helpers.
#include "osse/int128.h"

#include <string.h>

namespace {

typedef Uint32 Words[4];

void copyWords(Words dst, const Words src) { memcpy(dst, src, sizeof(Words)); }

// a += b (mod 2^128)
void addWords(Words a, const Words b)
{
    Uint64 carry = 0;
    for (int i = 0; i < 4; ++i) {
        carry += (Uint64)a[i] + b[i];
        a[i] = (Uint32)carry;
        carry >>= 32;
    }
}

// a -= b (mod 2^128)
void subWords(Words a, const Words b)
{
    Uint32 borrow = 0;
    for (int i = 0; i < 4; ++i) {
        Uint64 d = (Uint64)a[i] - b[i] - borrow;
        a[i] = (Uint32)d;
        borrow = (Uint32)(d >> 63);
    }
}

void negWords(Words a)
{
    for (int i = 0; i < 4; ++i) a[i] = ~a[i];
    static const Words one = {1, 0, 0, 0};
    addWords(a, one);
}

// r = a * b (mod 2^128): schoolbook, keeping only the partial products that land below 2^128.
void mulWords(Words r, const Words a, const Words b)
{
    Words t = {0, 0, 0, 0};
    for (int i = 0; i < 4; ++i) {
        Uint64 carry = 0;
        for (int j = 0; i + j < 4; ++j) {
            carry += (Uint64)a[i] * b[j] + t[i + j];
            t[i + j] = (Uint32)carry;
            carry >>= 32;
        }
    }
    copyWords(r, t);
}

void shlWords(Words a, unsigned int n)
{
    Words t = {0, 0, 0, 0};
    if (n < 128) {
        unsigned int ws = n / 32, bs = n % 32;
        for (unsigned int i = ws; i < 4; ++i) {
            t[i] = a[i - ws] << bs;
            if (bs != 0 && i > ws) t[i] |= a[i - ws - 1] >> (32 - bs);
        }
    }
    copyWords(a, t);
}

// Logical shift right.
void shrWords(Words a, unsigned int n)
{
    Words t = {0, 0, 0, 0};
    if (n < 128) {
        unsigned int ws = n / 32, bs = n % 32;
        for (unsigned int i = 0; i + ws < 4; ++i) {
            t[i] = a[i + ws] >> bs;
            if (bs != 0 && i + ws + 1 < 4) t[i] |= a[i + ws + 1] << (32 - bs);
        }
    }
    copyWords(a, t);
}

int cmpWords(const Words a, const Words b)
{
    for (int i = 3; i >= 0; --i) {
        if (a[i] != b[i]) return a[i] < b[i] ? -1 : 1;
    }
    return 0;
}

// Number of significant bits (0 for zero).
unsigned int bitLength(const Words a)
{
    for (int i = 3; i >= 0; --i) {
        if (a[i] != 0) return (unsigned int)i * 32 + 32 - (unsigned int)__builtin_clz(a[i]);
    }
    return 0;
}

// a /= d for a 32-bit divisor d != 0; returns the remainder.
Uint32 divSmall(Words a, Uint32 d)
{
    Uint64 rem = 0;
    for (int i = 3; i >= 0; --i) {
        Uint64 cur = rem << 32 | a[i];
        a[i] = (Uint32)(cur / d);
        rem = cur % d;
    }
    return (Uint32)rem;
}

// Integer part of a floating-point value given as its fields: sign, biased exponent, stored
// fraction. A NaN gives 0; out-of-range values saturate (unsigned: negative -> 0, 2^128 and above
// -> all ones; signed: to the range of the type).
void fromFloatFields(int128& out, bool isSigned, bool negative, unsigned int biasedExp,
                     Uint64 fraction, unsigned int bias, unsigned int fractionBits,
                     unsigned int maxBiasedExp)
{
    out.setHalves(0, 0);
    bool infinite = false;
    if (biasedExp == maxBiasedExp) {
        if (fraction != 0) return;  // NaN
        infinite = true;
    }
    if (!infinite && biasedExp < bias) return;  // magnitude below 1 (zeros, subnormals)
    if (!isSigned && negative) return;

    // Exponent of the leading bit: the integer part needs exp + 1 bits.
    unsigned int exp = infinite ? 0 : biasedExp - bias;
    unsigned int limit = isSigned ? 127 : 128;
    if (infinite || exp >= limit) {
        if (!isSigned) {
            out.setHalves(~(Uint64)0, ~(Uint64)0);
        } else if (negative) {
            out.setHalves((Uint64)1 << 63, 0);  // -2^127: also the value when exactly -2^127
        } else {
            out.setHalves(~(Uint64)0 >> 1, ~(Uint64)0);
        }
        return;
    }

    Uint64 significand = fraction | (Uint64)1 << fractionBits;
    if (exp <= fractionBits) {
        out.setHalves(0, significand >> (fractionBits - exp));
    } else {
        out.setHalves(0, significand);
        shlWords(out.m_word, exp - fractionBits);
    }
    if (negative) negWords(out.m_word);
}

void fromDouble(int128& out, bool isSigned, double v)
{
    Uint64 bits;
    memcpy(&bits, &v, sizeof bits);
    fromFloatFields(out, isSigned, (bits >> 63) != 0, (unsigned int)(bits >> 52) & 0x7FF,
                    bits & (((Uint64)1 << 52) - 1), 1023, 52, 0x7FF);
}

void fromFloat(int128& out, bool isSigned, float v)
{
    Uint32 bits;
    memcpy(&bits, &v, sizeof bits);
    fromFloatFields(out, isSigned, (bits >> 31) != 0, (bits >> 23) & 0xFF, bits & 0x7FFFFF, 127,
                    23, 0xFF);
}

// The unsigned value as a double, truncated: the top 53 significant bits are kept, the rest
// dropped. Built from its fields, so no rounding step of the hardware conversion is involved.
double magnitudeToDouble(const Words a)
{
    unsigned int len = bitLength(a);
    if (len == 0) return 0.0;
    Words t;
    copyWords(t, a);
    if (len > 53) {
        shrWords(t, len - 53);
    } else {
        shlWords(t, 53 - len);
    }
    Uint64 significand = (Uint64)t[1] << 32 | t[0];  // 53 bits, the top one set
    Uint64 bits = (Uint64)(len - 1 + 1023) << 52 | (significand & (((Uint64)1 << 52) - 1));
    double d;
    memcpy(&d, &bits, sizeof d);
    return d;
}

bool isSpace(char c)
{
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

}  // namespace

// ---------------------------------------------------------------------------------------------
// int128

void int128::udivmod(const int128& dividend, const int128& divisor, int128* quotient,
                     int128* remainder)
{
    int128 q, r;
    if (divisor.isZero()) {
        // Defined rather than faulting: what the bit-by-bit division yields for a zero divisor.
        q.setHalves(~(Uint64)0, ~(Uint64)0);
        r = dividend;
    } else if (dividend.high64() == 0 && divisor.high64() == 0) {
        q.setHalves(0, dividend.low64() / divisor.low64());
        r.setHalves(0, dividend.low64() % divisor.low64());
    } else if (divisor.high64() == 0 && divisor.low64() <= 0xFFFFFFFFu) {
        // A divisor of one word (a tick frequency, a power of ten): short division, one word
        // at a time, gives the same quotient in four hardware divisions.
        q = dividend;
        r.setHalves(0, divSmall(q.m_word, divisor.m_word[0]));
    } else {
        // Restoring division, one bit per step, from the dividend's top significant bit (the
        // steps above it would only shift in zeros). Before the step for bit k the partial
        // remainder is at most the dividend's bits above k, below 2^(127 - k): the shift never
        // loses a bit.
        const Uint64 dh = divisor.high64(), dl = divisor.low64();
        Uint64 rh = 0, rl = 0;
        for (int bit = (int)bitLength(dividend.m_word) - 1; bit >= 0; --bit) {
            rh = rh << 1 | rl >> 63;
            rl = rl << 1 | ((dividend.m_word[bit / 32] >> (bit % 32)) & 1);
            if (rh > dh || (rh == dh && rl >= dl)) {
                rh -= dh + (rl < dl ? 1 : 0);
                rl -= dl;
                q.m_word[bit / 32] |= (Uint32)1 << (bit % 32);
            }
        }
        r.setHalves(rh, rl);
    }
    if (quotient) *quotient = q;
    if (remainder) *remainder = r;
}

int128& int128::strToInt128(const char* text)
{
    setHalves(0, 0);
    if (!text) return *this;
    const char* p = text;
    while (isSpace(*p)) ++p;
    if (*p == '+') ++p;
    bool negative = false;
    if (*p == '-') {
        negative = true;
        ++p;
    }
    while (*p == '0') ++p;
    static const Words ten = {10, 0, 0, 0};
    for (; *p >= '0' && *p <= '9'; ++p) {
        Words digit = {(Uint32)(*p - '0'), 0, 0, 0};
        mulWords(m_word, m_word, ten);
        addWords(m_word, digit);
    }
    if (negative) negWords(m_word);
    return *this;
}

int int128::tostr(char* buffer, unsigned int size, bool isSigned) const
{
    if (!buffer || size == 0) return -1;
    if (isZero()) {
        if (size < 2) {
            buffer[0] = '\0';
            return -1;
        }
        buffer[0] = '0';
        buffer[1] = '\0';
        return 1;
    }
    bool negative = isSigned && signBit();
    Words mag;
    copyWords(mag, m_word);
    if (negative) negWords(mag);

    char digits[40];  // 2^128 - 1 has 39 digits
    unsigned int count = 0;
    while (mag[2] != 0 || mag[3] != 0) digits[count++] = (char)('0' + divSmall(mag, 10));
    for (Uint64 low = (Uint64)mag[1] << 32 | mag[0]; low != 0; low /= 10) {
        digits[count++] = (char)('0' + low % 10);
    }

    unsigned int length = count + (negative ? 1 : 0);
    if (length + 1 > size) {
        buffer[0] = '\0';
        return -1;
    }
    char* out = buffer;
    if (negative) *out++ = '-';
    while (count > 0) *out++ = digits[--count];
    *out = '\0';
    return (int)length;
}

// ---------------------------------------------------------------------------------------------
// Uint128

void Uint128::constructor(float v) { fromFloat(*this, false, v); }
void Uint128::constructor(double v) { fromDouble(*this, false, v); }

Uint128::operator double() const { return magnitudeToDouble(m_word); }

Uint128& Uint128::operator+=(const Uint128& b) { addWords(m_word, b.m_word); return *this; }
Uint128& Uint128::operator-=(const Uint128& b) { subWords(m_word, b.m_word); return *this; }
Uint128& Uint128::operator*=(const Uint128& b) { mulWords(m_word, m_word, b.m_word); return *this; }
Uint128& Uint128::operator/=(const Uint128& b) { udivmod(*this, b, this, nullptr); return *this; }
Uint128& Uint128::operator%=(const Uint128& b) { udivmod(*this, b, nullptr, this); return *this; }

Uint128& Uint128::operator&=(const Uint128& b)
{
    for (int i = 0; i < 4; ++i) m_word[i] &= b.m_word[i];
    return *this;
}

Uint128& Uint128::operator|=(const Uint128& b)
{
    for (int i = 0; i < 4; ++i) m_word[i] |= b.m_word[i];
    return *this;
}

Uint128& Uint128::operator^=(const Uint128& b)
{
    for (int i = 0; i < 4; ++i) m_word[i] ^= b.m_word[i];
    return *this;
}

Uint128& Uint128::operator<<=(unsigned int n) { shlWords(m_word, n); return *this; }
Uint128& Uint128::operator>>=(unsigned int n) { shrWords(m_word, n); return *this; }

Uint128 operator+(const Uint128& a, const Uint128& b) { Uint128 r(a); return r += b; }
Uint128 operator-(const Uint128& a, const Uint128& b) { Uint128 r(a); return r -= b; }
Uint128 operator*(const Uint128& a, const Uint128& b) { Uint128 r(a); return r *= b; }
Uint128 operator/(const Uint128& a, const Uint128& b) { Uint128 r(a); return r /= b; }
Uint128 operator%(const Uint128& a, const Uint128& b) { Uint128 r(a); return r %= b; }
Uint128 operator&(const Uint128& a, const Uint128& b) { Uint128 r(a); return r &= b; }
Uint128 operator|(const Uint128& a, const Uint128& b) { Uint128 r(a); return r |= b; }
Uint128 operator^(const Uint128& a, const Uint128& b) { Uint128 r(a); return r ^= b; }
Uint128 operator<<(const Uint128& a, unsigned int n) { Uint128 r(a); return r <<= n; }
Uint128 operator>>(const Uint128& a, unsigned int n) { Uint128 r(a); return r >>= n; }

Uint128 operator-(const Uint128& a)
{
    Uint128 r(a);
    negWords(r.m_word);
    return r;
}

Uint128 operator~(const Uint128& a)
{
    Uint128 r(a);
    for (int i = 0; i < 4; ++i) r.m_word[i] = ~r.m_word[i];
    return r;
}

bool operator==(const Uint128& a, const Uint128& b) { return cmpWords(a.m_word, b.m_word) == 0; }
bool operator!=(const Uint128& a, const Uint128& b) { return cmpWords(a.m_word, b.m_word) != 0; }
bool operator<(const Uint128& a, const Uint128& b) { return cmpWords(a.m_word, b.m_word) < 0; }
bool operator<=(const Uint128& a, const Uint128& b) { return cmpWords(a.m_word, b.m_word) <= 0; }
bool operator>(const Uint128& a, const Uint128& b) { return cmpWords(a.m_word, b.m_word) > 0; }
bool operator>=(const Uint128& a, const Uint128& b) { return cmpWords(a.m_word, b.m_word) >= 0; }

// ---------------------------------------------------------------------------------------------
// Sint128

namespace {

// Signed order: flipping the sign bits maps two's complement onto unsigned order.
int cmpSigned(const Sint128& a, const Sint128& b)
{
    Words x, y;
    copyWords(x, a.m_word);
    copyWords(y, b.m_word);
    x[3] ^= 0x80000000u;
    y[3] ^= 0x80000000u;
    return cmpWords(x, y);
}

// Quotient truncated toward zero, remainder with the sign of the dividend.
void sdivmod(const Sint128& a, const Sint128& b, Sint128* q, Sint128* r)
{
    if (b.isZero()) {
        if (q) q->setHalves(~(Uint64)0, ~(Uint64)0);
        if (r) *r = a;
        return;
    }
    int128 uq, ur;
    int128::udivmod(a.magnitude(), b.magnitude(), &uq, &ur);
    if (a.isNegative() != b.isNegative()) negWords(uq.m_word);
    if (a.isNegative()) negWords(ur.m_word);
    if (q) *q = Sint128(uq);
    if (r) *r = Sint128(ur);
}

}  // namespace

void Sint128::constructor(float v) { fromFloat(*this, true, v); }
void Sint128::constructor(double v) { fromDouble(*this, true, v); }

Uint128 Sint128::magnitude() const
{
    Uint128 m(*static_cast<const int128*>(this));
    if (isNegative()) negWords(m.m_word);
    return m;
}

Sint128::operator double() const
{
    double d = magnitudeToDouble(magnitude().m_word);
    return isNegative() ? -d : d;
}

Sint128& Sint128::operator+=(const Sint128& b) { addWords(m_word, b.m_word); return *this; }
Sint128& Sint128::operator-=(const Sint128& b) { subWords(m_word, b.m_word); return *this; }
// The low 128 bits of a two's-complement product do not depend on the signs.
Sint128& Sint128::operator*=(const Sint128& b) { mulWords(m_word, m_word, b.m_word); return *this; }
Sint128& Sint128::operator/=(const Sint128& b) { sdivmod(*this, b, this, nullptr); return *this; }
Sint128& Sint128::operator%=(const Sint128& b) { sdivmod(*this, b, nullptr, this); return *this; }

Sint128& Sint128::operator&=(const Sint128& b)
{
    for (int i = 0; i < 4; ++i) m_word[i] &= b.m_word[i];
    return *this;
}

Sint128& Sint128::operator|=(const Sint128& b)
{
    for (int i = 0; i < 4; ++i) m_word[i] |= b.m_word[i];
    return *this;
}

Sint128& Sint128::operator^=(const Sint128& b)
{
    for (int i = 0; i < 4; ++i) m_word[i] ^= b.m_word[i];
    return *this;
}

Sint128& Sint128::operator<<=(unsigned int n) { shlWords(m_word, n); return *this; }

Sint128& Sint128::operator>>=(unsigned int n)
{
    if (!isNegative()) {
        shrWords(m_word, n);
    } else {
        // ~(~v >> n): the complement is non-negative, its logical shift fills zeros, and
        // complementing back turns them into the ones of the sign.
        for (int i = 0; i < 4; ++i) m_word[i] = ~m_word[i];
        shrWords(m_word, n);
        for (int i = 0; i < 4; ++i) m_word[i] = ~m_word[i];
    }
    return *this;
}

Sint128 operator+(const Sint128& a, const Sint128& b) { Sint128 r(a); return r += b; }
Sint128 operator-(const Sint128& a, const Sint128& b) { Sint128 r(a); return r -= b; }
Sint128 operator*(const Sint128& a, const Sint128& b) { Sint128 r(a); return r *= b; }
Sint128 operator/(const Sint128& a, const Sint128& b) { Sint128 r(a); return r /= b; }
Sint128 operator%(const Sint128& a, const Sint128& b) { Sint128 r(a); return r %= b; }
Sint128 operator&(const Sint128& a, const Sint128& b) { Sint128 r(a); return r &= b; }
Sint128 operator|(const Sint128& a, const Sint128& b) { Sint128 r(a); return r |= b; }
Sint128 operator^(const Sint128& a, const Sint128& b) { Sint128 r(a); return r ^= b; }
Sint128 operator<<(const Sint128& a, unsigned int n) { Sint128 r(a); return r <<= n; }
Sint128 operator>>(const Sint128& a, unsigned int n) { Sint128 r(a); return r >>= n; }

Sint128 operator-(const Sint128& a)
{
    Sint128 r(a);
    negWords(r.m_word);
    return r;
}

Sint128 operator~(const Sint128& a)
{
    Sint128 r(a);
    for (int i = 0; i < 4; ++i) r.m_word[i] = ~r.m_word[i];
    return r;
}

bool operator==(const Sint128& a, const Sint128& b) { return cmpWords(a.m_word, b.m_word) == 0; }
bool operator!=(const Sint128& a, const Sint128& b) { return cmpWords(a.m_word, b.m_word) != 0; }
bool operator<(const Sint128& a, const Sint128& b) { return cmpSigned(a, b) < 0; }
bool operator<=(const Sint128& a, const Sint128& b) { return cmpSigned(a, b) <= 0; }
bool operator>(const Sint128& a, const Sint128& b) { return cmpSigned(a, b) > 0; }
bool operator>=(const Sint128& a, const Sint128& b) { return cmpSigned(a, b) >= 0; }

// ---------------------------------------------------------------------------------------------
// C functions

double ossUint128ToDouble(const Uint128* value)
{
    return value ? magnitudeToDouble(value->m_word) : 0.0;
}

Uint32 ossComputeGCD(Uint32 a, Uint32 b)
{
    while (b != 0) {
        Uint32 r = a % b;
        a = b;
        b = r;
    }
    return a;
}

Uint32 ossComputeLCM(Uint32 a, Uint32 b)
{
    if (a == 0 || b == 0) return 0;
    // Dividing first keeps the result exact whenever it fits in 32 bits; a * b would wrap
    // before the division for any pair whose product exceeds 32 bits.
    return a / ossComputeGCD(a, b) * b;
}

Uint32 ossComputeMontgomeryInverse32(Uint32 n)
{
    if (n == 0) return 0;  // no odd part
    while ((n & 1) == 0) n >>= 1;
    // Invariant p == n * x (mod 2^32), bits 0..k-1 of p set. Adding n << k (n odd, so its
    // bit k is set) sets bit k of p without touching the bits below.
    Uint32 x = 1, p = n;
    for (unsigned int k = 1; k < 32; ++k) {
        if (((p >> k) & 1) == 0) {
            p += n << k;
            x |= (Uint32)1 << k;
        }
    }
    return x;
}
