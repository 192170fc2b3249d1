// Starting and finishing the peer process, and the peer's own dispatch.

#include "peer.h"

#include <stdio.h>

namespace wine_test {

using namespace qarn::os;

std::string UniqueName(const char* what) {
  static int counter = 0;
  char name[96];
  snprintf(name, sizeof name, "qarnwine.%lu.%s.%d", GetCurrentProcessId(), what, ++counter);
  return name;
}

uint32_t LaunchPeer(PeerRole role, const std::string& argument, const std::string& event_name, Peer* peer) {
  char exe[MAX_PATH] = {};
  ExecutablePath(exe, sizeof exe);
  std::string folder = exe;
  folder.erase(folder.rfind('\\'));
  char line[2048];
  snprintf(line, sizeof line, "\"%s\" -l %d \"%s\" \"%s\" \"%s\" %s", exe, static_cast<int>(role),
           folder.c_str(), argument.c_str(), folder.c_str(), event_name.c_str());
  peer->command_line = line;
  const ServerLaunch launch = {
      exe, static_cast<int>(role), folder.c_str(), argument.c_str(), folder.c_str(), event_name.c_str(),
      line};
  return ProcessStart(launch, &peer->process, &peer->pid);
}

bool StartPeer(PeerRole role, const std::string& argument, Peer* peer) {
  const std::string event_name = UniqueName("start");
  HANDLE event = nullptr;
  if (!CHECK_EQ(EventCreate(event_name.c_str(), &event), 0)) return false;
  const bool launched = CHECK_EQ(LaunchPeer(role, argument, event_name, peer), 0);
  const bool started =
      launched && CHECK(EventWait(event, kWaitForever, peer->process) == WaitResult::kSignalled);
  EventClose(event);
  if (launched && !started) FinishPeer(peer);
  return started;
}

DWORD FinishPeer(Peer* peer) {
  DWORD exit_code = 0xFFFFFFFF;
  if (WaitForSingleObject(peer->process, kPeerTimeoutMs) == WAIT_OBJECT_0)
    GetExitCodeProcess(peer->process, &exit_code);
  else
    TerminateProcess(peer->process, 0xFFFFFFFF);
  ProcessClose(peer->process);
  peer->process = nullptr;
  return exit_code;
}

int RunPeer(int role, const char* argument, const char* event_name) {
  if (role == kPeerExitWithoutSignal) return 0;
  if (role == kPeerMapping) return PeerMappingRole(argument, event_name);
  if (role == kPeerFault) return PeerFaultRole(argument, event_name);
  if (role == kPeerSquatter || role == kPeerIntruder || role == kPeerEventSquatter)
    return PeerIntruderRole(role, argument, event_name);
  return PeerPipeRole(role, event_name);
}

}  // namespace wine_test
