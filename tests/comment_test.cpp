#include "image/comment.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

namespace {

void Set(const std::string& bytes) {
  SetCurrentComment(reinterpret_cast<const uint8_t*>(bytes.data()),
                    bytes.size());
}

TEST(Comment, Utf8TextIsKeptAsItIs) {
  Set("3D \xE5\xAF\x8C\xE5\xA3\xAB\xE5\xB1\xB1");  // "3D 富士山"
  EXPECT_STREQ(CurrentComment, "3D \xE5\xAF\x8C\xE5\xA3\xAB\xE5\xB1\xB1");
}

TEST(Comment, ShiftJisTextIsDecoded) {
  Set("\x95\x78\x8E\x6D\x8E\x52");  // 富士山 in CP932
  EXPECT_STREQ(CurrentComment, "\xE5\xAF\x8C\xE5\xA3\xAB\xE5\xB1\xB1");
}

TEST(Comment, LongTextIsCutOnACharacterBoundary) {
  std::string text = "a";
  for (int i = 0; i < 100; ++i) text += "\xE3\x81\x82";  // あ, 3 bytes each
  Set(text);
  size_t length = std::strlen(CurrentComment);
  EXPECT_LE(length, 255u);
  EXPECT_EQ(length, 1u + 3 * 84);  // 253 bytes: a 254th would split a char
  EXPECT_TRUE(IsValidUtf8(CurrentComment));

  Set(std::string(400, 'x'));
  EXPECT_EQ(std::strlen(CurrentComment), 255u);
}

// The 255-byte limit counts the bytes as stored: CP932 text keeps 255 of
// its own bytes, however long its UTF-8 form, and never half a character.
TEST(Comment, ShiftJisTextIsCutBeforeItIsDecoded) {
  std::string kanji;
  for (int i = 0; i < 120; ++i) kanji += "\x95\x78";  // 富, 2 bytes in CP932
  Set(kanji);
  EXPECT_EQ(std::strlen(CurrentComment), 3u * 120);

  Set(std::string(300, '\xB1'));  // half-width ｱ: one byte, three in UTF-8
  EXPECT_EQ(std::strlen(CurrentComment), 3u * 255);
  EXPECT_TRUE(IsValidUtf8(CurrentComment));

  Set("a" + kanji + kanji);  // byte 255 would be the first of a pair
  EXPECT_EQ(std::strlen(CurrentComment), 1 + 3u * 127);
  EXPECT_TRUE(IsValidUtf8(CurrentComment));
}

TEST(Comment, EmbeddedZeroEndsTheText) {
  Set(std::string("abc\0def", 7));
  EXPECT_STREQ(CurrentComment, "abc");
  ClearCurrentComment();
  EXPECT_TRUE(CurrentCommentEmpty());
}

// Whether `b` (1 to 4 bytes) is one well-formed UTF-8 character, by the
// table of lead bytes and the ranges of their second byte; every other
// continuation byte is 80..BF.
bool WellFormedByTable(const std::vector<unsigned>& b) {
  struct Row { unsigned leadLo, leadHi, secondLo, secondHi; size_t size; };
  static constexpr Row kRows[] = {
      {0x00, 0x7F, 0, 0, 1},          {0xC2, 0xDF, 0x80, 0xBF, 2},
      {0xE0, 0xE0, 0xA0, 0xBF, 3},    {0xE1, 0xEC, 0x80, 0xBF, 3},
      {0xED, 0xED, 0x80, 0x9F, 3},    {0xEE, 0xEF, 0x80, 0xBF, 3},
      {0xF0, 0xF0, 0x90, 0xBF, 4},    {0xF1, 0xF3, 0x80, 0xBF, 4},
      {0xF4, 0xF4, 0x80, 0x8F, 4}};
  for (const Row& row : kRows) {
    if (b[0] < row.leadLo || b[0] > row.leadHi) continue;
    if (b.size() != row.size) return false;
    if (row.size > 1 && (b[1] < row.secondLo || b[1] > row.secondHi))
      return false;
    for (size_t k = 2; k < b.size(); ++k)
      if (b[k] < 0x80 || b[k] > 0xBF) return false;
    return true;
  }
  return false;
}

// Every one- and two-byte sequence, every three-byte one and the four-byte
// ones around each boundary, against the table: overlong forms, surrogates,
// values past U+10FFFF, stray continuations and cut characters are refused.
TEST(Comment, Utf8ValidationAgreesWithTheTableOfWellFormedSequences) {
  auto check = [](const std::vector<unsigned>& b) {
    std::string text;
    for (unsigned v : b) text += static_cast<char>(v);
    ASSERT_EQ(IsValidUtf8(text), WellFormedByTable(b))
        << std::hex << b[0] << " " << (b.size() > 1 ? b[1] : 0) << " "
        << (b.size() > 2 ? b[2] : 0) << " " << (b.size() > 3 ? b[3] : 0)
        << " (" << b.size() << " bytes)";
  };
  for (unsigned a = 0; a < 256; ++a) {
    check({a});
    if (a < 0x80) continue;  // what follows ASCII is another character
    for (unsigned b = 0; b < 256; ++b) {
      check({a, b});
      if (a < 0xE0 || a > 0xEF) continue;
      for (unsigned c = 0; c < 256; ++c) check({a, b, c});
    }
  }
  for (unsigned a = 0xF0; a <= 0xF7; ++a)
    for (unsigned b = 0; b < 256; ++b)
      for (unsigned c : {0x7Fu, 0x80u, 0xBFu, 0xC0u})
        for (unsigned d : {0x80u, 0xBFu, 0xC0u}) check({a, b, c, d});
  EXPECT_EQ(Utf8PrefixLength("\xE3\x81\x82\xE3\x81\x82", 4), 3u);
}

}  // namespace
