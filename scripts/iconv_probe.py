"""What the table generators share (scripts/make-gb18030-table.py,
scripts/make-euc-kr-table.py): glibc's iconv called through ctypes, one
character at a time, and the hex layout of the generated tables."""
import ctypes
import ctypes.util
import errno
import platform
import sys

libc = ctypes.CDLL(ctypes.util.find_library("c"), use_errno=True)
libc.iconv_open.restype = ctypes.c_void_p
libc.iconv_open.argtypes = [ctypes.c_char_p, ctypes.c_char_p]
libc.iconv.restype = ctypes.c_size_t
libc.iconv.argtypes = [ctypes.c_void_p,
                       ctypes.POINTER(ctypes.c_char_p), ctypes.POINTER(ctypes.c_size_t),
                       ctypes.POINTER(ctypes.c_char_p), ctypes.POINTER(ctypes.c_size_t)]
FAILED = ctypes.c_size_t(-1).value


class Converter:
    """One iconv descriptor; convert() turns a whole input into the output
    bytes, or None when iconv rejects any of it."""

    def __init__(self, to, frm):
        self.cd = libc.iconv_open(to.encode(), frm.encode())
        if self.cd in (None, FAILED):
            sys.exit(f"iconv cannot convert {frm} to {to}")
        self.in_buf = ctypes.create_string_buffer(16)
        self.out_buf = ctypes.create_string_buffer(64)

    def convert(self, data):
        libc.iconv(self.cd, None, None, None, None)
        ctypes.memmove(self.in_buf, data, len(data))
        in_ptr = ctypes.c_char_p(ctypes.addressof(self.in_buf))
        in_left = ctypes.c_size_t(len(data))
        out_ptr = ctypes.c_char_p(ctypes.addressof(self.out_buf))
        out_left = ctypes.c_size_t(len(self.out_buf))
        result = libc.iconv(self.cd, ctypes.byref(in_ptr), ctypes.byref(in_left),
                            ctypes.byref(out_ptr), ctypes.byref(out_left))
        if result == FAILED:
            if ctypes.get_errno() not in (errno.EILSEQ, errno.EINVAL):
                sys.exit(f"iconv failed on {data.hex()}: errno {ctypes.get_errno()}")
            return None
        # Flush, for a converter that holds back state.
        if libc.iconv(self.cd, None, None, ctypes.byref(out_ptr), ctypes.byref(out_left)) == FAILED:
            return None
        return self.out_buf.raw[:len(self.out_buf) - out_left.value]


class Codec:
    """Both directions of one character set, a character at a time."""

    def __init__(self, codeset):
        self.decoder = Converter("UTF-32LE", codeset)
        self.encoder = Converter(codeset, "UTF-32LE")

    def decode(self, data):
        """The one code point iconv decodes `data` to, or 0 when it rejects it."""
        out = self.decoder.convert(data)
        if out is None:
            return 0
        if len(out) != 4:
            sys.exit(f"{data.hex()} decodes to {len(out) // 4} characters")
        return int.from_bytes(out, "little")

    def encode(self, code):
        """The bytes of one code point as a big-endian number, 0 when iconv
        cannot encode it, -1 when it leaves it out. (glibc leaves out the
        tag characters U+E0000-U+E007F where a character set lacks them.)"""
        out = self.encoder.convert(code.to_bytes(4, "little"))
        if out is None:
            return 0
        return int.from_bytes(out, "big") if out else -1


def glibc_name():
    return " ".join(platform.libc_ver())


def hex_lines(values, width, per_line=16):
    lines = []
    for start in range(0, len(values), per_line):
        chunk = values[start:start + per_line]
        lines.append("    " + ",".join(f"0x{v:0{width}X}" for v in chunk) + ",")
    return "\n".join(lines)
