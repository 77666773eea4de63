#!/usr/bin/env python3
"""Writes trap32.trap: a small trap file in the 32-bit layout (the i686 library's), built byte
by byte from that layout's offsets, so that readers of any build can be checked against it on
machines that cannot run the i686 writer. Run it again only when the layout itself changes:
    python3 make_trap32.py trap32.trap
"""
import struct
import sys


def put(buf, offset, fmt, *values):
    struct.pack_into("<" + fmt, buf, offset, *values)


def header(flags, module_count, code_address, code_length):
    h = bytearray(388)
    h[0:8] = b"*TPHDR32"
    put(h, 8, "II", 0x1234, 0x5678)                       # process id, thread id
    put(h, 16, "I", code_address)                          # code window address
    put(h, 20, "8H", 2024, 5, 5, 17, 13, 45, 30, 250)      # local time
    put(h, 36, "I", flags)
    put(h, 42, "H", module_count)
    exe = b"C:\\golden\\app.exe"
    h[44:44 + len(exe)] = exe                              # executable path, NUL-padded
    put(h, 384, "H", code_length)
    return h


def system_section():
    si = bytearray(36)                                     # SYSTEM_INFO
    put(si, 0, "HHIIIIIIIHH", 0, 0, 4096, 0x10000, 0x7FFEFFFF, 3, 2, 586, 0x10000, 6, 0x3A09)
    ver = bytearray(156)                                   # OSVERSIONINFOEXA
    put(ver, 0, "IIIII", 156, 6, 1, 7601, 2)
    csd = b"Service Pack 1"
    ver[20:20 + len(csd)] = csd
    mem = bytearray(64)                                    # MEMORYSTATUSEX
    put(mem, 0, "IIQQ", 64, 37, 4294967296, 2147483648)
    return bytes(si + ver + mem)


def environment():
    out = b""
    for s in (b"A=1", b"B=22", b"**L*E*R*M**"):
        out += struct.pack("<I", len(s)) + s
    return out


def exception_record():
    e = bytearray(80)
    put(e, 0, "IIIII", 0xC0000005, 0, 0, 0x01201030, 2)   # code, flags, record, address, count
    put(e, 20, "II", 1, 0x00000010)                        # write at 0x10
    return bytes(e)


def context():
    c = bytearray(716)
    put(c, 0, "I", 0x1003F)                                # CONTEXT_ALL of x86
    put(c, 140, "IIII", 0x2B, 0x53, 0x2B, 0x2B)            # gs fs es ds
    put(c, 156, "IIIIII", 0x11111111, 0x22222222, 0x33333333, 0x44444444, 0x55555555,
        0x66666666)                                        # edi esi ebx edx ecx eax
    put(c, 180, "IIIIII", 0x0012FF40, 0x01201030, 0x23, 0x246, 0x0012FF00, 0x2B)
    return bytes(c)                                        # ebp eip cs eflags esp ss


def module(path, marker, base, end, stamp):
    m = bytearray(284)
    m[0:len(path)] = path
    put(m, 268, "IIII", marker, base, end, stamp)
    return bytes(m)


def frame(pc, ret, fp, sp):
    f = bytearray(264)                                     # STACKFRAME64, flat addresses
    for offset, value in ((0, pc), (16, ret), (32, fp), (48, sp)):
        put(f, offset, "QHHI", value, 0, 0, 3)
    return bytes(f)


def main(path):
    flags = 0x0001 | 0x0002 | 0x0004 | 0x0010 | 0x0020 | 0x0040 | 0x0400
    code = bytes(range(0x90, 0xA0))                        # 16 code bytes
    out = b"earlier content\n"                             # the header is found by its eye-catcher
    out += header(flags, 2, 0x01201020, len(code))
    out += system_section()
    out += environment()
    out += exception_record()
    out += context()
    out += module(b"C:\\golden\\app.exe", 0, 0x01200000, 0x01220000, 0x5F000000)
    out += module(b"C:\\golden\\NRVOSSE.dll", 0x03450000, 0x03400000, 0x03480000, 0x60000000)
    out += struct.pack("<4H", 4, 0, 5, 0)                  # debug-help version
    out += code
    out += frame(0x01201030, 0x01201100, 0x0012FF40, 0x0012FF00)
    # A 32-bit walk may hand out addresses above 2 GiB sign-extended.
    out += frame(0xFFFFFFFF80001000, 0, 0x0012FF80, 0x0012FF48)
    out += struct.pack("<I", 4) + struct.pack("<4I", 0x01201100, 0x0012FF80, 7, 0)
    out += struct.pack("<II", 0x00130000, 16) + bytes(range(16))
    out += struct.pack("<II", 0x7FFD0000, 8) + b"REGION 2"
    out += struct.pack("<I", 0x0E0DDEAD)
    with open(path, "wb") as f:
        f.write(out)


if __name__ == "__main__":
    main(sys.argv[1] if len(sys.argv) > 1 else "trap32.trap")
