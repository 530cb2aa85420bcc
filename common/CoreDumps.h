#ifndef STRATA_COMMON_COREDUMPS_H_
#define STRATA_COMMON_COREDUMPS_H_

// For a program that holds secrets (passwords typed or generated): no core
// file is written when it crashes or is ended by SIGQUIT, and no other
// process of the same user may read its memory (the process is made not
// dumpable, and its core size limit is zero). Children inherit the limit.
void DisableCoreDumps();

#endif  // STRATA_COMMON_COREDUMPS_H_
