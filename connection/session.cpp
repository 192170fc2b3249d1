// Opening and closing a session's pipe, and the exported server calls.
#include "connection/session.h"

#include <chrono>
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

// The ReplyTimeout setting: no bound unless it holds a number other than 0.
uint32_t ReplyTimeout() {
  uint32_t ms = 0;
  if (qarn::os::ReadNumberSetting(kReplyTimeoutSetting, &ms) != qarn::os::kErrorSuccess || ms == 0)
    return qarn::os::kWaitForever;
  return ms;
}

}  // namespace

c_QARNPlus_Session::c_QARNPlus_Session(DWORD pid, HANDLE process, uint32_t window_ms)
    : m_tagNames(),
      m_dwLastError(0),
      m_hProcess(process),
      m_hPipe(INVALID_HANDLE_VALUE),
      m_replyRing(),
      m_nNextSlot(0),
      m_pTrace(qarn::trace::ForNewSession()),
      m_bInExchange(false),
      m_nReplyTimeoutMs(ReplyTimeout()),
      m_bBroken(false) {
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
  c_QARNPlus_Session* session = nullptr;
  uint32_t error = qarn::os::kErrorSuccess;
  try {
    error = qarn::LaunchServer(nLOption, pszServerDir, pszSuffix, &pid, &process);
    if (error == qarn::os::kErrorSuccess) {
      session = new c_QARNPlus_Session(pid, process);
      void* handle = qarn::AddSession(session);
      qarn::NoteError(qarn::os::kErrorSuccess);
      return handle;
    }
  } catch (unsigned long code) {
    error = static_cast<uint32_t>(code);  // the pipe could not be opened
  } catch (...) {
    error = qarn::os::kErrorNotEnoughMemory;
  }
  // A server that was started is left running, but its handle is released
  // (by the session, once it owns it) so that it cannot stay a zombie.
  if (session != nullptr) {
    delete session;
  } else if (process != INVALID_HANDLE_VALUE) {
    qarn::os::ProcessClose(process);
  }
  qarn::NoteError(error);
  return nullptr;
}

extern "C" QARNPLUS_API void f_QARNSVR_FreeLibrary(void* hSession) {
  c_QARNPlus_Session* session = qarn::LeaseSession(hSession);
  if (session == nullptr) return;
  // A session whose exchanges are out of step would take any old message
  // for the answer: it is closed without one.
  if (!session->m_bBroken) {
    char message[sizeof(qarn::wire::Bare)];
    qarn::msg::Begin(message, sizeof message, qarn::msg::kServerInterface, "Shutdown");
    const uint32_t wait_ms =
        session->m_nReplyTimeoutMs < kShutdownWaitMs ? session->m_nReplyTimeoutMs : kShutdownWaitMs;
    session->Request(message, sizeof message, nullptr, wait_ms);
  }
  // The lease keeps every other caller away, so the handle is still there.
  if (qarn::RemoveSession(hSession) == session) delete session;
}

extern "C" QARNPLUS_API int f_QARNSVR_GetVersion(void* hSession) {
  const qarn::SessionLease session(hSession);
  if (!session) return -1;
  char message[sizeof(qarn::wire::Number)];
  qarn::msg::Begin(message, sizeof message, qarn::msg::kServerInterface, "GetVersion");
  qarn::msg::PutInt32(message, offsetof(qarn::wire::Number, nValue), 0);
  const char* reply = qarn::RequestReply(session.get(), message, sizeof message);
  if (reply == nullptr) return -1;
  return qarn::msg::GetInt32(reply, offsetof(qarn::wire::Number, nValue));
}
