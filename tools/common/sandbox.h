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

struct Reach {
  QString source;        // read: this file
  QString sourceTree;    // read: everything under this folder (a playlist's); may be empty
  QString outputFolder;  // read and write: the output is made and named here
};

// Confines this process and every thread it starts from now on: reading only
// `reach` and the system's library and data folders, writing only the
// output folder, executing nothing, no network, no other process (Landlock
// at the highest version the kernel offers, a seccomp filter on every
// thread, no new privileges), and caps its address space. What the kernel
// cannot do is left out; the result names it, in one line for the tool's
// output, empty when everything is in place. Never fails the conversion.
QString confine(const Reach& reach);

// The Landlock version the running kernel offers; 0 without Landlock.
int landlockVersion();

}  // namespace toolkit::sandbox
