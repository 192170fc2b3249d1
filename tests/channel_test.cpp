// The request channel against the scripted peer: callback messages before
// the reply, odd replies, a server that vanishes, the reply ring, counters.
#include <gtest/gtest.h>

#include <string>

#include "connection/session.h"
#include "peer_session.h"
#include "peers/scripted_peer.h"
#include "qarnplus/driver.h"
#include "qarnplus/server.h"

namespace {

using qarn::test::PeerScript;
using qarn::test::ServerFolder;
namespace msg = qarn::msg;

// A session with the scripted peer running `script`.
class Channel : public qarn::test::PeerSessionTest {
 protected:
  c_QARNPlus_Session* session() { return qarn::AsSession(h_); }

  // Sends a 150-byte "GetVersion" through Request; returns its result.
  unsigned Send(char* message, char** reply) {
    msg::Begin(message, 150, msg::kServerInterface, "GetVersion");
    return session()->Request(message, 150, reply);
  }
};

TEST_F(Channel, CallbacksAreAnsweredInOrderWithTheirOwnLength) {
  Open("cb3,reply");
  const char* reply = nullptr;
  f_QARNDRV_Invoke(h_, "x", &reply, nullptr);
  ASSERT_NE(nullptr, reply);
  EXPECT_STREQ("#1", reply);
  EXPECT_EQ(4u, session()->m_nNextSlot);  // three callbacks, then the reply

  const auto received = folder_.Received();
  ASSERT_EQ(4u, received.size());
  EXPECT_TRUE(received[0].IsRequest("Invoke"));
  for (int k = 1; k <= 3; ++k) {
    const std::string& answer = received[k].bytes;
    EXPECT_EQ(2u, received[k].kind);
    ASSERT_EQ(146u + 10 * k, answer.size());
    EXPECT_TRUE(msg::MethodIs(answer.data(), ("Probe" + std::to_string(k)).c_str()));
  }
}

TEST_F(Channel, RequestWithoutReplyPointerStillServesCallbacksAndWaits) {
  Open("cb2,reply");
  f_QARNDRV_Init(h_);
  EXPECT_EQ(2u, folder_.Received().size() - 1);
  const char* reply = nullptr;
  f_QARNDRV_Invoke(h_, "next", &reply, nullptr);
  ASSERT_NE(nullptr, reply);
  EXPECT_STREQ("#2", reply);  // the reply to Init was taken, not left in the pipe
}

TEST_F(Channel, UnknownCallbackComesBackUnchanged) {
  Open("unknowncb,reply");
  char message[150];
  char* reply = nullptr;
  EXPECT_NE(0u, Send(message, &reply));
  const auto received = folder_.Received();
  ASSERT_EQ(2u, received.size());
  const std::string& answer = received[1].bytes;
  ASSERT_EQ(300u, answer.size());
  EXPECT_TRUE(msg::MethodIs(answer.data(), "NoSuchCallback"));
  for (size_t i = 146; i < answer.size(); ++i) {
    ASSERT_EQ(static_cast<char>(i * 7 + 300), answer[i]) << "byte " << i;
  }
}

TEST_F(Channel, ShortMessagesAreTheReplyEvenIfTheyLookLikeCallbacks) {
  Open("short,shortcb,reply");
  char message[150];
  char* reply = nullptr;
  EXPECT_EQ(100u, Send(message, &reply));
  ASSERT_NE(nullptr, reply);
  EXPECT_EQ(0, msg::GetInt32(reply, 146));

  EXPECT_EQ(100u, Send(message, &reply));
  ASSERT_NE(nullptr, reply);
  EXPECT_TRUE(msg::InterfaceIs(reply, "QARN_Callback"));

  EXPECT_EQ(3, f_QARNSVR_GetVersion(h_));
  EXPECT_EQ(3u, folder_.Received().size());  // nothing was answered as a callback
}

TEST_F(Channel, OversizedReplyFailsTheReadAndTheSessionGoesOn) {
  Open("long,reply");
  char message[150];
  char* reply = reinterpret_cast<char*>(1);
  EXPECT_EQ(0u, Send(message, &reply));
  EXPECT_EQ(nullptr, reply);
  EXPECT_EQ(qarn::os::kErrorMoreData, session()->m_dwLastError);
  EXPECT_NE(0, msg::GetInt64(message, msg::kEndOffset));  // the exchange ended with a read
  EXPECT_EQ(2, f_QARNSVR_GetVersion(h_));
}

TEST_F(Channel, ServerThatExitsMidRequest) {
  Open("exit");
  char message[150];
  char* reply = reinterpret_cast<char*>(1);
  EXPECT_EQ(0u, Send(message, &reply));
  EXPECT_EQ(nullptr, reply);
  EXPECT_EQ(qarn::os::kErrorBrokenPipe, session()->m_dwLastError);
  EXPECT_NE(0, msg::GetInt64(message, msg::kEndOffset));

  // Now the write itself fails: the reply pointer and llEnd stay untouched.
  char* untouched = reinterpret_cast<char*>(1);
  EXPECT_EQ(0u, Send(message, &untouched));
  EXPECT_EQ(reinterpret_cast<char*>(1), untouched);
  EXPECT_EQ(0, msg::GetInt64(message, msg::kEndOffset));
  EXPECT_NE(0u, session()->m_dwLastError);
}

TEST_F(Channel, ReplyStaysIntactForSevenReadsAndIsOverwrittenByTheEighth) {
  Open("reply");
  const char* first = nullptr;
  f_QARNDRV_Invoke(h_, "1", &first, nullptr);
  ASSERT_NE(nullptr, first);
  EXPECT_STREQ("#1", first);
  for (int i = 2; i <= 8; ++i) {
    const char* later = nullptr;
    f_QARNDRV_Invoke(h_, "n", &later, nullptr);
    ASSERT_NE(first, later);
  }
  EXPECT_STREQ("#1", first);
  const char* ninth = nullptr;
  f_QARNDRV_Invoke(h_, "n", &ninth, nullptr);
  EXPECT_EQ(first, ninth);
  EXPECT_STREQ("#9", first);
}

TEST_F(Channel, CountersOfTheExchange) {
  Open("reply");
  LARGE_INTEGER times[4] = {};
  const char* reply = nullptr;
  f_QARNDRV_Invoke(h_, "time me", &reply, times);
  ASSERT_NE(nullptr, reply);
  EXPECT_EQ(1001, times[1].QuadPart);  // the server's own two counters
  EXPECT_EQ(2001, times[2].QuadPart);
  EXPECT_GT(times[0].QuadPart, 0);
  EXPECT_LE(times[0].QuadPart, times[3].QuadPart);

  // On the wire: the library's start counter, and an end counter of 0.
  const auto received = folder_.Received();
  ASSERT_EQ(1u, received.size());
  EXPECT_EQ(times[0].QuadPart, msg::GetInt64(received[0].bytes.data(), msg::kStartOffset));
  EXPECT_EQ(0, msg::GetInt64(received[0].bytes.data(), msg::kEndOffset));
}

}  // namespace
