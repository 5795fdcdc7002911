// Between errno values and the Windows error numbers of qir_sys/error.h: the one place where
// POSIX failures are given their numbers.
#pragma once

#include <cstdint>

namespace qir::sys {

// The Windows error number for the errno of a failed call (ENOENT is 2: callers that know a
// folder is missing answer 3 themselves); 1 for an errno that no number stands for.
uint32_t fromErrno(int error);

// The errno that fromErrno takes to `error`, so that a failure the fault seam plays reaches the
// code as the failed call's errno would; EPROTO (which gives 1) for a number without one.
int errnoFor(uint32_t error);

}  // namespace qir::sys
