#pragma once

#include <string>

namespace sensorsim {

class Bridge;
class Line;
class TrafficLog;

struct LoopParts {
    Bridge &bridge;
    Line &line;
    TrafficLog &log;
    std::string link;   // where the program finds its port; empty with --tcp
    bool stdinEofExits; // --stdin-eof-exits
    bool stdinCommands; // --stdin-commands
    std::string tcpHost = "127.0.0.1";
    int tcpPort = -1; // --tcp: serve the line at this port (0: any free one) instead of a pty
};

// Publishes the program's port at the link (or listens for a TCP client), prints the ready
// line, and runs until a stop signal (or, if asked, end of stdin); SIGUSR1 and SIGUSR2
// unplug the port and plug it in again, over TCP SIGUSR1 drops the client; commands on
// stdin (if asked) change the line. Sleeps in poll()
// whenever there is nothing to do: the only timers are the silence that ends a frame from
// the program and replies the fault options hold back. Returns the exit status: 0 when
// stopped, 2 when the link's path is someone else's file, else 1.
int RunEventLoop(const LoopParts &parts);

} // namespace sensorsim
