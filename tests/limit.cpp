/* limit.cpp - child processes with a limited address space. */
#include "limit.h"

#include <gtest/gtest.h>

#if defined(_WIN32) || defined(SPECTRA_SANITIZE)

bool address_limits_work() {
    return false;
}
bool in_limited_child(uint64_t, bool) {
    return false;
}
bool run_limited_child() {
    return false;
}

#else

#include <cstdio>
#include <cstdlib>
#include <string>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

bool address_limits_work() {
    return true;
}

namespace {

const char* const child_variable = "SPECTRA_LIMITED_CHILD";

uint64_t mapped_bytes() {
    unsigned long long pages = 0;
    FILE* f = std::fopen("/proc/self/statm", "r");
    if (f) {
        if (std::fscanf(f, "%llu", &pages) != 1) pages = 0;
        std::fclose(f);
    }
    return pages * uint64_t(sysconf(_SC_PAGESIZE));
}

} // namespace

bool in_limited_child(uint64_t bytes, bool absolute) {
    if (!std::getenv(child_variable)) return false;
    rlimit limit;
    limit.rlim_cur = limit.rlim_max = absolute ? bytes : mapped_bytes() + bytes;
    if (setrlimit(RLIMIT_AS, &limit) != 0) ADD_FAILURE() << "setrlimit failed";
    return true;
}

bool run_limited_child() {
    const testing::TestInfo* test = testing::UnitTest::GetInstance()->current_test_info();
    std::string filter =
        std::string("--gtest_filter=") + test->test_suite_name() + "." + test->name();
    std::fflush(nullptr);
    pid_t pid = fork();
    if (pid == 0) {
        setenv(child_variable, "1", 1);
        execl("/proc/self/exe", "limited-child", filter.c_str(), (char*)nullptr);
        _exit(127);
    }
    int status = 0;
    if (pid < 0 || waitpid(pid, &status, 0) != pid) return false;
    return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

#endif
