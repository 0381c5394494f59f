// Writes seed files for the script and game-data fuzz targets, made by our
// own script assembler and the game's own writers:
//   fuzz_script_seeds <folder> [source.kas ...]
//   ->  <folder>/{script_src,file_dat,text_dat,text_dat_scrambled,point_dat,
//                 mem_dat,graphic_dat,archive_dat,system_dat,config_dat,vm_run}/seed_NN
#include <sys/stat.h>

#include <cstdio>
#include <map>
#include <string>
#include <vector>

#include "data/config_dat.h"
#include "data/system_dat.h"
#include "game_fuzz_support.h"

namespace {

using Bytes = std::vector<uint8_t>;

// Snippets beside the base source: scrambled tables, loops, frames,
// return points and the stack, so the machine target starts from code
// that goes somewhere.
const char* const kSnippets[] = {
    R"(.scramble all
.file "A", "B"
.graphic "A" priority=1
.table t 5, 6
start:
    mov r1, 0
loop:
    add r1, 1
    lt r2, r1
    push r1
    pop r3
    jz @loop, r2
    call text none, "名前", "本文です。", 0
    end
)",
    R"(.entry main
.table a 1, 2, 3
f:
    frame_push 2
    mov r5, f[1]
    add r5, f[2]
    frame_release 2
    ret
main:
    push 4
    push 5
    gosub @f
    mov t[r1 + 2], r5
    mov u[r1], s[r2]
    mov r6, mt[a][r1]
    call random 1, 6 -> r3
    call string.end
    reset
)",
    R"(.archive "data1|data2"
.archive " x , y "
start:
    mov r1, 0x7FFFFFFF
    call sp_set str1, 0, 1, 0
    jmp @start
)",
};

struct Writer {
  std::string root;
  std::map<std::string, int> next;
  void Save(const std::string& target, const Bytes& data) {
    const std::string dir = root + "/" + target;
    mkdir(dir.c_str(), 0755);
    char name[32];
    std::snprintf(name, sizeof name, "/seed_%02d", next[target]++);
    FILE* f = std::fopen((dir + name).c_str(), "wb");
    if (!f) return;
    if (!data.empty()) std::fwrite(data.data(), 1, data.size(), f);
    std::fclose(f);
  }
};

void Le32(Bytes* b, uint32_t v) {
  for (int i = 0; i < 4; ++i) b->push_back(static_cast<uint8_t>(v >> (8 * i)));
}

void SaveOutput(Writer& w, const kasm::Output& o) {
  w.Save("script_src", o.script);
  w.Save("file_dat", o.file);
  w.Save("text_dat", o.text);
  w.Save("point_dat", o.point);
  w.Save("mem_dat", o.mem);
  w.Save("graphic_dat", o.graphic);
  if (o.hasArchive) w.Save("archive_dat", Bytes(o.archive.begin(), o.archive.end()));
  // The scrambled-text target takes the plain file and scrambles it itself.
  if (o.text.size() >= kTableHeaderBytes && o.text[0] != kScrambledMark) w.Save("text_dat_scrambled", o.text);
  Bytes vm;
  Le32(&vm, static_cast<uint32_t>(o.script.size()));
  Le32(&vm, static_cast<uint32_t>(o.point.size()));
  vm.insert(vm.end(), o.script.begin(), o.script.end());
  vm.insert(vm.end(), o.point.begin(), o.point.end());
  vm.insert(vm.end(), o.mem.begin(), o.mem.end());
  w.Save("vm_run", vm);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: fuzz_script_seeds <folder> [source.kas ...]\n");
    return 2;
  }
  Writer w{argv[1], {}};
  mkdir(w.root.c_str(), 0755);
  SaveOutput(w, fuzzgame::BaseOutput());
  for (const char* src : kSnippets) {
    kasm::Output o;
    std::string error;
    if (!kasm::Assemble(src, "seed.kas", &o, &error)) {
      std::fprintf(stderr, "%s\n", error.c_str());
      return 1;
    }
    SaveOutput(w, o);
  }
  for (int i = 2; i < argc; ++i) {
    kasm::Output o;
    std::string error;
    if (!kasm::AssembleFile(argv[i], &o, &error)) {
      std::fprintf(stderr, "%s\n", error.c_str());
      return 1;
    }
    SaveOutput(w, o);
  }

  // system.dat: as the game writes it, one small and one of the sizes a
  // new file has.
  for (uint32_t text : {4u, kTextReadFlagsCreated}) {
    auto g = std::make_unique<GameRecord>();
    g->system.word[kSysScriptStamp] = 7;
    g->systemVariables[3] = -5;
    g->textReadFlags = static_cast<uint8_t*>(KivMemoryAlloc(static_cast<int>(text), 1));
    g->textReadFlagsSize = text;
    g->textReadFlags[text - 1] = 0x81;
    g->imageSeenFlags = static_cast<uint8_t*>(KivMemoryAlloc(2, 1));
    g->imageSeenFlagsSize = 2;
    g->imageSeenFlags[0] = 0x0C;
    w.Save("system_dat", system_dat_bytes(*g));
    system_dat_release(g.get());
  }

  // config.dat: the game's own, and one cut short.
  KivSystemParameters p{};
  p.x = 10;
  p.y = -20;
  p.clientWidth = 1280;
  p.clientHeight = 720;
  p.mode = 0x441B;
  p.aspect = 1;
  p.pacing = 2;
  uint8_t out[32];
  config_bytes(p, out);
  w.Save("config_dat", Bytes(out, out + 32));
  w.Save("config_dat", Bytes(out, out + 13));
  return 0;
}
