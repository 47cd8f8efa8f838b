#pragma once
// Ending the program from outside ends it as closing its window does: the event loop quits,
// the window and its serial port close, and the port's lock file goes with them. A program
// that simply died would leave that lock behind, and a lock of another user's ended program
// cannot be removed by the next user: the device would stay blocked until a reboot.

// SIGTERM (logout, kill), SIGINT (Ctrl+C) and SIGHUP (the terminal went away) quit the event
// loop with status 0. The signal handler only writes a byte into a pipe, which the event loop
// reads. Windows has no such signals and keeps no lock files; there the end of the session
// quits the loop by itself.
void EndLikeAClosedWindow();

// True once such a signal was handled: a message box at start-up, before the main loop runs,
// has then ended, and the program ends instead of going on into the main loop.
bool EndWasAsked();
