/* unistd.h - see _darwin.h, which declares what the bundles use of it. */
#include "_darwin.h"
