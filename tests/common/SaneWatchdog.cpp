#include "SaneWatchdog.h"

#include <gtest/gtest-spi.h>
#include <gtest/gtest.h>
#include <sane/sane.h>

#include <dirent.h>
#include <dlfcn.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <exception>
#include <string>
#include <thread>

extern "C" int __lsan_do_recoverable_leak_check() __attribute__((weak));

// Under LeakSanitizer: the test backend loses buffers of its reader thread
// when a scan ends in the middle of a page. Those are its own, not ours.
extern "C" const char* __lsan_default_suppressions()
{
    return "leak:libsane-test.so\n";
}

namespace {

// The call into SANE the child is in, and since when: shared with the parent.
struct TWatch {
    std::atomic<int> Call;
    std::atomic<long long> Since; // steady clock, milliseconds
};

TWatch* Watch = nullptr;

const char* const CallNames[] = {"",           "sane_open",      "sane_start",
                                 "sane_read",  "sane_cancel",    "sane_close",
                                 "sane_exit",  "sane_init",      "sane_get_devices",
                                 "sane_get_option_descriptor",   "sane_control_option",
                                 "sane_get_parameters"};
enum TCall { cNone, cOpen, cStart, cRead, cCancel, cClose, cExit, cInit, cDevices, cDescriptor, cControl, cParameters };

long long NowMs()
{
    return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

// Marks the call into SANE while it runs.
class TInSane {
public:
    explicit TInSane(TCall call)
    {
        if (Watch) {
            Watch->Since = NowMs();
            Watch->Call = call;
        }
    }
    ~TInSane()
    {
        if (Watch)
            Watch->Call = cNone;
    }
    TInSane(const TInSane&) = delete;
    TInSane& operator=(const TInSane&) = delete;
};

template <typename F>
F Next(const char* name)
{
    void* f = dlsym(RTLD_NEXT, name);
    if (!f) {
        std::fprintf(stderr, "%s not found in SANE\n", name);
        std::abort();
    }
    return reinterpret_cast<F>(f);
}

// Whether every thread of the process waits on a futex.
bool WaitsOnLock(pid_t pid)
{
    const std::string tasks = "/proc/" + std::to_string(pid) + "/task";
    DIR* dir = opendir(tasks.c_str());
    if (!dir)
        return false;
    int threads = 0;
    bool waiting = true;
    while (const dirent* entry = readdir(dir)) {
        if (entry->d_name[0] == '.')
            continue;
        ++threads;
        char wchan[64] = {};
        if (FILE* f = std::fopen((tasks + "/" + entry->d_name + "/wchan").c_str(), "r")) {
            if (!std::fgets(wchan, sizeof wchan, f))
                wchan[0] = '\0';
            std::fclose(f);
        }
        if (!std::strstr(wchan, "futex"))
            waiting = false;
    }
    closedir(dir);
    return threads > 0 && waiting;
}

constexpr long long StuckAfterMs = 10000;  // no call of the test backend takes this long
constexpr long long CaseLimitMs = 90000;   // a case hung outside the backend
constexpr int Attempts = 3;

} // namespace

// Every call the scanner code makes into SANE, passed on to the library with a mark the watchdog can see.
extern "C" {

SANE_Status sane_init(SANE_Int* version, SANE_Auth_Callback authorize)
{
    static const auto next = Next<SANE_Status (*)(SANE_Int*, SANE_Auth_Callback)>("sane_init");
    TInSane in(cInit);
    return next(version, authorize);
}

SANE_Status sane_get_devices(const SANE_Device*** list, SANE_Bool localOnly)
{
    static const auto next = Next<SANE_Status (*)(const SANE_Device***, SANE_Bool)>("sane_get_devices");
    TInSane in(cDevices);
    return next(list, localOnly);
}

const SANE_Option_Descriptor* sane_get_option_descriptor(SANE_Handle handle, SANE_Int option)
{
    static const auto next =
        Next<const SANE_Option_Descriptor* (*)(SANE_Handle, SANE_Int)>("sane_get_option_descriptor");
    TInSane in(cDescriptor);
    return next(handle, option);
}

SANE_Status sane_control_option(SANE_Handle handle, SANE_Int option, SANE_Action action, void* value,
                                SANE_Int* info)
{
    static const auto next =
        Next<SANE_Status (*)(SANE_Handle, SANE_Int, SANE_Action, void*, SANE_Int*)>("sane_control_option");
    TInSane in(cControl);
    return next(handle, option, action, value, info);
}

SANE_Status sane_get_parameters(SANE_Handle handle, SANE_Parameters* parameters)
{
    static const auto next = Next<SANE_Status (*)(SANE_Handle, SANE_Parameters*)>("sane_get_parameters");
    TInSane in(cParameters);
    return next(handle, parameters);
}

SANE_Status sane_open(SANE_String_Const name, SANE_Handle* handle)
{
    static const auto next = Next<SANE_Status (*)(SANE_String_Const, SANE_Handle*)>("sane_open");
    TInSane in(cOpen);
    return next(name, handle);
}

SANE_Status sane_start(SANE_Handle handle)
{
    static const auto next = Next<SANE_Status (*)(SANE_Handle)>("sane_start");
    TInSane in(cStart);
    return next(handle);
}

SANE_Status sane_read(SANE_Handle handle, SANE_Byte* data, SANE_Int maxLength, SANE_Int* length)
{
    static const auto next = Next<SANE_Status (*)(SANE_Handle, SANE_Byte*, SANE_Int, SANE_Int*)>("sane_read");
    TInSane in(cRead);
    return next(handle, data, maxLength, length);
}

void sane_cancel(SANE_Handle handle)
{
    static const auto next = Next<void (*)(SANE_Handle)>("sane_cancel");
    TInSane in(cCancel);
    next(handle);
}

void sane_close(SANE_Handle handle)
{
    static const auto next = Next<void (*)(SANE_Handle)>("sane_close");
    TInSane in(cClose);
    next(handle);
}

void sane_exit(void)
{
    static const auto next = Next<void (*)()>("sane_exit");
    TInSane in(cExit);
    next();
}

} // extern "C"

namespace testutil {

namespace {

// The child catches its own failures, prints them as gtest would and tells
// the parent by its exit code.
[[noreturn]] void RunChild(const std::function<void()>& body)
{
    ::testing::TestPartResultArray results;
    {
        ::testing::ScopedFakeTestPartResultReporter reporter(
            ::testing::ScopedFakeTestPartResultReporter::INTERCEPT_ONLY_CURRENT_THREAD, &results);
        try {
            body();
        } catch (const std::exception& e) {
            ADD_FAILURE() << "exception: " << e.what();
        } catch (...) {
            ADD_FAILURE() << "unknown exception";
        }
    }
    bool failed = false;
    for (int i = 0; i < results.size(); ++i) {
        const ::testing::TestPartResult& r = results.GetTestPartResult(i);
        if (!r.failed())
            continue;
        failed = true;
        std::printf("%s:%d: Failure\n%s\n", r.file_name() ? r.file_name() : "?", r.line_number(), r.message());
    }
    if (__lsan_do_recoverable_leak_check && __lsan_do_recoverable_leak_check() != 0)
        failed = true;
    std::fflush(stdout);
    std::fflush(stderr);
    _exit(failed ? 1 : 0);
}

} // namespace

void RunWatched(const std::function<void()>& body)
{
    if (!Watch) {
        // The backend stays loaded after sane_exit, so that what it loses is
        // known by its name.
        dlopen("/usr/lib/x86_64-linux-gnu/sane/libsane-test.so.1", RTLD_NOW | RTLD_NODELETE);
        void* shared = mmap(nullptr, sizeof(TWatch), PROT_READ | PROT_WRITE, MAP_SHARED | MAP_ANONYMOUS, -1, 0);
        ASSERT_NE(shared, MAP_FAILED);
        Watch = new (shared) TWatch{};
    }
    for (int attempt = 1; attempt <= Attempts; ++attempt) {
        Watch->Call = cNone;
        std::fflush(stdout);
        std::fflush(stderr);
        const pid_t child = fork();
        ASSERT_GE(child, 0) << "fork failed";
        if (child == 0)
            RunChild(body);

        const long long start = NowMs();
        long long lockedSince = -1;
        int status = 0;
        bool stuck = false;
        for (;;) {
            const pid_t done = waitpid(child, &status, WNOHANG);
            if (done == child)
                break;
            ASSERT_EQ(done, 0) << "waitpid failed";
            const long long now = NowMs();
            const int call = Watch->Call;
            // Waiting on a lock: the scanner code takes none across threads,
            // so it is one the backend's stopped reader thread left held
            // (the C library's allocator's, mostly).
            if (call == cNone && WaitsOnLock(child)) {
                if (lockedSince < 0)
                    lockedSince = now;
            } else {
                lockedSince = -1;
            }
            if (lockedSince >= 0 && now - lockedSince > StuckAfterMs) {
                std::printf("[ watchdog ] attempt %d: stuck for %.1f s on a lock left held by SANE's test backend "
                            "(its known hang when it stops its reader thread); killed%s\n",
                            attempt, static_cast<double>(now - lockedSince) / 1000,
                            attempt < Attempts ? ", running the case again" : "");
                stuck = true;
            } else if (call != cNone && now - Watch->Since > StuckAfterMs) {
                std::printf("[ watchdog ] attempt %d: stuck for %.1f s inside %s, in SANE's test backend "
                            "(its known hang when it stops its reader thread); killed%s\n",
                            attempt, static_cast<double>(now - Watch->Since) / 1000, CallNames[call],
                            attempt < Attempts ? ", running the case again" : "");
                stuck = true;
            } else if (now - start > CaseLimitMs) {
                kill(child, SIGKILL);
                waitpid(child, &status, 0);
                FAIL() << "the case hung outside SANE for " << CaseLimitMs / 1000 << " s";
            }
            if (stuck) {
                kill(child, SIGKILL);
                waitpid(child, &status, 0);
                break;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        }
        if (stuck)
            continue;
        if (WIFSIGNALED(status))
            FAIL() << "the case's process died of signal " << WTERMSIG(status) << " (" << strsignal(WTERMSIG(status))
                   << ")";
        EXPECT_EQ(WEXITSTATUS(status), 0) << "the case failed in its process (its failures are printed above)";
        return;
    }
    FAIL() << "SANE's test backend hung in each of " << Attempts << " attempts";
}

} // namespace testutil
