// Hex dump lines and buffers: exact column layout, value forms and the fitting rule.
#include <stdio.h>
#include <string.h>

#include <string>

#include "osse/osse.h"
#include "osse_test.h"

namespace {

const unsigned char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZ";
const std::string kFullHex = "4142 4344 4546 4748 494A 4B4C 4D4E 4F50 ";  // 16 bytes, 40 chars

std::string spaces(size_t n)
{
    return std::string(n, ' ');
}

std::string address(const void* p)
{
    // The whole address, in as many digits as an address of this build has.
    std::string text = "0x";
    const uintptr_t value = reinterpret_cast<uintptr_t>(p);
    for (int shift = 8 * (int)sizeof p - 4; shift >= 0; shift -= 4)
        text += "0123456789ABCDEF"[(value >> shift) & 0xF];
    return text + " : ";
}

std::string dumpLine(const void* data, Uint32 length, Uint32 flags)
{
    char line[OSS_HEXDUMP_LINE_SIZE + 8];
    memset(line, '#', sizeof line);
    ossHexDumpLine(line, data, length, flags);
    for (size_t i = OSS_HEXDUMP_LINE_SIZE; i < sizeof line; ++i)
        EXPECT_EQ(line[i], '#') << "wrote past the line buffer at " << i;
    return line;
}

TEST(HexDumpLine, FullLineWithAndWithoutAddress)
{
    const std::string plain = kFullHex + spaces(3) + "ABCDEFGHIJKLMNOP\r\n";
    EXPECT_EQ(plain.size(), 61u);
    EXPECT_EQ(dumpLine(kAlphabet, 16, 0), plain);

    const std::string withAddress = address(kAlphabet) + plain;
    EXPECT_EQ(withAddress.size(), sizeof(void*) == 4 ? 74u : 82u);
    EXPECT_EQ(dumpLine(kAlphabet, 16, OSS_HEXDUMP_ADDRESS), withAddress);
}

TEST(HexDumpLine, ShortLinesKeepTheCharacterColumn)
{
    EXPECT_EQ(dumpLine(kAlphabet, 4, 0), "4142 4344 " + spaces(33) + "ABCD\r\n");
    EXPECT_EQ(dumpLine(kAlphabet, 3, 0), "4142 43" + spaces(36) + "ABC\r\n");
    EXPECT_EQ(dumpLine(kAlphabet, 1, OSS_HEXDUMP_ADDRESS), address(kAlphabet) + "41" + spaces(41) + "A\r\n");
    EXPECT_EQ(dumpLine(kAlphabet, 0, 0), spaces(43) + "\r\n");
}

TEST(HexDumpLine, NoCharacterColumnEndsTheLineAtThatColumn)
{
    EXPECT_EQ(dumpLine(kAlphabet, 16, OSS_HEXDUMP_NO_CHARS), kFullHex + spaces(3) + "\r\n");
    EXPECT_EQ(dumpLine(kAlphabet, 2, OSS_HEXDUMP_NO_CHARS | OSS_HEXDUMP_ADDRESS),
              address(kAlphabet) + "4142 " + spaces(38) + "\r\n");
}

TEST(HexDumpLine, ValueForms)
{
    const unsigned char v[] = {0x01, 0xA2, 0x03, 0xB4, 0x05, 0x06, 0x07, 0xF8};
    const struct {
        Uint32 length;
        std::string hex;
        std::string chars;
    } cases[] = {
        {1, "0x01 ", "."},
        {2, "0xA201 ", ".."},
        {4, "0xB403A201 ", "...."},
        {8, "0xF8070605B403A201 ", "........"},
        {3, "01A2 03", "..."},     // not a number size: bytes
        {5, "01A2 03B4 05", "....."},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(dumpLine(v, c.length, OSS_HEXDUMP_AS_VALUE), c.hex + spaces(43 - c.hex.size()) + c.chars + "\r\n")
            << "length " << c.length;
    }
    EXPECT_EQ(dumpLine(v, 8, OSS_HEXDUMP_AS_VALUE | OSS_HEXDUMP_ADDRESS | OSS_HEXDUMP_NO_CHARS),
              address(v) + "0xF8070605B403A201 " + spaces(24) + "\r\n");
}

TEST(HexDumpLine, OnlyPrintableAsciiShowsAsItself)
{
    const unsigned char b[] = {0x00, 0x1F, 0x20, 0x21, 0x7E, 0x7F, 0x80, 0xFF, '\r', '\n'};
    EXPECT_EQ(dumpLine(b, sizeof b, 0), "001F 2021 7E7F 80FF 0D0A " + spaces(18) + ".. !~.....\r\n");
}

TEST(HexDumpLine, MoreThanSixteenBytesIsOneFullLine)
{
    EXPECT_EQ(dumpLine(kAlphabet, 26, OSS_HEXDUMP_ADDRESS), dumpLine(kAlphabet, 16, OSS_HEXDUMP_ADDRESS));
}

std::string dumpBuffer(const void* data, Uint32 length, Uint32 size, const char* prefix, Uint32 flags)
{
    std::string buf(size + 8, '#');
    ossHexDumpToBuffer(data, length, &buf[0], size, prefix, flags);
    for (size_t i = size; i < buf.size(); ++i) EXPECT_EQ(buf[i], '#') << "wrote past the buffer";
    return buf.c_str();
}

TEST(HexDumpToBuffer, LinesOfSixteenBytes)
{
    const std::string line1 = kFullHex + spaces(3) + "ABCDEFGHIJKLMNOP\r\n";
    const std::string line2 = "5152 5354 " + spaces(33) + "QRST\r\n";
    EXPECT_EQ(dumpBuffer(kAlphabet, 20, 1000, nullptr, 0), line1 + line2);
    EXPECT_EQ(dumpBuffer(kAlphabet, 20, 1000, "  > ", 0), "  > " + line1 + "  > " + line2);
    EXPECT_EQ(dumpBuffer(kAlphabet, 20, 1000, "", 0), line1 + line2);

    // Each line shows the address of its own bytes.
    EXPECT_EQ(dumpBuffer(kAlphabet, 20, 1000, nullptr, OSS_HEXDUMP_ADDRESS),
              address(kAlphabet) + line1 + address(kAlphabet + 16) + line2);
    // A 4-byte tail prints as a number when asked; the full line is bytes.
    EXPECT_EQ(dumpBuffer(kAlphabet, 20, 1000, nullptr, OSS_HEXDUMP_AS_VALUE),
              line1 + "0x54535251 " + spaces(32) + "QRST\r\n");
}

TEST(HexDumpToBuffer, LineIsAppendedOnlyWhenSpaceLeftExceedsPrefixLinePlusTwo)
{
    const std::string line1 = kFullHex + spaces(3) + "ABCDEFGHIJKLMNOP\r\n";  // 61
    const std::string line2 = "5152 5354 " + spaces(33) + "QRST\r\n";            // 49
    // Prefix 2: the first line needs more than 2 + 61 + 2 = 65 bytes.
    EXPECT_EQ(dumpBuffer(kAlphabet, 20, 65, "> ", 0), "");
    EXPECT_EQ(dumpBuffer(kAlphabet, 20, 66, "> ", 0), "> " + line1);
    // The second needs more than 2 + 49 + 2 = 53 of what is left after 63.
    EXPECT_EQ(dumpBuffer(kAlphabet, 20, 63 + 53, "> ", 0), "> " + line1);
    EXPECT_EQ(dumpBuffer(kAlphabet, 20, 63 + 54, "> ", 0), "> " + line1 + "> " + line2);

    // A line that does not fit ends the dump even when a later, shorter one would.
    EXPECT_EQ(dumpBuffer(kAlphabet, 20, 60, nullptr, 0), "");
}

TEST(HexDumpToBuffer, EmptyAndNullCases)
{
    EXPECT_EQ(dumpBuffer(kAlphabet, 0, 100, nullptr, 0), "");
    EXPECT_EQ(dumpBuffer(nullptr, 16, 100, nullptr, 0), "");
    EXPECT_EQ(dumpBuffer(kAlphabet, 16, 1, nullptr, 0), "");

    char untouched = 'U';
    ossHexDumpToBuffer(kAlphabet, 16, &untouched, 0, nullptr, 0);
    EXPECT_EQ(untouched, 'U');
    ossHexDumpToBuffer(kAlphabet, 16, nullptr, 100, nullptr, 0);  // nothing to do, no fault
}

}  // namespace
