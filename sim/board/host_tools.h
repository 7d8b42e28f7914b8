// Running the PC's own tools for the simulated board (mkfs.vfat, fusefat, fusermount, tar,
// mtools), always with an argument vector: nothing the board hands over is ever read by a shell.
#pragma once

#include <string>
#include <sys/types.h>
#include <vector>

namespace sim {

// Runs a tool and waits for it. Its standard output and error are collected in `output` (when
// given). The result is the tool's exit code, or -1 when it could not be started or was killed.
// Descriptors of the caller are not inherited, and MTOOLS_SKIP_CHECK=1 is set for mtools.
int runTool(const std::vector<std::string>& argv, std::string* output = nullptr);

// Starts a long-running tool (a FUSE daemon) in its own process group, its output appended to
// `logPath`. Returns its pid, or -1.
pid_t spawnDaemon(const std::vector<std::string>& argv, const std::string& logPath);

// True while `pid` is a live process (a zombie counts as gone). Reaps it when it is our child.
bool processAlive(pid_t pid);
// Waits up to `timeoutMs` real milliseconds for `pid` to end; true when it did.
bool waitProcessGone(pid_t pid, int timeoutMs);

// True when `path` is a mount point of the PC (as /proc/self/mountinfo lists it).
bool isHostMountPoint(const std::string& path);
// The path of a tool on the PATH or in the system directories (mkfs.vfat lives in /usr/sbin);
// empty when there is none.
std::string findTool(const std::string& name);
// The absolute, lexically normal form of a PC path (the path itself when that fails): the FUSE
// daemon and the tools run in other directories than ours.
std::string absolutePath(const std::string& path);
inline bool haveTool(const std::string& name) { return !findTool(name).empty(); }

}  // namespace sim
