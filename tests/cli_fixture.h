/* cli_fixture.h - what the tests of the spectra command share: running the
 * command, and a fresh folder for each test's files. */
#ifndef SPECTRA_CLI_FIXTURE_H
#define SPECTRA_CLI_FIXTURE_H

#include "image_io.h"
#include "support.h"

#include <cstdio>
#include <cstring>
#include <dirent.h>
#include <fstream>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

/* A path in the test's temporary folder, distinct for each process. */
inline std::string temp_path(const std::string& name) {
    return temp_file("image-" + name);
}

inline void save(const std::string& path, const std::string& bytes) {
    std::ofstream(path, std::ios::binary) << bytes;
}

inline std::string load(const std::string& path) {
    std::ifstream f(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>());
}

/* A small generator of test values. */
inline uint32_t lcg(uint32_t* state) {
    *state = *state * 1664525u + 1013904223u;
    return *state >> 8;
}

struct Result {
    int code;
    std::string output; /* stdout and stderr together */
};

/* Runs a shell command and takes what it prints. */
inline Result shell(const std::string& command) {
    FILE* p = popen((command + " 2>&1").c_str(), "r");
    Result r{-1, ""};
    if (!p) return r;
    char buffer[4096];
    size_t n;
    while ((n = std::fread(buffer, 1, sizeof buffer, p)) > 0) r.output.append(buffer, n);
    int status = pclose(p);
    r.code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return r;
}

inline Result spectra(const std::string& arguments, const std::string& prefix = "") {
    return shell(prefix + "'" + std::string(SPECTRA_COMMAND) + "' " + arguments);
}

inline bool exists(const std::string& path) {
    struct stat s;
    return stat(path.c_str(), &s) == 0;
}

class Cli : public ::testing::Test {
  protected:
    std::string dir;
    void SetUp() override {
        dir = temp_file(std::string("cli-") +
                        testing::UnitTest::GetInstance()->current_test_info()->name());
        std::system(("rm -rf '" + dir + "' && mkdir -p '" + dir + "'").c_str());
    }
    void TearDown() override { std::system(("rm -rf '" + dir + "'").c_str()); }
    std::string path(const std::string& name) const { return dir + "/" + name; }
    void write(const std::string& name, const HostImage& image) const {
        std::string error;
        ASSERT_TRUE(image_write(path(name), image, &error)) << error;
    }
    void write_bytes(const std::string& name, const std::string& bytes) const {
        save(path(name), bytes);
    }
    std::string read_bytes(const std::string& name) const { return load(path(name)); }
    /* The names of the temporary files in the folder. */
    std::vector<std::string> temporaries() const {
        std::vector<std::string> names;
        if (DIR* d = opendir(dir.c_str())) {
            while (dirent* e = readdir(d))
                if (std::strncmp(e->d_name, ".spectra-", 9) == 0) names.push_back(e->d_name);
            closedir(d);
        }
        return names;
    }
    /* No file but the given ones is left in the folder (no temporary). */
    void expect_only(std::initializer_list<std::string> names) const {
        std::string listing;
        FILE* p = popen(("ls -A '" + dir + "'").c_str(), "r");
        char buffer[4096];
        size_t n;
        while ((n = std::fread(buffer, 1, sizeof buffer, p)) > 0) listing.append(buffer, n);
        pclose(p);
        std::string expect;
        for (const std::string& name : names) expect += name + "\n";
        EXPECT_EQ(listing, expect);
    }
};

#endif
