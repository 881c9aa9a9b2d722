#include "app/Display.h"

#include "base/Environment.h"

#include <cstdlib>
#include <cstring>
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

    bool waylandAnswers(const std::string &display)
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

} // namespace

bool available(std::string *why)
{
    const std::string platform = firstPlatform();
    const std::string x11 = Environment::get("DISPLAY");
    const std::string wayland = Environment::get("WAYLAND_DISPLAY");
    const auto fail = [why](const std::string &text) {
        if (why)
            *why = text;
        return false;
    };
    if (platform == "xcb" || (platform.empty() && wayland.empty())) {
        if (x11.empty())
            return fail("no display is available (DISPLAY and WAYLAND_DISPLAY are not set)");
        if (!xServerAnswers(x11))
            return fail("the X display \"" + x11 + "\" cannot be reached");
        return true;
    }
    if (platform.empty()) {
        if (xServerAnswers(x11))
            return true;
        if (!waylandAnswers(wayland))
            return fail(
                "neither the X display \"" + x11 + "\" nor the Wayland display \"" + wayland + "\" can be reached");
        // Qt would try the stale X display first and end the process there.
        ::setenv("QT_QPA_PLATFORM", "wayland", 1);
        return true;
    }
    if (platform.compare(0, 7, "wayland") == 0 && !waylandAnswers(wayland))
        return fail("the Wayland display \"" + wayland + "\" cannot be reached");
    return true;
}

bool visible()
{
    const std::string platform = firstPlatform();
    return platform != "offscreen" && platform != "minimal" && available();
}

} // namespace Display
