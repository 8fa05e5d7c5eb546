#include "support/test_support.h"

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "fs/vfs.h"
#include "platform/vant.h"

extern char** environ;

namespace ks::test {

namespace fsys = std::filesystem;

TempDir::TempDir() {
  std::string tmpl = (fsys::temp_directory_path() / "kessra-test-XXXXXX").string();
  if (mkdtemp(tmpl.data()) == nullptr) std::abort();
  path_ = tmpl;
}

TempDir::~TempDir() {
  std::error_code ec;
  fsys::remove_all(path_, ec);
}

void write_file(const std::string& path, const std::string& bytes) {
  fsys::create_directories(fsys::path(path).parent_path());
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

std::string read_file(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream ss;
  ss << in.rdbuf();
  return ss.str();
}

bool file_exists(const std::string& path) { return fsys::exists(path); }

void use_roots(const std::string& home, const std::string& data) {
  vant_log(nullptr);
  ks::vfs_set_roots(home, data);
}

namespace {
std::string slurp_fd(int fd) {
  std::string s;
  char buf[4096];
  for (;;) {
    ssize_t n = read(fd, buf, sizeof buf);
    if (n <= 0) break;
    s.append(buf, static_cast<size_t>(n));
  }
  return s;
}
}  // namespace

RunResult run_program(const std::string& program, const std::vector<std::string>& args,
                      const std::vector<std::string>& env) {
  RunResult r;
  char out_tmpl[] = "/tmp/kessra-out-XXXXXX";
  char err_tmpl[] = "/tmp/kessra-err-XXXXXX";
  int out_fd = mkstemp(out_tmpl);
  int err_fd = mkstemp(err_tmpl);
  if (out_fd < 0 || err_fd < 0) return r;
  pid_t pid = fork();
  if (pid == 0) {
    dup2(out_fd, 1);
    dup2(err_fd, 2);
    int null_fd = open("/dev/null", O_RDONLY);
    if (null_fd >= 0) dup2(null_fd, 0);
    for (const auto& e : env) putenv(strdup(e.c_str()));
    std::vector<char*> argv;
    argv.push_back(const_cast<char*>(program.c_str()));
    for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    execve(program.c_str(), argv.data(), environ);
    _exit(127);
  }
  int status = 0;
  waitpid(pid, &status, 0);
  r.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  lseek(out_fd, 0, SEEK_SET);
  lseek(err_fd, 0, SEEK_SET);
  r.out = slurp_fd(out_fd);
  r.err = slurp_fd(err_fd);
  close(out_fd);
  close(err_fd);
  unlink(out_tmpl);
  unlink(err_tmpl);
  return r;
}

std::string data_dir() {
  const char* d = std::getenv("KS_TEST_DATA");
  return d ? d : KS_DATA_DIR;
}

std::string bin_dir() {
  const char* d = std::getenv("KS_BIN_DIR");
  return d ? d : KS_BIN_DIR;
}

}  // namespace ks::test
