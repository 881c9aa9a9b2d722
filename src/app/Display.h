#pragma once

#include <string>

// Whether a window can be opened before anything tries: Qt ends the process
// (abort) when its platform cannot connect to a display, as with a stale
// DISPLAY in an ssh session or a cron job that exports one.
namespace Display {

// A window system that Qt can start on, reached for real; `why` says what is
// missing when there is none.
bool available(std::string *why = nullptr);

// Also one that a user can see: offscreen and minimal render nowhere, so a
// message box there would wait for a click that can never come.
bool visible();

} // namespace Display
