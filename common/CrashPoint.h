#ifndef STRATA_COMMON_CRASHPOINT_H_
#define STRATA_COMMON_CRASHPOINT_H_

// A seam for crash tests: the steps that change an installation on disk
// (each rename, removal and sync while an installation is switched,
// recovered or removed) pass through CrashPoint first. When the variable
// STRATA_TEST_KILL_AT holds a number N, the N-th of these calls in the
// process ends it at once with SIGKILL, as a crash or a power cut would;
// "N:SIG" sends the signal numbered SIG instead (an interrupt that comes
// just then) and goes on. Otherwise (always, in normal use) the call does
// nothing.
void CrashPoint();

#endif  // STRATA_COMMON_CRASHPOINT_H_
