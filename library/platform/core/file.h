// Files. Names arrive in the system's own form: Shift-JIS, '\' separators
// (a '\' that is the second byte of a double-byte character is part of that
// character), upper-cased file parts, found without regard to case. On this
// platform they are turned into native UTF-8 paths, and a name that does not
// exist as given is looked up case-insensitively, folder by folder.
//
// A file handle is a plain descriptor, so a handle opened by the engine can
// be read and closed by the host program with these same calls.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace plat {

using FileHandle = intptr_t;
constexpr FileHandle kInvalidFile = -1;

// Access bits and creation modes, as the engine's callers pass them.
constexpr uint32_t kGenericRead = 0x80000000u;
constexpr uint32_t kGenericWrite = 0x40000000u;
constexpr uint32_t kCreateNew = 1, kCreateAlways = 2, kOpenExisting = 3, kOpenAlways = 4,
                   kTruncateExisting = 5;
constexpr int kFileBegin = 0, kFileCurrent = 1, kFileEnd = 2;

// True for "/...", "X:\..." and "\\..." names.
bool IsAbsolutePath(std::string_view cp932);
// The native (UTF-8, '/') form of a name; a drive prefix is dropped.
std::string NativePath(std::string_view cp932);
// The native path of an existing file or folder, matching each part of the
// name without regard to letter case; empty when there is none.
std::string ResolveExisting(std::string_view cp932);

FileHandle FileOpen(std::string_view cp932, uint32_t access, uint32_t creation);
// Reads up to n bytes; false on an error. *got is what was read.
bool FileRead(FileHandle f, void* buf, size_t n, size_t* got);
bool FileWrite(FileHandle f, const void* buf, size_t n);
// Like lseek; -1 on an error.
int64_t FileSeek(FileHandle f, int64_t distance, int method);
int64_t FileSize(FileHandle f);
void FileClose(FileHandle f);
// Reads exactly n bytes at offset; false when the file is shorter.
bool FileReadAt(FileHandle f, uint64_t offset, void* buf, size_t n);

bool PathExists(std::string_view cp932);
bool IsDirectory(std::string_view cp932);

}  // namespace plat

namespace plat {

// Reads a whole file (at most max_size bytes); false when it cannot be read.
bool ReadWholeFile(std::string_view cp932, std::vector<uint8_t>* out, size_t max_size = size_t(1) << 30);
// Writes a file so that it is either wholly new or untouched: the bytes go
// to a temporary file beside it, are flushed to disk, and the temporary file
// is renamed over the old one. False, with the old file kept, on any error
// (errno then says why).
bool WriteFileAtomic(std::string_view cp932, const void* data, size_t size);

// Moves a file out of the way under its own name plus `suffix` (then
// "-2", "-3", ... when that is taken), never replacing any file; the new
// native path goes to *kept. False (errno says why) when it stays where it is.
bool FileSetAside(std::string_view cp932, std::string_view suffix, std::string* kept);

}  // namespace plat
