#!/usr/bin/env python3
"""Generates the search benchmark's corpus: about 100 MB in 200 .txt files.

Usage: make-corpus.py DIR [--seed N] [--megabytes M] [--files F]

The same seed always gives the same bytes. Most files are English prose
built from a common-word vocabulary with a Zipf-like spread (so "the" is
about as frequent as in real text); about one in five is Chinese. The encodings are
mixed the way a real corpus folder is: UTF-8 without and with a byte-order
mark, UTF-16 LE and UTF-16 BE with their marks. Blank lines separate
paragraphs.
"""
import argparse
import os
import random

ENGLISH_WORDS = """
the of and to a in that is was he for it with as his on be at by i this had
not are but from or have an they which one you were her all she there would
their we him been has when who will more no if out so said what up its about
into than them can only other new some could time these two may then do
first any my now such like our over man me even most made after also did
many before must through back years where much your way well down should
because each just those people how too little state good very make world
still own see men work long get here between both life being under never
day same another know while last might us great old year off come since
against go came right used take three house river light keeper market harbour
evening morning winter summer bread water window street city night road
""".split()

CHINESE_CHARS = (
    "的一是不了人我在有他这中大来上国个到说们为子和你地出道也时年得就那要下以生会自着去之过家学对可"
    "她里后小么心多天而能好都然没日于起还发成事只作当想看文无开手十用主行方又如前所本见经头面公同三"
    "已老从动两长知民样现分将外但身些与高意进把法此实回二理美点月明其种声全工己话儿者向情部正名定女"
    "问力机给等几很业最间新什打便位因重被走电四第门相次东政海口使教西再平真听世气信北少关并内加化由"
)
CHINESE_PUNCTUATION = "，，，。、；："


def zipf_weights(count):
    # Zipf-Mandelbrot with an offset of 5: "the" comes out at about 5 % of
    # the words, near its share in real English prose.
    return [1.0 / (rank + 5) for rank in range(count)]


def english_line(rng, weights):
    words = rng.choices(ENGLISH_WORDS, weights=weights, k=rng.randint(6, 30))
    words[0] = words[0].capitalize()
    return " ".join(words) + rng.choice([".", ".", ".", "?", "!", ";"])


def chinese_line(rng):
    parts = []
    for _ in range(rng.randint(2, 6)):
        parts.append("".join(rng.choices(CHINESE_CHARS, k=rng.randint(4, 14))))
        parts.append(rng.choice(CHINESE_PUNCTUATION))
    parts[-1] = "。"
    return "".join(parts)


# (encoding, byte-order mark, bytes per character, roughly)
ENGLISH_ENCODINGS = [("utf-8", b"", 1), ("utf-8", b"", 1), ("utf-8", b"\xef\xbb\xbf", 1),
                     ("utf-16-le", b"\xff\xfe", 2)]
CHINESE_ENCODINGS = [("utf-8", b"", 3), ("utf-8", b"\xef\xbb\xbf", 3),
                     ("utf-16-le", b"\xff\xfe", 2), ("utf-16-be", b"\xfe\xff", 2)]


def make_file(rng, chinese, size, weights):
    encodings = CHINESE_ENCODINGS if chinese else ENGLISH_ENCODINGS
    encoding, mark, width = rng.choice(encodings)
    lines = []
    chars = 0
    while chars * width < size:
        if rng.random() < 0.08:
            lines.append("")
            continue
        line = chinese_line(rng) if chinese else english_line(rng, weights)
        lines.append(line)
        chars += len(line) + 2
    return mark + "\r\n".join(lines).encode(encoding) + b"\r\n"


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("dir")
    parser.add_argument("--seed", type=int, default=20261207)
    parser.add_argument("--megabytes", type=int, default=100)
    parser.add_argument("--files", type=int, default=200)
    args = parser.parse_args()

    rng = random.Random(args.seed)
    weights = zipf_weights(len(ENGLISH_WORDS))
    os.makedirs(args.dir, exist_ok=True)
    per_file = args.megabytes * 1024 * 1024 // args.files
    for index in range(args.files):
        chinese = index % 5 == 4
        name = "%s-%03d.txt" % ("zh" if chinese else "en", index)
        with open(os.path.join(args.dir, name), "wb") as f:
            f.write(make_file(rng, chinese, per_file, weights))


if __name__ == "__main__":
    main()
