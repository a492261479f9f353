# Turns the report's style sheet into a C++ source file, so that the program
# carries samples/result.css byte for byte without reading it at run time.
#
#   cmake -DINPUT=samples/result.css -DOUTPUT=ReportStyleSheetData.cpp -P EmbedStyleSheet.cmake
#
# The file defines tallyfold::internal::kReportStyleSheetBytes and its size
# (see ReportStyleSheet.cpp). It is rewritten only when its text changes.
file(READ "${INPUT}" hex HEX)
string(LENGTH "${hex}" hex_length)
math(EXPR size "${hex_length} / 2")
# Sixteen bytes a line.
string(REGEX REPLACE "([0-9a-f][0-9a-f])" "0x\\1," bytes "${hex}")
string(REGEX REPLACE "((0x..,){16})" "\\1\n    " bytes "${bytes}")
set(text "// Generated from ${INPUT} at build time: edit that file, not this one.
#include <cstddef>

namespace tallyfold::internal {

// One byte more than the sheet, so that an empty sheet is no empty array.
extern const unsigned char kReportStyleSheetBytes[];
extern const std::size_t kReportStyleSheetSize;

const unsigned char kReportStyleSheetBytes[] = {
    ${bytes}0x00};
const std::size_t kReportStyleSheetSize = ${size};

}  // namespace tallyfold::internal
")
if(EXISTS "${OUTPUT}")
  file(READ "${OUTPUT}" old_text)
  if(old_text STREQUAL text)
    return()
  endif()
endif()
file(WRITE "${OUTPUT}" "${text}")
