// File-index figures: building the index over 10 000 files packed in 5 archives, and
// opening (and closing) a random archived name through "@".
#include <benchmark/benchmark.h>
#include <stdlib.h>
#include <sys/stat.h>

#include <cstdio>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include "fs/vfs.h"

namespace {

constexpr int kArchives = 5;
constexpr int kFilesPerArchive = 2000;

struct Tree {
  std::string root;
  std::vector<std::string> names;  // "@" names of the packed files

  Tree() {
    char tmpl[] = "/tmp/kessra-bench-vfs-XXXXXX";
    const char* made = mkdtemp(tmpl);
    root = made != nullptr ? made : "/tmp/kessra-bench-vfs";
    ::mkdir((root + "/home").c_str(), 0777);
    ::mkdir((root + "/data").c_str(), 0777);
    for (int a = 0; a < kArchives; ++a) {
      std::string header;
      std::string body;
      for (int i = 0; i < kFilesPerArchive; ++i) {
        char name[64];
        std::snprintf(name, sizeof name, "tracks/t%02d/file%05d.txt", a * 10 + i % 10, i);
        std::string bytes = "contents of " + std::string(name) + "\n";
        header += std::to_string(bytes.size()) + " " + name + "\n";
        body += bytes;
        names.push_back(std::string("@") + name);
      }
      std::string path = root + "/data/pack" + std::to_string(a) + ".saf";
      FILE* f = std::fopen(path.c_str(), "wb");
      if (f == nullptr) continue;
      std::string all = header + "-\n" + body;
      std::fwrite(all.data(), 1, all.size(), f);
      std::fclose(f);
    }
  }
  ~Tree() {
    std::error_code ec;
    std::filesystem::remove_all(root, ec);
  }
};

Tree& tree() {
  static Tree t;
  return t;
}

void BM_IndexBuild(benchmark::State& state) {
  Tree& t = tree();
  for (auto _ : state) {
    ks::vfs_set_roots(t.root + "/home", t.root + "/data");
    benchmark::DoNotOptimize(ks::build_index().size());
  }
  state.counters["entries"] = static_cast<double>(ks::vfs_index_entry_count());
  ks::free_roots_and_index();
}
BENCHMARK(BM_IndexBuild)->Unit(benchmark::kMillisecond);

void BM_AtOpen(benchmark::State& state) {
  Tree& t = tree();
  ks::vfs_set_roots(t.root + "/home", t.root + "/data");
  ks::build_index();
  std::mt19937 rng(12345);
  std::uniform_int_distribution<size_t> pick(0, t.names.size() - 1);
  size_t opened = 0;
  for (auto _ : state) {
    ks::VfsFile* f = ks::vfs_open(t.names[pick(rng)].c_str(), "rb");
    opened += f != nullptr;
    ks::vfs_close(f);
  }
  if (opened != static_cast<size_t>(state.iterations())) state.SkipWithError("a name did not open");
  ks::free_roots_and_index();
}
BENCHMARK(BM_AtOpen)->Unit(benchmark::kMicrosecond);

}  // namespace
