#!/usr/bin/env python3
"""Tests of check_layers.py: a small source tree laid out like src/, checked
against the project's own layer table, passes; each include that crosses a
layer the wrong way, added to it, makes the check fail and names the line."""
import os
import shutil
import subprocess
import sys
import tempfile
import unittest

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)

import check_layers  # noqa: E402

TABLE = os.path.join(HERE, "layers.toml")

# One file per layer, each including what its layer may use.
CLEAN_TREE = {
    "platform/Exception.h": "#include <stdexcept>\n",
    "platform/Simd.h": "#include <cstddef>\n",
    "platform/File.h": '#include "platform/Exception.h"\n',
    "platform/File.cpp": '#include "platform/File.h"\n#include <unistd.h>\n',
    "regex/RegexEngine.h": '#include <vector>\n#include "platform/Exception.h"\n',
    "regex/Matcher.cpp": ('#include "regex/RegexEngine.h"\n#include "platform/Simd.h"\n'
                          '// #include "text/StringList.h" in a comment is no include\n'),
    "text/StringList.h": '#include "platform/Exception.h"\n',
    "text/TextFile.cpp": ('#include "text/StringList.h"\n#include "platform/File.h"\n'
                          '#include "platform/Simd.h"\n'),
    "app/Report.h": '#include "text/StringList.h"\n',
    "app/Report.cpp": '#include "app/Report.h"\n',
    "app/CorpusScan.h": '#include "regex/RegexEngine.h"\n#include "text/StringList.h"\n',
    "app/CliMain.cpp": '#include "app/CorpusScan.h"\n#include <filesystem>\n',
    "ui/Unit1.cpp": '#include <QWidget>\n#include "app/CorpusScan.h"\n#include "Unit1.h"\n',
    "ui/Unit1.h": '#include "app/Report.h"\n',
}


class LayerCheck(unittest.TestCase):
    def setUp(self):
        self.root = tempfile.mkdtemp(prefix="layers-")
        self.src = os.path.join(self.root, "src")
        for path, text in CLEAN_TREE.items():
            self.write(path, text)
        self.layers = check_layers.load_table(TABLE)

    def tearDown(self):
        shutil.rmtree(self.root)

    def write(self, path, text):
        full = os.path.join(self.src, path)
        os.makedirs(os.path.dirname(full), exist_ok=True)
        with open(full, "w", encoding="utf-8") as stream:
            stream.write(text)

    def add_line(self, path, line):
        full = os.path.join(self.src, path)
        with open(full, encoding="utf-8") as stream:
            text = stream.read()
        self.write(path, text + line + "\n")

    def problems(self):
        return check_layers.check(self.src, self.layers)[0]

    def test_the_clean_tree_passes(self):
        self.assertEqual(self.problems(), [])

    def test_includes_of_a_higher_or_forbidden_layer_fail(self):
        bad = [
            ("regex/Matcher.cpp", '#include "text/StringList.h"', "layer regex includes text/"),
            ("regex/Matcher.cpp", '#include "platform/File.h"', "of layer platform"),
            ("regex/RegexEngine.h", '#include "app/Report.h"', "of layer report"),
            ("regex/Matcher.cpp", '#include "../text/StringList.h"', "of layer text"),
            ("regex/Matcher.cpp", "#include <text/StringList.h>", "of layer text"),
            ("text/TextFile.cpp", '#include "regex/RegexEngine.h"', "of layer regex"),
            ("app/Report.cpp", '#include "regex/RegexEngine.h"', "of layer regex"),
            ("app/Report.cpp", '#include "platform/Simd.h"', "of layer simd"),
            ("platform/Simd.h", '#include "platform/Exception.h"', "layer simd includes"),
            ("app/Report.h", '#include "app/CorpusScan.h"', "of layer app"),
            ("ui/Unit1.cpp", '#include "regex/RegexEngine.h"', "layer ui includes regex/"),
            ("platform/File.cpp", '#include "text/StringList.h"', "layer platform includes"),
            ("platform/Exception.h", '#include "platform/File.h"', "layer base includes"),
            ("app/CorpusScan.h", '#include "ui/Unit1.h"', "of layer ui"),
        ]
        for path, line, reason in bad:
            with self.subTest(path=path, line=line):
                self.tearDown()
                self.setUp()
                self.add_line(path, line)
                problems = self.problems()
                self.assertEqual(len(problems), 1, problems)
                self.assertIn(f"src/{path}:", problems[0])
                self.assertIn(reason, problems[0])

    def test_forbidden_system_headers_fail(self):
        for path, line in [("regex/Matcher.cpp", "#include <fstream>"),
                           ("regex/Matcher.cpp", "#include <sys/stat.h>"),
                           ("app/CliMain.cpp", "#include <QString>"),
                           ("text/TextFile.cpp", "#  include <QtCore/QFile>")]:
            with self.subTest(line=line):
                self.tearDown()
                self.setUp()
                self.add_line(path, line)
                problems = self.problems()
                self.assertEqual(len(problems), 1, problems)
                self.assertIn("must not include <", problems[0])

    def test_a_file_outside_every_layer_or_a_missing_header_fails(self):
        self.write("extra/Helper.cpp", "#include <string>\n")
        self.add_line("app/CliMain.cpp", '#include "app/Gone.h"')
        problems = self.problems()
        self.assertEqual(len(problems), 2, problems)
        self.assertIn("src/app/CliMain.cpp:3: includes \"app/Gone.h\"", problems[0])
        self.assertIn("src/extra/Helper.cpp:1: belongs to no layer", problems[1])

    def test_the_table_is_data(self):
        # The same tree under a table that puts the report above the engine
        # lets the report include it.
        self.add_line("app/Report.cpp", '#include "regex/RegexEngine.h"')
        self.assertEqual(len(self.problems()), 1)
        table = os.path.join(self.root, "layers.toml")
        with open(TABLE, encoding="utf-8") as stream:
            text = stream.read()
        text = text.replace('may_include = ["text", "platform", "base"]',
                            'may_include = ["regex", "text", "platform", "base"]', 1)
        with open(table, "w", encoding="utf-8") as stream:
            stream.write(text)
        self.assertEqual(check_layers.check(self.src, check_layers.load_table(table))[0], [])

    def test_a_table_naming_an_unknown_layer_is_refused(self):
        table = os.path.join(self.root, "bad.toml")
        with open(table, "w", encoding="utf-8") as stream:
            stream.write('[[layer]]\nname = "a"\nfiles = ["a/*"]\nmay_include = ["b"]\n')
        with self.assertRaises(check_layers.TableError):
            check_layers.load_table(table)

    def test_the_command_fails_loudly_on_a_bad_include(self):
        script = os.path.join(HERE, "check_layers.py")
        run = [sys.executable, script, "--src", self.src, "--table", TABLE]
        ok = subprocess.run(run, capture_output=True, text=True)
        self.assertEqual(ok.returncode, 0, ok.stdout + ok.stderr)
        self.add_line("text/StringList.h", '#include "regex/RegexEngine.h"')
        bad = subprocess.run(run, capture_output=True, text=True)
        self.assertEqual(bad.returncode, 1)
        self.assertIn("src/text/StringList.h:2: layer text includes regex/RegexEngine.h",
                      bad.stdout)


if __name__ == "__main__":
    unittest.main()
