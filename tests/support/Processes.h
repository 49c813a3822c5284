#pragma once

// What /proc tells of a running client and the processes it started (WebKit's, bwrap's).

#include <string>
#include <sys/types.h>
#include <vector>

namespace scenario {

// The process and all its descendants, as they are now.
std::vector<pid_t> processTree(pid_t root);
// The value of one field of /proc/PID/status ("NoNewPrivs"), empty when absent or gone.
std::string statusField(pid_t pid, const std::string& name);
// Resident memory in KiB (VmRSS); 0 when the process is gone.
long residentKB(pid_t pid);
// The first word of the process's command line.
std::string programOf(pid_t pid);
// Whether any file the process has mapped (/proc/PID/maps) has `part` in its path.
bool mapsFile(pid_t pid, const std::string& part);
// The namespace a process is in, as /proc/PID/ns/KIND names it ("mnt:[4026531832]").
std::string namespaceOf(pid_t pid, const std::string& kind);

} // namespace scenario
