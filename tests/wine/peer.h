#pragma once
// The other process of the cross-process tests: this program started again
// through qarn::os::ProcessStart with the server command line
//   "<exe>" -l <role> "<folder>" "<argument>" "<folder>" <event name>
// It signals the start event when ready and exits with 0 when all went well.

#include <stdint.h>
#include <windows.h>

#include <string>

#include "check.h"
#include "platform/platform.h"

namespace wine_test {

enum PeerRole {
  kPeerEchoMessages = 1,   // serves the pipe: its command line, then an echo of each message
  kPeerTwoClients,         // serves two clients in turn
  kPeerExitWithoutSignal,  // exits at once
  kPeerMapping,            // opens the mapping named by the argument
  kPeerFault,              // faults in the way the argument names
  kPeerSquatter,           // makes the pipe of the pid in the argument first and answers its client
  kPeerIntruder,           // opens the pipe of the pid in the argument before its application does
  kPeerEventSquatter,      // makes the event named by the argument first and holds it until it is set
};

constexpr DWORD kPeerTimeoutMs = 30000;

struct Peer {
  HANDLE process = nullptr;
  uint32_t pid = 0;
  std::string command_line;
};

uint32_t LaunchPeer(PeerRole role, const std::string& argument, const std::string& event_name, Peer* peer);
// LaunchPeer, then the wait without limit for its start event (a failed
// check if the peer ends without it; a peer that hangs hangs the run).
bool StartPeer(PeerRole role, const std::string& argument, Peer* peer);
// The peer's exit code once it ended (0xFFFFFFFF, and stopped, on time-out).
DWORD FinishPeer(Peer* peer);
// A name unique to this process and call, for events and mappings.
std::string UniqueName(const char* what);

void RunPipeTests();
void RunNamedObjectTests();
void RunSystemDataTests();
void RunFaultTranslationTests();
void RunIntruderTests();

// The peer's side: the process exit code for `role`, by group.
int RunPeer(int role, const char* argument, const char* event_name);
int PeerPipeRole(int role, const char* event_name);
int PeerMappingRole(const char* block_name, const char* event_name);
int PeerFaultRole(const char* variant, const char* event_name);
int PeerIntruderRole(int role, const char* argument, const char* event_name);

}  // namespace wine_test
