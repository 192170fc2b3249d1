// Callbacks: the forwarders and Invoke, in-process through a loopback
// channel and across processes through the stand-in server.
#include "qarnplus/callback.h"

#include <gtest/gtest.h>
#include <stdint.h>
#include <stdio.h>
#include <string.h>

#include <string>
#include <vector>

#include "connection/message.h"
#include "qarnplus/driver.h"
#include "qarnplus/server.h"

namespace {

namespace msg = qarn::msg;

// What the application's functions saw and answer.
struct Seen {
  std::string document;
  unsigned short n = 0;
  RECT rect = {};
  long value = 0;
  void* context = nullptr;
  unsigned long number = 0;
  std::string text;
  int calls = 0;
} g_seen;

int WINAPI AnswerPasswd(unsigned char* password, unsigned int* length, const char* document) {
  ++g_seen.calls;
  g_seen.document = document;
  memcpy(password, "12345", 5);
  *length = 5;
  return 77;
}

int AnswerSelectedText(unsigned short n, RECT rect, long value) {
  ++g_seen.calls;
  g_seen.n = n;
  g_seen.rect = rect;
  g_seen.value = value;
  return -5;
}

bool AnswerPhoto(void* context, RECT* rect, unsigned long number, const char* text) {
  ++g_seen.calls;
  g_seen.context = context;
  g_seen.rect = *rect;
  g_seen.number = number;
  g_seen.text = text;
  rect->right = 999;  // travels back in the answer
  return true;
}

// Stands in for the server's channel: the peer is this process's Invoke.
class Loopback : public c_QARNSVR_Callback {
 public:
  int Forward(void* message, unsigned size) override {
    sizes.push_back(size);
    if (fail) return -1;
    c_QARNPlus_Callback::Invoke(message);
    return 0;
  }
  std::vector<unsigned> sizes;
  bool fail = false;
};

class Forwarders : public ::testing::Test {
 protected:
  void SetUp() override {
    g_seen = Seen();
    c_QARNPlus_Callback::m_pCallback = &loopback_;
  }
  void TearDown() override { c_QARNPlus_Callback::m_pCallback = nullptr; }
  Loopback loopback_;
};

TEST_F(Forwarders, PasswordOfFiveBytesAndLongDocumentName) {
  auto forward = c_QARNPlus_Callback::RegGetDocPasswd(&AnswerPasswd);
  unsigned char password[256];
  memset(password, 'x', sizeof password);
  unsigned int length = 0;
  const std::string name(300, 'd');
  EXPECT_EQ(77, forward(password, &length, name.c_str()));
  EXPECT_EQ(5u, length);
  EXPECT_EQ(0, memcmp(password, "12345", 5));
  EXPECT_EQ('x', password[5]);  // exactly five bytes copied
  EXPECT_EQ(std::string(260, 'd'), g_seen.document);
  ASSERT_EQ(1u, loopback_.sizes.size());
  EXPECT_EQ(675u, loopback_.sizes[0]);
}

TEST_F(Forwarders, FailedForwardGivesNeutralResultsAndTouchesNothing) {
  loopback_.fail = true;
  unsigned char password[4] = {'a', 'b', 'c', 'd'};
  unsigned int length = 42;
  EXPECT_EQ(0, c_QARNPlus_Callback::RegGetDocPasswd(&AnswerPasswd)(password, &length, "doc"));
  EXPECT_EQ(42u, length);
  EXPECT_EQ('a', password[0]);
  EXPECT_EQ(0, c_QARNPlus_Callback::RegEnumSelectedText(&AnswerSelectedText)(1, RECT{}, 2));
  RECT rect = {};
  EXPECT_FALSE(c_QARNPlus_Callback::RegDspAbsentPhoto(&AnswerPhoto)(nullptr, &rect, 0, ""));
  EXPECT_EQ(0, g_seen.calls);
}

TEST_F(Forwarders, WithoutChannelThePasswordIs256Zeros) {
  c_QARNPlus_Callback::m_pCallback = nullptr;
  unsigned char password[256];
  memset(password, 'x', sizeof password);
  unsigned int length = 0;
  EXPECT_EQ(0, c_QARNPlus_Callback::RegGetDocPasswd(&AnswerPasswd)(password, &length, "doc"));
  EXPECT_EQ(256u, length);
  for (unsigned char c : password) ASSERT_EQ(0, c);
  EXPECT_EQ(0, g_seen.calls);
}

// Across processes: the server calls the forwarders, this process's
// functions run while the request waits.
class ServerCallbacks : public ::testing::Test {
 protected:
  void SetUp() override {
    g_seen = Seen();
    h_ = f_QARNSVR_LoadLibrary(0, QARN_SERVER_DIR, "");
    ASSERT_NE(nullptr, h_);
    f_QARNDRV_Init(h_);
  }
  void TearDown() override { f_QARNSVR_FreeLibrary(h_); }

  std::string Invoke(const std::string& request) {
    const char* reply = nullptr;
    f_QARNDRV_Invoke(h_, request.c_str(), &reply, nullptr);
    return reply != nullptr ? reply : "";
  }
  template <typename Function>
  static std::string Address(Function function) {
    return std::to_string(static_cast<unsigned long>(reinterpret_cast<uintptr_t>(function)));
  }
  template <typename Function>
  static std::string HexAddress(Function function) {
    char hex[16];
    snprintf(hex, sizeof hex, "0x%lx", static_cast<unsigned long>(reinterpret_cast<uintptr_t>(function)));
    return hex;
  }
  void* h_ = nullptr;
};

TEST_F(ServerCallbacks, PasswordRoundTrip) {
  const std::string name(300, 'n');
  const std::string reply = Invoke("callback passwd " + Address(&AnswerPasswd) + " " + name);
  EXPECT_EQ(1, g_seen.calls);
  EXPECT_EQ(std::string(260, 'n'), g_seen.document);
  EXPECT_NE(std::string::npos, reply.find("<intVal val=\"77\" name=\"result\"/>")) << reply;
  EXPECT_NE(std::string::npos, reply.find("<intVal val=\"5\" name=\"length\"/>")) << reply;
  EXPECT_NE(std::string::npos, reply.find("<stringVal val=\"12345\" name=\"password\"/>")) << reply;
}

TEST_F(ServerCallbacks, SelectedTextAndPhotoRoundTrips) {
  std::string reply = Invoke("callback text " + HexAddress(&AnswerSelectedText) + " 65535 -1 2 3 4 -7");
  EXPECT_EQ(65535, g_seen.n);
  EXPECT_EQ(-1, g_seen.rect.left);
  EXPECT_EQ(4, g_seen.rect.bottom);
  EXPECT_EQ(-7, g_seen.value);
  EXPECT_NE(std::string::npos, reply.find("<intVal val=\"-5\" name=\"result\"/>")) << reply;

  reply = Invoke("callback photo " + Address(&AnswerPhoto) + " 4660 10 20 30 40 6 a photo.jpg");
  EXPECT_EQ(reinterpret_cast<void*>(4660), g_seen.context);
  EXPECT_EQ(30, g_seen.rect.right);
  EXPECT_EQ(6u, g_seen.number);
  EXPECT_EQ("a photo.jpg", g_seen.text);
  EXPECT_NE(std::string::npos, reply.find("<stringVal val=\"true\" name=\"result\"/>")) << reply;
  // The application changed right to 999; the server's caller kept 30.
  EXPECT_NE(std::string::npos, reply.find("<stringVal val=\"10 20 30 40\" name=\"rect\"/>")) << reply;
  EXPECT_EQ(2, g_seen.calls);
}

TEST_F(ServerCallbacks, ZeroOrMalformedAddressIsRefusedByTheServer) {
  for (const char* request :
       {"callback passwd 0 doc", "callback passwd 12abc doc", "callback nosuch 5", "callback text 5 1 2 3"}) {
    const std::string reply = Invoke(request);
    EXPECT_NE(std::string::npos, reply.find("val=\"false\" name=\"SUCCESS\"")) << request;
    EXPECT_EQ(3, f_QARNDRV_GetLastError(h_)) << request;
  }
  EXPECT_EQ(0, g_seen.calls);
}

}  // namespace
