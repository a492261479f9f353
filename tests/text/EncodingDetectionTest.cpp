// Tests of the automatic choice of character set for files without a
// byte-order mark: prose in simplified and traditional Chinese, Japanese,
// Korean, French and German, written by iconv in the sets such files come
// in, must read as their UTF-8 copy reads, short, long and after megabytes
// of ASCII, through the list reader, the line reader and the line reader
// in small pieces; and UTF-8 with one stray byte stays UTF-8.
#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "platform/CodePage.h"
#include "text/ListItems.h"
#include "text/TempFile.h"
#include "text/TextFile.h"
#include "text/TextInternal.h"
#include "text/TextLines.h"

namespace tallyfold {
namespace {

using test::TempFile;

const char16_t kSimplified[] =
    u"清晨的时候，河边的雾气还没有散去，老人已经坐在小船上开始整理渔网。他说这条河陪伴了他一辈子，小时候跟着父亲学习捕鱼，后来自己也有了孩子，现在孙子们都在城市里读书和工作。\n"
    u"村子里的变化很大，过去的土路变成了宽阔的公路，每天都有汽车往返于县城和乡镇之间。年轻人大多外出打工，只有节日的时候才会回来看望家人。学校新建了图书馆和操场，老师们说孩子们比以前更喜欢阅读了。\n"
    u"到了傍晚，炊烟从各家的屋顶升起，空气中飘着饭菜的香味。老人收起渔网，把今天的收获分给邻居，然后慢慢地走回家，准备给远方的孙子打一个电话。\n";

const char16_t kTraditional[] =
    u"時間過得很快，轉眼之間我們已經在這座城市生活了十年。當初剛來的時候，連一句當地的話都聽不懂，每天坐公車上班都要看著地圖，擔心自己下錯車站。\n"
    u"後來認識了幾位熱心的鄰居，他們帶我們去傳統市場買菜，教我們如何分辨新鮮的魚和蔬菜，還常常邀請我們到家裡喝茶聊天。那些溫暖的記憶，讓這個陌生的地方慢慢變成了我們的家。\n"
    u"現在孩子們都長大了，學校裡的老師說他們的功課很好，也喜歡參加各種運動和藝術活動。每當週末，我們一家人就會到郊外的山上散步，看看風景，說說最近發生的事情。\n";

const char16_t kJapanese[] =
    u"朝早く起きて、窓を開けると、冷たい空気が部屋の中に入ってきました。今日は久しぶりに晴れたので、近くの公園まで散歩に行くことにしました。\n"
    u"公園では、犬を連れたお年寄りや、ジョギングをしている若い人たちがたくさんいました。池のそばのベンチに座って、持ってきた本を読みながら、しばらくのんびりと過ごしました。\n"
    u"帰り道にパン屋さんに寄って、焼きたてのパンを買いました。家に帰ってからコーヒーを入れて、ゆっくりと朝ご飯を食べました。とても気持ちのいい一日の始まりでした。\n";

const char16_t kKorean[] =
    u"아침 일찍 일어나서 창문을 열었더니 시원한 바람이 방 안으로 들어왔습니다. 오늘은 오랜만에 날씨가 맑아서 가까운 공원으로 산책을 가기로 했습니다.\n"
    u"공원에는 강아지와 함께 걷는 어르신들과 운동을 하는 젊은 사람들이 많이 있었습니다. 호숫가 의자에 앉아서 가져온 책을 읽으며 한동안 여유로운 시간을 보냈습니다.\n"
    u"집으로 돌아오는 길에 빵집에 들러 갓 구운 빵을 샀습니다. 집에 와서 커피를 내리고 천천히 아침을 먹었습니다. 정말 기분 좋은 하루의 시작이었습니다.\n";

const char16_t kFrench[] =
    u"Le matin, la brume s'élève lentement au-dessus de la rivière et les pêcheurs préparent déjà leurs filets. Le café du village ouvre à sept heures ; on y entend parler de la récolte, du marché de la semaine et des élèves qui rentrent à l'école.\n"
    u"Près de l'église, une boulangère très âgée vend encore des brioches et des pains au chocolat. Elle connaît chaque enfant par son prénom et se souvient de l'été où la fête a duré trois jours.\n";

const char16_t kGerman[] =
    u"Am frühen Morgen liegt noch Nebel über dem Fluss, und die Fischer bereiten schon ihre Netze vor. Die Bäckerei öffnet um sieben Uhr; dort spricht man über das Wetter, die Ernte und die Schüler, die nach den Ferien wieder in die Schule gehen.\n"
    u"Im Süden der Stadt gibt es einen großen Park mit alten Bäumen. Ältere Leute füttern dort die Vögel, während Kinder über die Wiese laufen und Fußball spielen.\n";


struct Reading {
  std::vector<std::u16string> lines;
  TTextReadInfo info;
};

// The file read by the list reader, by the line reader, and by the line
// reader a small piece at a time; `what` names each for a failure.
std::vector<std::pair<std::string, Reading>> ReadEveryWay(const std::string& path) {
  const TTextDecoding decoding = TextDecodingNamed("auto", "GB18030");
  std::vector<std::pair<std::string, Reading>> readings(3);
  readings[0].first = "list";
  TUnicodeStringList list;
  ReadTextFileAs(list, path, decoding, nullptr, &readings[0].second.info);
  readings[0].second.lines = test::Items(list);
  for (const std::size_t piece : {text_internal::kLinePieceBytes, std::size_t{1} << 20}) {
    Reading& reading = readings[piece == text_internal::kLinePieceBytes ? 1 : 2].second;
    text_internal::ReadLinesInPieces(
        path, decoding, nullptr, nullptr, &reading.info,
        [&](int index, std::u16string_view line) {
          EXPECT_EQ(static_cast<std::size_t>(index), reading.lines.size());
          reading.lines.emplace_back(line);
        },
        piece);
  }
  readings[1].first = "lines";
  readings[2].first = "lines in pieces";
  return readings;
}

TEST(EncodingDetection, LegacyProseReadsAsItsUtf8Copy) {
  struct Case {
    const char16_t* text;
    const char* written_in;  // by iconv
    const char* read_in;     // what the file is read as
  };
  const Case cases[] = {
      {kSimplified, "GB18030", "GB18030"}, {kSimplified, "GBK", "GB18030"},
      {kTraditional, "BIG5", "BIG5"},      {kJapanese, "SHIFT_JIS", "SHIFT_JIS"},
      {kJapanese, "EUC-JP", "EUC-JP"},     {kKorean, "EUC-KR", "CP949"},
      {kFrench, "WINDOWS-1252", "WINDOWS-1252"}, {kFrench, "ISO-8859-1", "WINDOWS-1252"},
      {kGerman, "WINDOWS-1252", "WINDOWS-1252"}, {kGerman, "ISO-8859-15", "WINDOWS-1252"},
  };
  // The prose as it is (a few hundred bytes), many times over, and after
  // three megabytes of ASCII lines, more than the detector is ever given.
  std::u16string ascii;
  while (ascii.size() < (std::size_t{3} << 20)) ascii += u"An ASCII line of the preamble.\r\n";
  for (const Case& c : cases) {
    const std::u16string prose = c.text;
    std::u16string many;
    for (int k = 0; k < 200; ++k) many += prose;
    for (const std::u16string& text : {prose, many, ascii + prose}) {
      const TCodePage page(c.written_in);
      ASSERT_FALSE(page.IsUtf8()) << c.written_in << " is not known to iconv here";
      const std::string bytes = page.Encode(text);
      ASSERT_EQ(page.Decode(bytes), text) << c.written_in << " cannot hold the text";
      const TempFile file(bytes);
      const std::vector<std::u16string> want = test::FileLines(text);
      for (const auto& [how, got] : ReadEveryWay(file.path())) {
        const std::string what =
            std::string(c.written_in) + ", " + std::to_string(bytes.size()) + " bytes, " + how;
        EXPECT_EQ(got.lines == want, true) << what;
        EXPECT_EQ(got.info.codeset, c.read_in) << what;
        EXPECT_EQ(got.info.choice, TReadChoice::kDetected) << what;
        EXPECT_EQ(got.info.malformed, 0u) << what;
      }
    }
  }
}

TEST(EncodingDetection, Utf8WithAStrayByteStaysUtf8) {
  // Five megabytes of Chinese and French UTF-8 with one Latin-1 line: UTF-8
  // with one stray, without asking the detector, and only the stray byte
  // becomes U+FFFD.
  std::u16string clean;
  while (clean.size() < (std::size_t{5} << 20) / 2) clean += std::u16string(kSimplified) + kFrench;
  std::string bytes = Utf8Encode(clean);
  const std::size_t middle = bytes.find('\n', bytes.size() / 2) + 1;
  bytes.insert(middle, "caf\xE9\n");
  std::vector<std::u16string> want = test::FileLines(clean);
  const std::size_t stray_line = test::FileLines(Utf8Decode(bytes.substr(0, middle))).size();
  want.insert(want.begin() + static_cast<std::ptrdiff_t>(stray_line), u"caf\uFFFD");
  const TempFile file(bytes);
  for (const auto& [how, got] : ReadEveryWay(file.path())) {
    EXPECT_EQ(got.lines == want, true) << how;
    EXPECT_EQ(got.info.codeset, "UTF-8") << how;
    EXPECT_EQ(got.info.choice, TReadChoice::kUtf8Strays) << how;
    EXPECT_EQ(got.info.malformed, 1u) << how;
  }
}

TEST(EncodingDetection, AnswersAreMappedToWhatIconvReads) {
  const std::pair<const char*, const char*> cases[] = {
      {"GB2312", "GB18030"}, {"gbk", "GB18030"},   {"GB18030", "GB18030"},
      {"UHC", "CP949"},      {"EUC-KR", "CP949"},  {"ISO-8859-1", "WINDOWS-1252"},
      {"BIG5", "BIG5"},      {"SHIFT_JIS", "SHIFT_JIS"}, {"UTF-8", "UTF-8"},
      {"ISO-8859-7", "ISO-8859-7"},
      // No answer, ASCII, a set iconv does not have, and sets whose lines
      // cannot be told in their bytes.
      {"", ""}, {"ASCII", ""}, {"X-NO-SUCH-SET", ""}, {"UTF-16LE", ""}, {"UTF-32BE", ""},
  };
  for (const auto& [answer, usable] : cases)
    EXPECT_EQ(text_internal::UsableCodeset(answer), usable) << answer;
}

TEST(EncodingDetection, TheDetectorSeesLinesFromTheWholeTextWhateverTheRuns) {
  // Fed whole or a line at a time, it is given the same lines and answers
  // alike; ASCII lines are not given to it at all.
  const std::string big5 = TCodePage("BIG5").Encode(kTraditional);
  const std::string text = std::string(100000, 'a') + "\n" + big5;
  text_internal::EncodingDetector whole;
  whole.Feed(text.data(), text.size());
  text_internal::EncodingDetector by_line;
  for (std::size_t at = 0; at < text.size();) {
    const std::size_t end = std::min(text.find('\n', at), text.size() - 1) + 1;
    by_line.Feed(text.data() + at, end - at);
    at = end;
  }
  EXPECT_FALSE(whole.Full());
  EXPECT_EQ(whole.Answer(), "BIG5");
  EXPECT_EQ(by_line.Answer(), "BIG5");
  // Beyond its budget it takes no more.
  text_internal::EncodingDetector full;
  std::string lots;
  while (lots.size() <= 2 * text_internal::kDetectorBudgetBytes) lots += big5;
  full.Feed(lots.data(), lots.size());
  EXPECT_TRUE(full.Full());
  EXPECT_EQ(full.Answer(), "BIG5");
  // Too few bytes beyond ASCII get no answer.
  text_internal::EncodingDetector scant;
  scant.Feed("caf\xE9 \xE9t\xE9\n", 10);
  EXPECT_EQ(scant.Answer(), "");
}

}  // namespace
}  // namespace tallyfold
