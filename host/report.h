/* report.h - what SpectraDescreen took out of a picture, in a person's
 * words, read from the difference between its input and its output: the
 * plug-in itself has no way to say it. */
#ifndef SPECTRA_HOST_REPORT_H
#define SPECTRA_HOST_REPORT_H

#include "host.h"

#include <string>

/* For example "screen of 4.4 px at 15 and 105°: removed from 62 % of the
 * picture", "stripes of 9.0 px at 30°: removed" or "nothing periodic
 * found: unchanged". `colours` is 1 for grey, 3 for RGB; the
 * planes after them are not looked at. */
std::string descreen_report(const HostImage& in, const HostImage& out, int32_t colours);

#endif
