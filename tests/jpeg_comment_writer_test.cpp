#include "image/jpeg_comment_writer.h"

#include <gtest/gtest.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <filesystem>
#include <string>
#include <vector>

#include "image/comment.h"
#include "image/jpeg_reader.h"
#include "tests/synthetic_jpeg.h"
#include "tests/test_support.h"

namespace {

using synthetic::Bytes;
namespace fs = std::filesystem;

struct SegmentAt {
  uint8_t code;
  size_t offset;
  Bytes payload;
};

// The segments before the first start of scan, and where that scan starts.
std::vector<SegmentAt> HeaderSegments(const Bytes& jpeg, size_t& scanAt) {
  std::vector<SegmentAt> segments;
  size_t i = 2;
  while (i + 4 <= jpeg.size() && jpeg[i + 1] != 0xDA) {
    size_t length = size_t{jpeg[i + 2]} << 8 | jpeg[i + 3];
    segments.push_back({jpeg[i + 1], i,
                        Bytes(jpeg.begin() + i + 4, jpeg.begin() + i + 2 + length)});
    i += 2 + length;
  }
  scanAt = i;
  return segments;
}

Bytes Tail(const Bytes& jpeg) {
  size_t scanAt;
  HeaderSegments(jpeg, scanAt);
  return Bytes(jpeg.begin() + scanAt, jpeg.end());
}

int CountComments(const Bytes& jpeg) {
  size_t scanAt;
  auto segments = HeaderSegments(jpeg, scanAt);
  return static_cast<int>(std::count_if(segments.begin(), segments.end(),
                                        [](auto& s) { return s.code == 0xFE; }));
}

Bytes SmallJpeg(std::vector<std::string> comments = {}) {
  synthetic::CompressOptions options;
  options.jfif = true;
  options.comments = std::move(comments);
  return synthetic::Compress(synthetic::TestCard(16, 8), options);
}

class CommentWriterTest : public ::testing::Test {
 protected:
  void SetUp() override {
    folder_ = ScratchDir() + "/comment-writer-" +
              ::testing::UnitTest::GetInstance()->current_test_info()->name();
    fs::create_directories(folder_);
    path_ = folder_ + "/photo.jpg";
    hooks_.warn = [this](std::string_view text, std::string_view caption) {
      warnings_.push_back(std::string(caption) + ": " + std::string(text));
    };
  }
  void TearDown() override {
    fs::permissions(folder_, fs::perms::owner_all, fs::perm_options::add);
    fs::remove_all(folder_);
  }
  // Only the picture itself is left in the folder.
  void ExpectOnlyThePicture() {
    std::vector<std::string> names;
    for (auto& entry : fs::directory_iterator(folder_))
      names.push_back(entry.path().filename().string());
    EXPECT_EQ(names, std::vector<std::string>{"photo.jpg"});
  }

  std::string folder_, path_;
  JpegCommentHooks hooks_;
  std::vector<std::string> warnings_;
};

TEST_F(CommentWriterTest, CommentsAreReplacedByOneBeforeTheTablesAndReadBack) {
  Bytes original = SmallJpeg({"first", "second"});
  WriteTestFile(path_, original);
  ASSERT_EQ(WriteJpegComment(path_, "abc", hooks_), kCommentWritten);
  Bytes written = ReadTestFile(path_);
  size_t scanAt;
  auto segments = HeaderSegments(written, scanAt);
  ASSERT_EQ(CountComments(written), 1);
  // After the APP segments, before the first table or frame segment.
  auto com = std::find_if(segments.begin(), segments.end(),
                          [](auto& s) { return s.code == 0xFE; });
  EXPECT_EQ(com->payload, Bytes({'a', 'b', 'c'}));
  EXPECT_EQ(written[com->offset + 2] << 8 | written[com->offset + 3], 5);
  EXPECT_EQ(com[-1].code, 0xE0);
  EXPECT_LT(com[1].code, 0xE0);
  EXPECT_EQ(Tail(written), Tail(original));
  ClearCurrentComment();
  ReadJpegComment(path_);
  EXPECT_STREQ(CurrentComment, "abc");

  ASSERT_EQ(WriteJpegComment(path_, "", hooks_), kCommentWritten);
  EXPECT_EQ(CountComments(ReadTestFile(path_)), 0);
  EXPECT_EQ(Tail(ReadTestFile(path_)), Tail(original));
  EXPECT_TRUE(warnings_.empty());
  ExpectOnlyThePicture();
}

TEST_F(CommentWriterTest, ACommentWrittenAfterLargeMetadataIsReadBack) {
  // Cameras and editors write Exif, XMP and colour profiles of tens of
  // KiB each; the comment goes after them all.
  Bytes metadata;
  for (uint8_t code : {0xE1, 0xE1, 0xE2}) {
    Bytes app = synthetic::Segment(code, Bytes(41000, 'm'));
    metadata.insert(metadata.end(), app.begin(), app.end());
  }
  WriteTestFile(path_, synthetic::InsertAfterStart(SmallJpeg(), metadata));
  ASSERT_EQ(WriteJpegComment(path_, "\xE5\xAF\x8C\xE5\xA3\xAB", hooks_),
            kCommentWritten);
  ClearCurrentComment();
  ReadJpegComment(path_);
  EXPECT_STREQ(CurrentComment, "\xE5\xAF\x8C\xE5\xA3\xAB");
  ClearCurrentComment();
  ASSERT_TRUE(DecodeJpeg(path_));
  EXPECT_STREQ(CurrentComment, "\xE5\xAF\x8C\xE5\xA3\xAB");
}

TEST(CommentRewrite, WhatFollowsTheFirstScanIsCopiedAsItIs) {
  // A second picture with its own comment follows the first scan.
  Bytes file = SmallJpeg({"old"});
  Bytes second = SmallJpeg({"inner"});
  file.insert(file.end(), second.begin(), second.end());
  Bytes out;
  ASSERT_EQ(RewriteJpegComment(file.data(), file.size(), "new", out),
            kCommentWritten);
  EXPECT_EQ(Tail(out), Tail(file));
}

TEST(CommentRewrite, ApplicationSegmentsAloneGetNoComment) {
  Bytes file = {0xFF, 0xD8};
  Bytes app = synthetic::Segment(0xE1, {'E', 'x', 'i', 'f', 0, 0});
  file.insert(file.end(), app.begin(), app.end());
  file.insert(file.end(), {0xFF, 0xDA, 0x00, 0x02, 0x12, 0x34, 0xFF, 0xD9});
  Bytes out;
  ASSERT_EQ(RewriteJpegComment(file.data(), file.size(), "abc", out),
            kCommentWritten);
  EXPECT_EQ(out, file);
}

TEST(CommentRewrite, BrokenAndForeignStructuresAreRefused) {
  Bytes good = SmallJpeg();
  Bytes out;
  Bytes stray = good;
  stray.insert(stray.begin() + 2, 0x00);  // not a marker
  EXPECT_EQ(RewriteJpegComment(stray.data(), stray.size(), "x", out),
            kCommentBrokenStructure);
  Bytes cut(good.begin(), good.begin() + 30);  // a segment runs past the end
  EXPECT_EQ(RewriteJpegComment(cut.data(), cut.size(), "x", out),
            kCommentBrokenStructure);
  Bytes tooShort = {0xFF, 0xD8, 0xFF, 0xDB, 0x00, 0x01, 0xFF, 0xDA};
  EXPECT_EQ(RewriteJpegComment(tooShort.data(), tooShort.size(), "x", out),
            kCommentBrokenStructure);
  Bytes png = {0x89, 'P', 'N', 'G'};
  EXPECT_EQ(RewriteJpegComment(png.data(), png.size(), "x", out),
            kCommentNotJpeg);
  // A multi-picture file would lose its later pictures' offsets.
  Bytes mpo = synthetic::BuildMpo({SmallJpeg(), SmallJpeg()});
  EXPECT_EQ(RewriteJpegComment(mpo.data(), mpo.size(), "x", out),
            kCommentMultiPicture);
  EXPECT_EQ(RewriteJpegComment(mpo.data(), mpo.size(), "", out),
            kCommentWritten);
}

TEST(CommentRewrite, TextIsCutToWholeCharactersWithin255Bytes) {
  std::string text = "a";
  for (int i = 0; i < 90; ++i) text += "\xE3\x81\x82";  // あ, 3 bytes
  std::string cut = JpegCommentText(text);
  EXPECT_EQ(cut.size(), 253u);
  EXPECT_TRUE(IsValidUtf8(cut));
  EXPECT_EQ(JpegCommentText(std::string("ab\0cd", 5)), "ab");
}

TEST_F(CommentWriterTest, BrokenFileIsLeftUntouchedWithTheMessage) {
  Bytes broken = SmallJpeg();
  broken.insert(broken.begin() + 2, 0x12);
  WriteTestFile(path_, broken);
  EXPECT_EQ(WriteJpegComment(path_, "x", hooks_), kCommentBrokenStructure);
  EXPECT_EQ(ReadTestFile(path_), broken);
  ASSERT_EQ(warnings_.size(), 1u);
  EXPECT_EQ(warnings_[0], "実行エラー: JPEGファイル構造に異常がある為、"
                          "コメントが埋め込めません。");
  ExpectOnlyThePicture();
}

TEST_F(CommentWriterTest, TimesPermissionsAndLinksAreKept) {
  WriteTestFile(path_, SmallJpeg());
  ASSERT_EQ(::chmod(path_.c_str(), 0640), 0);
  const struct timespec times[2] = {{1000000000, 123456789},
                                    {1200000000, 987654321}};
  ASSERT_EQ(::utimensat(AT_FDCWD, path_.c_str(), times, 0), 0);
  std::string link = folder_ + "/link.jpg";
  fs::create_symlink(path_, link);
  ASSERT_EQ(WriteJpegComment(link, "kept", hooks_), kCommentWritten);
  struct stat st;
  ASSERT_EQ(::stat(path_.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0640u);
  EXPECT_EQ(st.st_atim.tv_sec, times[0].tv_sec);
  EXPECT_EQ(st.st_mtim.tv_sec, times[1].tv_sec);
  EXPECT_EQ(st.st_mtim.tv_nsec, times[1].tv_nsec);
  EXPECT_TRUE(fs::is_symlink(link));
  EXPECT_EQ(CountComments(ReadTestFile(path_)), 1);
}

TEST_F(CommentWriterTest, ReadOnlyFileAndFolderAreLeftUntouchedWithTheMessages) {
  Bytes original = SmallJpeg({"keep"});
  WriteTestFile(path_, original);
  ASSERT_EQ(::chmod(path_.c_str(), 0444), 0);
  EXPECT_EQ(WriteJpegComment(path_, "x", hooks_), kCommentNotWritable);
  ASSERT_EQ(::chmod(path_.c_str(), 0644), 0);
  ASSERT_EQ(::chmod(folder_.c_str(), 0555), 0);
  EXPECT_EQ(WriteJpegComment(path_, "x", hooks_), kCommentNoTempFile);
  EXPECT_EQ(ReadTestFile(path_), original);
  EXPECT_EQ(warnings_,
            (std::vector<std::string>{
                path_ + ": 書き込み用にファイルがオープンできません。"
                        "読み取り専用ファイルですか？",
                path_ + "$: 一時ファイルが作成できません。CD-ROMですか？"}));
  ExpectOnlyThePicture();
}

TEST_F(CommentWriterTest, FailuresBeforeTheRenameKeepTheOriginal) {
  Bytes original = SmallJpeg({"keep"});
  WriteTestFile(path_, original);
  std::string seenTemp;
  hooks_.beforeReplace = [&](const std::string& temp) {
    seenTemp = temp;
    // The new picture is complete on disk by now.
    EXPECT_EQ(CountComments(ReadTestFile(temp)), 1);
    return false;
  };
  EXPECT_EQ(WriteJpegComment(path_, "x", hooks_), kCommentReplaceFailed);
  EXPECT_EQ(seenTemp, path_ + "$");
  EXPECT_EQ(ReadTestFile(path_), original);
  ExpectOnlyThePicture();

  // A disk that fills up part way through.
  hooks_.beforeReplace = nullptr;
  size_t room = 100;
  hooks_.write = [&](int fd, const void* data, size_t size) -> ssize_t {
    if (room == 0) {
      errno = ENOSPC;
      return -1;
    }
    size_t now = std::min(size, room);
    room -= now;
    return ::write(fd, data, now);
  };
  EXPECT_EQ(WriteJpegComment(path_, "x", hooks_), kCommentWriteFailed);
  EXPECT_EQ(ReadTestFile(path_), original);
  ExpectOnlyThePicture();
  EXPECT_EQ(warnings_.size(), 2u);
}

// After a crash the folder must hold the old picture or the new one, whole:
// the new bytes reach the disk and their file is closed before it is renamed
// over the original, and the folder entry is flushed after the rename.
TEST_F(CommentWriterTest, TheReplaceIsFlushedClosedRenamedThenTheFolderFlushed) {
  WriteTestFile(path_, SmallJpeg({"old"}));
  const fs::path folder = fs::canonical(folder_);
  // What a descriptor or path names, relative to the picture's folder.
  auto name = [&](const fs::path& p) {
    fs::path real = fs::weakly_canonical(p);
    return real == folder ? std::string("folder") : real.filename().string();
  };
  auto named = [&](int fd) {
    return name(fs::read_symlink("/proc/self/fd/" + std::to_string(fd)));
  };
  std::vector<std::string> calls;
  hooks_.write = [&](int fd, const void* data, size_t size) {
    std::string call = "write " + named(fd);
    if (calls.empty() || calls.back() != call) calls.push_back(call);
    return ::write(fd, data, size);
  };
  hooks_.fsync = [&](int fd) {
    calls.push_back("fsync " + named(fd));
    return ::fsync(fd);
  };
  hooks_.close = [&](int fd) {
    calls.push_back("close " + named(fd));
    return ::close(fd);
  };
  hooks_.rename = [&](const char* from, const char* to) {
    calls.push_back("rename " + name(from) + " " + name(to));
    return ::rename(from, to);
  };
  ASSERT_EQ(WriteJpegComment(path_, "new", hooks_), kCommentWritten);
  const std::vector<std::string> durable = {
      "write photo.jpg$", "fsync photo.jpg$", "close photo.jpg$",
      "rename photo.jpg$ photo.jpg", "fsync folder", "close folder"};
  EXPECT_EQ(calls, durable);
  EXPECT_EQ(CountComments(ReadTestFile(path_)), 1);
  ExpectOnlyThePicture();
}

TEST_F(CommentWriterTest, ATemporaryNameInUseIsNeverOverwritten) {
  WriteTestFile(path_, SmallJpeg());
  Bytes someoneElses = {'m', 'i', 'n', 'e'};
  WriteTestFile(path_ + "$", someoneElses);
  ASSERT_EQ(WriteJpegComment(path_, "x", hooks_), kCommentWritten);
  EXPECT_EQ(ReadTestFile(path_ + "$"), someoneElses);
  EXPECT_FALSE(fs::exists(path_ + "$1"));
  EXPECT_EQ(CountComments(ReadTestFile(path_)), 1);
}

}  // namespace
