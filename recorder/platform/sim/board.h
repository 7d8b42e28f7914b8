// The simulated board as the platform layer sees it: the board directory and the resolution of
// board paths under it, the mount table, and the command runner that carries out the board's
// shell commands.
//
// Board directory layout (everything of one simulated unit, surviving reboots):
//   DIR/rootfs/        the board's root file system; a board path /x/y is DIR/rootfs/x/y
//   DIR/rootfs/version the running firmware's version file
//   DIR/rootfs/proc/   the kernel's files the program reads (partitions), written at each boot
//   DIR/console.log    everything the board printed, DIR/timeline.jsonl what happened
// Models add their own files (card image, flash partitions, clock chip).
#pragma once

#include <cstdint>
#include <functional>
#include <memory>

#include "platform/sim/file_faults.h"
#include <string>
#include <sys/statfs.h>
#include <vector>

namespace sim {

void setBoardDir(const std::string& dir);
const std::string& boardDir();
// Joins a name onto the board directory (for models' own files).
std::string boardFile(const std::string& name);

// Lexically normalised absolute board path ("." and ".." folded, never above "/").
std::string normaliseBoardPath(const char* path);
// The PC path that a board path stands for, after the mount table.
std::string hostPath(const char* boardPath);

// ---- mounts ----------------------------------------------------------------------------
// A file system that can be mounted on the board (the card, the RAM disk).
class Filesystem {
 public:
  virtual ~Filesystem() = default;
  // Makes the file system available; gives the PC directory that holds its files, or a
  // negative errno.
  virtual int mount(const std::string& target, unsigned long flags, std::string* hostDir) = 0;
  virtual int umount() = 0;
  // Space figures for statfs; return 1 to fill `st` yourself, 0 to use the PC's statfs.
  virtual int statfs(struct statfs* st) { (void)st; return 0; }
  // True when names are found whatever their case, as on FAT, while the PC directory that holds
  // the files is case-sensitive (a plain directory standing in for a FAT card).
  virtual bool foldsCase() const { return false; }
  // True when an existing file must not be truncated or reopened to append, but replaced by a
  // new file written in one go (the FUSE daemon that serves the card image mishandles both).
  virtual bool rewritesByReplacing() const { return false; }
  // A file or directory at `hostPath` was created (`created`) or written at the board's time of
  // day `boardNs`. The PC stamps its files with its own clock; a file system that keeps the
  // board's times (the card's directory entries, as the board's FAT driver writes them) takes
  // them from here.
  virtual void stamp(const std::string& hostPath, bool created, int64_t boardNs) {
    (void)hostPath;
    (void)created;
    (void)boardNs;
  }
  // Faults injected into the calls on this file system's files and paths.
  FileFaults& faults() { return faults_; }

 private:
  FileFaults faults_;
};

// A mount source: the device path ("/dev/sda1") or the name ("ramfs") the program mounts.
void addMountSource(const std::string& source, std::shared_ptr<Filesystem> fs);
void removeMountSource(const std::string& source);
int mountFs(const char* source, const char* target, const char* fstype, unsigned long flags);
int umountFs(const char* target);
bool isMounted(const std::string& target);
// The mounted file system that holds a board path (none for the root file system).
std::shared_ptr<Filesystem> filesystemOf(const char* boardPath);
// True when the file system that holds a board path wants rewrites done by replacing the file.
bool rewritesByReplacing(const char* boardPath);
// statfs of a board path: the file system's own figures when it gives them.
int statfsPath(const char* boardPath, struct statfs* st);
void clearMounts();

// ---- shell commands ----------------------------------------------------------------------
// A command handler gets the argument vector and gives the exit code (0..255).
using CommandHandler = std::function<int(const std::vector<std::string>& argv)>;
// Registered under the program name as the program writes it ("reboot", "/usr/bin/mkdosfs");
// a name without a slash also matches any path that ends in "/name".
void addCommand(const std::string& name, CommandHandler handler);
void removeCommand(const std::string& name);
// Carries out a command; the result is a wait status as system() gives it. An unknown command
// is refused with a trace and exit code 127.
int runCommand(const std::vector<std::string>& argv);
// Splits a fixed command line at blanks. No quoting, no variables, no operators: the board's
// fixed command lines need none, and text that looks like shell syntax stays plain words.
std::vector<std::string> splitCommandLine(const char* line);

// What the simulated board does on "reboot". Default: count it (tests look at the count).
void setRebootHandler(std::function<void()> handler);
int rebootCount();

// The board's own notes on the console ("[board] ..."), for what the simulated hardware does.
void boardNote(const char* fmt, ...) __attribute__((format(printf, 1, 2)));

// Resets mounts, commands and device nodes (tests).
void resetBoard();

}  // namespace sim
