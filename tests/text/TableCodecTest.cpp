// Tests of the portable table-driven codecs (GB18030, EUC-KR) against what
// each must equal: the iconv bridge for the same character set, decoded text
// and malformed count alike; and TCodePage converting those sets with them.
#include <gtest/gtest.h>

#include <cctype>
#include <cstdint>
#include <map>
#include <ostream>
#include <random>
#include <string>
#include <vector>

#include "platform/CodePage.h"
#include "platform/EucKr.h"
#include "platform/Gb18030.h"
#include "platform/IconvBridge.h"

namespace tallyfold {
namespace {

struct TCodec {
  const char* codeset;
  std::u16string (*decode)(std::string_view, std::size_t&);
  std::string (*encode)(std::u16string_view);
};

void PrintTo(const TCodec& codec, std::ostream* out) { *out << codec.codeset; }

const TCodec kGb18030{"GB18030", Gb18030Decode, Gb18030Encode};
const TCodec kEucKr{"EUC-KR", EucKrDecode, EucKrEncode};

// The iconv bridge for `codeset` (TCodePage itself converts these sets
// with the table codecs).
struct TIconv {
  const char* codeset;
  std::u16string Decode(std::string_view bytes, std::size_t& malformed) const {
    return iconv_bridge::IconvDecode(codeset, bytes, malformed);
  }
  std::string Encode(std::u16string_view text) const {
    return iconv_bridge::IconvEncode(codeset, text);
  }
};
TIconv Iconv(const char* codeset) { return TIconv{codeset}; }

// Decodes `bytes` both ways, each count starting above zero so that adding
// (not setting) shows; true if text and count agree.
testing::AssertionResult SameDecode(const TCodec& codec, std::string_view bytes) {
  std::size_t expected_malformed = 3, malformed = 3;
  const std::u16string expected = Iconv(codec.codeset).Decode(bytes, expected_malformed);
  const std::u16string text = codec.decode(bytes, malformed);
  if (text == expected && malformed == expected_malformed) return testing::AssertionSuccess();
  return testing::AssertionFailure()
         << testing::PrintToString(std::string(bytes)) << " decodes to "
         << testing::PrintToString(text) << " with " << malformed - 3 << " malformed, iconv to "
         << testing::PrintToString(expected) << " with " << expected_malformed - 3;
}

// Decodes each of `codes` alone, then all of them in one text with ASCII
// before and after each, where a rejected code's bytes run on into the next.
void ExpectSameDecodeOfEach(const TCodec& codec, const std::vector<std::string>& codes) {
  int failures = 0;
  std::string joined;
  for (const std::string& code : codes) {
    if (const auto same = SameDecode(codec, code); !same && ++failures <= 10)
      ADD_FAILURE() << same.message();
    joined += 'a' + code + '5';
  }
  EXPECT_EQ(failures, 0);
  EXPECT_TRUE(SameDecode(codec, joined));
}

std::string Bytes(std::initializer_list<int> values) {
  std::string bytes;
  for (int value : values) bytes += static_cast<char>(value);
  return bytes;
}

// UTF-16 of code point `code`.
std::u16string Utf16(char32_t code) {
  if (code < 0x10000) return std::u16string(1, static_cast<char16_t>(code));
  code -= 0x10000;
  return {static_cast<char16_t>(0xD800 + (code >> 10)), static_cast<char16_t>(0xDC00 + (code & 0x3FF))};
}

class TableCodec : public testing::TestWithParam<TCodec> {};

INSTANTIATE_TEST_SUITE_P(, TableCodec, testing::Values(kGb18030, kEucKr),
                         [](const testing::TestParamInfo<TCodec>& info) {
                           std::string name = info.param.codeset;
                           std::erase(name, '-');
                           return name;
                         });

// For EUC-KR, whose codes are at most two bytes long, this is every case
// the decoder meets.
TEST_P(TableCodec, DecodesEveryOneAndTwoByteSequenceAsIconv) {
  std::vector<std::string> codes;
  for (int first = 0; first < 0x100; ++first) {
    codes.push_back(Bytes({first}));
    for (int second = 0; second < 0x100; ++second) codes.push_back(Bytes({first, second}));
  }
  ExpectSameDecodeOfEach(GetParam(), codes);
}

// Random texts made of the pieces where a decoder can go wrong: codes cut
// off, bad second, third and fourth bytes, unmapped codes, the bytes no
// code starts with, digits that can continue a GB18030 four-byte code, and
// the end of the text.
TEST_P(TableCodec, DecodesRandomTextsAsIconv) {
  std::mt19937 random(18030);
  auto pick = [&random](int low, int high) {
    return static_cast<int>(low + random() % static_cast<unsigned>(high - low + 1));
  };
  auto trail = [&] {
    const int t = pick(0x40, 0xFD);
    return t >= 0x7F ? t + 1 : t;
  };
  auto lead = [&] { return pick(0x81, 0xFE); };
  auto digit = [&] { return pick(0x30, 0x39); };
  // The code page of the set's name, in whatever case, converts with the
  // codec; some texts go through it too.
  std::string lower = GetParam().codeset;
  for (char& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  const TCodePage page(lower);
  int failures = 0;
  for (int round = 0; round < 300000 && failures < 10; ++round) {
    std::string text;
    for (int pieces = pick(0, 10); pieces > 0; --pieces) {
      switch (pick(0, 9)) {
        case 0: text += static_cast<char>(pick(0x20, 0x7E)); break;
        case 1: text += static_cast<char>(digit()); break;
        case 2: text += Bytes({lead(), trail()}); break;
        case 3: text += Bytes({lead(), pick(0, 0xFF)}); break;
        case 4: text += Bytes({pick(0x81, 0x84), digit(), lead(), digit()}); break;
        case 5: text += Bytes({pick(0x90, 0xFE), digit(), lead(), digit()}); break;
        case 6: text += Bytes({lead(), digit(), pick(0, 0xFF), pick(0, 0xFF)}); break;
        case 7: text += Bytes({lead(), digit(), lead(), digit()}).substr(0, pick(1, 3)); break;
        case 8: text += static_cast<char>(pick(0, 2) ? 0x80 + pick(0, 1) * 0x20 : 0xFF); break;
        default: text += static_cast<char>(pick(0, 0xFF)); break;
      }
    }
    if (const auto same = SameDecode(GetParam(), text); !same) {
      ++failures;
      ADD_FAILURE() << same.message();
    }
    if (round % 16 == 0) {
      std::size_t expected = 0, malformed = 0;
      if (page.Decode(text, malformed) != Iconv(GetParam().codeset).Decode(text, expected) ||
          malformed != expected) {
        ++failures;
        ADD_FAILURE() << "TCodePage(\"" << lower << "\"): " << testing::PrintToString(text);
      }
    }
  }
}

// Every code point, written in texts of a few thousand, and each UTF-16
// unit alone and between letters, which puts a lone surrogate at the end
// of the text, at its start and beside another surrogate.
TEST_P(TableCodec, EncodesEveryCodePointAndLoneSurrogateAsIconv) {
  const TCodec& codec = GetParam();
  const TIconv iconv = Iconv(codec.codeset);
  std::u16string text;
  int failures = 0;
  for (char32_t code = 0; code < 0x110000; ++code) {
    if (code >= 0xD800 && code <= 0xDFFF) continue;
    text += Utf16(code);
    if (text.size() >= 4096 || code == 0x10FFFF) {
      if (codec.encode(text) != iconv.Encode(text) && ++failures <= 10)
        ADD_FAILURE() << "up to U+" << std::hex << static_cast<std::uint32_t>(code);
      text.clear();
    }
  }
  for (char32_t unit = 0; unit < 0x10000; ++unit) {
    const char16_t u = static_cast<char16_t>(unit);
    for (const std::u16string& sample :
         {std::u16string{u}, std::u16string{u'x', u, u'y'}, std::u16string{u, u, 0xDC00}}) {
      if (codec.encode(sample) != iconv.Encode(sample) && ++failures <= 10)
        ADD_FAILURE() << testing::PrintToString(sample);
    }
  }
  EXPECT_EQ(failures, 0);
}

// Random texts mixing what the encoder treats apart: ASCII, characters of
// the plane and beyond it (tag characters among them), and surrogates
// alone, in the wrong order and at either end.
TEST_P(TableCodec, EncodesRandomTextsAsIconv) {
  const TCodec& codec = GetParam();
  std::mt19937 random(51949);
  auto pick = [&random](char32_t low, char32_t high) {
    return static_cast<char32_t>(low + random() % (high - low + 1));
  };
  int failures = 0;
  for (int round = 0; round < 100000 && failures < 10; ++round) {
    std::u16string text;
    for (int pieces = static_cast<int>(pick(0, 8)); pieces > 0; --pieces) {
      switch (pick(0, 5)) {
        case 0: text += static_cast<char16_t>(pick(0, 0xFF)); break;
        case 1: text += static_cast<char16_t>(pick(0x100, 0xD7FF)); break;
        case 2: text += static_cast<char16_t>(pick(0xD800, 0xDFFF)); break;
        case 3: text += Utf16(pick(0xE000, 0xFFFF)); break;
        case 4: text += Utf16(pick(0x10000, 0x10FFFF)); break;
        default: text += Utf16(pick(0xDFFF0, 0xE008F)); break;
      }
    }
    if (codec.encode(text) != Iconv(codec.codeset).Encode(text)) {
      ++failures;
      ADD_FAILURE() << testing::PrintToString(text);
    }
  }
}

TEST(Gb18030Decode, DecodesEveryFourByteSequenceAsIconv) {
  for (int first = 0x81; first <= 0xFE; ++first) {
    std::vector<std::string> codes;
    for (int second = 0x30; second <= 0x39; ++second)
      for (int third = 0x81; third <= 0xFE; ++third)
        for (int fourth = 0x30; fourth <= 0x39; ++fourth)
          codes.push_back(Bytes({first, second, third, fourth}));
    SCOPED_TRACE(first);
    ExpectSameDecodeOfEach(kGb18030, codes);
    if (HasFailure()) return;
  }
}

}  // namespace
}  // namespace tallyfold
