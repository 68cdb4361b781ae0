/* sys/_types/_mbstate_t.h - where libc++ looks for mbstate_t on Darwin; see
 * _darwin.h. */
#include "../../_darwin.h"
