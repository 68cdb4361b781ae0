/* unload_test.cpp - plug-ins loaded, run and unloaded again and again in one
 * process, as hosts that load a filter for each run do: the process keeps
 * the threads it had after the first run, and every run writes the same. A
 * macOS bundle run through the host library pins itself. */
#include "support.h"
#if SPECTRA_MAC_BUNDLES
#include "macho.h"
#endif

#include <chrono>
#include <cstdio>
#include <thread>

#if defined(_WIN32)
#include <windows.h>
#include <tlhelp32.h>
#else
#include <dirent.h>
#endif

namespace {

/* The threads of this process. */
int thread_count() {
    int count = 0;
#if defined(_WIN32)
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0);
    THREADENTRY32 entry;
    entry.dwSize = sizeof entry;
    for (BOOL more = Thread32First(snapshot, &entry); more; more = Thread32Next(snapshot, &entry))
        if (entry.th32OwnerProcessID == GetCurrentProcessId()) count++;
    CloseHandle(snapshot);
#else
    if (DIR* tasks = opendir("/proc/self/task")) {
        while (dirent* e = readdir(tasks))
            if (e->d_name[0] != '.') count++;
        closedir(tasks);
    }
#endif
    return count;
}

class Unload : public ::testing::TestWithParam<const char*> {};

TEST_P(Unload, TwelveLoadsKeepTheThreadsAndTheOutput) {
    std::string path = plugin_path(GetParam());
    HostImage in = noise_image(256, 512, 3, 8, 5), first;
    int threads_after_first = 0;
    for (int run = 0; run < 12; run++) {
        HostPlugin plugin;
        PiplInfo info;
        std::string error;
        ASSERT_TRUE(host_open(path, &plugin, &info, &error)) << error;
        HostImage out;
        ASSERT_EQ(host_run(plugin, in, &out), noErr) << "run " << run;
#if SPECTRA_MAC_BUNDLES
        /* a macOS bundle pins itself through dlopen, as a Mac keeps it */
        if (plugin.mac) {
            EXPECT_TRUE(macho_pinned(plugin.module)) << "run " << run;
        }
#endif
        host_unload(&plugin);
        if (run == 0) {
            first = out;
            threads_after_first = thread_count();
            ASSERT_GT(threads_after_first, 0);
        } else {
            EXPECT_TRUE(host_same_samples(out, first)) << "run " << run;
        }
    }
    /* A helper thread that a run joined may still be listed for a moment
     * while the system tears it down, after either count: the count is
     * waited for, and a leak of threads at each load never reaches it. */
    int threads_after_last = thread_count();
    auto start = std::chrono::steady_clock::now();
    while (threads_after_last > threads_after_first &&
           std::chrono::steady_clock::now() - start < std::chrono::seconds(20)) {
        std::this_thread::yield();
        threads_after_last = thread_count();
    }
    std::printf("%s: %d threads after the first run, %d after the twelfth\n", GetParam(),
                threads_after_first, threads_after_last);
    EXPECT_LE(threads_after_last, threads_after_first);
}

INSTANTIATE_TEST_SUITE_P(AllPlugins, Unload, ::testing::ValuesIn(all_plugins));

} // namespace
