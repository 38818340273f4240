// Whole-file reads, bounded, and the reason the last load failed.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

// Files larger than this are not read into memory.
constexpr size_t kMaxFileBytes = size_t{1} << 30;

// Reads the whole file (at most `limit` bytes; a larger file fails).
// Notes a reason and returns false on failure.
bool ReadWholeFile(const std::string& path, std::vector<uint8_t>& out,
                   size_t limit = kMaxFileBytes);

// Reads at most `count` bytes from the start of the file.
bool ReadFilePrefix(const std::string& path, size_t count,
                    std::vector<uint8_t>& out);

// Readers return null without a message; the reason a developer or the
// command-line tool wants is kept here, per thread.
void NoteLoadFailure(std::string_view reason);
const std::string& LastLoadFailure();
void ClearLoadFailure();

// What a reader that did return a picture wants said about it (a file that
// ends early: the picture as far as the data goes), per thread like the
// failures.
void NoteLoadWarning(std::string_view warning);
const std::string& LastLoadWarning();
void ClearLoadWarning();
