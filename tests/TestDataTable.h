// Reads the tables under tests/data: expected values kept apart from the
// code they describe, so a test compares the code with them rather than
// with a second copy of its own literals.
//
// A table is plain text: one row a line, fields separated by tabs; empty
// lines and lines starting with '#' are left out.
#pragma once

#include <fstream>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

#ifndef TALLYFOLD_TEST_DATA_DIR
#error "TALLYFOLD_TEST_DATA_DIR must name the tests/data folder"
#endif

namespace tallyfold::testing {

struct DataRow {
  int line = 0;                     // line number in the file, for messages
  std::vector<std::string> fields;
};

// The rows of tests/data/`name`; throws when the file cannot be read, so a
// missing table fails the test instead of leaving it with nothing to check.
inline std::vector<DataRow> ReadDataTable(const std::string& name) {
  const std::string path = std::string(TALLYFOLD_TEST_DATA_DIR) + "/" + name;
  std::ifstream in(path, std::ios::binary);
  if (!in) throw std::runtime_error("cannot read " + path);
  std::vector<DataRow> rows;
  std::string text;
  for (int line = 1; std::getline(in, text); ++line) {
    if (!text.empty() && text.back() == '\r') text.pop_back();
    if (text.empty() || text[0] == '#') continue;
    DataRow row{line, {}};
    std::istringstream fields(text);
    for (std::string field; std::getline(fields, field, '\t');) row.fields.push_back(field);
    rows.push_back(std::move(row));
  }
  return rows;
}

}  // namespace tallyfold::testing
