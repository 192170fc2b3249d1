// Another process that knows the names: one that makes the server's pipe
// first and answers in its place, and one that opens the pipe before the
// application does. Neither gets in. The named objects we make are open to
// our user alone.

#include <aclapi.h>
#include <stdlib.h>
#include <string.h>

#include <string>

#include "peer.h"

namespace wine_test {
namespace {

using namespace qarn::os;

std::string OwnPid() { return std::to_string(CurrentProcessId()); }

// The squatter made "\\.\Pipe\<our pid>" as if it were the server we started
// (here: this process): the client refuses the pipe instead of talking to it,
// and our own listener cannot share the name with it.
void SquatterIsRefused() {
  Peer squatter;
  if (!StartPeer(kPeerSquatter, OwnPid(), &squatter)) return;
  // Asked while the squatter still waits for its client, which ends it.
  HANDLE listener = INVALID_HANDLE_VALUE;
  CHECK(PipeListen(CurrentProcessId(), &listener) != kErrorSuccess);
  PipeListenerClose(listener);
  HANDLE pipe = INVALID_HANDLE_VALUE;
  CHECK_EQ(PipeOpen(CurrentProcessId(), &pipe), kErrorAccessDenied);
  CHECK(pipe == INVALID_HANDLE_VALUE);
  CHECK_EQ(FinishPeer(&squatter), 0);  // it saw its client leave without a word
}

// The application's side: opens the pipe once the intruder is dropped and
// says who it is.
DWORD WINAPI ConnectAsApplication(void* context) {
  HANDLE* client = static_cast<HANDLE*>(context);
  uint32_t result = kErrorPipeBusy;
  for (int attempt = 0; attempt < 50 && result == kErrorPipeBusy; ++attempt) {
    result = PipeOpen(CurrentProcessId(), client);
    if (result == kErrorPipeBusy) PipeWaitBusy(CurrentProcessId(), kPeerTimeoutMs);
  }
  if (result == kErrorSuccess) PipeWrite(*client, "mine", 4);
  return result;
}

// With the application named to it, the server drops the intruder that came
// first and serves the application that comes after.
void ServerServesOnlyItsApplication() {
  const std::string naming = std::string(kApplicationPidVariable) + "=" + OwnPid();
  _putenv(naming.c_str());
  HANDLE listener = INVALID_HANDLE_VALUE;
  Peer intruder;
  if (CHECK_EQ(PipeListen(CurrentProcessId(), &listener), 0) &&
      StartPeer(kPeerIntruder, OwnPid(), &intruder)) {
    HANDLE client = INVALID_HANDLE_VALUE;
    const HANDLE application = CreateThread(nullptr, 0, ConnectAsApplication, &client, 0, nullptr);
    HANDLE served = INVALID_HANDLE_VALUE;
    if (CHECK_EQ(PipeAccept(listener, &served), 0)) {
      ULONG pid = 0;
      CHECK(GetNamedPipeClientProcessId(served, &pid));
      CHECK_EQ(pid, CurrentProcessId());
      char message[16];
      uint32_t length = 0;
      CHECK_EQ(PipeRead(served, message, sizeof message, &length), 0);
      CHECK(length == 4 && memcmp(message, "mine", 4) == 0);
      PipeClose(served);
    }
    WaitForSingleObject(application, kPeerTimeoutMs);
    CloseHandle(application);
    PipeClose(client);
    CHECK_EQ(FinishPeer(&intruder), 0);  // it was dropped without a message
  }
  PipeListenerClose(listener);
  _putenv((std::string(kApplicationPidVariable) + "=").c_str());
}

// Another process made the next start event's name first: creating it is
// refused as taken (the start moves on to the next name) rather than
// waiting on an event the squatter sets.
void SquattedStartEventIsTaken() {
  const std::string name = UniqueName("squatted");
  Peer squatter;
  if (!StartPeer(kPeerEventSquatter, name, &squatter)) return;
  HANDLE event = nullptr;
  CHECK_EQ(EventCreate(name.c_str(), &event), kErrorAlreadyExists);
  CHECK(event == nullptr);
  CHECK_EQ(EventSignal(name.c_str()), 0);  // lets the squatter go
  CHECK_EQ(FinishPeer(&squatter), 0);
}

// The access list of `object`: exactly one entry, allowing our user.
bool OnlyOurUser(HANDLE object) {
  PACL dacl = nullptr;
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  if (GetSecurityInfo(object, SE_KERNEL_OBJECT, DACL_SECURITY_INFORMATION, nullptr, nullptr, &dacl, nullptr,
                      &descriptor) != ERROR_SUCCESS) {
    return false;
  }
  bool only_ours = false;
  void* ace = nullptr;
  HANDLE token = nullptr;
  unsigned char user[256];
  DWORD size = 0;
  if (dacl != nullptr && dacl->AceCount == 1 && GetAce(dacl, 0, &ace) &&
      OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token) &&
      GetTokenInformation(token, TokenUser, user, sizeof user, &size)) {
    const auto* allowed = static_cast<ACCESS_ALLOWED_ACE*>(ace);
    only_ours =
        allowed->Header.AceType == ACCESS_ALLOWED_ACE_TYPE &&
        EqualSid(const_cast<DWORD*>(&allowed->SidStart), reinterpret_cast<TOKEN_USER*>(user)->User.Sid);
  }
  if (token != nullptr) CloseHandle(token);
  LocalFree(descriptor);
  return only_ours;
}

void ObjectsAreOpenToOurUserAlone() {
  HANDLE event = nullptr;
  if (CHECK_EQ(EventCreate(UniqueName("private").c_str(), &event), 0)) CHECK(OnlyOurUser(event));
  EventClose(event);
  HANDLE mapping = nullptr;
  if (CHECK_EQ(MappingCreate(UniqueName("private").c_str(), 4096, &mapping), 0)) CHECK(OnlyOurUser(mapping));
  MappingClose(mapping);
  HANDLE listener = INVALID_HANDLE_VALUE;
  if (CHECK_EQ(PipeListen(CurrentProcessId(), &listener), 0)) CHECK(OnlyOurUser(listener));
  PipeListenerClose(listener);
}

}  // namespace

int PeerIntruderRole(int role, const char* argument, const char* event_name) {
  if (role == kPeerEventSquatter) {
    const HANDLE squatted = CreateEventA(nullptr, FALSE, FALSE, argument);
    if (squatted == nullptr || GetLastError() == ERROR_ALREADY_EXISTS) return 130;
    if (EventSignal(event_name) != kErrorSuccess) return 131;
    return WaitForSingleObject(squatted, kPeerTimeoutMs) == WAIT_OBJECT_0 ? 0 : 132;
  }
  const std::string name = "\\\\.\\Pipe\\" + std::string(argument);
  if (role == kPeerSquatter) {
    const HANDLE pipe = CreateNamedPipeA(name.c_str(), PIPE_ACCESS_DUPLEX, PIPE_TYPE_MESSAGE | PIPE_WAIT,
                                         PIPE_UNLIMITED_INSTANCES, 4096, 4096, 0, nullptr);
    if (pipe == INVALID_HANDLE_VALUE) return 110;
    if (EventSignal(event_name) != kErrorSuccess) return 111;
    if (!ConnectNamedPipe(pipe, nullptr) && GetLastError() != ERROR_PIPE_CONNECTED) return 112;
    // Answers at once, as a forged server would; then waits for the client.
    DWORD written = 0;
    WriteFile(pipe, "forged", 6, &written, nullptr);
    char buffer[64];
    DWORD got = 0;
    return ReadFile(pipe, buffer, sizeof buffer, &got, nullptr) ? 113 : 0;
  }
  // The intruder: reached the listener, then is it dropped unheard?
  HANDLE pipe = INVALID_HANDLE_VALUE;
  if (PipeOpen(static_cast<uint32_t>(atoi(argument)), &pipe) != kErrorSuccess) return 120;
  if (EventSignal(event_name) != kErrorSuccess) return 121;
  char buffer[64];
  uint32_t length = 0;
  const uint32_t result = PipeRead(pipe, buffer, sizeof buffer, &length);
  PipeClose(pipe);
  return result != kErrorSuccess ? 0 : 122;
}

void RunIntruderTests() {
  SquatterIsRefused();
  ServerServesOnlyItsApplication();
  SquattedStartEventIsTaken();
  ObjectsAreOpenToOurUserAlone();
}

}  // namespace wine_test
