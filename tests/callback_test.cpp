// Callbacks: the forwarders and Invoke, in-process through a loopback
// channel and across processes through the stand-in server.
#include "qarnplus/callback.h"

#include <gtest/gtest.h>
#include <stdint.h>
#include <string.h>

#include <string>

#include "qarnplus/driver.h"
#include "qarnplus/server.h"

namespace {

// What the application's functions saw.
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
  rect->right = 999;  // travels back in the answer, not to the server's caller
  return true;
}

// Stands in for the server's channel: the peer is this process's Invoke.
class Loopback : public c_QARNSVR_Callback {
 public:
  int Forward(void* message, unsigned size) override {
    last_size = size;
    if (fail) return -1;
    c_QARNPlus_Callback::Invoke(message);
    return 0;
  }
  unsigned last_size = 0;
  bool fail = false;
};

TEST(Forwarders, PasswordOfFiveBytesAndNeutralResultsWithoutAnAnswer) {
  Loopback loopback;
  c_QARNPlus_Callback::m_pCallback = &loopback;
  g_seen = Seen();
  unsigned char password[256];
  memset(password, 'x', sizeof password);
  unsigned int length = 0;
  const auto passwd = c_QARNPlus_Callback::RegGetDocPasswd(&AnswerPasswd);
  EXPECT_EQ(77, passwd(password, &length, std::string(300, 'd').c_str()));
  EXPECT_EQ(5u, length);
  EXPECT_EQ(std::string("12345x"), std::string(reinterpret_cast<char*>(password), 6));  // exactly five bytes
  EXPECT_EQ(std::string(260, 'd'), g_seen.document);
  EXPECT_EQ(675u, loopback.last_size);

  // A failed forward touches nothing and gives neutral results.
  loopback.fail = true;
  length = 42;
  EXPECT_EQ(0, passwd(password, &length, "doc"));
  EXPECT_EQ(42u, length);
  EXPECT_EQ('1', password[0]);
  EXPECT_EQ(0, c_QARNPlus_Callback::RegEnumSelectedText(&AnswerSelectedText)(1, RECT{}, 2));
  RECT rect = {};
  EXPECT_FALSE(c_QARNPlus_Callback::RegDspAbsentPhoto(&AnswerPhoto)(nullptr, &rect, 0, ""));
  EXPECT_EQ(1, g_seen.calls);

  // Without a channel the password is 256 zeros.
  c_QARNPlus_Callback::m_pCallback = nullptr;
  EXPECT_EQ(0, passwd(password, &length, "doc"));
  EXPECT_EQ(256u, length);
  EXPECT_EQ(std::string(256, '\0'), std::string(reinterpret_cast<char*>(password), 256));
  EXPECT_EQ(1, g_seen.calls);
}

// Across processes: the server calls the forwarders; this process's
// functions run while the request waits.
TEST(ServerCallbacks, RoundTripsAndRefusedAddresses) {
  void* h = f_QARNSVR_LoadLibrary(0, QARN_SERVER_DIR, "");
  ASSERT_NE(nullptr, h);
  f_QARNDRV_Init(h);
  g_seen = Seen();
  const auto invoke = [h](const std::string& request) {
    const char* reply = nullptr;
    f_QARNDRV_Invoke(h, request.c_str(), &reply, nullptr);
    return std::string(reply != nullptr ? reply : "");
  };
  const auto address = [](auto function) { return std::to_string(reinterpret_cast<uintptr_t>(function)); };
  char hex[16];
  snprintf(hex, sizeof hex, "0x%lx",
           static_cast<unsigned long>(reinterpret_cast<uintptr_t>(&AnswerSelectedText)));

  std::string reply = invoke("callback passwd " + address(&AnswerPasswd) + " " + std::string(300, 'n'));
  EXPECT_EQ(std::string(260, 'n'), g_seen.document);
  for (const char* part : {"<intVal val=\"77\" name=\"result\"/>", "<intVal val=\"5\" name=\"length\"/>",
                           "<stringVal val=\"12345\" name=\"password\"/>"}) {
    EXPECT_NE(std::string::npos, reply.find(part)) << reply;
  }
  reply = invoke("callback text " + std::string(hex) + " 65535 -1 2 3 4 -7");
  EXPECT_EQ(65535, g_seen.n);
  EXPECT_EQ(-1, g_seen.rect.left);
  EXPECT_EQ(4, g_seen.rect.bottom);
  EXPECT_EQ(-7, g_seen.value);
  EXPECT_NE(std::string::npos, reply.find("<intVal val=\"-5\" name=\"result\"/>")) << reply;

  reply = invoke("callback photo " + address(&AnswerPhoto) + " 4660 10 20 30 40 6 a photo.jpg");
  EXPECT_EQ(reinterpret_cast<void*>(4660), g_seen.context);
  EXPECT_EQ(30, g_seen.rect.right);
  EXPECT_EQ(6u, g_seen.number);
  EXPECT_EQ("a photo.jpg", g_seen.text);
  EXPECT_NE(std::string::npos, reply.find("<stringVal val=\"true\" name=\"result\"/>")) << reply;
  EXPECT_NE(std::string::npos, reply.find("<stringVal val=\"10 20 30 40\" name=\"rect\"/>")) << reply;
  EXPECT_EQ(3, g_seen.calls);

  for (const char* refused :
       {"callback passwd 0 doc", "callback passwd 12abc doc", "callback nosuch 5", "callback text 5 1 2 3"}) {
    EXPECT_NE(std::string::npos, invoke(refused).find("val=\"false\" name=\"SUCCESS\"")) << refused;
    EXPECT_EQ(3, f_QARNDRV_GetLastError(h)) << refused;
  }
  EXPECT_EQ(3, g_seen.calls);
  f_QARNSVR_FreeLibrary(h);
}

}  // namespace
