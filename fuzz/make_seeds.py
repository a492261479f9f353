#!/usr/bin/env python3
"""Writes the seed corpora of the regex fuzz targets (regex_fuzz, and
linear_fuzz and automaton_fuzz, which also get the patterns that backtrack
for ages; automaton_fuzz also the assertions and line rules its states read).

Each seed is one byte of modifier bits (i=1 r=2 s=4 g=8 m=16 x=32), then the
expression, the input text and the template separated by 0 bytes (UTF-8,
with C0 80 for U+0000 as the targets decode it).
The list covers the worked examples, every compile and match error and the
tricky corners of the dialect.
"""
import hashlib
import os

DEFAULT = 14  # r, s and g
I, R, S, G, M, X = 1, 2, 4, 8, 16, 32

CASES = [
    # Worked examples of the compiler.
    (DEFAULT, "a|bc", "xbcx a", "[$&]"),
    (DEFAULT, "ab*", "abbb ab a", "<$0>"),
    (DEFAULT, "(ab){2,3}", "abababab", "${1}!"),
    (DEFAULT | I, "\\bthe\\b", " The theme, the end ", '<span class="key">$&</span>'),
    # Optimisation values.
    (DEFAULT, ".*foo", "xxfoo foo", "-"),
    (DEFAULT, "x*ab.*cd", "xxab cd", "-"),
    (DEFAULT, "^abc", "abc abc", "-"),
    (DEFAULT | M, "^abc$", "abc\r\nabc", "-"),
    # Compile errors, one per code.
    (DEFAULT, "(a", "a", ""),            # 103
    (DEFAULT, "a)", "a", ""),            # 104
    (DEFAULT, "^*", "a", ""),            # 106
    (DEFAULT, "^{x}", "a", ""),          # 106
    (DEFAULT, "(a*)*", "a", ""),         # 106
    (DEFAULT, "a**", "a", ""),           # 107
    (DEFAULT, "a{2}{3}", "a", ""),       # 107
    (DEFAULT, "\\xg1", "a", ""),         # 108
    (DEFAULT, "[z-a]", "a", ""),         # 109
    (DEFAULT, "[a\\", "a", ""),          # 110
    (DEFAULT, "\\x4", "a", ""),          # 111
    (DEFAULT, "\\x{12345}", "a", ""),    # 112
    (DEFAULT, "[abc", "a", ""),          # 113
    (DEFAULT, "*a", "a", ""),            # 115
    (DEFAULT, "a\\", "a", ""),           # 116
    (DEFAULT, "a{123456789}", "a", ""),  # 122
    (DEFAULT, "a{3,2}", "a", ""),        # 124
    (DEFAULT, "(?#x", "a", ""),          # 125
    (DEFAULT, "(?:a)", "a", ""),         # 127
    (DEFAULT, "(a)(b)(c)(d)(e)(f)(g)(h)(i)(j)(k)(l)(m)(n)(o)", "abc", ""),  # 102
    # Literal fall-backs and escapes.
    (DEFAULT, "a{,5}", "a{,5}", "$&"),
    (DEFAULT, "a{2,x}", "a{2,x}", "$&"),
    (DEFAULT, "\\x{00041}\\x41\\x{}", "AA", "$&"),
    (DEFAULT, "[a-c-e][\\d-z][a-\\d]", "b-9", "$&"),
    (DEFAULT, "[а-я]+", "ёжик", "$&"),
    (DEFAULT & ~R, "[а-я]+", "ёжик", "$&"),
    (DEFAULT, "(?i)A(?-i)b", "ab aB", "$&"),
    (DEFAULT, "(a(?i)b)c", "aBc abC", "$1"),
    (DEFAULT | X, "a b # note\n c", "abc", "$&"),
    (DEFAULT, "\\12", "a12", "$&"),
    # Matching corners.
    (DEFAULT, "x*", " ab ", "-"),
    (DEFAULT, "a*", "aab", "-"),
    (DEFAULT, "\\b", " ab ", "|"),
    (DEFAULT, "a|ab", "ab", "$&"),
    (DEFAULT, "a+?", "aaa", "$&"),
    (DEFAULT, "a{2,3}?", "aaa", "$&"),
    (DEFAULT, "(a)|b\\1", "b", "$1"),
    (DEFAULT, "(a)*", "aaa", "$1"),
    (DEFAULT, "(a|ab){1,2}c", "abc", "$1"),
    (DEFAULT, "((a)+?b){2}", "abab", "$1$2"),
    (DEFAULT, "(x(ab)*?y){2}", "xabyxy", "$1$2"),
    (DEFAULT, "((((((((((a)*)*)*)*)*)*)*)*)*)*", "aaa", "$&"),
    (DEFAULT, "(((((((((((a){1,2}){1,2}){1,2}){1,2}){1,2}){1,2}){1,2}){1,2}){1,2}){1,2}){1,2}", "aa", "$&"),
    (DEFAULT, "()(\\1)*", "aaa", "$&"),
    (DEFAULT, "(a*)\\1*b", "aaaab", "$&"),
    (DEFAULT, "(a)\\1{2,3}", "aaaaa", "$&"),
    (DEFAULT | I, "(ab)\\1", "abAB", "$&"),
    (DEFAULT & ~S, ".+", "a\r\nb\u2028c", "[$&]"),
    (DEFAULT | M, "^|$", "a\r\nb\nc", "|"),
    (DEFAULT | I, "[a-z]+", "café CAFÉ", "$&"),
    (DEFAULT & ~G, "a+b*", "aaabbb", "$&"),
    (DEFAULT, "(a+)+$", "aaaaaaaaaaaaaaaaaaaaaaab", "$&"),
    # Templates.
    (DEFAULT, "(a)(b)", "ab", "$15|${1|\\$1|${1}0|$x|${}|${&}|\\\\|\\n|\\"),
]


# Patterns the plain backtracker takes exponential time on, and loops whose
# counters the linear path's states tell apart.
LINEAR_CASES = [
    (DEFAULT, "(a+)+b", "b" + "a" * 47, "$1"),
    (DEFAULT, "(a|aa)+c", "c" + "a" * 47, "$1"),
    (DEFAULT, "(.+)+X", "X" + "y" * 47, "$1"),
    (DEFAULT, "(\\w+\\s?)+$", "a" * 47 + "!", "$1"),
    (DEFAULT, "(a*?a)+c", "aaac aac", "$1"),
    (DEFAULT, "(ab|a){2,4}?b", "abababab", "$1"),
    (DEFAULT, "((a|b){1,2}c){2,3}", "abcbcacc", "$1$2"),
    (DEFAULT & ~G, "(\\w+\\s?)*;", "ab cd ef;", "$1"),
    (DEFAULT | M | I, "^(\\w+?,)*$", "Ab,cD,\r\nx,y,", "$1"),
]

# Assertions, line pairs, lazy and counted repeats, case folding and empty
# matches, which the automaton's states and transitions resolve.
AUTOMATON_CASES = [
    (DEFAULT | I, "\\w+ing|\\w+ed", "Running jumped. SING end", "<$&>"),
    (DEFAULT, "\\b[A-Z][a-z]+ \\d+\\b", "On May 12 and June 3x Mar 7", "[$&]"),
    (DEFAULT | M, "^|$", "a\r\nb\r\r\n\n", "|"),
    (DEFAULT | M, "^\\s*$", "x\r\n \r\n\r\ny", "#"),
    (DEFAULT & ~S, ".+", "ab\r\ncd\ref", "<$&>"),
    (DEFAULT, "x*", "axxbx", "-"),
    (DEFAULT, "(a+?){2,3}b|x{2,4}?y", "aaaab ab xxxxy", "$1"),
    (DEFAULT, "\\Aa|b\\Z|\\Bc\\b", "aab acb abc", "."),
    (DEFAULT, "(?i)k(?-i)K[^a-c]{1,3}", "kKd KKx kkk", "$&"),
]

# U+0000, U+FFFF, lone surrogates, line separators and case edges in
# literals, sets, ranges and texts.
CORNER_CASES = [
    (DEFAULT, "()??[\\x00]?", " hello ", "<$&>"),
    (DEFAULT, "(a)??[\\x00]?", " a\0b ", "$1"),
    (DEFAULT, "[\\x00 ](1|b)", " x 1_   1_ 0\0b ", "$1"),
    (DEFAULT, "a\\x00b|a\\x{}c", " ab a\0b a\0c ", "$&"),
    (DEFAULT | I, "[\\x{0}-\\x{1F}K]+\\x{FFFF}", "\0\x1fk\uffff k\u212a\uffff", "$&"),
    (DEFAULT, "[\\x{D800}-\\x{DBFF}][\\x{DC00}-\\x{DFFF}]|\\x{FFFF}+",
     "\ud800\udc00 \uffff\uffff \udbff", "$&"),
    (DEFAULT & ~S, ".\\x{2028}|\\x{85}$", "a\u2028b\x85\r\n\0\u2029", "$&"),
    (DEFAULT | M, "^\\x00|\\x00$", "\0a\r\n\0", "$&"),
    (DEFAULT, "(\\x00|x){2,}y", "\0x\0y", "$1"),
    (DEFAULT, "[^\\x00]+\\x00", "ab\0cd\0", "$&"),
    (DEFAULT, "[\\x{0}-\\x{FFFF}]{2}\\x{FFFE}", "\0\uffff\ufffe", "$&"),
]


def encode_field(text):
    # Lone surrogates as their 3-byte forms, U+0000 as C0 80 (FuzzInput.h).
    return text.encode("utf-8", "surrogatepass").replace(b"\0", b"\xc0\x80")


def encode(case):
    mods, expr, text, tmpl = case
    return bytes([mods]) + b"\0".join(encode_field(s) for s in (expr, text, tmpl))


def write(target, cases):
    folder = os.path.join(os.path.dirname(os.path.abspath(__file__)), "corpus", target)
    os.makedirs(folder, exist_ok=True)
    for case in cases:
        data = encode(case)
        name = "seed-" + hashlib.sha1(data).hexdigest()[:16]
        with open(os.path.join(folder, name), "wb") as f:
            f.write(data)


def main():
    write("regex_fuzz", CASES + CORNER_CASES)
    write("linear_fuzz", CASES + LINEAR_CASES + CORNER_CASES)
    write("automaton_fuzz", CASES + LINEAR_CASES + AUTOMATON_CASES + CORNER_CASES)


if __name__ == "__main__":
    main()
