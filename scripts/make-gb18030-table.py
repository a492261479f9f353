#!/usr/bin/env python3
"""Writes src/platform/Gb18030Table.inc, the tables of the portable GB18030
codec (src/platform/Gb18030.cpp), by asking this machine's glibc iconv how it
converts every GB18030 code and every code point.

    scripts/make-gb18030-table.py [output]    # default: src/platform/Gb18030Table.inc

The codec must convert exactly as the Linux build does through iconv, so the
tables are iconv's answers, not the standard's: its private-use mappings, the
two-byte codes it maps beyond U+FFFF and the codes it leaves out all come
along. Only the decoder's structure (which bytes make a code, where a code is
cut off) is written by hand in Gb18030.cpp; the tests check both against
iconv.

Run it on Linux with glibc; it takes about a minute.
"""
import os
import sys

sys.dont_write_bytecode = True  # no __pycache__ beside the scripts
from iconv_probe import Codec, glibc_name, hex_lines

GB18030 = Codec("GB18030")
decode = GB18030.decode
encode = GB18030.encode


LEADS = range(0x81, 0xFF)
TRAILS = range(0x40, 0x100)   # 192 a lead; 0x7F and 0xFF are no trails
FOUR_BYTE_COUNT = 126 * 10 * 126 * 10


def four_byte_code(index):
    b4 = 0x30 + index % 10
    index //= 10
    b3 = 0x81 + index % 126
    index //= 126
    b2 = 0x30 + index % 10
    b1 = 0x81 + index // 10
    return bytes((b1, b2, b3, b4))


def main():
    out_path = sys.argv[1] if len(sys.argv) > 1 else os.path.join(
        os.path.dirname(os.path.abspath(__file__)), "..", "src", "platform", "Gb18030Table.inc")

    for byte in range(0x80):
        if decode(bytes((byte,))) != byte or encode(byte) != byte:
            sys.exit(f"iconv does not keep ASCII 0x{byte:02X}")

    # Two-byte codes: one UTF-16 unit each; a code beyond U+FFFF goes to a
    # side list and its cell holds 0xD800 + its place there.
    two_byte = []
    supplementary = []
    two_byte_code_of = {}          # code point -> first two-byte code
    for lead in LEADS:
        for trail in TRAILS:
            code = decode(bytes((lead, trail)))
            if trail in (0x7F, 0xFF) and code:
                sys.exit(f"{lead:02X}{trail:02X} is a code")
            if code >= 0x10000:
                supplementary.append(code)
                two_byte.append(0xD7FF + len(supplementary))
            else:
                if 0xD800 <= code <= 0xDFFF:
                    sys.exit("a two-byte code decodes to a surrogate")
                two_byte.append(code)
            if code:
                two_byte_code_of.setdefault(code, (lead << 8) | trail)
    if len(supplementary) > 0x800:
        sys.exit("too many two-byte codes beyond U+FFFF")

    # Four-byte codes as runs of consecutive indexes that decode to
    # consecutive code points (or are all rejected: code point 0).
    runs = []
    previous = None
    for index in range(FOUR_BYTE_COUNT):
        code = decode(four_byte_code(index))
        if previous is None or code != (previous + 1 if previous else 0):
            runs.append((index, code))
        previous = code

    # The supplementary planes are one run; the encoder counts on it.
    plane_runs = [r for r in runs if r[1] == 0x10000]
    if len(plane_runs) != 1:
        sys.exit("U+10000 does not start one four-byte run")
    plane_index = plane_runs[0][0]
    following = runs[runs.index(plane_runs[0]) + 1][0] if plane_runs[0] != runs[-1] else FOUR_BYTE_COUNT
    if following - plane_index != 0x100000:
        sys.exit("the four-byte run from U+10000 does not reach U+10FFFF")

    # What the encoder derives by itself, the way Gb18030.cpp does: a BMP
    # code point takes its first two-byte code, or else the first four-byte
    # code below U+10000 that decodes to it; a code point beyond U+FFFF
    # takes its place in the plane run. Every code point iconv encodes
    # otherwise is an exception.
    four_byte_index_of = {}
    for i, (first, code) in enumerate(runs):
        if code == 0 or code >= 0x10000:
            continue
        end = runs[i + 1][0] if i + 1 < len(runs) else FOUR_BYTE_COUNT
        for k in range(end - first):
            four_byte_index_of.setdefault(code + k, first + k)

    def derived(code):
        if code < 0x80:
            return code
        if code < 0x10000:
            if code in two_byte_code_of:
                return two_byte_code_of[code]
            if code in four_byte_index_of:
                return int.from_bytes(four_byte_code(four_byte_index_of[code]), "big")
            return 0
        return int.from_bytes(four_byte_code(plane_index + code - 0x10000), "big")

    exceptions = []
    for code in range(0x80, 0x110000):
        if 0xD800 <= code <= 0xDFFF:
            continue
        actual = encode(code)
        if actual == -1:
            sys.exit(f"iconv leaves out U+{code:04X}")
        if actual != derived(code):
            # The encoder writes a number above 0xFFFF as four bytes, any
            # other as two.
            if actual and not (0x8140 <= actual <= 0xFEFE or actual >= 0x81308130):
                sys.exit(f"U+{code:04X} encodes to {actual:X}")
            exceptions.append((code, actual))

    write(out_path, two_byte, supplementary, runs, plane_index, exceptions)


def write(path, two_byte, supplementary, runs, plane_index, exceptions):
    glibc = glibc_name()
    run_values = [v for r in runs for v in r]
    exception_values = [v for e in exceptions for v in e]
    text = f"""\
// Generated by scripts/make-gb18030-table.py from the iconv of {glibc};
// do not edit. The tables of the GB18030 codec in Gb18030.cpp.

// Two-byte codes, lead 0x81-0xFE by trail 0x40-0xFF (192 a lead, so that
// a cell is found without arithmetic on the trail; 0x7F and 0xFF are no
// trails and their cells 0): the UTF-16 unit each decodes to; 0 for a code
// iconv rejects; 0xD800 + k for the k-th code point of kGbTwoByteBeyondBmp.
constexpr std::uint16_t kGbTwoByte[126 * 192] = {{
{hex_lines(two_byte, 4)}
}};

// The code points beyond U+FFFF of two-byte codes.
constexpr std::uint32_t kGbTwoByteBeyondBmp[] = {{
{hex_lines(supplementary, 5, 8)}
}};

// Four-byte codes b1 b2 b3 b4 by index
// (((b1 - 0x81) * 10 + b2 - 0x30) * 126 + b3 - 0x81) * 10 + b4 - 0x30,
// as runs: pairs of the run's first index and the code point it decodes
// to; the next indexes of the run decode to the next code points. A run
// whose code point is 0 is rejected. Sorted by index; the first starts at 0.
constexpr std::uint32_t kGbFourByteRuns[] = {{
{hex_lines(run_values, 6, 8)}
}};

// The index of U+10000; the run from there holds every code point to
// U+10FFFF in order.
constexpr std::uint32_t kGbPlaneIndex = 0x{plane_index:X};

// Code points iconv encodes other than as the inverse of the tables above:
// pairs of the code point and its bytes as a big-endian number (0: iconv
// cannot encode it). Sorted by code point.
constexpr std::uint32_t kGbEncodeExceptions[] = {{
{hex_lines(exception_values, 6, 8) if exceptions else "    0, 0,"}
}};
"""
    with open(path, "w") as f:
        f.write(text)
    print(f"{path}: {len(two_byte)} two-byte cells, {len(supplementary)} beyond U+FFFF, "
          f"{len(runs)} four-byte runs, {len(exceptions)} encode exceptions")


if __name__ == "__main__":
    main()
