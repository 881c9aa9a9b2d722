#include "followup/ResultLog.h"

#include "base/Environment.h"
#include "base/Installation.h"
#include "base/TextRules.h"
#include "base/Wait.h"

#include <cerrno>
#include <climits>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <dirent.h>
#include <fcntl.h>
#include <pwd.h>
#include <random>
#include <set>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace ResultLog {

namespace {

    const std::string kTemporaryPrefix = std::string(".") + kSuccessLog + ".";
    constexpr int kStep = O_PATH | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC;

    // The folder of the logs, opened once: every name in it is reached from this descriptor, so a folder swapped
    // for a link afterwards is never followed.
    struct Folder {
        int fd = -1;
        std::string why; // why there is none
        bool refused = false; // someone else could change what is in it
    };

    // Says once per file and run why a line could not be written.
    void report(const std::string &path, const std::string &why)
    {
        static std::set<std::string> reported;
        if (reported.insert(path).second)
            std::fprintf(stderr, "ostrel: cannot write %s: %s\n", path.c_str(), why.c_str());
    }

    std::string reason(int error)
    {
        switch (error) {
        case ELOOP:
            return "a link stands in its place";
        default:
            return std::strerror(error);
        }
    }

    // Why someone besides the running user and root could change what the folder holds, or "" when nobody can:
    // it is theirs, and neither others nor a group other than root's may write to it, unless it is sticky (as
    // /tmp is), where others may add entries of their own but never remove or rename ours.
    std::string untrusted(int fd, const std::string &shown)
    {
        struct stat status { };
        if (::fstat(fd, &status) != 0)
            return shown + ": " + std::strerror(errno);
        if (status.st_uid != ::geteuid() && status.st_uid != 0)
            return shown + " belongs to another user";
        const bool shared = (status.st_mode & S_IWOTH) || ((status.st_mode & S_IWGRP) && status.st_gid != 0);
        return shared && !(status.st_mode & S_ISVTX) ? shown + " may be written by others" : "";
    }

    // The folders of an absolute path, "." and ".." taken as written: the walk below follows no link unchecked.
    std::vector<std::string> components(const std::string &path)
    {
        std::vector<std::string> parts;
        for (size_t at = 0, end = 0; at < path.size(); at = end + 1) {
            end = std::min(path.find('/', at), path.size());
            const std::string part = path.substr(at, end - at);
            if (part == ".." && !parts.empty())
                parts.pop_back();
            else if (!part.empty() && part != "." && part != "..")
                parts.push_back(part);
        }
        return parts;
    }

    // Opens the folder from "/", one folder at a time, checking each (untrusted()), making the missing ones with
    // `mode`, and following a link only when it is the running user's or root's in a folder that passed: where
    // it leads is then walked the same way. Folders made before a failure further down are removed again.
    Folder openFolder(std::string path, mode_t mode)
    {
        Folder folder;
        for (int links = 0; folder.fd < 0 && folder.why.empty(); ++links) {
            if (path.size() >= PATH_MAX || links > 40) {
                folder.why = std::strerror(links > 40 ? ELOOP : ENAMETOOLONG);
                break;
            }
            const std::vector<std::string> parts = components(path);
            std::string shown; // the folders walked
            size_t step = 0, made = parts.size(); // the first folder this walk made
            path.clear(); // where a link leads instead
            int fd = ::open("/", kStep);
            while (fd >= 0 && folder.why.empty() && path.empty()) {
                folder.why = untrusted(fd, shown.empty() ? "/" : shown);
                folder.refused = !folder.why.empty();
                if (step == parts.size() || folder.refused)
                    break;
                const char *name = parts[step].c_str();
                int next = ::openat(fd, name, kStep);
                if (next < 0 && errno == ENOENT) {
                    const bool ours = ::mkdirat(fd, name, mode) == 0;
                    made = ours ? std::min(made, step) : made;
                    if (ours || errno == EEXIST) // another run may make it at the same time
                        next = ::openat(fd, name, kStep);
                }
                const int error = errno;
                struct stat entry { };
                char target[PATH_MAX];
                ssize_t size = 0;
                if (next >= 0) {
                    ::close(fd);
                    fd = next;
                    shown += '/' + parts[step++];
                } else if (error != ENOTDIR || ::fstatat(fd, name, &entry, AT_SYMLINK_NOFOLLOW) != 0
                    || !S_ISLNK(entry.st_mode)) {
                    folder.why = reason(error);
                } else if (entry.st_uid != ::geteuid() && entry.st_uid != 0) {
                    folder.why = shown + '/' + parts[step] + " is a link of another user";
                    folder.refused = true;
                } else if ((size = ::readlinkat(fd, name, target, sizeof target)) <= 0 || size == sizeof target) {
                    folder.why = reason(size < 0 ? errno : ENAMETOOLONG);
                } else {
                    path = target[0] == '/' ? "" : shown + '/';
                    path.append(target, static_cast<size_t>(size));
                    while (++step < parts.size())
                        path += '/' + parts[step];
                }
            }
            if (fd < 0 && folder.why.empty())
                folder.why = reason(errno);
            for (; !folder.why.empty() && step > made && fd >= 0; --step) { // what this failed walk made
                const int above = ::openat(fd, "..", kStep);
                ::unlinkat(above, parts[step - 1].c_str(), AT_REMOVEDIR);
                ::close(fd);
                fd = above;
            }
            if (folder.why.empty() && path.empty())
                folder.fd = fd;
            else if (fd >= 0)
                ::close(fd);
        }
        return folder;
    }

    const std::string &chosenFolder()
    {
        static const std::string where = folder();
        return where;
    }

    std::string logPath(const char *name) { return chosenFolder() + '/' + name; }

    // The folder of the logs, opened on first use; a refusal is said once.
    const Folder &logFolder()
    {
        static const Folder opened = [] {
            const std::string &where = chosenFolder();
            char current[PATH_MAX];
            if (where.front() != '/' && !::getcwd(current, sizeof current))
                return Folder { -1, reason(errno) };
            // The XDG folders are the user's own: nobody else may look in.
            const bool state = Environment::get("OSTREL_LOG_DIR").empty() && Installation::installed();
            Folder folder = openFolder(where.front() == '/' ? where : current + ('/' + where), state ? 0700 : 0755);
            if (folder.refused)
                std::fprintf(stderr, "ostrel: log folder %s refused: %s\n", where.c_str(), folder.why.c_str());
            return folder;
        }();
        return opened;
    }

    bool writeAll(int fd, const std::string &bytes)
    {
        size_t done = 0;
        while (done < bytes.size()) {
            const ssize_t written = ::write(fd, bytes.data() + done, bytes.size() - done);
            if (written <= 0)
                return false;
            done += static_cast<size_t>(written);
        }
        return true;
    }

    // Nonblocking, so a FIFO without a reader fails at once instead of holding
    // the run; a link is never followed, and only a plain file with no other name
    // is written (a hard link could lead anywhere). Other runs append under the
    // same lock, so a line cut short by a full disk is taken back before anyone
    // writes after it.
    void appendLine(int folder, const char *name, const std::string &line)
    {
        const std::string path = logPath(name);
        const int fd = ::openat(
            folder, name, O_WRONLY | O_APPEND | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC, 0644);
        if (fd < 0)
            return report(path, reason(errno));
        struct stat status { };
        if (::fstat(fd, &status) != 0 || !S_ISREG(status.st_mode) || status.st_nlink != 1) {
            ::close(fd);
            return report(path, "it is not a plain file of its own");
        }
        // Our runs hold the lock for one write; anyone who can open the file can hold it for good, and then the
        // line goes out unlocked after a while rather than holding the run.
        const Wait::Deadline unlocked = Wait::after(2000);
        while (::flock(fd, LOCK_EX | LOCK_NB) != 0 && errno == EWOULDBLOCK && Wait::remainingMs(unlocked) > 0)
            ::usleep(1000);
        const off_t start = ::lseek(fd, 0, SEEK_END);
        if (!writeAll(fd, line)) {
            const int error = errno;
            [[maybe_unused]] const int truncated = ::ftruncate(fd, start);
            report(path, reason(error) + " (the line was lost)");
        }
        ::close(fd);
    }

    // The new file gets a name of its own that nobody can have planted (O_EXCL
    // fails on anything already there, a link included), then replaces the log in
    // one rename: readers and other runs see the old file or the new one, never a
    // half-written one.
    void replaceWith(int folder, const char *name, const std::string &line)
    {
        const std::string path = logPath(name);
        // The process id and a random number: a name no other run makes.
        const std::string temporary
            = kTemporaryPrefix + std::to_string(::getpid()) + '.' + std::to_string(std::random_device()());
        const int fd = ::openat(
            folder, temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_NOCTTY | O_CLOEXEC, 0644);
        if (fd < 0)
            return report(path, reason(errno));
        const bool written = writeAll(fd, line);
        const int error = errno;
        const bool closed = ::close(fd) == 0;
#ifdef OSTREL_TEST_HOOKS
        // Tests stop a run here, to kill it between writing and renaming.
        if (Environment::isSet("OSTREL_TEST_STOP_BEFORE_RENAME"))
            std::raise(SIGSTOP);
#endif
        if (!written || !closed) {
            ::unlinkat(folder, temporary.c_str(), 0);
            return report(path, reason(written ? errno : error) + " (the line was lost)");
        }
        if (::renameat(folder, temporary.c_str(), folder, name) != 0) {
            const int renameError = errno;
            ::unlinkat(folder, temporary.c_str(), 0);
            return report(path, reason(renameError));
        }
    }

    // A run killed between writing its temporary file and renaming it leaves
    // ".success.log.<pid>.<n>" behind; once that process is gone, so is the file.
    void removeLeftovers(int folder)
    {
        const int listing = ::openat(folder, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        DIR *entries = listing >= 0 ? ::fdopendir(listing) : nullptr;
        if (!entries) {
            if (listing >= 0)
                ::close(listing);
            return;
        }
        while (const dirent *entry = ::readdir(entries)) {
            const std::string name = entry->d_name;
            if (name.compare(0, kTemporaryPrefix.size(), kTemporaryPrefix) != 0)
                continue;
            const long pid = std::strtol(name.c_str() + kTemporaryPrefix.size(), nullptr, 10);
            if (pid > 0 && ::kill(static_cast<pid_t>(pid), 0) != 0 && errno == ESRCH)
                ::unlinkat(::dirfd(entries), name.c_str(), 0);
        }
        ::closedir(entries);
    }

} // namespace

std::string folder()
{
    const std::string chosen = Environment::get("OSTREL_LOG_DIR");
    if (!chosen.empty())
        return chosen;
    if (!Installation::installed())
        return Installation::programFolder();
    std::string state = Environment::get("XDG_STATE_HOME");
    if (state.empty() || state.front() != '/') {
        std::string home = Environment::get("HOME");
        if (home.empty()) {
            const passwd *user = ::getpwuid(::getuid());
            home = user && user->pw_dir ? user->pw_dir : "";
        }
        state = home + "/.local/state";
    }
    state += "/ostrel";
    if (Installation::programFolder().empty()) // a copy of the program would have logged beside itself
        std::fprintf(
            stderr, "ostrel: the program's own folder is unknown (no /proc): its logs go to %s\n", state.c_str());
    return state;
}

std::string timeStamp()
{
    // One fixed form whatever the user's locale: scripts that read the logs
    // can split it, and it sorts by time.
    const std::time_t now = std::time(nullptr);
    std::tm local {};
    ::localtime_r(&now, &local);
    char text[32];
    std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", &local);
    return text;
}

void startRun()
{
    const Folder &where = logFolder();
    if (where.fd < 0)
        return;
    ::unlinkat(where.fd, kSuccessLog, 0);
    ::unlinkat(where.fd, kErrorLog, 0);
    removeLeftovers(where.fd);
}

void writeLine(const char *name, const std::string &message, bool append)
{
    const std::string line = timeStamp() + '\t' + TextRules::blankControls(message) + "\r\n";
    const Folder &where = logFolder();
    if (where.fd < 0 && !where.refused) // a refused folder has been named once already
        report(logPath(name), where.why);
    else if (where.fd >= 0 && append)
        appendLine(where.fd, name, line);
    else if (where.fd >= 0)
        replaceWith(where.fd, name, line);
}

void Log_Success(const std::string &strMessage) { writeLine(kSuccessLog, strMessage, false); }

void Log_Error(const std::string &strMessage) { writeLine(kErrorLog, strMessage, true); }

} // namespace ResultLog
