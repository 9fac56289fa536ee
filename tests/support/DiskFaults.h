#pragma once
// Disk faults injected with libfiu into this very process, which must run with libfiu's POSIX
// wrappers preloaded (fiu_posix_preload.so): every call of one kind (write, read, ...) fails
// with a chosen errno, from the nth such call on, as a full disk or a bad sector keeps failing.
// libfiu does not say which file a call is for, so a call counts only when it comes from the
// chosen thread while a file under the watched path is open (the file, or a file in a folder
// given with a trailing "/"; for writes, syncs and closes one open for writing), and a read or
// write only when it comes through Qt's file engine: the event loop's own reads and writes are left
// alone.

#include <QFile>
#include <QString>

#include <fiu-control.h>
#include <fiu.h>

#include <atomic>
#include <cstring>
#include <string>

#include <dirent.h>
#include <dlfcn.h>
#include <execinfo.h>
#include <fcntl.h>
#include <pthread.h>
#include <unistd.h>

namespace quaverly::test {

enum class Sys { Write, Read, Fread, Fdatasync, Rename, Close };
// Main: the window's thread. Worker: a thread the program started itself (the encoder's);
// Qt's own threads carry names of their own and never count.
enum class On { Main, Worker };

inline const char* failpoint(Sys sys) {
    switch (sys) {
    case Sys::Write:
        return "posix/io/rw/write";
    case Sys::Read:
        return "posix/io/rw/read";
    case Sys::Fread:
        return "posix/stdio/rw/fread";
    case Sys::Fdatasync:
        return "posix/io/sync/fdatasync";
    case Sys::Rename:
        return "posix/io/dir/rename";
    case Sys::Close:
        return "posix/io/oc/close";
    }
    return "";
}

class DiskFaults {
public:
    // Counts the calls of `sys` by `thread` under `watched` from now on, and fails every one from
    // the nth (1 = the first) on with `error`; nth 0 only counts. False when libfiu refused.
    static bool arm(Sys sys, On thread, const QString& watched, int nth, int error) {
        State& s = state();
        disarm();
        static const bool started = fiu_init(0) == 0;
        if (!started)
            return false;
        s.sys = sys;
        s.worker = thread == On::Worker;
        s.main = mainThread();
        pthread_getname_np(s.main, s.mainName, sizeof s.mainName);
        s.watched = QFile::encodeName(watched).toStdString();
        s.nth = nth;
        s.seen = 0;
        s.fired = false;
        s.armed = true;
        if (fiu_enable_external(failpoint(sys), 1, reinterpret_cast<void*>(long(error)), 0,
                                &onCall) == 0)
            return true;
        s.armed = false;
        return false;
    }
    // Ends the injection; returns the calls counted.
    static int disarm() {
        State& s = state();
        if (s.armed)
            fiu_disable(failpoint(s.sys));
        s.armed = false;
        return s.seen;
    }
    // True when a call was made to fail since arm().
    static bool fired() { return state().fired; }

    // The test's main thread; call once from it before any arm().
    static pthread_t mainThread() {
        static const pthread_t main = pthread_self();
        return main;
    }

private:
    struct State {
        std::atomic<bool> armed{false};
        Sys sys = Sys::Write;
        bool worker = false;
        pthread_t main{};
        char mainName[16] = {};
        std::string watched;
        int nth = 0;
        std::atomic<int> seen{0};
        std::atomic<bool> fired{false};
    };
    static State& state() {
        static State s;
        return s;
    }

    // Whether the calling thread is the chosen one. A new thread takes its maker's name, so the
    // program's own threads share the main thread's name; Qt names its threads after their class.
    static bool chosenThread(const State& s) {
        const bool main = pthread_equal(pthread_self(), s.main) != 0;
        if (!s.worker)
            return main;
        char name[16] = {};
        pthread_getname_np(pthread_self(), name, sizeof name);
        return !main && std::strcmp(name, s.mainName) == 0;
    }

    // Whether a descriptor of this process is open on the watched file (or in the folder). libfiu
    // runs this with its wrappers passing every call straight through.
    static bool watchedOpen(const State& s) {
        DIR* fds = ::opendir("/proc/self/fd");
        if (!fds)
            return false;
        bool open = false;
        char target[4096];
        while (dirent* e = ::readdir(fds)) {
            const std::string link = std::string("/proc/self/fd/") + e->d_name;
            const ssize_t n = ::readlink(link.c_str(), target, sizeof target - 1);
            if (n <= 0)
                continue;
            const std::string path(target, std::size_t(n));
            const bool reads = s.sys == Sys::Read || s.sys == Sys::Fread;
            if (s.watched.back() == '/'
                    ? path.rfind(s.watched, 0) == 0 && (reads || writable(e->d_name))
                    : path == s.watched) {
                open = true;
                break;
            }
        }
        ::closedir(fds);
        return open;
    }

    // Whether descriptor `fd` (a name in /proc/self/fd) is open for writing.
    static bool writable(const char* fd) {
        const std::string info = std::string("/proc/self/fdinfo/") + fd;
        const int f = ::open(info.c_str(), O_RDONLY | O_CLOEXEC);
        if (f < 0)
            return false;
        char text[256] = {};
        const ssize_t n = ::read(f, text, sizeof text - 1);
        ::close(f);
        const char* flags = n > 0 ? std::strstr(text, "flags:") : nullptr;
        return flags && (std::strtol(flags + 6, nullptr, 8) & O_ACCMODE) != O_RDONLY;
    }

    // Whether the call comes through Qt's file engine (QFile, QSaveFile).
    static bool throughQtFile() {
        void* frames[48];
        const int n = ::backtrace(frames, 48);
        for (int i = 0; i < n; ++i) {
            Dl_info info;
            if (::dladdr(frames[i], &info) && info.dli_sname &&
                std::strstr(info.dli_sname, "QFSFileEngine"))
                return true;
        }
        return false;
    }

    static int onCall(const char*, int*, void**, unsigned*) {
        State& s = state();
        if (!s.armed || !chosenThread(s))
            return 0;
        if (s.sys != Sys::Rename && !watchedOpen(s))
            return 0;
        if ((s.sys == Sys::Read || s.sys == Sys::Write) && !throughQtFile())
            return 0;
        if (++s.seen < s.nth || s.nth == 0)
            return 0;
        s.fired = true;
        return 1;
    }
};

} // namespace quaverly::test
