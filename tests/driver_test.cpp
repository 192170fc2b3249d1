// Driver calls: the bytes they send, the Service Off reply, and the stand-in
// server's driver state, errors and texts.
#include "qarnplus/driver.h"

#include <gtest/gtest.h>
#include <string.h>

#include <functional>
#include <string>

#include "peer_session.h"
#include "peers/scripted_peer.h"
#include "qarnplus/server.h"

namespace {

using qarn::test::PeerScript;
using qarn::test::ServerFolder;
namespace msg = qarn::msg;

const char kServiceOff[] =
    "<QARN_RET>\n\t<boolVal val=\"false\" name=\"SUCCESS\"/>\n\t<stringVal val=\"Service Off\" "
    "name=\"error\"/>\n</QARN_RET>";

using DriverWithPeer = qarn::test::PeerSessionTest;

TEST_F(DriverWithPeer, MessagesOnTheWire) {
  Open("reply");
  const char* reply = nullptr;
  f_QARNDRV_Invoke(h_, "", &reply, nullptr);
  f_QARNDRV_Invoke(h_, "abc", nullptr, nullptr);  // still sent and waited for
  f_QARNDRV_Init(h_);
  f_QARNDRV_Clean(h_);
  EXPECT_EQ(5, f_QARNDRV_GetLastError(h_));
  EXPECT_STREQ("FormatMessage#6", f_QARNDRV_FormatMessage(h_, static_cast<QARNDRV_ERR>(-3)));

  const auto m = folder_.Received();
  ASSERT_EQ(6u, m.size());
  const struct {
    const char* method;
    size_t size;
  } expected[] = {{"Invoke", 147}, {"Invoke", 150},       {"Init", 146},
                  {"Clean", 146},  {"GetLastError", 150}, {"FormatMessage", 663}};
  for (size_t i = 0; i < m.size(); ++i) {
    EXPECT_TRUE(m[i].IsRequest(expected[i].method)) << i;
    EXPECT_TRUE(msg::InterfaceIs(m[i].bytes.data(), "QARN_Driver")) << i;
    EXPECT_EQ(expected[i].size, m[i].bytes.size()) << i;
  }
  EXPECT_EQ(std::string(1, '\0'), m[0].bytes.substr(146));
  EXPECT_EQ(std::string("abc", 4), m[1].bytes.substr(146));
  EXPECT_EQ(-3, msg::GetInt32(m[5].bytes.data(), 146));
  EXPECT_EQ(std::string(513, '\0'), m[5].bytes.substr(150));
}

TEST_F(DriverWithPeer, ServiceOffAfterTheServerDied) {
  Open("exit");
  LARGE_INTEGER times[4];
  memset(times, 0x5A, sizeof times);
  const char* reply = nullptr;
  f_QARNDRV_Invoke(h_, "anyone there?", &reply, times);
  ASSERT_NE(nullptr, reply);
  EXPECT_STREQ(kServiceOff, reply);
  EXPECT_EQ(106u, strlen(reply));
  for (const LARGE_INTEGER& t : times) EXPECT_EQ(0x5A5A5A5A5A5A5A5ALL, t.QuadPart);

  EXPECT_EQ(QARNDRV_ERR_NONE, f_QARNDRV_GetLastError(h_));
  EXPECT_EQ(nullptr, f_QARNDRV_FormatMessage(h_, static_cast<QARNDRV_ERR>(1)));
  const char* again = nullptr;
  f_QARNDRV_Invoke(h_, "x", &again, nullptr);
  EXPECT_EQ(reply, again);  // one static buffer
}

TEST(Driver, UnknownHandlesSendNothingAndLeaveTheReplyNull) {
  int stale = 0;
  for (void* h : {static_cast<void*>(nullptr), static_cast<void*>(&stale)}) {
    const char* reply = "untouched?";
    LARGE_INTEGER times[4] = {{{7, 7}}, {{7, 7}}, {{7, 7}}, {{7, 7}}};
    f_QARNDRV_Invoke(h, "x", &reply, times);
    EXPECT_EQ(nullptr, reply);
    EXPECT_EQ(7u, times[3].u.LowPart);
    EXPECT_EQ(QARNDRV_ERR_NONE, f_QARNDRV_GetLastError(h));
    EXPECT_EQ(nullptr, f_QARNDRV_FormatMessage(h, QARNDRV_ERR_NONE));
    f_QARNDRV_Init(h);
    f_QARNDRV_Clean(h);
    f_QARNDRV_Free(h, &stale);
  }
  EXPECT_EQ(0, stale);
}

// The stand-in server keeps driver state and explains its error codes.
class DriverWithServer : public ::testing::Test {
 protected:
  void SetUp() override {
    h_ = f_QARNSVR_LoadLibrary(0, QARN_SERVER_DIR, "");
    ASSERT_NE(nullptr, h_);
  }
  void TearDown() override { f_QARNSVR_FreeLibrary(h_); }
  std::string Invoke(const char* request) {
    const char* reply = nullptr;
    f_QARNDRV_Invoke(h_, request, &reply, nullptr);
    return reply != nullptr ? reply : "";
  }
  void* h_ = nullptr;
};

// Each error the server reports is the one its request caused, explained by
// its own text; Clean takes the driver back to its first state.
TEST_F(DriverWithServer, ErrorsAndTheirTexts) {
  const std::string huge(70000, 'z');
  const struct {
    std::function<void()> request;
    const char* text;
  } cases[] = {
      {[&] { Invoke("echo hi"); }, "the driver is not initialised: send Init first"},
      {[&] { f_QARNDRV_Init(h_); }, "no error"},
      {[&] { Invoke("no such verb"); }, "unknown request"},
      {[&] { Invoke("callback passwd 0 doc"); }, "bad argument"},
      {[&] { f_QARNDRV_GetTagIDByName(h_, "no such tag"); }, "unknown tag"},
      {[&] { Invoke(huge.c_str()); }, "the request is too long"},
      {[&] { f_QARNDRV_Clean(h_), Invoke("echo again"); }, "the driver is not initialised: send Init first"},
  };
  for (const auto& c : cases) {
    c.request();
    const char* text = f_QARNDRV_FormatMessage(h_, f_QARNDRV_GetLastError(h_));
    EXPECT_STREQ(c.text, text ? text : "(none)");
  }
  EXPECT_STREQ("unknown error code 12345", f_QARNDRV_FormatMessage(h_, static_cast<QARNDRV_ERR>(12345)));
}

TEST_F(DriverWithServer, RepliesAreEscapedAndCutToTheSlot) {
  f_QARNDRV_Init(h_);
  EXPECT_EQ(
      "<QARN_RET>\n\t<boolVal val=\"true\" name=\"SUCCESS\"/>\n\t<stringVal val=\"a &lt;b&gt; &amp; "
      "&quot;c&quot;&#1;&#255;\" name=\"echo\"/>\n</QARN_RET>",
      Invoke("echo a <b> & \"c\"\x01\xff"));
  // Cut so that the text, its end tag and the terminating zero fit the slot
  // with one byte to spare.
  const std::string cut = Invoke(("echo " + std::string(2000, 'x')).c_str());
  EXPECT_EQ(msg::kSlotSize - msg::kPayloadOffset - 2, cut.size());
  EXPECT_EQ("xxx\n</QARN_RET>", cut.substr(cut.size() - 15));
  EXPECT_GT(f_QARNSVR_GetVersion(h_), 0);  // still serving
}

}  // namespace
