// pac_write FOLDER OUT.pac: packs every regular file of FOLDER (not its
// subfolders) into an archive, member names in Shift-JIS.
#include <dirent.h>
#include <sys/stat.h>

#include <cstdio>
#include <fstream>
#include <iterator>

#include "pac_writer.h"
#include "platform/core/text_encoding.h"

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: pac_write FOLDER OUT.pac\n");
    return 2;
  }
  std::vector<kivtools::PacInput> members;
  DIR* d = opendir(argv[1]);
  if (!d) {
    std::fprintf(stderr, "pac_write: cannot read %s\n", argv[1]);
    return 1;
  }
  while (dirent* e = readdir(d)) {
    std::string path = std::string(argv[1]) + "/" + e->d_name;
    struct stat st;
    if (stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) continue;
    std::ifstream f(path, std::ios::binary);
    members.push_back({plat::Utf8ToCp932(e->d_name),
                       std::vector<uint8_t>(std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>())});
  }
  closedir(d);
  std::string error;
  if (!kivtools::WritePac(argv[2], members, &error)) {
    std::fprintf(stderr, "pac_write: %s\n", error.c_str());
    return 1;
  }
  return 0;
}
