// Starting and finishing the peer process, and the peer's own dispatch.

#include "peer.h"

#include <stdio.h>

#include "check.h"
#include "platform/platform.h"

namespace wine_test {
namespace {

std::string ExecutablePath() {
  char path[MAX_PATH] = {};
  qarn::os::ExecutablePath(path, sizeof path);
  return path;
}

std::string FolderOf(const std::string& path) {
  const size_t cut = path.rfind('\\');
  return cut == std::string::npos ? path : path.substr(0, cut);
}

}  // namespace

std::string UniqueName(const char* what) {
  static int counter = 0;
  char name[96];
  snprintf(name, sizeof name, "qarnwine.%lu.%s.%d", GetCurrentProcessId(), what, ++counter);
  return name;
}

std::string PeerCommandLine(PeerRole role, const std::string& argument, const std::string& event_name) {
  const std::string exe = ExecutablePath();
  const std::string folder = FolderOf(exe);
  char line[2048];
  snprintf(line, sizeof line, "\"%s\" -l %d \"%s\" \"%s\" \"%s\" %s", exe.c_str(), static_cast<int>(role),
           folder.c_str(), argument.c_str(), folder.c_str(), event_name.c_str());
  return line;
}

uint32_t LaunchPeer(PeerRole role, const std::string& argument, const std::string& event_name, Peer* peer) {
  const std::string exe = ExecutablePath();
  const std::string folder = FolderOf(exe);
  peer->command_line = PeerCommandLine(role, argument, event_name);
  const qarn::os::ServerLaunch launch = {
      exe.c_str(),        static_cast<int>(role),    folder.c_str(), argument.c_str(), folder.c_str(),
      event_name.c_str(), peer->command_line.c_str()};
  uint32_t pid = 0;
  const uint32_t result = qarn::os::ProcessStart(launch, &peer->process, &pid);
  peer->pid = pid;
  return result;
}

bool StartPeer(PeerRole role, const std::string& argument, Peer* peer) {
  const std::string event_name = UniqueName("start");
  HANDLE event = nullptr;
  if (!CHECK_EQ(qarn::os::EventCreate(event_name.c_str(), &event), 0)) return false;
  if (!CHECK_EQ(LaunchPeer(role, argument, event_name, peer), 0)) {
    qarn::os::EventClose(event);
    return false;
  }
  const qarn::os::WaitResult started = qarn::os::EventWait(event, kPeerTimeoutMs, peer->process);
  qarn::os::EventClose(event);
  if (CHECK(started == qarn::os::WaitResult::kSignalled)) return true;
  FinishPeer(peer);
  return false;
}

DWORD FinishPeer(Peer* peer) {
  DWORD exit_code = 0xFFFFFFFF;
  if (WaitForSingleObject(peer->process, kPeerTimeoutMs) == WAIT_OBJECT_0) {
    GetExitCodeProcess(peer->process, &exit_code);
  } else {
    TerminateProcess(peer->process, 0xFFFFFFFF);
  }
  qarn::os::ProcessClose(peer->process);
  peer->process = nullptr;
  return exit_code;
}

int RunPeer(int role, const char* argument, const char* event_name) {
  switch (role) {
    case kPeerSignalLate:
      Sleep(200);
      return static_cast<int>(qarn::os::EventSignal(event_name));
    case kPeerExitWithoutSignal:
      return 0;
    case kPeerMapping:
      return PeerMappingRole(argument, event_name);
    case kPeerUntranslatedFault:
    case kPeerReturningTranslator:
      return PeerFaultRole(role, argument, event_name);
    default:
      return PeerPipeRole(role, argument, event_name);
  }
}

}  // namespace wine_test
