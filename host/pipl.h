/* pipl.h - reading a plug-in's property list (PiPL) as a host does.
 *
 * A host reads the property list from the plug-in file before it runs any of
 * its code: it learns that the file is a filter, its menu name and category,
 * the entry function's name and the documents in which to enable it. On
 * Windows the list is the "PiPL" resource of the DLL; on Linux it is the
 * section .pipl of the shared library. */
#ifndef SPECTRA_PIPL_H
#define SPECTRA_PIPL_H

#include <cstdint>
#include <string>
#include <vector>

/* What a property list says. Fields whose property is absent stay empty. */
struct PiplInfo {
    std::string kind;     /* "8BFM" for a filter */
    std::string name;     /* menu name */
    std::string category; /* menu category */
    uint32_t version = 0; /* (major << 16) | minor */
    std::string entry;    /* the entry name for this host's processor (`8664`, `wx86`) */
    std::vector<uint8_t> modes;
    std::string enable;         /* the `enbl` expression */
    std::vector<uint8_t> cases; /* `fici`: 4 bytes per filter case */
    int32_t max_rows = 0, max_columns = 0;
};

/* Reads the raw property list from a plug-in file without running its code.
 * Fails for a file that is missing, not a library, built for another machine
 * or without a property list. */
bool pipl_read_file(const std::string& path, std::vector<uint8_t>* pipl, std::string* error);

/* Decodes a property list; fails when its layout is broken. */
bool pipl_parse(const std::vector<uint8_t>& pipl, PiplInfo* info, std::string* error);

/* The document that a host asks about when it enables a menu item. */
struct PiplDocument {
    int16_t mode = 3; /* imageMode: RGBMode 3, RGB48Mode 11, RGB96Mode 16, ... */
    int32_t depth = 8;
    int32_t rows = 0, columns = 0;
    int32_t channels = 3;
    bool layer_mask = false, selection = false, transparency = false;
};

/* The imageMode of a document with this many channels at this depth:
 * RGB, RGB48 or RGB96 with 3 or 4 channels; grey with 1 or 2; CMYK with 5;
 * multichannel otherwise. */
int16_t pipl_mode_of(int32_t channels, int32_t depth);

/* The mode's name as the enable expression spells it ("RGB48Mode"). */
std::string pipl_mode_name(int16_t mode);

/* Is the filter enabled for the document? The `enbl` expression decides
 * when there is one (an expression that cannot be read is false); otherwise
 * the `mode` flags. */
bool pipl_enabled(const PiplInfo& info, const PiplDocument& document);

/* Evaluates an enable expression; *ok is false when it cannot be read or
 * names an unknown identifier. */
int64_t pipl_evaluate(const std::string& expression, const PiplDocument& document, bool* ok);

#endif
