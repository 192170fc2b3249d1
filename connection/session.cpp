// Opening and closing a session's pipe, and the exported server calls.
#include "connection/session.h"

#include <chrono>
#include <new>
#include <thread>

#include "connection/extensions.h"
#include "connection/launch.h"
#include "connection/trace.h"
#include "platform/platform.h"
#include "qarnplus/server.h"

namespace {

// The busy-pipe wait of one retry.
constexpr uint32_t kBusyWaitMs = 60000;

// Pause between attempts while the pipe does not exist yet: about a
// millisecond, growing a little, so a starting server does not compete with
// a spinning client for the processor.
class RetryPause {
 public:
  void Wait() {
    std::this_thread::sleep_for(std::chrono::microseconds(pause_us_));
    if (pause_us_ < kMaxPauseUs) pause_us_ += pause_us_ / 4;
  }

 private:
  static constexpr unsigned kMaxPauseUs = 8000;
  unsigned pause_us_ = 1000;
};

}  // namespace

c_QARNPlus_Session::c_QARNPlus_Session(DWORD pid, HANDLE process, uint32_t window_ms)
    : m_tagNames(),
      m_dwLastError(0),
      m_hProcess(process),
      m_hPipe(INVALID_HANDLE_VALUE),
      m_replyRing(),
      m_nNextSlot(0),
      m_pTrace(qarn::trace::ForNewSession()) {
  namespace os = qarn::os;
  const uint32_t t0 = os::TickCount();
  RetryPause pause;
  for (;;) {
    HANDLE pipe = INVALID_HANDLE_VALUE;
    const uint32_t error = os::PipeOpen(pid, &pipe);
    if (error == os::kErrorSuccess) {
      m_hPipe = pipe;
      break;
    }
    m_dwLastError = error;
    // A server that has already ended will never offer its pipe: stop
    // waiting for it at once instead of at the end of the window.
    const bool server_ended =
        process != nullptr && process != INVALID_HANDLE_VALUE && os::ProcessHasExited(process);
    if (error == os::kErrorFileNotFound && !server_ended && os::TickCount() - t0 <= window_ms) {
      pause.Wait();
      continue;
    }
    if (error == os::kErrorPipeBusy && os::PipeWaitBusy(pid, kBusyWaitMs) == os::kErrorSuccess) continue;
    throw static_cast<unsigned long>(m_dwLastError);
  }
  const uint32_t error = os::PipeSetMessageMode(m_hPipe);
  if (error != os::kErrorSuccess) {
    // The destructor will not run: release the pipe here.
    os::PipeClose(m_hPipe);
    m_hPipe = INVALID_HANDLE_VALUE;
    throw static_cast<unsigned long>(error);
  }
}

c_QARNPlus_Session::~c_QARNPlus_Session() {
  if (m_hPipe != INVALID_HANDLE_VALUE) {
    qarn::os::PipeClose(m_hPipe);
    m_hPipe = INVALID_HANDLE_VALUE;
  }
  if (m_hProcess != INVALID_HANDLE_VALUE) {
    // A server that dropped the connection is ending (or was killed); a
    // moment for it to be gone lets the socket a killed one leaves go with
    // its handle. A server that still talks is never waited for.
    if (m_dwLastError == qarn::os::kErrorBrokenPipe)
      qarn::os::ProcessAwaitExit(m_hProcess, kEndedServerWaitMs);
    qarn::os::ProcessClose(m_hProcess);
    m_hProcess = INVALID_HANDLE_VALUE;
  }
  m_tagNames.clear();
}

extern "C" QARNPLUS_API void* f_QARNSVR_LoadLibrary(int nLOption, const char* pszServerDir,
                                                    const char* pszSuffix) {
  DWORD pid = 0;
  HANDLE process = INVALID_HANDLE_VALUE;
  uint32_t error = qarn::os::kErrorNotEnoughMemory;
  try {
    if (!qarn::LaunchServer(nLOption, pszServerDir, pszSuffix, &pid, &process, &error)) {
      // The server is left running, but its handle is released so that it
      // cannot stay a zombie once it ends.
      if (process != INVALID_HANDLE_VALUE) qarn::os::ProcessClose(process);
      qarn::RecordStartError(error);
      return nullptr;
    }
    error = qarn::os::kErrorNotEnoughMemory;
    c_QARNPlus_Session* session = new (std::nothrow) c_QARNPlus_Session(pid, process);
    if (session == nullptr) {
      qarn::os::ProcessClose(process);
      qarn::RecordStartError(error);
      return nullptr;
    }
    // From here on the session owns the process handle.
    try {
      qarn::AddSession(session);
    } catch (...) {
      delete session;
      qarn::RecordStartError(error);
      return nullptr;
    }
    qarn::RecordStartError(qarn::os::kErrorSuccess);
    return session;
  } catch (unsigned long connect_error) {
    error = static_cast<uint32_t>(connect_error);
  } catch (...) {
  }
  if (process != INVALID_HANDLE_VALUE) qarn::os::ProcessClose(process);
  qarn::RecordStartError(error);
  return nullptr;
}

extern "C" QARNPLUS_API void f_QARNSVR_FreeLibrary(void* hSession) {
  if (!qarn::IsSession(hSession)) return;
  char message[qarn::msg::kHeaderSize];
  qarn::msg::Begin(message, sizeof message, qarn::msg::kServerInterface, "Shutdown");
  qarn::AsSession(hSession)->Request(message, sizeof message, nullptr);
  if (qarn::RemoveSession(hSession)) delete qarn::AsSession(hSession);
}

extern "C" QARNPLUS_API int f_QARNSVR_GetVersion(void* hSession) {
  if (!qarn::IsSession(hSession)) return -1;
  char message[150];
  qarn::msg::Begin(message, sizeof message, qarn::msg::kServerInterface, "GetVersion");
  qarn::msg::PutInt32(message, qarn::msg::kPayloadOffset, 0);
  const char* reply = qarn::RequestReply(qarn::AsSession(hSession), message, sizeof message);
  if (reply == nullptr) return -1;
  return qarn::msg::GetInt32(reply, qarn::msg::kPayloadOffset);
}
