#include "image/comment.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

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

TEST(Comment, Utf8ValidationRejectsOverlongAndTruncatedForms) {
  EXPECT_TRUE(IsValidUtf8("plain"));
  EXPECT_FALSE(IsValidUtf8("\xC0\xAF"));
  EXPECT_FALSE(IsValidUtf8("\xE3\x81"));
  EXPECT_FALSE(IsValidUtf8("\xED\xA0\x80"));  // a surrogate
  EXPECT_EQ(Utf8PrefixLength("\xE3\x81\x82\xE3\x81\x82", 4), 3u);
}

}  // namespace
