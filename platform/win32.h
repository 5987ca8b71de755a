// The platform seam. On Windows this is the platform's own header; everywhere
// else it is our simulated subset, with the same names and signatures, so that
// host/ and saver/ compile unchanged against both.
#pragma once

#ifdef _WIN32
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>
#include <imm.h>  // HIMC only; the library itself is looked up at run time
#else
#include "platform/sim/sim_windows.h"
#endif
