// The guard is defined in its header so that it inlines into the chain's
// run, which opens it once per sample at one-sample blocks. This unit keeps
// the header compiling on its own.
#include "DenormalFlushGuard.h"
