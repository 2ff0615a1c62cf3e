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
  if (!QFileInfo(path).isDir()) access &= fs::Execute | fs::WriteFile | fs::ReadFile | fs::Truncate | fs::IoctlDev;
  PathBeneathAttr rule{access, fd.get()};
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

// Landlock; an empty text when it is in place, else what is left unconfined.
QString applyLandlock(const Reach& reach) {
  const int version = landlockVersion();
  if (version <= 0) return QStringLiteral("files and TCP");
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
  if (ruleset.get() < 0) return QStringLiteral("files and TCP");

  const uint64_t read = fs::ReadFile | fs::ReadDir;
  const uint64_t write = read | fs::WriteFile | fs::MakeReg | fs::RemoveFile | fs::Truncate | fs::Refer;
  bool ok = true;
  // The libraries, their data (locales, time zones, character sets) and the
  // system's settings; libraries still load, nothing is executed.
  for (const char* system : {"/usr", "/lib", "/lib32", "/lib64", "/libx32", "/etc", "/sys/devices/system/cpu"})
    ok = ok && allow(ruleset.get(), QString::fromLatin1(system), read);
  ok = ok && allow(ruleset.get(), QStringLiteral("/dev/null"), fs::ReadFile | fs::WriteFile);
  ok = ok && allow(ruleset.get(), QStringLiteral("/dev/urandom"), fs::ReadFile);
  if (kSanitized) ok = ok && allow(ruleset.get(), QStringLiteral("/proc"), read);
  if (!reach.source.isEmpty()) ok = ok && allow(ruleset.get(), reach.source, fs::ReadFile);
  if (!reach.sourceTree.isEmpty()) ok = ok && allow(ruleset.get(), reach.sourceTree, read);
  if (!reach.outputFolder.isEmpty()) ok = ok && allow(ruleset.get(), reach.outputFolder, write & handledFs(version));
  if (!ok) return QStringLiteral("files and TCP");
  if (::syscall(SYS_landlock_restrict_self, ruleset.get(), 0) != 0) return QStringLiteral("files and TCP");
  return version >= 4 ? QString() : QStringLiteral("TCP");
}

// Calls that nothing in a conversion makes and an exploit would.
constexpr const char* kRefused[] = {
    "execve", "execveat", "ptrace", "process_vm_readv", "process_vm_writev", "process_madvise",
    "kcmp", "pidfd_getfd", "pidfd_open",
    "connect", "bind", "listen", "accept", "accept4",
    "bpf", "perf_event_open", "userfaultfd", "keyctl", "add_key", "request_key",
    "io_uring_setup", "io_uring_enter", "io_uring_register",
    "mount", "umount2", "mount_setattr", "fsopen", "fsconfig", "fsmount", "fspick", "move_mount", "open_tree",
    "pivot_root", "chroot", "setns", "unshare", "open_by_handle_at", "name_to_handle_at",
    "init_module", "finit_module", "delete_module", "kexec_load", "kexec_file_load",
    "swapon", "swapoff", "reboot", "acct", "quotactl", "settimeofday", "clock_settime", "adjtimex",
    "syslog", "vhangup", "iopl", "ioperm", "personality", "uselib",
};

// seccomp on every thread of the process; false when the kernel has none.
bool applySeccomp() {
  scmp_filter_ctx ctx = seccomp_init(SCMP_ACT_ALLOW);
  if (!ctx) return false;
  bool ok = seccomp_attr_set(ctx, SCMP_FLTATR_CTL_TSYNC, 1) == 0;
  const uint32_t refuse = SCMP_ACT_ERRNO(EPERM);
  for (const char* name : kRefused) {
    if (kSanitized && std::strcmp(name, "ptrace") == 0) continue;
    const int nr = seccomp_syscall_resolve_name(name);
    if (nr != __NR_SCMP_ERROR) ok = ok && seccomp_rule_add(ctx, refuse, nr, 0) == 0;
  }
  // Sockets only between this process's own threads: no network of any kind.
  for (const int call : {SCMP_SYS(socket), SCMP_SYS(socketpair)})
    ok = ok && seccomp_rule_add(ctx, SCMP_ACT_ERRNO(EAFNOSUPPORT), call, 1, SCMP_A0(SCMP_CMP_NE, AF_UNIX)) == 0;
  // Typing into the terminal the tool was started from.
  ok = ok && seccomp_rule_add(ctx, refuse, SCMP_SYS(ioctl), 1, SCMP_A1(SCMP_CMP_EQ, TIOCSTI)) == 0;
  // Threads, never new namespaces; clone3 hides its flags from the filter,
  // and the C library falls back to clone when it is missing.
  ok = ok && seccomp_rule_add(ctx, SCMP_ACT_ERRNO(ENOSYS), SCMP_SYS(clone3), 0) == 0;
#if defined(__x86_64__) || defined(__aarch64__) || defined(__i386__) || defined(__arm__)
  for (const unsigned long flag : {CLONE_NEWUSER, CLONE_NEWNS, CLONE_NEWNET, CLONE_NEWPID, CLONE_NEWIPC,
                                   CLONE_NEWUTS, CLONE_NEWCGROUP})
    ok = ok && seccomp_rule_add(ctx, refuse, SCMP_SYS(clone), 1, SCMP_A0(SCMP_CMP_MASKED_EQ, flag, flag)) == 0;
#endif
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
  const QString open = applyLandlock(reach);
  const bool filtered = applySeccomp();
  if (open.isEmpty() && filtered) return {};
  QStringList loose;
  if (!open.isEmpty()) loose << QStringLiteral("%1 (the kernel lacks Landlock%2)")
                                    .arg(open, open == QLatin1String("TCP") ? QStringLiteral(" 4") : QString());
  if (!filtered) loose << QStringLiteral("system calls (the kernel lacks seccomp)");
  return QStringLiteral("note: not confined: ") + loose.join(QStringLiteral(", "));
}

#else

int landlockVersion() { return 0; }
QString confine(const Reach&) { return {}; }

#endif

}  // namespace toolkit::sandbox
