// A multi-threaded application that leaves signal handling as it comes: its
// threads start and end their own sessions at the same moments, and in each
// session a driver request, a callback into the thread and a document call
// must come back exact. The library installs no SIGCHLD handler of its own,
// and every server it started is reaped without one.
#include <gtest/gtest.h>
#include <signal.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "qarnplus.h"
#include "tests/doc_peer_client.h"
#include "tests/exact_replies.h"
#include "tests/hardening_support.h"
#include "tests/peer_session.h"

namespace {

using qarn::test::Element;
using qarn::test::Hex;
using qarn::test::ReplyTo;
using qarn::test::SuccessReply;

constexpr int kThreads = 4;
constexpr int kSessionsPerThread = 10;

// Lets all threads go only once each has arrived, round after round, so that
// their session starts and ends fall together.
class Barrier {
 public:
  explicit Barrier(int count) : count_(count) {}
  void Wait() {
    std::unique_lock<std::mutex> lock(mutex_);
    const int round = round_;
    if (++arrived_ == count_) {
      arrived_ = 0;
      ++round_;
      all_arrived_.notify_all();
      return;
    }
    all_arrived_.wait(lock, [&] { return round_ != round; });
  }

 private:
  std::mutex mutex_;
  std::condition_variable all_arrived_;
  const int count_;
  int arrived_ = 0;
  int round_ = 0;
};

bool ChildSignalIsDefault() {
  struct sigaction action;
  if (sigaction(SIGCHLD, nullptr, &action) != 0) return false;
  return (action.sa_flags & SA_SIGINFO) == 0 && action.sa_handler == SIG_DFL;
}

// What the password callback saw, kept per thread: it must run on the thread
// whose request the server answers.
thread_local int t_callbacks = 0;
thread_local char t_document[64];

// Answers with the document name reversed, so every session's password is its own.
int WINAPI AnswerPassword(unsigned char* password, unsigned int* length, const char* document) {
  ++t_callbacks;
  snprintf(t_document, sizeof t_document, "%s", document);
  const size_t size = strlen(document);
  for (size_t i = 0; i < size; ++i) password[i] = static_cast<unsigned char>(document[size - 1 - i]);
  *length = static_cast<unsigned int>(size);
  return static_cast<int>(size) + 100;
}

void DriverRequest(void* session, const std::string& mark) {
  EXPECT_EQ(ReplyTo(session, "echo " + mark + " <&>"),
            SuccessReply(Element("stringVal", "echo", mark + " &lt;&amp;&gt;")));
}

void CallbackRoundTrip(void* session, const std::string& mark) {
  const std::string document = mark + ".pdf";
  const std::string reversed(document.rbegin(), document.rend());
  const int before = t_callbacks;
  const std::string reply =
      ReplyTo(session, "callback passwd " + std::to_string(reinterpret_cast<uintptr_t>(&AnswerPassword)) +
                           " " + document);
  EXPECT_EQ(t_callbacks, before + 1) << "the callback did not run once on the requesting thread";
  EXPECT_STREQ(t_document, document.c_str());
  EXPECT_EQ(reply, SuccessReply(Element("intVal", "result", std::to_string(document.size() + 100)) +
                                Element("intVal", "length", std::to_string(document.size())) +
                                Element("stringVal", "password", reversed)));
}

// An error message record: the message buffer comes back whole, the topic
// string whole, the record itself not at all.
void DocumentCall(void* session, uint16_t lead, const std::string& mark, size_t message_size) {
  std::vector<unsigned char> message(message_size, 0xEE);
  std::vector<char> topic(mark.begin(), mark.end());
  topic.push_back('\0');
  SAPGetErrMes1 record{lead, reinterpret_cast<char*>(message.data()), static_cast<uint32_t>(message_size),
                       topic.data()};
  const SAPGetErrMes1 before = record;
  {
    c_QARNPlus_Legpack package(reinterpret_cast<SedApiPara*>(&record), qarn::test::kErrorMessageCode);
    EXPECT_EQ(ReplyTo(session, "call " + transport_test::NameOf(&record) + " 8"),
              SuccessReply(Element("stringVal", "blocks", "3")));
  }
  EXPECT_EQ(memcmp(&record, &before, sizeof record), 0) << "record bytes came back";
  EXPECT_EQ(Hex(message), Hex(qarn::test::MessageAfterCall(lead, message_size)));
  EXPECT_EQ(Hex(reinterpret_cast<unsigned char*>(topic.data()), topic.size()),
            Hex(qarn::test::TextAfterCall(mark.size())));
}

// `stage` says where the thread is, for a report should it hang.
void OneSession(int thread, int index, Barrier& together, std::atomic<const char*>& stage) {
  const std::string mark = "t" + std::to_string(thread) + "s" + std::to_string(index);
  stage = "waiting for the others before the start";
  together.Wait();
  stage = "starting a session";
  void* session = f_QARNSVR_LoadLibrary(thread, QARN_SERVER_DIR, "");
  stage = "in its session";
  EXPECT_NE(session, nullptr) << mark << ": the server did not start";
  if (session != nullptr) {
    f_QARNDRV_Init(session);
    EXPECT_EQ(f_QARNSVR_GetVersion(session), 10000) << mark;
    DriverRequest(session, mark);
    CallbackRoundTrip(session, mark);
    DocumentCall(session, static_cast<uint16_t>(1000 * thread + index), mark, 20 + 4 * index);
    // Started with the thread's number as its option: the session talks to its own server.
    const std::string status = ReplyTo(session, "status");
    EXPECT_NE(status.find("val=\"" + std::to_string(thread) + "\" name=\"option\""), std::string::npos)
        << status;
    f_QARNDRV_Clean(session);
  }
  stage = "waiting for the others before the end";
  together.Wait();
  stage = "ending its session";
  if (session != nullptr) f_QARNSVR_FreeLibrary(session);
}

TEST(Threads, SimultaneousSessionsOnThreadsGiveExactRepliesWithoutAChildSignalHandler) {
  ASSERT_TRUE(ChildSignalIsDefault()) << "the test needs SIGCHLD at its default";
  const hardening::PrivateRuntime runtime;  // so that our servers' sockets can be counted

  Barrier together(kThreads);
  std::atomic<int> reached[kThreads] = {};
  std::atomic<const char*> stages[kThreads];
  for (std::atomic<const char*>& stage : stages) stage = "before its first session";
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([t, &together, &reached, &stages] {
      for (int i = 0; i < kSessionsPerThread; ++i) {
        OneSession(t, i, together, stages[t]);
        ++reached[t];
      }
    });
  }
  // A thread stuck in the library would hold the others at the barrier until
  // the test's time runs out: say where each one is and end the run now.
  const bool all_done = hardening::WaitUntil(
      [&] {
        for (const std::atomic<int>& sessions : reached)
          if (sessions.load() != kSessionsPerThread) return false;
        return true;
      },
      60000);
  if (!all_done) {
    for (int t = 0; t < kThreads; ++t)
      fprintf(stderr, "thread %d ended %d sessions, then hung %s\n", t, reached[t].load(), stages[t].load());
    ADD_FAILURE() << "the threads hang";
    abort();
  }
  for (std::thread& thread : threads) thread.join();

  EXPECT_TRUE(ChildSignalIsDefault()) << "the library installed a SIGCHLD handler";
  EXPECT_TRUE(hardening::WaitUntil([] { return hardening::ServersOf().empty(); }, 10000))
      << "a server was left running";
  EXPECT_TRUE(hardening::WaitUntil([] { return hardening::ChildProcesses().empty(); }, 10000))
      << "a process the library started was left unreaped";
  EXPECT_EQ(hardening::OwnSharedObjects(), std::vector<std::string>{});
  EXPECT_EQ(runtime.Sockets(), std::vector<std::string>{});
}

}  // namespace
