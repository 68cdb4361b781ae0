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
#include <sys/mman.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

/* A child limited to 1 GB in all must fail to map 2 GB. Under
 * qemu-user the limit is accepted but not enforced (the emulator keeps it
 * from itself). */
bool address_limits_work() {
    static const bool work = [] {
        std::fflush(nullptr);
        pid_t pid = fork();
        if (pid == 0) {
            rlimit limit;
            limit.rlim_cur = limit.rlim_max = 1ull << 30;
            if (setrlimit(RLIMIT_AS, &limit) != 0) _exit(1);
            void* p = mmap(nullptr, size_t(1) << 31, PROT_READ | PROT_WRITE,
                           MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
            _exit(p == MAP_FAILED ? 0 : 1);
        }
        int status = 0;
        return pid > 0 && waitpid(pid, &status, 0) == pid && WIFEXITED(status) &&
               WEXITSTATUS(status) == 0;
    }();
    return work;
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
