#pragma once
// The other process of the cross-process tests: this program started again
// through qarn::os::ProcessStart with the server command line
//   "<exe>" -l <role> "<folder>" "<argument>" "<folder>" <event name>
// The role picks what the peer does; it signals the start event when it is
// ready and reports through its exit code (0: all well).

#include <stdint.h>
#include <windows.h>

#include <string>

namespace wine_test {

enum PeerRole {
  kPeerEchoCommandLine = 1,  // serves the pipe, sends its own command line
  kPeerEchoMessages,         // serves the pipe, echoes each message
  kPeerLateListener,         // signals first, opens the pipe when told to
  kPeerBusyListener,         // serves one client after another
  kPeerSignalLate,           // signals after a pause, then exits
  kPeerExitWithoutSignal,    // exits at once
  kPeerMapping,              // opens the mapping named by the argument
  kPeerUntranslatedFault,    // faults with no translator installed
  kPeerReturningTranslator,  // faults with a translator that returns
};

constexpr DWORD kPeerTimeoutMs = 30000;

struct Peer {
  HANDLE process = nullptr;
  DWORD pid = 0;
  std::string command_line;
};

// Starts the peer without waiting for it.
uint32_t LaunchPeer(PeerRole role, const std::string& argument, const std::string& event_name, Peer* peer);
// Starts the peer and waits for its start event; false (and a failed check)
// when it does not come.
bool StartPeer(PeerRole role, const std::string& argument, Peer* peer);
// Builds the command line without starting anything.
std::string PeerCommandLine(PeerRole role, const std::string& argument, const std::string& event_name);
// Waits for the peer's end and returns its exit code (0xFFFFFFFF on time-out,
// after which the peer is stopped); releases the handle.
DWORD FinishPeer(Peer* peer);
// A name unique to this process and call, for events and mappings.
std::string UniqueName(const char* what);

// The peer side: runs `role` and returns the process exit code.
int RunPeer(int role, const char* argument, const char* event_name);

// The roles, by group.
int PeerPipeRole(int role, const char* argument, const char* event_name);
int PeerMappingRole(const char* block_name, const char* event_name);
int PeerFaultRole(int role, const char* variant, const char* event_name);

}  // namespace wine_test
