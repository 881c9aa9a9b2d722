#include "app/Display.h"

#include "base/Environment.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <dlfcn.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

namespace Display {

namespace {

    // The first platform named, without its options ("xcb:foo=1;wayland" -> "xcb").
    std::string firstPlatform()
    {
        const std::string name = Environment::get("QT_QPA_PLATFORM");
        const std::string first = name.substr(0, name.find(';'));
        return first.substr(0, first.find(':'));
    }

    // Asks the X server itself, through the library Qt's platform uses (loaded
    // only here, never by an unattended run): the display's socket may be gone,
    // or the server may refuse us.
    bool xServerAnswers(const std::string &display)
    {
        if (display.empty())
            return false;
        void *xcb = ::dlopen("libxcb.so.1", RTLD_NOW | RTLD_LOCAL);
        if (!xcb)
            return false;
        using Connect = void *(*)(const char *, int *);
        using HasError = int (*)(void *);
        using Disconnect = void (*)(void *);
        const auto connect = reinterpret_cast<Connect>(::dlsym(xcb, "xcb_connect"));
        const auto hasError = reinterpret_cast<HasError>(::dlsym(xcb, "xcb_connection_has_error"));
        const auto disconnect = reinterpret_cast<Disconnect>(::dlsym(xcb, "xcb_disconnect"));
        bool answered = false;
        if (connect && hasError && disconnect) {
            void *connection = connect(display.c_str(), nullptr);
            answered = connection && hasError(connection) == 0;
            if (connection)
                disconnect(connection);
        }
        ::dlclose(xcb);
        return answered;
    }

    bool waylandReached(const std::string &display)
    {
        if (display.empty())
            return false;
        const std::string path = display.front() == '/' ? display : Environment::get("XDG_RUNTIME_DIR") + '/' + display;
        sockaddr_un address {};
        address.sun_family = AF_UNIX;
        if (path.size() >= sizeof address.sun_path)
            return false;
        std::strcpy(address.sun_path, path.c_str());
        const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
        const bool answered = fd >= 0 && ::connect(fd, reinterpret_cast<sockaddr *>(&address), sizeof address) == 0;
        if (fd >= 0)
            ::close(fd);
        return answered;
    }

    // Whether Qt has a platform plugin whose file name starts so: Qt's own
    // folder of plugins (known from the build, so no Qt is loaded to ask) and
    // those of QT_PLUGIN_PATH hold them under platforms/.
    bool platformInstalled(const std::string &prefix)
    {
        std::string folders = Environment::get("QT_PLUGIN_PATH") + ":" OSTREL_QT_PLUGIN_DIR;
        for (std::size_t start = 0, end; start <= folders.size(); start = end + 1) {
            end = std::min(folders.find(':', start), folders.size());
            DIR *platforms = ::opendir((folders.substr(start, end - start) + "/platforms").c_str());
            bool found = false;
            while (const dirent *entry = platforms ? ::readdir(platforms) : nullptr)
                found = found || std::strncmp(entry->d_name, prefix.c_str(), prefix.size()) == 0;
            if (platforms)
                ::closedir(platforms);
            if (found)
                return true;
        }
        return false;
    }

} // namespace

bool available(std::string *why)
{
    const std::string platform = firstPlatform();
    const bool askedX = platform == "xcb", askedWayland = platform.compare(0, 7, "wayland") == 0;
    if (!platform.empty() && !askedX && !askedWayland)
        return true; // offscreen, minimal and the like need no display
    const std::string x11 = Environment::get("DISPLAY");
    const std::string wayland = Environment::get("WAYLAND_DISPLAY");
    // Natively on Wayland where Qt can, else on X where it answers. Qt is
    // told which, as it would end the process on a platform it cannot start.
    const bool waylandAnswers = !askedX && waylandReached(wayland);
    const bool waylandPlatform = waylandAnswers && platformInstalled("libqwayland-");
    if (waylandPlatform || (!askedWayland && xServerAnswers(x11))) {
        if (platform.empty())
            ::setenv("QT_QPA_PLATFORM", waylandPlatform ? "wayland" : "xcb", 1);
        return true;
    }
    const std::string x = x11.empty() ? "DISPLAY is not set" : "the X display \"" + x11 + "\" cannot be reached";
    std::string w = "the Wayland display \"" + wayland + "\" cannot be reached";
    if (wayland.empty())
        w = "WAYLAND_DISPLAY is not set";
    else if (waylandAnswers)
        w = "the Wayland display \"" + wayland
            + "\" answers, but Qt's Wayland platform is not installed "
              "(apt install qt6-wayland)";
    if (!why)
        return false;
    if (askedX || askedWayland)
        *why = askedX ? x : w;
    else if (x11.empty() && wayland.empty())
        *why = "no display is available (DISPLAY and WAYLAND_DISPLAY are not set)";
    else
        *why = wayland.empty() ? x : x11.empty() ? w : x + "; " + w;
    return false;
}

bool visible()
{
    const std::string platform = firstPlatform();
    return platform != "offscreen" && platform != "minimal" && available();
}

} // namespace Display
