#!/usr/bin/env python3
"""Writes the sample corpus in samples/corpus/.

The texts are short pieces written for this project. Each file is stored in
one of the encodings the search reads (UTF-8 without and with a byte-order
mark, UTF-16 LE and UTF-16 BE with their marks), so a search over the folder
exercises every one of them. Run it again after editing a text:

    python3 samples/make-corpus.py
"""
import os

HERE = os.path.dirname(os.path.abspath(__file__))
CORPUS = os.path.join(HERE, "corpus")

LIGHTHOUSE = """\
The Keeper of the Light

The lighthouse stood at the end of the harbour wall.
Every evening the keeper climbed the stairs and lit the lamp.
Ships far out at sea watched for the beam and turned toward the shore.

In winter the wind came off the sea and shook the windows.
The keeper wrote the weather in a book: rain, fog, then rain again.
Nobody read the book, but the keeper kept it all the same.
"""

MARKET = """\
Saturday Market

Stalls open at seven; the bakers are always there first.
A woman sells honey in jars of three sizes, and the smallest goes first.
By noon the square smells of bread, coffee and oranges.
Children count coins at the sweet stall & argue about the price.
When the church bell rings twice, the traders begin to pack up.
"""

TEAHOUSE = """\
茶馆

老街的尽头有一家小茶馆，门口挂着一盏红灯笼。
每天早上，老人们带着鸟笼来这里喝茶、聊天。
掌柜的记得每一位客人喜欢的茶：龙井、普洱，还有茉莉花茶。
下雨的时候，茶馆里更热闹，大家都不急着回家。
"""

RIVER = """\
河边

这条河从山里流下来，经过村子，一直流到大海。
夏天，孩子们在河边捉鱼，大人们在树下乘凉。
秋天的傍晚，河面上飘着一层薄薄的雾。
"""

NOTES = """\
Reading notes — 读书笔记

The first chapter describes the town; the second follows the river.
第一章写小镇，第二章写那条河。
Note: the author uses "the river" and 河 for the same place.
Tabs\tand the ideographic space\u3000stay inside a line.
"""

FILES = [
    # name, text, encoding, byte-order mark, line end
    ("lighthouse.txt", LIGHTHOUSE, "utf-8", b"", "\n"),
    ("market.txt", MARKET, "utf-8", b"\xef\xbb\xbf", "\r\n"),
    ("teahouse.txt", TEAHOUSE, "utf-16-le", b"\xff\xfe", "\r\n"),
    ("river.txt", RIVER, "utf-16-be", b"\xfe\xff", "\r\n"),
    ("notes.txt", NOTES, "utf-16-le", b"\xff\xfe", "\r\n"),
]


def main():
    os.makedirs(CORPUS, exist_ok=True)
    for name, text, encoding, mark, line_end in FILES:
        data = mark + text.replace("\n", line_end).encode(encoding)
        with open(os.path.join(CORPUS, name), "wb") as f:
            f.write(data)


if __name__ == "__main__":
    main()
