/* spectra.h - what the verbs of the spectra command share. */
#ifndef SPECTRA_CLI_H
#define SPECTRA_CLI_H

#include "image_io.h"

#include <string>
#include <vector>

/* Exit codes of the command. */
enum {
    exit_done = 0,
    exit_usage = 1,  /* unknown verb or option, missing or extra arguments */
    exit_input = 2,  /* an input image that cannot be read or used */
    exit_plugin = 3, /* a plug-in that is missing, not a filter, for another machine, or
                        not enabled for the image's mode */
    exit_failed = 4, /* the plug-in reported a failure */
    exit_output = 5, /* an output that cannot be written */
};

/* A failure: the exit code and the one-line message for stderr. */
struct Failure {
    int code = exit_done;
    std::string message;
};

/* The plug-in folders: those in SPECTRA_PLUGIN_PATH, then plugins/ beside
 * the command. */
std::vector<std::string> plugin_folders();

/* Every filter plug-in in the folders, in folder order. */
std::vector<FoundPlugin> find_plugins();

/* A plug-in by menu name (without its trailing dots, any case) or by path. */
bool resolve_plugin(const std::string& name, FoundPlugin* found, Failure* failure);

/* Runs the plug-in on the image as a host does: refuses a document mode
 * that its property list does not enable, then loads and runs it. */
bool run_plugin(const FoundPlugin& plugin, const ImageFile& in, HostImage* out, Failure* failure);

/* spectra run ARGUMENTS (after the verb); returns the exit code. */
int run(int argc, char** argv);

int demo(const std::string& dir);

#endif
