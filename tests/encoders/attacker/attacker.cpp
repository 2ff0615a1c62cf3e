// Preloaded into an encoder, this stands in for a decoder that a crafted file
// has taken over: at the first packet it tries what an exploit would, from
// inside the conversion, prints one line per attempt to standard error
// ("attack: <what>: refused: <why>" or "attack: <what>: done"), then decodes
// as usual. Where to aim comes from the environment the test sets.
#include <arpa/inet.h>
#include <dlfcn.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>

extern char** environ;

namespace {

void report(const char* what, int result) {
  if (result == 0)
    std::fprintf(stderr, "attack: %s: done\n", what);
  else
    std::fprintf(stderr, "attack: %s: refused: %s\n", what, std::strerror(result));
  std::fflush(stderr);
}

std::string env(const char* name) {
  const char* v = std::getenv(name);
  return v ? v : "";
}

int readFile(const std::string& path) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return errno;
  char byte = 0;
  const ssize_t n = ::read(fd, &byte, 1);
  const int err = n == 1 ? 0 : errno ? errno : EIO;
  ::close(fd);
  return err;
}

int writeFile(const std::string& path) {
  const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
  if (fd < 0) return errno;
  const ssize_t n = ::write(fd, "x", 1);
  ::close(fd);
  return n == 1 ? 0 : EIO;
}

int connectTcp(int port) {
  const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return errno;
  sockaddr_in to{};
  to.sin_family = AF_INET;
  to.sin_port = htons(static_cast<uint16_t>(port));
  to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  const int err = ::connect(fd, reinterpret_cast<sockaddr*>(&to), sizeof to) == 0 ? 0 : errno;
  ::close(fd);
  return err;
}

int connectUnix(const std::string& path) {
  const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return errno;
  sockaddr_un to{};
  to.sun_family = AF_UNIX;
  std::snprintf(to.sun_path, sizeof to.sun_path, "%s", path.c_str());
  const int err = ::connect(fd, reinterpret_cast<sockaddr*>(&to), sizeof to) == 0 ? 0 : errno;
  ::close(fd);
  return err;
}

int runProgram(const std::string& path) {
  pid_t pid = 0;
  char* argv[] = {const_cast<char*>(path.c_str()), nullptr};
  const int err = ::posix_spawn(&pid, path.c_str(), nullptr, nullptr, argv, environ);
  if (err) return err;
  int status = 0;
  while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
  // The program ran only when it could say so.
  return WIFEXITED(status) && WEXITSTATUS(status) == 0 ? 0 : ECHILD;
}

void attack() {
  const std::string home = env("HOME"), beside = env("VANTREL_ATTACK_BESIDE");
  report("read-ssh-key", readFile(home + "/.ssh/id_ed25519"));
  report("write-home", writeFile(home + "/.bashrc"));
  if (!beside.empty()) report("write-beside-source", writeFile(beside + "/planted.txt"));
  if (!env("VANTREL_ATTACK_PORT").empty()) report("connect-tcp", connectTcp(std::atoi(env("VANTREL_ATTACK_PORT").c_str())));
  if (!env("VANTREL_ATTACK_UNIX").empty()) report("connect-unix", connectUnix(env("VANTREL_ATTACK_UNIX")));
  if (!env("VANTREL_ATTACK_PROGRAM").empty()) report("run-program", runProgram(env("VANTREL_ATTACK_PROGRAM")));
  // A thread started now, as a decoder's own.
  int fromThread = 0;
  std::thread t([&] { fromThread = readFile(home + "/.ssh/id_ed25519"); });
  t.join();
  report("read-ssh-key-thread", fromThread);
}

}  // namespace

extern "C" int avcodec_send_packet(void* context, const void* packet) {
  using Real = int (*)(void*, const void*);
  static const Real real = reinterpret_cast<Real>(::dlsym(RTLD_NEXT, "avcodec_send_packet"));
  static std::atomic<bool> once{false};
  if (!once.exchange(true)) attack();
  return real(context, packet);
}
