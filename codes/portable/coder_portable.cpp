/* coder_portable.cpp - the coder's portable vector path: the generic kernel
 * (coder_kernel.h) at two lanes, for the baseline instruction set (SSE2 on
 * x86-64). It runs on every processor. */
#define SPECTRA_LANES 2
#define SPECTRA_PATH portable
#define SPECTRA_PATH_STRING "portable"
#define SPECTRA_PATH_RUNS_HERE [] { return true; }
#include "coder_kernel.h"
