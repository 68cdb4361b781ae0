/* failing_filter.cpp - a filter plug-in that fails: every Start reports
 * memFullErr, as a filter does that cannot get its memory. The GIMP tests
 * use it to see a failure reach the user, with the layer left alone. */
#include "../frame/filter_record.h"

extern "C" __attribute__((visibility("default"))) void ENTRYPOINT(int16_t selector, FilterRecord*,
                                                                  intptr_t*, int16_t* result) {
    if (result) *result = selector == filterSelectorStart ? int16_t(memFullErr) : int16_t(noErr);
}
