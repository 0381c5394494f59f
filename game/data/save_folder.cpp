#include "data/save_folder.h"

#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/core/file.h"
#include "start/program_identity.h"

int folder_files_delete() {
  std::string folder = plat::ResolveExisting(program_identity().saveFolder);
  DIR* d = folder.empty() ? nullptr : ::opendir(folder.c_str());
  if (!d) return 0;
  bool ok = true;
  while (dirent* e = ::readdir(d)) {
    std::string name = e->d_name;
    if (name == "." || name == ".." || name.size() < 4) continue;
    if (name.compare(name.size() - 4, 4, ".dat") != 0) continue;
    std::string full = folder + "/" + name;
    struct stat st;
    if (::lstat(full.c_str(), &st) != 0 || S_ISDIR(st.st_mode)) continue;
    if (::unlink(full.c_str()) != 0) ok = false;
  }
  ::closedir(d);
  return ok ? 1 : 0;
}

std::string save_path(const char* name) { return program_identity().saveFolder + "\\" + name; }
