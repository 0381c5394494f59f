#include "platform/core/file.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <vector>

#include "platform/core/clock.h"
#include "platform/core/text_encoding.h"
#include "platform/core/wall_clock.h"

namespace plat {

namespace {

// Byte-wise a-z folding, the same fold the engine applies to names.
std::string Fold(std::string_view s) {
  std::string out(s);
  for (char& c : out)
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  return out;
}

// Splits a Shift-JIS name at its separators ('\' or '/', never a trail byte).
std::vector<std::string> SplitCp932(std::string_view s) {
  std::vector<std::string> parts;
  std::string cur;
  for (size_t i = 0; i < s.size(); ++i) {
    unsigned char c = static_cast<unsigned char>(s[i]);
    if (IsSjisLead(c) && i + 1 < s.size()) {
      cur += s[i];
      cur += s[i + 1];
      ++i;
      continue;
    }
    if (c == '\\' || c == '/') {
      parts.push_back(cur);
      cur.clear();
      continue;
    }
    cur += s[i];
  }
  parts.push_back(cur);
  return parts;
}

// Parts of the name with the absolute prefix removed; sets *absolute.
std::vector<std::string> PartsOf(std::string_view cp932, bool* absolute) {
  *absolute = IsAbsolutePath(cp932);
  std::string_view rest = cp932;
  if (rest.size() >= 3 && rest[1] == ':' && rest[2] == '\\') rest.remove_prefix(2);
  std::vector<std::string> parts = SplitCp932(rest);
  std::vector<std::string> kept;
  for (auto& p : parts)
    if (!p.empty() && p != ".") kept.push_back(p);
  return kept;
}

bool Exists(const std::string& native) {
  struct stat st;
  return ::stat(native.c_str(), &st) == 0;
}

}  // namespace

bool IsAbsolutePath(std::string_view s) {
  if (!s.empty() && s[0] == '/') return true;
  if (s.size() >= 3 && s[1] == ':' && s[2] == '\\') return true;
  if (s.size() >= 2 && s[0] == '\\' && s[1] == '\\') return true;
  return false;
}

std::string NativePath(std::string_view cp932) {
  bool absolute;
  std::vector<std::string> parts = PartsOf(cp932, &absolute);
  std::string out = absolute ? "/" : "";
  for (size_t i = 0; i < parts.size(); ++i) {
    if (i) out += '/';
    out += Cp932ToUtf8(parts[i]);
  }
  return out.empty() ? "." : out;
}

std::string ResolveExisting(std::string_view cp932) {
  std::string direct = NativePath(cp932);
  if (Exists(direct)) return direct;
  bool absolute;
  std::vector<std::string> parts = PartsOf(cp932, &absolute);
  std::string cur = absolute ? "/" : ".";
  for (const std::string& part : parts) {
    std::string next = (cur == "/" ? "/" : cur + "/") + Cp932ToUtf8(part);
    if (part == "..") {
      cur = next;
      continue;
    }
    if (!Exists(next)) {
      DIR* d = ::opendir(cur.c_str());
      if (!d) return std::string();
      std::string want = Fold(part);
      std::string found;
      while (dirent* e = ::readdir(d)) {
        if (Fold(Utf8ToCp932(e->d_name)) == want) {
          found = e->d_name;
          break;
        }
      }
      ::closedir(d);
      if (found.empty()) return std::string();
      next = (cur == "/" ? "/" : cur + "/") + found;
    }
    cur = next;
  }
  if (!absolute && cur.rfind("./", 0) == 0) cur = cur.substr(2);
  return cur;
}

FileHandle FileOpen(std::string_view cp932, uint32_t access, uint32_t creation) {
  int flags = O_CLOEXEC;
  bool read = access & kGenericRead, write = access & kGenericWrite;
  flags |= (read && write) ? O_RDWR : write ? O_WRONLY : O_RDONLY;
  switch (creation) {
    case kCreateNew: flags |= O_CREAT | O_EXCL; break;
    case kCreateAlways: flags |= O_CREAT | O_TRUNC; break;
    case kOpenAlways: flags |= O_CREAT; break;
    case kTruncateExisting: flags |= O_TRUNC; break;
    default: break;
  }
  std::string path = ResolveExisting(cp932);
  if (path.empty()) {
    if (!(flags & O_CREAT)) return kInvalidFile;
    path = NativePath(cp932);
  } else if (creation == kCreateNew) {
    return kInvalidFile;
  }
  struct stat st;
  if (::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) return kInvalidFile;
  int fd = ::open(path.c_str(), flags, 0644);
  return fd < 0 ? kInvalidFile : fd;
}

bool FileRead(FileHandle f, void* buf, size_t n, size_t* got) {
  size_t done = 0;
  auto* p = static_cast<char*>(buf);
  while (done < n) {
    ssize_t r = ::read(static_cast<int>(f), p + done, n - done);
    if (r < 0) {
      if (errno == EINTR) continue;
      if (got) *got = done;
      return false;
    }
    if (r == 0) break;
    done += static_cast<size_t>(r);
  }
  if (got) *got = done;
  return true;
}

bool FileWrite(FileHandle f, const void* buf, size_t n) {
  size_t done = 0;
  auto* p = static_cast<const char*>(buf);
  while (done < n) {
    ssize_t w = ::write(static_cast<int>(f), p + done, n - done);
    if (w < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    done += static_cast<size_t>(w);
  }
  return true;
}

int64_t FileSeek(FileHandle f, int64_t distance, int method) {
  int whence = method == kFileCurrent ? SEEK_CUR : method == kFileEnd ? SEEK_END : SEEK_SET;
  return ::lseek(static_cast<int>(f), distance, whence);
}

int64_t FileSize(FileHandle f) {
  struct stat st;
  if (::fstat(static_cast<int>(f), &st) != 0) return -1;
  return st.st_size;
}

void FileClose(FileHandle f) {
  if (f != kInvalidFile) ::close(static_cast<int>(f));
}

bool FileReadAt(FileHandle f, uint64_t offset, void* buf, size_t n) {
  size_t done = 0;
  auto* p = static_cast<char*>(buf);
  while (done < n) {
    ssize_t r = ::pread(static_cast<int>(f), p + done, n - done, static_cast<off_t>(offset + done));
    if (r < 0 && errno == EINTR) continue;
    if (r <= 0) return false;
    done += static_cast<size_t>(r);
  }
  return true;
}

bool PathExists(std::string_view cp932) { return !ResolveExisting(cp932).empty(); }

bool IsDirectory(std::string_view cp932) {
  std::string p = ResolveExisting(cp932);
  struct stat st;
  return !p.empty() && ::stat(p.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

}  // namespace plat

namespace plat {

bool ReadWholeFile(std::string_view cp932, std::vector<uint8_t>* out, size_t max_size) {
  FileHandle f = FileOpen(cp932, kGenericRead, kOpenExisting);
  if (f == kInvalidFile) return false;
  int64_t size = FileSize(f);
  if (size < 0 || static_cast<uint64_t>(size) > max_size) {
    FileClose(f);
    return false;
  }
  out->resize(static_cast<size_t>(size));
  size_t got = 0;
  bool ok = FileRead(f, out->data(), out->size(), &got) && got == out->size();
  FileClose(f);
  return ok;
}

bool WriteFileAtomic(std::string_view cp932, const void* data, size_t size) {
  std::string target = ResolveExisting(cp932);
  if (target.empty()) target = NativePath(cp932);
  std::string temp = target + ".tmp";
  int fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (fd < 0) return false;
  bool ok = FileWrite(fd, data, size) && ::fsync(fd) == 0;
  if (ok && FrameClockOn()) {
    // A scripted run's files carry its own clock's time, so what a game
    // shows of them (a save's date) is the same in every run.
    const timespec when[2] = {{static_cast<time_t>(WallClockSeconds()), 0}, {static_cast<time_t>(WallClockSeconds()), 0}};
    ::futimens(fd, when);
  }
  ok = (::close(fd) == 0) && ok;
  if (ok) ok = ::rename(temp.c_str(), target.c_str()) == 0;
  if (!ok) {
    const int why = errno;  // the failed step's reason, for the caller to show
    ::unlink(temp.c_str());
    errno = why;
  }
  return ok;
}

bool FileSetAside(std::string_view cp932, std::string_view suffix, std::string* kept) {
  std::string from = ResolveExisting(cp932);
  if (from.empty()) return false;
  for (int n = 1; n < 1000; ++n) {
    std::string to = from + std::string(suffix);
    if (n > 1) to += "-" + std::to_string(n);
    // A hard link never replaces a file that is there; the old name goes
    // only once the new one holds the bytes.
    if (::link(from.c_str(), to.c_str()) == 0) {
      if (::unlink(from.c_str()) != 0) {
        const int why = errno;
        ::unlink(to.c_str());
        errno = why;
        return false;
      }
      if (kept) *kept = to;
      return true;
    }
    if (errno == EEXIST) continue;
    // A file system without hard links: a name nothing holds yet.
    struct stat st;
    if (::lstat(to.c_str(), &st) == 0) continue;
    if (::rename(from.c_str(), to.c_str()) != 0) return false;
    if (kept) *kept = to;
    return true;
  }
  errno = EEXIST;
  return false;
}

}  // namespace plat
