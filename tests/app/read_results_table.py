#!/usr/bin/env python3
"""Reads a results table the way other programs would, and prints its rows.

Usage: read_results_table.py csv|tsv|jsonl FILE

CSV goes through Python's csv module (UTF-8 with its byte-order mark
required), TSV is split on tabs and line feeds and its escapes undone, JSON
Lines goes through the json module. The bytes must be valid UTF-8.

Output, for the C++ test to compare: one line per row, head row included for
the tables; the fields separated by '|', each field written as the hex code
points of its text separated by '.', so that no text can be mistaken for the
separators. JSON rows are printed as file, path, line, count, start, length,
match, left, right, then the bytes of file and path (hex, separated by '.'):
from file_bytes and path_bytes where given, else the text's UTF-8. The script
checks that start and length agree with left and match, and that a *_bytes
member comes right after its text, only for bytes that are not valid UTF-8,
and decodes to that text with U+FFFD for the bad bytes. Any deviation exits
with status 1 and a message on stderr.
"""
import base64
import binascii
import csv
import io
import json
import sys


def fail(message):
    sys.stderr.write(message + "\n")
    sys.exit(1)


def encode(field):
    return ".".join("%X" % ord(c) for c in str(field))


def read_csv(data):
    if not data.startswith(b"\xef\xbb\xbf"):
        fail("CSV without a byte-order mark")
    text = data.decode("utf-8-sig")
    rows = list(csv.reader(io.StringIO(text, newline=""), strict=True))
    if not text.endswith("\r\n"):
        fail("CSV does not end in CR LF")
    return rows


def unescape_tsv(field):
    out = []
    i = 0
    while i < len(field):
        c = field[i]
        if c == "\\":
            if i + 1 >= len(field):
                fail("TSV field ends in a lone backslash")
            escaped = {"t": "\t", "n": "\n", "r": "\r", "\\": "\\"}.get(field[i + 1])
            if escaped is None:
                fail("TSV field has an unknown escape \\" + field[i + 1])
            out.append(escaped)
            i += 2
        else:
            out.append(c)
            i += 1
    return "".join(out)


def read_tsv(data):
    if data.startswith(b"\xef\xbb\xbf"):
        fail("TSV with a byte-order mark")
    text = data.decode("utf-8")
    if "\r" in text:
        fail("TSV holds a raw carriage return")
    if not text.endswith("\n"):
        fail("TSV does not end in LF")
    return [[unescape_tsv(f) for f in line.split("\t")] for line in text[:-1].split("\n")]


def read_jsonl(data):
    text = data.decode("utf-8")
    rows = []
    if text and not text.endswith("\n"):
        fail("JSON Lines do not end in LF")
    for line in text.split("\n")[:-1] if text else []:
        obj = json.loads(line)
        keys = ["file", "path", "line", "count", "start", "length", "match", "left", "right"]
        expected = ["file", "file_bytes", "path", "path_bytes"] + keys[2:]
        expected = [k for k in expected if k in keys or k in obj]
        if list(obj.keys()) != expected:
            fail("unexpected keys " + repr(list(obj.keys())))
        if obj["start"] != len(obj["left"]) or obj["length"] != len(obj["match"]):
            fail("start or length disagree with the text: " + line)
        raw = [name_bytes(obj, "file", line), name_bytes(obj, "path", line)]
        rows.append([obj[k] for k in keys] + raw)
    return rows


def name_bytes(obj, name, line):
    """The bytes of a file name: its *_bytes member, checked, or its text."""
    member = name + "_bytes"
    if member not in obj:
        return obj[name].encode("utf-8")
    try:
        raw = base64.b64decode(obj[member], validate=True)
    except binascii.Error as error:
        fail("%s is not base64 (%s): %s" % (member, error, line))
    try:
        raw.decode("utf-8")
        fail(member + " given for valid UTF-8: " + line)
    except UnicodeDecodeError:
        pass
    if raw.decode("utf-8", "replace") != obj[name]:
        fail(member + " does not decode to " + name + ": " + line)
    return raw


def encode_bytes(raw):
    return ".".join("%02X" % b for b in raw)


def main():
    kind, path = sys.argv[1], sys.argv[2]
    with open(path, "rb") as f:
        data = f.read()
    try:
        rows = {"csv": read_csv, "tsv": read_tsv, "jsonl": read_jsonl}[kind](data)
    except (UnicodeDecodeError, csv.Error, json.JSONDecodeError) as error:
        fail("%s: %s" % (kind, error))
    for row in rows:
        print("|".join(encode_bytes(f) if isinstance(f, bytes) else encode(f) for f in row))


if __name__ == "__main__":
    main()
