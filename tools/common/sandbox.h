#pragma once
#include <QString>
#include <QStringList>

// The encoder's confinement: once its source and its output are open, a
// decoder that a crafted file takes over reaches nothing beyond them. The
// one Linux-specific place beside platform.cpp; elsewhere it does nothing.
namespace toolkit::sandbox {

// The largest address space an encoder may take: room for a 4K source with
// FFmpeg's frame threads and x264's look-ahead on a machine with many cores
// (glibc keeps 64 MiB of address space per malloc arena).
constexpr unsigned long long kAddressSpaceBytes = 8ULL << 30;

// The files a conversion touches, each by itself: no folder is open to it.
struct Reach {
  QString source;      // read: this file
  QStringList parts;   // read: the files a playlist source names
  int outputFd = -1;   // read and write: the unnamed output, already open
};

// Confines this process and every thread it starts from now on: it reads
// only `reach` and the system's libraries, writes only its own output,
// creates, renames and removes no file, executes nothing, starts no process,
// has no socket and touches no other process (Landlock at the highest
// version the kernel offers, an allow-list of system calls on every thread,
// no new privileges), and caps its address space. What the kernel cannot do
// is left out; the result names it, in one line for the tool's output, empty
// when everything is in place. Never fails the conversion.
QString confine(const Reach& reach);

// The Landlock version the running kernel offers; 0 without Landlock.
int landlockVersion();

}  // namespace toolkit::sandbox
