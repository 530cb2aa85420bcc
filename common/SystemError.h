#ifndef STRATA_COMMON_SYSTEMERROR_H_
#define STRATA_COMMON_SYSTEMERROR_H_

#include <string>

// The system's text for an error number, as the messages of the installer and
// the launcher print it ("No such file or directory"). The result stays valid
// until the next call.
const char* ErrnoText(int err);

// "what: " and the system's text for err, the form of every message about a
// failed system call: "/opt/x: Permission denied".
std::string ErrnoMessage(const std::string& what, int err);

#endif  // STRATA_COMMON_SYSTEMERROR_H_
