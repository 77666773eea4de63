#!/usr/bin/env python3
"""Writes the expected results of the 128-bit integer tests, computed with Python's unbounded
integers (an independent computation: the i686 compiler has no 128-bit type).

usage: int128_vectors.py OUTPUT_HEADER

128-bit values are written as {high 64 bits, low 64 bits}; doubles and floats as their bit
patterns. Outcomes the library defines for edge inputs are reproduced here on purpose:
division by zero gives an all-ones quotient and the dividend as remainder; float conversions
truncate and saturate; conversions to double truncate toward zero.
"""
import math
import os
import random
import struct
import sys

M128 = (1 << 128) - 1
M64 = (1 << 64) - 1
SMIN = -(1 << 127)
SMAX = (1 << 127) - 1

rng = random.Random(20261210)


def s(v):
    """Two's-complement reading of a 128-bit pattern."""
    v &= M128
    return v - (1 << 128) if v >> 127 else v


def w(v):
    v &= M128
    return "{0x%016XULL, 0x%016XULL}" % (v >> 64, v & M64)


def dbits(x):
    return "0x%016XULL" % struct.unpack("<Q", struct.pack("<d", x))[0]


def fbits(x):
    return "0x%08Xu" % struct.unpack("<I", struct.pack("<f", x))[0]


def c_str(t):
    return '"' + t + '"'


def udivmod(a, b):
    if b == 0:
        return M128, a
    return a // b, a % b


def sdivmod(a, b):
    """Signed, truncated toward zero; remainder takes the dividend's sign."""
    if b == 0:
        return -1, a
    q = abs(a) // abs(b)
    if (a < 0) != (b < 0):
        q = -q
    return q, a - q * b


def trunc_to_double(n):
    """The nearest double not above |n| in magnitude, with n's sign."""
    m = abs(n)
    if m == 0:
        return 0.0
    bl = m.bit_length()
    d = float(m) if bl <= 53 else math.ldexp(float(m >> (bl - 53)), bl - 53)
    return -d if n < 0 else d


def from_float(x, signed):
    if math.isnan(x):
        return 0
    if signed:
        if x >= 2.0 ** 127:
            return SMAX
        if x <= -(2.0 ** 127):
            return SMIN
        return int(x)
    if x < 1:
        return 0
    if x >= 2.0 ** 128:
        return M128
    return int(x)


def rand_bits(maxbits=128):
    """A value of random significant length, so that every division path and word boundary
    is reached."""
    n = rng.randint(0, maxbits)
    return rng.getrandbits(n) if n else 0


# Values at the word and half boundaries, and at the top of the range.
EDGES = [0, 1, 2, 3, 10, 0xFFFFFFFF, 1 << 32, (1 << 32) + 1, M64, 1 << 64, (1 << 64) + 1,
         (1 << 96) - 1, 1 << 96, (1 << 127) - 1, 1 << 127, (1 << 127) + 1, M128 - 1, M128]


def unsigned_arith():
    pairs = []
    edges = [0, 1, 3, 0xFFFFFFFF, 1 << 32, M64, 1 << 64, (1 << 127) + 1, M128]
    pairs += [(a, b) for a in edges for b in edges]
    # Both upper halves zero (64-bit path) and just above it (bit-by-bit path).
    pairs += [(rng.getrandbits(64), rng.getrandbits(rng.randint(1, 64))) for _ in range(30)]
    pairs += [((1 << 64) | rng.getrandbits(64), rng.getrandbits(rng.randint(1, 64)))
              for _ in range(10)]
    pairs += [(rng.getrandbits(64), (1 << 64) | rng.getrandbits(64)) for _ in range(5)]
    # Wide dividend, divisor of one word (short division) and of just over one word.
    pairs += [(rand_bits(), rng.getrandbits(rng.randint(1, 32))) for _ in range(15)]
    pairs += [(rand_bits(), (1 << 32) | rng.getrandbits(32)) for _ in range(5)]
    # Divisors above 2^127 (quotients 0 and 1).
    pairs += [((1 << 128) - rng.getrandbits(100), (1 << 127) | rng.getrandbits(127))
              for _ in range(10)]
    pairs += [(rand_bits(), rand_bits()) for _ in range(100)]
    out = []
    for a, b in pairs:
        q, r = udivmod(a, b)
        out.append("    {%s, %s, %s, %s, %s, %s, %s}," % (
            w(a), w(b), w(a * b), w(q), w(r), w(a + b), w(a - b)))
    return out


def signed_arith():
    edges = [0, 1, -1, 2, -3, 0x7FFFFFFF, -(1 << 32), (1 << 63), -(1 << 63) - 1, 1 << 64,
             -(1 << 64), SMAX, SMIN, SMIN + 1]
    pairs = [(a, b) for a in edges for b in edges]
    for _ in range(100):
        a = rand_bits(127) * rng.choice((1, -1))
        b = rand_bits(127) * rng.choice((1, -1))
        pairs.append((a, b))
    out = []
    for a, b in pairs:
        q, r = sdivmod(a, b)
        out.append("    {%s, %s, %s, %s, %s}," % (w(a), w(b), w(a * b), w(q), w(r)))
    return out


def shifts():
    values = [1, M128, 1 << 127, (1 << 127) - 1, 0x0123456789ABCDEF_FEDCBA9876543210]
    values += [rng.getrandbits(128) for _ in range(6)]
    counts = [0, 1, 31, 32, 33, 63, 64, 65, 95, 96, 97, 126, 127, 128, 129, 200]
    out = []
    for v in values:
        for n in counts:
            shl = (v << n) & M128 if n < 128 else 0
            shr = v >> n if n < 128 else 0
            sar = s(v) >> n if n < 128 else (-1 if s(v) < 0 else 0)
            out.append("    {%s, %uu, %s, %s, %s}," % (w(v), n, w(shl), w(shr), w(sar)))
    return out


def texts():
    values = list(EDGES) + [10 ** k for k in range(0, 39)] + [10 ** k - 1 for k in range(1, 39)]
    values += [rng.getrandbits(128) for _ in range(20)]
    out = []
    for v in values:
        out.append("    {%s, %s, %s}," % (w(v), c_str(str(v)), c_str(str(s(v)))))
    return out


def from_doubles():
    xs = [0.0, -0.0, 0.5, 0.999999, 1.0, 3.9, -3.9, -1.0, 2.0 ** 52 + 0.5, 2.0 ** 53,
          2.0 ** 63, 2.0 ** 64, 2.0 ** 64 + 4096, 2.0 ** 100 + 2.0 ** 48, 2.0 ** 126,
          2.0 ** 127, -(2.0 ** 127), 2.0 ** 127 * (2 - 2.0 ** -52), -(2.0 ** 127) * 1.5,
          2.0 ** 128, 1e40, -1e40, 5e-324, 1.7976931348623157e308, math.inf, -math.inf,
          math.nan, -math.nan, 123456789012345678901234567890.0,
          -123456789012345678901234567890.0]
    xs += [rng.uniform(-1, 1) * 2.0 ** rng.uniform(-2, 130) for _ in range(40)]
    out = []
    for x in xs:
        out.append("    {%s, %s, %s}," % (dbits(x), w(from_float(x, False)),
                                           w(from_float(x, True))))
    return out


def from_floats():
    xs = [0.0, 0.75, 1.0, 3.9, -3.9, 16777217.0, 2.0 ** 40 + 2.0 ** 20, 2.0 ** 64, 2.0 ** 100,
          2.0 ** 126, 2.0 ** 127, -(2.0 ** 127), 3.4028234663852886e38, -3.4028234663852886e38,
          1e-45, math.inf, -math.inf, math.nan]
    xs += [rng.uniform(-1, 1) * 2.0 ** rng.uniform(-2, 127) for _ in range(20)]
    out = []
    for x in xs:
        f = struct.unpack("<f", struct.pack("<f", x))[0]  # the float actually tested
        out.append("    {%s, %s, %s}," % (fbits(f), w(from_float(f, False)),
                                           w(from_float(f, True))))
    return out


def to_doubles():
    values = list(EDGES) + [(1 << 53) - 1, 1 << 53, (1 << 53) + 1, M64 - 1, (1 << 64) + 2047,
                            (1 << 64) + 4095, (1 << 64) + 4096, M128 - 1]
    values += [rand_bits() for _ in range(40)]
    values += [(-rand_bits(127)) & M128 for _ in range(10)]
    out = []
    for v in values:
        out.append("    {%s, %s, %s}," % (w(v), dbits(trunc_to_double(v)),
                                           dbits(trunc_to_double(s(v)))))
    return out


def integer_math():
    pairs = [(0, 0), (0, 7), (7, 0), (1, 1), (12, 18), (4, 6), (17, 5), (0xFFFFFFFF, 0xFFFFFFFE),
             (3 << 16, 5 << 16), (65536, 65537), (0x80000000, 0x80000000), (1 << 31, 3)]
    pairs += [(rng.getrandbits(32), rng.getrandbits(32)) for _ in range(20)]
    pairs += [(rng.getrandbits(16) * k, rng.getrandbits(16) * k)
              for k in (rng.getrandbits(12) + 1 for _ in range(10))]
    gl = []
    for a, b in pairs:
        g = math.gcd(a, b)
        lcm = 0 if a == 0 or b == 0 else (a * b // g) & 0xFFFFFFFF
        gl.append("    {0x%08Xu, 0x%08Xu, 0x%08Xu, 0x%08Xu}," % (a, b, g, lcm))
    ns = [1, 2, 3, 5, 7, 0xFFFFFFFF, 0x80000000, 0x80000001, 12, 0x10000, 0x7FFFFFFF]
    ns += [rng.getrandbits(32) | 1 for _ in range(10)] + [rng.getrandbits(32) for _ in range(10)]
    mont = []
    for n in ns:
        odd = n
        while odd and not odd & 1:
            odd >>= 1
        x = (-pow(odd, -1, 1 << 32)) & 0xFFFFFFFF if odd else 0
        mont.append("    {0x%08Xu, 0x%08Xu}," % (n, x))
    return gl, mont


def table(decl, rows):
    return "static const %s[] = {\n%s\n};\n" % (decl, "\n".join(rows))


def main():
    gl, mont = integer_math()
    text = [
        "// Generated by int128_vectors.py: expected results from Python's unbounded integers.",
        "#pragma once",
        "#include <stdint.h>",
        "namespace int128vec {",
        "struct W { uint64_t hi, lo; };",
        "struct UArith { W a, b, prod, quot, rem, sum, diff; };",
        table("UArith kUnsigned", unsigned_arith()),
        "struct SArith { W a, b, prod, quot, rem; };",
        table("SArith kSigned", signed_arith()),
        "struct Shift { W v; unsigned n; W shl, shr, sar; };",
        table("Shift kShifts", shifts()),
        "struct Text { W v; const char* asUnsigned; const char* asSigned; };",
        table("Text kTexts", texts()),
        "struct FromDouble { uint64_t bits; W asUnsigned, asSigned; };",
        table("FromDouble kFromDouble", from_doubles()),
        "struct FromFloat { uint32_t bits; W asUnsigned, asSigned; };",
        table("FromFloat kFromFloat", from_floats()),
        "struct ToDouble { W v; uint64_t asUnsigned, asSigned; };",
        table("ToDouble kToDouble", to_doubles()),
        "struct GcdLcm { uint32_t a, b, gcd, lcm; };",
        table("GcdLcm kGcdLcm", gl),
        "struct Montgomery { uint32_t n, x; };",
        table("Montgomery kMontgomery", mont),
        "}  // namespace int128vec",
    ]
    out = sys.argv[1]
    os.makedirs(os.path.dirname(os.path.abspath(out)), exist_ok=True)
    tmp = out + ".tmp"
    with open(tmp, "w", newline="\n") as f:
        f.write("\n".join(text))
    os.replace(tmp, out)


if __name__ == "__main__":
    main()
