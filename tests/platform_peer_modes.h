#pragma once
// What tests/peers/platform_peer.cpp does, chosen by the number after "-l".
// The peer is started through ProcessStart, so its arguments are
// {exe, "-l", mode, work folder, suffix, app folder, event name}; it talks
// back through files in the work folder and waits for the file "go" there
// where a step must not run before the test allows it.

namespace platform_peer {

enum Mode {
  kSignalAndExit = 0,  // signal the start event, exit
  kExitSilently = 1,   // exit at once without signalling
  kReport = 2,         // write its arguments and QARN_NS entries to "report", signal, exit
  kLinger = 3,         // wait for "go", exit
  kEchoServer = 4,     // signal, wait for "go", listen, serve one client (see below)
  kOpenBlock = 5,      // open block <suffix>, dump it to "seen", invert it, signal, wait for "go"
  kCreateBlock = 6,    // the same with MappingCreate(<suffix>, kBlockSize)
};

// kEchoServer: every message comes back unchanged, except "big:<n>", which
// is answered with n bytes, and "quit", after which the peer hangs up.
constexpr char kQuit[] = "quit";
constexpr char kBigPrefix[] = "big:";
constexpr unsigned kBlockSize = 256;

}  // namespace platform_peer
