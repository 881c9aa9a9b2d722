#include "followup/modWin32Api.h"

#include "base/Environment.h"

#include <cerrno>
#include <climits>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <system_error>
#include <thread>
#include <unistd.h>

extern char **environ;

namespace modWin32Api {

namespace {

    // The xdg tools answer in milliseconds; a hung one must not hold the caller.
    constexpr int kQueryTimeoutMs = 5000;

    bool executableFile(const std::string &path)
    {
        struct stat status { };
        return ::stat(path.c_str(), &status) == 0 && S_ISREG(status.st_mode) && ::access(path.c_str(), X_OK) == 0;
    }

    std::string currentFolder()
    {
        char folder[PATH_MAX];
        return ::getcwd(folder, sizeof folder) ? folder : ".";
    }

    // A bare name's program on PATH, as a shell finds it; empty when there is none.
    std::string onPath(const std::string &name)
    {
        const std::string path = Environment::get("PATH");
        std::string_view folders = path;
        while (!folders.empty()) {
            const size_t colon = folders.find(':');
            const std::string folder(folders.substr(0, colon));
            const std::string candidate = (folder.empty() ? currentFolder() : folder) + '/' + name;
            if (executableFile(candidate))
                return candidate;
            folders.remove_prefix(colon == std::string_view::npos ? folders.size() : colon + 1);
        }
        return {};
    }

    // A bare name is looked for on PATH; anything else, and a name not found
    // there, is taken from the current folder.
    std::string locate(const std::string &file)
    {
        if (file.find('/') == std::string::npos) {
            if (std::string found = onPath(file); !found.empty())
                return found;
        }
        return file.front() == '/' ? file : currentFolder() + '/' + file;
    }

    int32_t missing(const std::string &path, int error)
    {
        switch (error) {
        case EACCES:
            return SE_ERR_ACCESSDENIED;
        case ENOTDIR:
            return SE_ERR_PNF;
        case ENOENT: {
            struct stat status { };
            const std::string folder = path.substr(0, path.find_last_of('/') + 1);
            return ::stat(folder.c_str(), &status) == 0 && S_ISDIR(status.st_mode) ? SE_ERR_FNF : SE_ERR_PNF;
        }
        default:
            return SE_ERR_FNF;
        }
    }

    // The program's environment with the launch's entries in place of any of the same name.
    std::vector<std::string> environmentWith(const std::vector<std::string> &added)
    {
        std::vector<std::string> entries;
        for (char **entry = environ; entry && *entry; ++entry) {
            const std::string_view text = *entry;
            const std::string_view name = text.substr(0, text.find('=') + 1);
            bool replaced = false;
            for (const std::string &ours : added)
                replaced = replaced || std::string_view(ours).substr(0, ours.find('=') + 1) == name;
            if (!replaced)
                entries.emplace_back(text);
        }
        entries.insert(entries.end(), added.begin(), added.end());
        return entries;
    }

    std::vector<char *> pointers(std::vector<std::string> &texts)
    {
        std::vector<char *> list;
        for (std::string &text : texts)
            list.push_back(text.data());
        list.push_back(nullptr);
        return list;
    }

    enum class Streams { Shared, Hidden, OutputToPipe };

    // Starts the program in a session of its own, every signal at its default and none blocked;
    // its end is awaited by a thread of its own, so it never lingers as a zombie.
    // The process id, or -1 with errno set.
    pid_t spawn(const std::string &path, std::vector<std::string> arguments, std::vector<std::string> environment,
        Streams streams, int pipeWriteEnd = -1)
    {
        posix_spawn_file_actions_t actions;
        posix_spawnattr_t attributes;
        ::posix_spawn_file_actions_init(&actions);
        ::posix_spawnattr_init(&attributes);
        sigset_t defaults, none;
        sigfillset(&defaults); // what our caller ignored (nohup, a scheduler) is not the command's to inherit
        sigemptyset(&none);
        ::posix_spawnattr_setsigdefault(&attributes, &defaults);
        ::posix_spawnattr_setsigmask(&attributes, &none);
        ::posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSID | POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETSIGMASK);
        if (streams == Streams::Hidden || streams == Streams::OutputToPipe) {
            ::posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
            if (streams == Streams::Hidden)
                ::posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
            ::posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
        }
        if (streams == Streams::OutputToPipe)
            ::posix_spawn_file_actions_adddup2(&actions, pipeWriteEnd, 1);
        arguments.insert(arguments.begin(), path);
        auto argv = pointers(arguments);
        auto envp = pointers(environment);
        pid_t pid = -1;
        const int error = ::posix_spawn(&pid, path.c_str(), &actions, &attributes, argv.data(), envp.data());
        ::posix_spawn_file_actions_destroy(&actions);
        ::posix_spawnattr_destroy(&attributes);
        if (error != 0) {
            errno = error;
            return -1;
        }
        return pid;
    }

    void forget(pid_t pid)
    {
        try {
            std::thread([pid] { ::waitpid(pid, nullptr, 0); }).detach();
        } catch (const std::system_error &) {
            // No thread: the child is reaped when this process ends.
        }
    }

    // The first line an xdg tool prints, up to a ";", or empty text when it
    // fails or takes longer than it should.
    std::string query(const std::string &program, const std::vector<std::string> &arguments, Wait::Waiter &waiter)
    {
        int ends[2];
        if (::pipe2(ends, O_CLOEXEC) != 0)
            return {};
        // Only our end waits without blocking: the tool writes as to any pipe.
        ::fcntl(ends[0], F_SETFL, O_NONBLOCK);
        const pid_t pid = spawn(program, arguments, environmentWith({}), Streams::OutputToPipe, ends[1]);
        ::close(ends[1]);
        std::string output;
        const Wait::Deadline deadline = Wait::after(kQueryTimeoutMs);
        char buffer[1024];
        bool ended = false;
        while (pid > 0 && output.size() < 65536) {
            const ssize_t size = ::read(ends[0], buffer, sizeof buffer);
            if (size > 0) {
                output.append(buffer, static_cast<size_t>(size));
                continue;
            }
            if (size < 0 && errno == EAGAIN && waiter.wait(ends[0], POLLIN, deadline))
                continue;
            ended = size == 0;
            break;
        }
        ::close(ends[0]);
        if (pid <= 0)
            return {};
        // Its output ends as it exits; the exit itself comes a moment later.
        const int exited = static_cast<int>(::syscall(SYS_pidfd_open, pid, 0));
        if (ended && exited >= 0)
            waiter.wait(exited, POLLIN, deadline);
        if (exited >= 0)
            ::close(exited);
        int status = 0;
        if (!ended || ::waitpid(pid, &status, WNOHANG) != pid) {
            ::kill(-pid, SIGKILL); // its session's group: the tools it started go too
            ::waitpid(pid, &status, 0);
            return {};
        }
        if (!WIFEXITED(status) || WEXITSTATUS(status) != 0)
            return {};
        std::string line = output.substr(0, output.find_first_of(";\n"));
        line.erase(0, line.find_first_not_of(" \t"));
        line.erase(line.find_last_not_of(" \t\r") + 1);
        return line;
    }

    int32_t startProgram(
        const std::string &path, const std::string &parameters, int32_t showState, const Launch &launch)
    {
        const Streams streams = showState == SW_HIDE || launch.hidden ? Streams::Hidden : Streams::Shared;
        const pid_t pid = spawn(path, splitCommand(parameters), environmentWith(launch.environment), streams);
        if (pid > 0) {
            forget(pid);
            return kShellAccepted;
        }
        const int error = errno; // the system's reason, for describe()
        const int32_t refused = ::access(path.c_str(), X_OK) == 0 ? ERROR_BAD_FORMAT : SE_ERR_ACCESSDENIED;
        errno = error;
        return refused;
    }

    // Only an application the desktop names for the document's type counts: on a
    // machine without a display, or without one for the type, xdg-open would fall
    // back to text-mode browsers on whatever terminal there is.
    int32_t openDocument(const std::string &path, int32_t showState, const Launch &launch)
    {
        if (!Environment::isSet("DISPLAY") && !Environment::isSet("WAYLAND_DISPLAY"))
            return SE_ERR_NOASSOC;
        // The desktop's own tools, never ones lying in the current folder.
        const std::string xdgMime = onPath("xdg-mime");
        const std::string xdgOpen = onPath("xdg-open");
        if (xdgMime.empty() || xdgOpen.empty())
            return SE_ERR_NOASSOC;
        Wait::Waiter &waiter = launch.waiter ? *launch.waiter : Wait::polling();
        const std::string type = query(xdgMime, { "query", "filetype", path }, waiter);
        if (type.empty() || query(xdgMime, { "query", "default", type }, waiter).empty())
            return SE_ERR_NOASSOC;
        // The path is absolute, so it is never read as an option.
        const Streams streams = showState == SW_HIDE || launch.hidden ? Streams::Hidden : Streams::Shared;
        const pid_t pid = spawn(xdgOpen, { path }, environmentWith(launch.environment), streams);
        if (pid <= 0)
            return SE_ERR_NOASSOC;
        forget(pid);
        return kShellAccepted;
    }

} // namespace

std::vector<std::string> splitCommand(std::string_view text)
{
    std::vector<std::string> arguments;
    std::string current;
    bool inQuote = false;
    int quotes = 0;
    for (const char c : text) {
        if (c == '"') {
            if (++quotes == 3) {
                quotes = 0;
                current += c;
            }
            continue;
        }
        if (quotes == 1)
            inQuote = !inQuote;
        quotes = 0;
        if (!inQuote && (c == ' ' || (c >= '\t' && c <= '\r'))) {
            if (!current.empty())
                arguments.push_back(std::move(current));
            current.clear();
        } else {
            current += c;
        }
    }
    if (!current.empty())
        arguments.push_back(std::move(current));
    return arguments;
}

int32_t Shell_Execute(
    const std::string &strFile, const std::string &strParameters, int32_t lngShowCmd, const Launch &launch)
{
    if (strFile.empty())
        return SE_ERR_FNF;
    const std::string path = locate(strFile);
    struct stat status { };
    if (::stat(path.c_str(), &status) != 0)
        return missing(path, errno);
    if (S_ISREG(status.st_mode) && ::access(path.c_str(), X_OK) == 0)
        return startProgram(path, strParameters, lngShowCmd, launch);
    if (::access(path.c_str(), R_OK) != 0)
        return SE_ERR_ACCESSDENIED;
    return openDocument(path, lngShowCmd, launch);
}

std::string describe(int32_t result, int error)
{
    switch (result) {
    case SE_ERR_FNF:
        return "no such file";
    case SE_ERR_PNF:
        return "no such folder";
    case SE_ERR_ACCESSDENIED:
        return "permission denied";
    case ERROR_BAD_FORMAT:
        return std::strerror(error);
    case SE_ERR_NOASSOC:
        return "no application opens this file here";
    default:
        return result > 32 ? "started" : "refused";
    }
}

} // namespace modWin32Api
