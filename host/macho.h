/* macho.h - macOS plug-in bundles run on Linux, for testing them where no
 * Mac is: where a bundle keeps its parts (bundle.cpp), a loader of their
 * Mach-O code (macho.cpp), the part of libSystem that they import, given by
 * glibc (darwin.cpp), and the calls of their entry point through the Mac's
 * layout of the parameter block (mac_record.cpp).
 *
 * It runs the slice of a universal file that is this machine's processor:
 * x86-64 natively, arm64 where this program is itself an arm64 one (under
 * qemu-user on an x86-64 machine). Both follow the calling conventions of
 * Linux closely enough for plain functions; what differs (the layouts of
 * the C library's objects, variadic calls on arm64) the imports convert. */
#ifndef SPECTRA_MACHO_H
#define SPECTRA_MACHO_H

#include "../frame/filter_record.h"

#include <cstdint>
#include <string>
#include <vector>

/* Whether `path` is a macOS bundle (a folder NAME.plugin) or a Mach-O file. */
bool macho_is_bundle(const std::string& path);

/* The bundle's executable, Contents/MacOS/NAME, and its resource file,
 * Contents/Resources/NAME.rsrc; a file given directly is its own
 * executable, and has no resource file. */
std::string macho_executable(const std::string& path);
std::string macho_resource_file(const std::string& path);

/* The code of this machine's processor in a Mach-O file, or a universal
 * one: its offset and size in the file, or false and why. */
bool macho_slice(const std::vector<uint8_t>& file, uint64_t* offset, uint64_t* size,
                 std::string* error);

/* Maps the bundle's code for this processor, applies its fixups, binds its
 * imports and runs its initialisers; a bundle loaded again is the module
 * already there. Returns a module, or null and why. */
void* macho_load(const std::string& path, std::string* error);

/* The address of an exported symbol, by its C name (without Darwin's
 * leading underscore); null when there is none. */
void* macho_symbol(void* module, const std::string& name);

/* Unmaps the module once every load of it is undone, unless its code
 * pinned itself (dlopen's RTLD_NODELETE), as a Mac keeps such a bundle. */
void macho_unload(void* module);

/* Whether the module pinned itself. */
bool macho_pinned(void* module);

/* A filter entry that the host calls as any other: it hands a bundle's
 * entry `entry` the parameter block in the Mac's layout and takes back
 * what it changed. Null when too many bundles are loaded at once. */
FilterEntryProc mac_entry_adapter(void* entry);
void mac_entry_release(FilterEntryProc adapter);

/* The address of glibc's stand-in for a libSystem import (Darwin's name,
 * leading underscore and all), or null. */
void* darwin_import(const char* name);

/* The loaded module that holds an address, for dladdr: its path and base. */
bool macho_module_of(const void* address, const char** path, void** base);
/* Marks the module of that path as pinned, for dlopen; false when none. */
bool macho_pin(const char* path);

#endif
