/* spectra.h - what the verbs of the spectra command share. */
#ifndef SPECTRA_CLI_H
#define SPECTRA_CLI_H

#include "image_io.h"

#include <functional>
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

/* One input on its way through a verb: read, transformed, written. A
 * batch reads the next input and writes the previous output on threads of
 * its own while this one is transformed. */
struct Job {
    std::string input, output;
    ImageFile in;
    ImageFile out; /* written with its 16-bit originals and its record */
    Failure failure;
    std::string note; /* what the transform found, said once the output is written */
};

/* -q: no notes, only failures. -f: an existing output file is replaced.
 * --quality: a JPEG output's. */
extern bool quiet, force;
extern int quality;

/* What a verb does with each input: the depth of its output (which names
 * a batch's outputs) and the transform, which fills job->out or sets
 * job->failure. */
struct JobSteps {
    std::function<int32_t(const ImageFile&)> depth;
    std::function<bool(Job*)> transform;
    bool spectrum = false; /* the outputs are spectrum pictures */
};

/* The files of a verb's arguments: INPUT OUTPUT (inputs gets both, dir
 * stays empty), or INPUT... -o DIR; false when they are neither. */
bool files_of(int argc, char** argv, std::vector<std::string>* inputs, std::string* dir);

/* Reads, transforms and writes each input: one output, or with a folder
 * every input into it, each failure named on its own line. Returns the
 * exit code. */
int run_jobs(const std::vector<std::string>& inputs, const std::string& dir, const JobSteps& steps);

/* spectra run, spectrum and inverse: ARGUMENTS after the verb; each
 * returns the exit code. */
int run(int argc, char** argv);
int descreen(int argc, char** argv);
int spectrum(int argc, char** argv);
int inverse(int argc, char** argv);

/* spectra demo [DIR], and spectra demo --guide DIR: the pictures of the
 * user's guide, made from the photograph DIR/chelsea.png into DIR. */
int demo(const std::string& dir);
int demo_guide(const std::string& dir);

#endif
