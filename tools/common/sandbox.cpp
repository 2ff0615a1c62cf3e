#include "common/sandbox.h"

#include <cstring>

#include <QDir>
#include <QFile>
#include <QFileInfo>

#ifdef __linux__
#include <fcntl.h>
#include <linux/sched.h>
#include <sched.h>
#include <seccomp.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#endif

namespace toolkit::sandbox {

#ifdef __linux__
namespace {

// The kernel's Landlock interface, spelled out here: the system's headers
// may be older than the kernel the tool runs on.
#ifndef SYS_landlock_create_ruleset
#define SYS_landlock_create_ruleset 444
#define SYS_landlock_add_rule 445
#define SYS_landlock_restrict_self 446
#endif
constexpr uint32_t kCreateRulesetVersion = 1U << 0;
constexpr int kRulePathBeneath = 1, kRuleNetPort = 2;

namespace fs {
constexpr uint64_t Execute = 1ULL << 0, WriteFile = 1ULL << 1, ReadFile = 1ULL << 2, ReadDir = 1ULL << 3,
                   RemoveDir = 1ULL << 4, RemoveFile = 1ULL << 5, MakeChar = 1ULL << 6, MakeDir = 1ULL << 7,
                   MakeReg = 1ULL << 8, MakeSock = 1ULL << 9, MakeFifo = 1ULL << 10, MakeBlock = 1ULL << 11,
                   MakeSym = 1ULL << 12, Refer = 1ULL << 13, Truncate = 1ULL << 14, IoctlDev = 1ULL << 15;
}
constexpr uint64_t kFileRights = fs::Execute | fs::WriteFile | fs::ReadFile | fs::Truncate | fs::IoctlDev;
constexpr uint64_t kNetBindTcp = 1ULL << 0, kNetConnectTcp = 1ULL << 1;
constexpr uint64_t kScopeAbstractUnix = 1ULL << 0, kScopeSignal = 1ULL << 1;

struct RulesetAttr {
  uint64_t handledFs = 0;
  uint64_t handledNet = 0;  // version 4 on
  uint64_t scoped = 0;      // version 6 on
};
struct __attribute__((packed)) PathBeneathAttr {
  uint64_t allowed;
  int32_t parentFd;
};

class Descriptor {
 public:
  explicit Descriptor(int fd) : fd_(fd) {}
  ~Descriptor() {
    if (fd_ >= 0) ::close(fd_);
  }
  Descriptor(const Descriptor&) = delete;
  Descriptor& operator=(const Descriptor&) = delete;
  int get() const { return fd_; }

 private:
  int fd_;
};

// Everything a version of Landlock can refuse on files.
uint64_t handledFs(int version) {
  uint64_t all = (fs::MakeSym << 1) - 1;
  if (version >= 2) all |= fs::Refer;
  if (version >= 3) all |= fs::Truncate;
  if (version >= 5) all |= fs::IoctlDev;
  return all;
}

// Allows `access` at and under `path`; a path that does not exist is left
// out. Rights that only fit folders are dropped for a file.
bool allow(int ruleset, const QString& path, uint64_t access) {
  const Descriptor fd(::open(QFile::encodeName(path).constData(), O_PATH | O_CLOEXEC));
  if (fd.get() < 0) return errno == ENOENT || errno == ENOTDIR;
  if (!QFileInfo(path).isDir()) access &= kFileRights;
  PathBeneathAttr rule{access, fd.get()};
  return ::syscall(SYS_landlock_add_rule, ruleset, kRulePathBeneath, &rule, 0) == 0;
}

// Allows `access` on the very file open as `fd`, whatever its name.
bool allowOpen(int ruleset, int fd, uint64_t access) {
  PathBeneathAttr rule{access & kFileRights, fd};
  return ::syscall(SYS_landlock_add_rule, ruleset, kRulePathBeneath, &rule, 0) == 0;
}

// A sanitized build checks for leaks at exit from a thread that reads
// /proc and stops the others with ptrace; it keeps both.
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
constexpr bool kSanitized = true;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer) || __has_feature(memory_sanitizer)
constexpr bool kSanitized = true;
#else
constexpr bool kSanitized = false;
#endif
#else
constexpr bool kSanitized = false;
#endif

// Landlock at `version`; false when the kernel would not have it.
bool applyLandlock(const Reach& reach, int version) {
  if (version <= 0) return false;
  RulesetAttr attr;
  attr.handledFs = handledFs(version);
  size_t size = sizeof attr.handledFs;
  if (version >= 4) {
    // No rule allows any port: no TCP connection and no TCP listener.
    attr.handledNet = kNetBindTcp | kNetConnectTcp;
    size = offsetof(RulesetAttr, scoped);
  }
  if (version >= 6) {
    // No signals to processes outside, no abstract sockets (X11, D-Bus).
    attr.scoped = kScopeAbstractUnix | kScopeSignal;
    size = sizeof attr;
  }
  const Descriptor ruleset(int(::syscall(SYS_landlock_create_ruleset, &attr, size, 0)));
  if (ruleset.get() < 0) return false;

  // No folder is writable, and only the system's are readable: the libraries
  // and the few settings they read. The files of the conversion are allowed
  // one by one, by what is open rather than by name.
  const uint64_t read = fs::ReadFile | fs::ReadDir;
  bool ok = true;
  for (const char* system : {"/usr", "/lib", "/lib32", "/lib64", "/libx32", "/sys/devices/system/cpu"})
    ok = ok && allow(ruleset.get(), QString::fromLatin1(system), read);
  for (const char* setting : {"/etc/ld.so.cache", "/etc/localtime"})
    ok = ok && allow(ruleset.get(), QString::fromLatin1(setting), fs::ReadFile);
  ok = ok && allow(ruleset.get(), QStringLiteral("/dev/null"), fs::ReadFile | fs::WriteFile);
  ok = ok && allow(ruleset.get(), QStringLiteral("/dev/urandom"), fs::ReadFile);
  if (kSanitized) ok = ok && allow(ruleset.get(), QStringLiteral("/proc"), read);
  const QStringList readable = QStringList(reach.parts) << reach.source;
  for (const QString& file : readable) {
    if (file.isEmpty()) continue;
    const Descriptor fd(::open(QFile::encodeName(file).constData(), O_PATH | O_CLOEXEC));
    // A file that cannot be opened now cannot be read later either.
    if (fd.get() >= 0) ok = ok && allowOpen(ruleset.get(), fd.get(), fs::ReadFile);
  }
  if (reach.outputFd >= 0)
    ok = ok && allowOpen(ruleset.get(), reach.outputFd, (fs::ReadFile | fs::WriteFile | fs::Truncate) & handledFs(version));
  return ok && ::syscall(SYS_landlock_restrict_self, ruleset.get(), 0) == 0;
}

// The system calls a conversion makes, and nothing else: FFmpeg's readers,
// decoders, filters, encoders and writers, the AMR thread, the C and C++
// libraries and Qt's file and text classes. Whatever else a taken-over
// decoder tries fails with EPERM: files by name beyond what is already
// open, new processes, sockets of any kind, watching the file system,
// other processes, the kernel's own facilities.
constexpr const char* kAllowed[] = {
    // memory
    "brk", "mmap", "munmap", "mremap", "mprotect", "madvise", "msync", "mincore",
    // files that are open or that Landlock lets it open
    "read", "write", "readv", "writev", "pread64", "pwrite64", "preadv", "pwritev", "preadv2", "pwritev2",
    "lseek", "close", "close_range", "dup", "dup2", "dup3", "fcntl", "ftruncate", "fsync", "fdatasync",
    "fadvise64", "fallocate", "open", "openat", "openat2", "stat", "fstat", "lstat", "newfstatat", "statx",
    "statfs", "fstatfs", "access", "faccessat", "faccessat2", "readlink", "readlinkat", "getcwd",
    "getdents64", "pipe", "pipe2", "poll", "ppoll", "select", "pselect6", "eventfd2",
    // threads and time
    "futex", "futex_waitv", "set_robust_list", "get_robust_list", "set_tid_address", "rseq", "membarrier",
    "sched_yield", "sched_getcpu", "getcpu", "nanosleep", "clock_nanosleep", "clock_gettime", "clock_getres",
    "gettimeofday", "time", "alarm", "setitimer", "getitimer", "exit", "exit_group", "arch_prctl",
    // signals of its own
    "rt_sigaction", "rt_sigprocmask", "rt_sigreturn", "rt_sigpending", "rt_sigtimedwait", "rt_sigsuspend",
    "sigaltstack", "restart_syscall", "pause",
    // what it is
    "getpid", "gettid", "getppid", "getuid", "geteuid", "getgid", "getegid", "getresuid", "getresgid",
    "getgroups", "uname", "sysinfo", "getrusage", "times", "getrandom", "umask",
};

// seccomp on every thread of the process; false when the kernel has none.
bool applySeccomp() {
  // A sanitized build (the tests' own) checks for leaks at exit with calls a
  // conversion never makes; it keeps the argument rules only.
  scmp_filter_ctx ctx = seccomp_init(kSanitized ? SCMP_ACT_ALLOW : SCMP_ACT_ERRNO(EPERM));
  if (!ctx) return false;
  bool ok = seccomp_attr_set(ctx, SCMP_FLTATR_CTL_TSYNC, 1) == 0;
  const auto add = [&](int nr, std::initializer_list<scmp_arg_cmp> args = {}) {
    if (kSanitized || nr == __NR_SCMP_ERROR || nr < 0) return;
    ok = ok && seccomp_rule_add_array(ctx, SCMP_ACT_ALLOW, nr, unsigned(args.size()), args.begin()) == 0;
  };
  for (const char* name : kAllowed) add(seccomp_syscall_resolve_name(name));

  // Itself alone among processes: signals to its own threads, limits,
  // priority and scheduling of its own (0 names the caller).
  const auto self = scmp_datum_t(::getpid());
  add(SCMP_SYS(kill), {SCMP_A0(SCMP_CMP_EQ, self)});
  add(SCMP_SYS(tgkill), {SCMP_A0(SCMP_CMP_EQ, self)});
  add(SCMP_SYS(rt_tgsigqueueinfo), {SCMP_A0(SCMP_CMP_EQ, self)});
  add(SCMP_SYS(prlimit64), {SCMP_A0(SCMP_CMP_EQ, 0)});
  add(SCMP_SYS(prlimit64), {SCMP_A0(SCMP_CMP_EQ, self)});
  add(seccomp_syscall_resolve_name("getrlimit"));
  for (const int call : {SCMP_SYS(sched_getaffinity), SCMP_SYS(sched_setaffinity), SCMP_SYS(sched_getparam),
                         SCMP_SYS(sched_getscheduler), SCMP_SYS(sched_getattr)})
    add(call, {SCMP_A0(SCMP_CMP_EQ, 0)});
  add(SCMP_SYS(getpriority), {SCMP_A0(SCMP_CMP_EQ, PRIO_PROCESS), SCMP_A1(SCMP_CMP_EQ, 0)});
  // Naming its threads; asking whether the output is a terminal.
  for (const int option : {PR_SET_NAME, PR_GET_NAME}) add(SCMP_SYS(prctl), {SCMP_A0(SCMP_CMP_EQ, scmp_datum_t(option))});
  for (const unsigned long request : {TCGETS, TIOCGWINSZ, FIONREAD})
    add(SCMP_SYS(ioctl), {SCMP_A1(SCMP_CMP_EQ, scmp_datum_t(request))});

  // Threads, and nothing else that clone makes: no process, no namespace.
  // clone3 hides its flags from the filter; the C library falls back to
  // clone when it is missing.
  ok = ok && seccomp_rule_add(ctx, SCMP_ACT_ERRNO(ENOSYS), SCMP_SYS(clone3), 0) == 0;
#if defined(__x86_64__) || defined(__aarch64__) || defined(__i386__) || defined(__arm__)
  constexpr scmp_datum_t thread = CLONE_VM | CLONE_FS | CLONE_FILES | CLONE_SIGHAND | CLONE_THREAD;
  constexpr scmp_datum_t spaces = CLONE_NEWUSER | CLONE_NEWNS | CLONE_NEWNET | CLONE_NEWPID | CLONE_NEWIPC |
                                  CLONE_NEWUTS | CLONE_NEWCGROUP | CLONE_VFORK | CLONE_PARENT;
  add(SCMP_SYS(clone), {SCMP_A0(SCMP_CMP_MASKED_EQ, thread | spaces, thread)});
#endif
  if (kSanitized) {
    // Even there: no sockets, no process and no namespace.
    for (const int call : {SCMP_SYS(socket), SCMP_SYS(socketpair)})
      ok = ok && seccomp_rule_add(ctx, SCMP_ACT_ERRNO(EAFNOSUPPORT), call, 0) == 0;
#if defined(__x86_64__) || defined(__aarch64__) || defined(__i386__) || defined(__arm__)
    for (const scmp_datum_t flag : {CLONE_NEWUSER, CLONE_NEWNS, CLONE_NEWNET, CLONE_NEWPID, CLONE_NEWIPC,
                                    CLONE_NEWUTS, CLONE_NEWCGROUP})
      ok = ok && seccomp_rule_add(ctx, SCMP_ACT_ERRNO(EPERM), SCMP_SYS(clone), 1,
                                  SCMP_A0(SCMP_CMP_MASKED_EQ, flag, flag)) == 0;
#endif
  }
  ok = ok && seccomp_load(ctx) == 0;
  seccomp_release(ctx);
  return ok;
}

void capAddressSpace() {
  // The sanitizers reserve terabytes of address space for their shadow.
  if (kSanitized) return;
  rlimit limit{};
  if (::getrlimit(RLIMIT_AS, &limit) != 0) return;
  if (limit.rlim_max != RLIM_INFINITY && limit.rlim_max < kAddressSpaceBytes) return;
  limit.rlim_max = kAddressSpaceBytes;
  if (limit.rlim_cur == RLIM_INFINITY || limit.rlim_cur > kAddressSpaceBytes) limit.rlim_cur = kAddressSpaceBytes;
  ::setrlimit(RLIMIT_AS, &limit);
}

}  // namespace

int landlockVersion() {
  const long v = ::syscall(SYS_landlock_create_ruleset, nullptr, 0, kCreateRulesetVersion);
  return v > 0 ? int(v) : 0;
}

QString confine(const Reach& reach) {
  capAddressSpace();
  // Landlock requires it, and no program started later could gain rights.
  if (::prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0) != 0)
    return QStringLiteral("note: not confined: the kernel refuses no_new_privs");
  const int version = landlockVersion();
  const bool files = applyLandlock(reach, version);
  const bool filtered = applySeccomp();
  QStringList loose;
  if (!files) loose << QStringLiteral("files (the kernel lacks Landlock)");
  // Without seccomp only Landlock 4 on keeps TCP out.
  if (!filtered) loose << QStringLiteral("system calls (the kernel lacks seccomp)");
  if (!filtered && (!files || version < 4)) loose << QStringLiteral("TCP");
  if (loose.isEmpty()) return {};
  return QStringLiteral("note: not confined: ") + loose.join(QStringLiteral(", "));
}

#else

int landlockVersion() { return 0; }
QString confine(const Reach&) { return {}; }

#endif

}  // namespace toolkit::sandbox
