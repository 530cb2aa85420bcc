#ifndef STRATA_COMMON_WAITSTATUS_H_
#define STRATA_COMMON_WAITSTATUS_H_

#include <string>

// How a child process ended, from its wait status, in the words of every
// message about a command: "NAME exited with status 2", "NAME was killed by
// signal 9 (Killed)", or for anything else the raw status.
std::string WaitStatusText(const std::string& name, int status);

#endif  // STRATA_COMMON_WAITSTATUS_H_
