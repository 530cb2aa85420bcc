#ifndef STRATA_COMMON_DEFAULTSIGNALACTION_H_
#define STRATA_COMMON_DEFAULTSIGNALACTION_H_

// From a signal handler: ends the process as sig would have ended it without
// the handler (status and core dump alike), once the handler has done its
// work. Async-signal-safe: only sigaction, raise and sigprocmask.
void EndByDefaultAction(int sig);

#endif  // STRATA_COMMON_DEFAULTSIGNALACTION_H_
