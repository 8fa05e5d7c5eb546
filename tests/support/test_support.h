// Small helpers shared by the test suites: scratch folders, files and running programs.
#pragma once

#include <string>
#include <vector>

namespace ks::test {

// A fresh folder under the system's temporary folder, removed when the object goes.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  const std::string& path() const { return path_; }
  // path() + "/" + rel
  std::string operator/(const std::string& rel) const { return path_ + "/" + rel; }

 private:
  std::string path_;
};

// Writes bytes to a file, creating the folders along the path.
void write_file(const std::string& path, const std::string& bytes);
// The whole file, or an empty string when it cannot be read.
std::string read_file(const std::string& path);
bool file_exists(const std::string& path);

// Points the file system at a home and a data folder (and forgets the index and log).
void use_roots(const std::string& home, const std::string& data);

struct RunResult {
  int status = -1;  // exit status, or -1 when the program did not exit normally
  std::string out;  // standard output
  std::string err;  // standard error
};
// Runs a program with arguments; `env` entries are "NAME=value" added to the environment.
RunResult run_program(const std::string& program, const std::vector<std::string>& args,
                      const std::vector<std::string>& env = {});

// The generated default data tree and the folder of the built programs.
std::string data_dir();
std::string bin_dir();

}  // namespace ks::test
