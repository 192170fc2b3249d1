// Sessions with real server processes: the bytes each call sends and how it
// reads the answer; callbacks; the stand-in server's state, texts and filters.
#include "connection/session.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <stdint.h>
#include <string.h>
#include <sys/wait.h>

#include <functional>
#include <string>
#include <vector>

#include "connection/launch.h"
#include "peer_session.h"
#include "qarnplus/callback.h"
#include "qarnplus/driver.h"
#include "qarnplus/filters.h"
#include "qarnplus/legpack.h"
#include "qarnplus/server.h"

namespace {

// The bytes of a value as they travel.
template <typename Value>
std::string Raw(Value value) {
  return std::string(reinterpret_cast<const char*>(&value), sizeof value);
}

TEST(Session, TwoSessionsHaveTheirOwnServers) {
  void* first = f_QARNSVR_LoadLibrary(1, QARN_SERVER_DIR, "");
  void* second = f_QARNSVR_LoadLibrary(2, QARN_SERVER_DIR, "");
  ASSERT_NE(nullptr, first);
  ASSERT_NE(nullptr, second);
  const std::string a = qarn::test::ReplyTo(first, "status");
  const std::string b = qarn::test::ReplyTo(second, "status");
  EXPECT_EQ("1", qarn::test::ReplyValue(a, "option")) << a;
  EXPECT_EQ("2", qarn::test::ReplyValue(b, "option")) << b;
  EXPECT_EQ(QARN_SERVER_DIR, qarn::test::ReplyValue(a, "serverDir")) << a;
  EXPECT_EQ(QARN_TEST_BIN_DIR, qarn::test::ReplyValue(a, "appDir")) << a;
  EXPECT_NE(qarn::test::ReplyValue(a, "pid"), qarn::test::ReplyValue(b, "pid"));
  // A server serves its first client only: another connection is refused at once.
  HANDLE intruder = nullptr;
  EXPECT_EQ(qarn::os::kErrorFileNotFound,
            qarn::os::PipeOpen(std::stoul(qarn::test::ReplyValue(a, "pid")), &intruder));
  f_QARNSVR_FreeLibrary(first);
  EXPECT_GT(f_QARNSVR_GetVersion(second), 0);
  f_QARNSVR_FreeLibrary(second);
}

namespace msg = qarn::msg;

// A factory value: only its number travels; nobody calls it.
const auto kFactory = reinterpret_cast<c_QARNPlus_FilterEntry::PfnCreate>(static_cast<uintptr_t>(0x00ABCDEF));

uint32_t IdentityOf(QARN_FilterDef* filter) {
  return static_cast<uint32_t>(
      reinterpret_cast<uintptr_t>(static_cast<c_QARNPlus_FilterDef*>(filter)->m_pFilterDef));
}

class WithPeer : public qarn::test::PeerSessionTest {
 protected:
  c_QARNPlus_Session* session() { return qarn::FindSession(h_); }
  // A 150-byte "GetVersion" through Request; returns its result.
  unsigned Send(char** reply) {
    msg::Begin(message_, 150, msg::kServerInterface, "GetVersion");
    return session()->Request(message_, 150, reply);
  }
  char message_[150];
};

// Each call's message on the wire; the session ends its server once, with
// "Shutdown". Names by number are cached per session, after a successful
// lookup only; numbers by name are asked every time, the name cut to 256 bytes.
TEST_F(WithPeer, CallsOnTheWire) {
  Open("long,reply");
  EXPECT_EQ(nullptr, f_QARNDRV_GetTagNameByID(h_, static_cast<DXML_TAG>(-42)));
  const char* first = f_QARNDRV_GetTagNameByID(h_, static_cast<DXML_TAG>(-42));
  EXPECT_STREQ("GetTagNameByID#2", first);
  const char* second = f_QARNDRV_GetTagNameByID(h_, static_cast<DXML_TAG>(-42));
  EXPECT_NE(first, second);
  EXPECT_STREQ(first, second);
  const std::string name(300, 'q');
  EXPECT_EQ(3, f_QARNDRV_GetTagIDByName(h_, name.c_str()));
  EXPECT_EQ(4, f_QARNDRV_GetTagIDByName(h_, name.c_str()));
  LARGE_INTEGER times[4] = {};
  const char* reply = nullptr;
  f_QARNDRV_Invoke(h_, "", &reply, times);
  EXPECT_STREQ("#5", reply);
  EXPECT_EQ(1005, times[1].QuadPart);  // the server's own two counters
  EXPECT_EQ(2005, times[2].QuadPart);
  EXPECT_GT(times[0].QuadPart, 0);
  EXPECT_LE(times[0].QuadPart, times[3].QuadPart);
  f_QARNDRV_Invoke(h_, "abc", nullptr, nullptr);  // still sent and waited for
  f_QARNDRV_Init(h_);
  f_QARNDRV_Clean(h_);
  EXPECT_EQ(9, f_QARNDRV_GetLastError(h_));
  EXPECT_STREQ("FormatMessage#10", f_QARNDRV_FormatMessage(h_, static_cast<QARNDRV_ERR>(-3)));
  EXPECT_EQ(11, f_QARNSVR_GetVersion(h_));
  f_QARNSVR_FreeLibrary(h_);  // TearDown frees it again
  EXPECT_EQ(-1, f_QARNSVR_GetVersion(h_));

  const auto m = folder_.Received();
  ASSERT_EQ(12u, m.size());
  const struct {
    const char* interface_name;
    const char* method;
    size_t size;
  } expected[] = {{"QARN_Driver", "GetTagNameByID", 407}, {"QARN_Driver", "GetTagNameByID", 407},
                  {"QARN_Driver", "GetTagIDByName", 407}, {"QARN_Driver", "GetTagIDByName", 407},
                  {"QARN_Driver", "Invoke", 147},         {"QARN_Driver", "Invoke", 150},
                  {"QARN_Driver", "Init", 146},           {"QARN_Driver", "Clean", 146},
                  {"QARN_Driver", "GetLastError", 150},   {"QARN_Driver", "FormatMessage", 663},
                  {"QARN_Server", "GetVersion", 150},     {"QARN_Server", "Shutdown", 146}};
  for (size_t i = 0; i < m.size(); ++i) {
    EXPECT_TRUE(m[i].IsRequest(expected[i].method)) << i;
    EXPECT_TRUE(msg::InterfaceIs(m[i].bytes.data(), expected[i].interface_name)) << i;
    EXPECT_EQ(expected[i].size, m[i].bytes.size()) << i;
  }
  EXPECT_EQ(-42, msg::GetInt32(m[1].bytes.data(), 146));
  EXPECT_EQ(std::string(257, '\0'), m[1].bytes.substr(150));
  EXPECT_EQ(std::string(256, 'q') + std::string(5, '\0'), m[2].bytes.substr(146));
  // The library's start counter, and an end counter of 0.
  EXPECT_EQ("QARN_Driver" + std::string(54, '\0') + "Invoke" + std::string(59, '\0') +
                Raw(times[0].QuadPart) + std::string(8, '\0'),
            m[4].bytes.substr(0, 146));
  EXPECT_EQ(std::string(1, '\0'), m[4].bytes.substr(146));
  EXPECT_EQ(std::string("abc", 4), m[5].bytes.substr(146));
  EXPECT_EQ(0, msg::GetInt32(m[8].bytes.data(), 146));
  EXPECT_EQ(-3, msg::GetInt32(m[9].bytes.data(), 146));
  EXPECT_EQ(std::string(513, '\0'), m[9].bytes.substr(150));
}

// Callbacks before the reply (the first a bare header) are answered in order,
// each with its own length, an unknown one unchanged; a request without reply
// pointer still takes its reply.
TEST_F(WithPeer, CallbacksBeforeTheReply) {
  Open("cb3,unknowncb,cb2");
  EXPECT_EQ("#1", Invoke("x"));
  EXPECT_EQ(4u, session()->m_nNextSlot);  // three callbacks, then the reply
  EXPECT_EQ(2, f_QARNSVR_GetVersion(h_));
  f_QARNDRV_Init(h_);
  EXPECT_EQ("#4", Invoke("next"));

  const auto m = folder_.Received();
  ASSERT_EQ(12u, m.size());
  for (int k = 1; k <= 3; ++k) {
    EXPECT_EQ(2u, m[k].kind);
    ASSERT_EQ(146u + 10 * (k - 1), m[k].bytes.size());
    EXPECT_TRUE(msg::MethodIs(m[k].bytes.data(), ("Probe" + std::to_string(k)).c_str()));
  }
  const std::string& unknown = m[5].bytes;
  ASSERT_EQ(300u, unknown.size());
  EXPECT_TRUE(msg::MethodIs(unknown.data(), "NoSuchCallback"));
  for (size_t i = 146; i < unknown.size(); ++i) ASSERT_EQ(static_cast<char>(i * 7 + 300), unknown[i]) << i;
  EXPECT_TRUE(m[6].IsRequest("Init"));
  EXPECT_TRUE(m[9].IsRequest("Invoke"));
}

// A message shorter than a callback is the reply, even if it looks like one; an
// oversized one fails the read only. Without a server, read and write fail;
// Invoke gives one static text.
TEST_F(WithPeer, ShortOversizedAndMissingReplies) {
  Open("short,shortcb,long,reply,exit");
  char* reply = nullptr;
  EXPECT_EQ(100u, Send(&reply));
  ASSERT_NE(nullptr, reply);
  EXPECT_EQ(0, msg::GetInt32(reply, 146));
  EXPECT_EQ(100u, Send(&reply));
  ASSERT_NE(nullptr, reply);
  EXPECT_TRUE(msg::InterfaceIs(reply, "QARN_Callback"));
  EXPECT_EQ(0u, Send(&reply));
  EXPECT_EQ(nullptr, reply);
  EXPECT_EQ(qarn::os::kErrorMoreData, session()->m_dwLastError);
  EXPECT_NE(0, msg::GetInt64(message_, msg::kEndOffset));  // the exchange ended with a read
  EXPECT_EQ(4, f_QARNSVR_GetVersion(h_));
  EXPECT_EQ(4u, folder_.Received().size());  // nothing was answered as a callback

  reply = reinterpret_cast<char*>(1);
  EXPECT_EQ(0u, Send(&reply));
  EXPECT_EQ(nullptr, reply);
  EXPECT_EQ(qarn::os::kErrorBrokenPipe, session()->m_dwLastError);
  reply = reinterpret_cast<char*>(1);
  EXPECT_EQ(0u, Send(&reply));
  EXPECT_EQ(reinterpret_cast<char*>(1), reply);
  EXPECT_EQ(0, msg::GetInt64(message_, msg::kEndOffset));
  EXPECT_NE(0u, session()->m_dwLastError);
  const char* first = nullptr;
  const char* again = nullptr;
  f_QARNDRV_Invoke(h_, "anyone there?", &first, nullptr);
  f_QARNDRV_Invoke(h_, "x", &again, nullptr);
  EXPECT_STREQ(qarn::test::kServiceOff, first);
  EXPECT_EQ(first, again);
  EXPECT_EQ(QARNDRV_ERR_NONE, f_QARNDRV_GetLastError(h_));
}

// A reply stays intact for seven more reads and is overwritten by the eighth.
TEST_F(WithPeer, TheReplyRing) {
  Open("reply");
  const char* first = nullptr;
  f_QARNDRV_Invoke(h_, "first", &first, nullptr);
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

// A filter's life on the wire; a null factory and a zero identity send nothing.
TEST_F(WithPeer, FilterLifecycleOnTheWire) {
  Open("reply,reply,reply,reply,reply,reply,zero");
  QARN_FilterEntry* entry = c_QARNPlus_FilterEntry::CreateInstance(h_, kFactory);
  QARN_FilterDef* filter = entry->Create();
  ASSERT_NE(nullptr, filter);
  const uint32_t identity = IdentityOf(filter);
  EXPECT_NE(0u, identity);
  char* name = filter->GetName();
  EXPECT_STREQ("GetFilterName#2", name);
  EXPECT_EQ(name, filter->GetName());  // one buffer, overwritten
  EXPECT_STREQ("GetFilterName#3", name);
  filter->Destroy(nullptr);  // keeps the entry
  QARN_FilterDef* another = entry->Create();
  ASSERT_NE(nullptr, another);
  another->Destroy(entry);

  const auto m = folder_.Received();
  ASSERT_EQ(6u, m.size());
  EXPECT_TRUE(m[0].IsRequest("CreateFilter"));
  EXPECT_EQ(154u, m[0].bytes.size());
  EXPECT_EQ(0x00ABCDEFu, msg::GetUInt32(m[0].bytes.data(), 146));
  EXPECT_EQ(0u, msg::GetUInt32(m[0].bytes.data(), 150));
  EXPECT_EQ(166u, m[1].bytes.size());
  EXPECT_EQ(identity, msg::GetUInt32(m[1].bytes.data(), 146));
  EXPECT_EQ(std::string(16, '\0'), m[1].bytes.substr(150));
  for (size_t release : {3, 5}) {
    EXPECT_TRUE(m[release].IsRequest("GetFilterName"));
    EXPECT_EQ(150u, m[release].bytes.size());
  }
  EXPECT_EQ(identity, msg::GetUInt32(m[3].bytes.data(), 146));
  EXPECT_TRUE(m[4].IsRequest("CreateFilter"));

  QARN_FilterEntry* empty = c_QARNPlus_FilterEntry::CreateInstance(h_, nullptr);
  EXPECT_EQ(nullptr, empty->Create());
  entry = c_QARNPlus_FilterEntry::CreateInstance(h_, kFactory);
  filter = entry->Create();  // the reply's identity is 0
  ASSERT_NE(nullptr, filter);
  EXPECT_EQ(0u, IdentityOf(filter));
  EXPECT_EQ(nullptr, filter->GetName());
  filter->Destroy(entry);  // neither sends nor deletes
  EXPECT_EQ(7u, folder_.Received().size());
  delete filter;
  delete entry;
  delete empty;
}

class WithServer : public qarn::test::PeerSessionTest {
 protected:
  void SetUp() override {
    h_ = f_QARNSVR_LoadLibrary(0, QARN_SERVER_DIR, "");
    ASSERT_NE(nullptr, h_);
  }
};

// Each error the server reports is the one its request caused, explained by
// its own text; Clean takes the driver back to its first state.
TEST_F(WithServer, ErrorsAndTheirTexts) {
  const struct {
    std::function<void()> request;
    const char* text;
  } cases[] = {
      {[&] { Invoke("echo hi"); }, "the driver is not initialised: send Init first"},
      {[&] { f_QARNDRV_Init(h_); }, "no error"},
      {[&] { Invoke("callback passwd 0 doc"); }, "bad argument"},
      {[&] { f_QARNDRV_GetTagIDByName(h_, "no such tag"); }, "unknown tag"},
      {[&] { f_QARNDRV_Clean(h_), Invoke("echo again"); }, "the driver is not initialised: send Init first"},
  };
  for (const auto& c : cases) {
    c.request();
    const char* text = f_QARNDRV_FormatMessage(h_, f_QARNDRV_GetLastError(h_));
    EXPECT_STREQ(c.text, text ? text : "(none)");
  }
  EXPECT_STREQ("unknown error code 12345", f_QARNDRV_FormatMessage(h_, static_cast<QARNDRV_ERR>(12345)));
  EXPECT_STREQ("", f_QARNDRV_GetTagNameByID(h_, static_cast<DXML_TAG>(999)));  // an unknown number
}

TEST_F(WithServer, RepliesAreEscapedAndCutOrRefused) {
  f_QARNDRV_Init(h_);
  EXPECT_EQ(
      "<QARN_RET>\n\t<boolVal val=\"true\" name=\"SUCCESS\"/>\n\t<stringVal val=\"a &lt;b&gt; &amp; "
      "&quot;c&quot;&#1;&#255;\" name=\"echo\"/>\n</QARN_RET>",
      Invoke("echo a <b> & \"c\"\x01\xff"));
  // The text, its end tag and the terminating zero fit with one byte to spare.
  const std::string cut = Invoke("echo " + std::string(2000, 'x'));
  EXPECT_EQ(msg::kSlotSize - msg::kPayloadOffset - 2, cut.size());
  EXPECT_EQ("xxx\n</QARN_RET>", cut.substr(cut.size() - 15));
  EXPECT_GT(f_QARNSVR_GetVersion(h_), 0);  // still serving

  // A document call whose record has no package says so.
  SAPGetErrMes1 record{3, nullptr, 40, nullptr};
  const std::string name = std::to_string(static_cast<int32_t>(reinterpret_cast<uintptr_t>(&record)));
  EXPECT_NE(std::string::npos,
            Invoke("call " + name + " 8").find("the record's package could not be opened"));
}

TEST_F(WithServer, FilterNamesAreCutAndReleasesAreSeen) {
  f_QARNDRV_Init(h_);
  // The server picks the kind by factory value; 4 is its long-named kind.
  auto factory = reinterpret_cast<c_QARNPlus_FilterEntry::PfnCreate>(static_cast<uintptr_t>(4));
  QARN_FilterEntry* entry = c_QARNPlus_FilterEntry::CreateInstance(h_, factory);
  QARN_FilterDef* filter = entry->Create();
  ASSERT_NE(nullptr, filter);
  EXPECT_STREQ("SignatureVerifi", filter->GetName());
  EXPECT_NE(std::string::npos, Invoke("filters").find("<intVal val=\"1\" name=\"count\"/>"));
  filter->Destroy(entry);
  EXPECT_NE(std::string::npos, Invoke("filters").find("<intVal val=\"0\" name=\"count\"/>"));

  // Proxies of an ended session send nothing, and Destroy still deletes.
  entry = c_QARNPlus_FilterEntry::CreateInstance(h_, kFactory);
  filter = entry->Create();
  ASSERT_NE(nullptr, filter);
  f_QARNSVR_FreeLibrary(h_);
  h_ = nullptr;
  EXPECT_EQ(nullptr, entry->Create());
  EXPECT_EQ(nullptr, filter->GetName());
  filter->Destroy(entry);  // the sanitizer build checks it
}

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

using Callback = c_QARNPlus_Callback;

// Stands in for the server's channel: the peer is this process's Invoke.
class Loopback : public c_QARNSVR_Callback {
 public:
  int Forward(void* message, unsigned size) override {
    if (fail) return -1;
    Callback::Invoke(message);
    wire.assign(static_cast<const char*>(message), size);  // with the answer's results
    return 0;
  }
  std::string wire;
  bool fail = false;
};

// Each callback message, answered, byte for byte where its fields lie.
TEST(Forwarders, CallbackMessagesAndTheirResults) {
  Loopback loopback;
  Callback::m_pCallback = &loopback;
  unsigned char password[256];
  unsigned int length = 0;
  RECT rect = {1, 2, 3, 4};
  const auto address = [](auto f) { return Raw(static_cast<uint32_t>(reinterpret_cast<uintptr_t>(f))); };
  const struct {
    std::function<void()> call;
    size_t size;
    std::vector<std::pair<size_t, std::string>> fields;
  } cases[] = {
      {[&] { Callback::RegGetDocPasswd (&AnswerPasswd)(password, &length, "doc"); },
       675,
       {{146, address(&AnswerPasswd) + Raw(77) + "12345"}, {410, Raw(5) + std::string("doc", 4)}}},
      {[&] { Callback::RegEnumSelectedText (&AnswerSelectedText)(7, rect, 9); },
       176,
       {{146, address(&AnswerSelectedText) + Raw(-5) + Raw<uint16_t>(7) + Raw(rect) + Raw(9)}}},
      {[&] { Callback::RegDspAbsentPhoto (&AnswerPhoto)(reinterpret_cast<void*>(0x1234), &rect, 9, "ph"); },
       432,
       {{146, address(&AnswerPhoto) + "\x01" + Raw(0x1234) + Raw(RECT{1, 2, 999, 4}) + Raw(9) +
                  std::string("ph", 3)}}},
  };
  for (const auto& c : cases) {
    c.call();
    ASSERT_EQ(c.size, loopback.wire.size());
    EXPECT_TRUE(qarn::msg::InterfaceIs(loopback.wire.data(), "QARN_Callback"));
    for (const auto& [offset, bytes] : c.fields)
      EXPECT_EQ(bytes, loopback.wire.substr(offset, bytes.size())) << offset;
  }

  // Exactly five bytes of password come back.
  g_seen = Seen();
  memset(password, 'x', sizeof password);
  const auto passwd = Callback::RegGetDocPasswd(&AnswerPasswd);
  EXPECT_EQ(77, passwd(password, &length, "doc"));
  EXPECT_EQ(5u, length);
  EXPECT_EQ(std::string("12345x"), std::string(reinterpret_cast<char*>(password), 6));
  // A failed forward touches nothing and gives neutral results.
  loopback.fail = true;
  length = 42;
  EXPECT_EQ(0, passwd(password, &length, "doc"));
  EXPECT_EQ(42u, length);
  EXPECT_EQ('1', password[0]);
  EXPECT_EQ(0, Callback::RegEnumSelectedText(&AnswerSelectedText)(1, RECT{}, 2));
  EXPECT_FALSE(Callback::RegDspAbsentPhoto(&AnswerPhoto)(nullptr, &rect, 0, ""));
  EXPECT_EQ(1, g_seen.calls);
  // Without a channel the password is 256 zeros.
  Callback::m_pCallback = nullptr;
  EXPECT_EQ(0, passwd(password, &length, "doc"));
  EXPECT_EQ(256u, length);
  EXPECT_EQ(std::string(256, '\0'), std::string(reinterpret_cast<char*>(password), 256));
  EXPECT_EQ(1, g_seen.calls);
}

int g_server_pid = 0;
int KillTheServer(unsigned short, RECT, long) {
  kill(g_server_pid, SIGKILL);
  siginfo_t ended;  // the session still owns the child, so it stays a zombie until then
  waitid(P_PID, static_cast<id_t>(g_server_pid), &ended, WEXITED | WNOWAIT);
  return 0;
}

// The server calls the forwarders; this process's functions run meanwhile.
TEST_F(WithServer, CallbacksRoundTripAndRefusedAddresses) {
  f_QARNDRV_Init(h_);
  g_seen = Seen();
  const auto address = [](auto function) { return std::to_string(reinterpret_cast<uintptr_t>(function)); };
  char hex[16];
  snprintf(hex, sizeof hex, "0x%lx",
           static_cast<unsigned long>(reinterpret_cast<uintptr_t>(&AnswerSelectedText)));

  std::string reply = Invoke("callback passwd " + address(&AnswerPasswd) + " " + std::string(300, 'n'));
  EXPECT_EQ(std::string(260, 'n'), g_seen.document);
  for (const char* part : {"<intVal val=\"77\" name=\"result\"/>", "<intVal val=\"5\" name=\"length\"/>",
                           "<stringVal val=\"12345\" name=\"password\"/>"}) {
    EXPECT_NE(std::string::npos, reply.find(part)) << reply;
  }
  reply = Invoke("callback text " + std::string(hex) + " 65535 -1 2 3 4 -7");
  EXPECT_EQ(65535, g_seen.n);
  EXPECT_EQ(-1, g_seen.rect.left);
  EXPECT_EQ(4, g_seen.rect.bottom);
  EXPECT_EQ(-7, g_seen.value);
  EXPECT_NE(std::string::npos, reply.find("<intVal val=\"-5\" name=\"result\"/>")) << reply;

  reply = Invoke("callback photo " + address(&AnswerPhoto) + " 4660 10 20 30 40 6 a photo.jpg");
  EXPECT_EQ(reinterpret_cast<void*>(4660), g_seen.context);
  EXPECT_EQ(30, g_seen.rect.right);
  EXPECT_EQ(6u, g_seen.number);
  EXPECT_EQ("a photo.jpg", g_seen.text);
  EXPECT_NE(std::string::npos, reply.find("<stringVal val=\"true\" name=\"result\"/>")) << reply;
  EXPECT_NE(std::string::npos, reply.find("<stringVal val=\"10 20 30 40\" name=\"rect\"/>")) << reply;
  EXPECT_EQ(3, g_seen.calls);

  for (const char* refused :
       {"callback passwd 0 doc", "callback passwd 12abc doc", "callback nosuch 5", "callback text 5 1 2 3"}) {
    EXPECT_NE(std::string::npos, Invoke(refused).find("val=\"false\" name=\"SUCCESS\"")) << refused;
    EXPECT_EQ(3, f_QARNDRV_GetLastError(h_)) << refused;
  }
  EXPECT_EQ(3, g_seen.calls);

  // A server that dies while its callback is answered fails the request.
  g_server_pid = std::stoi(qarn::test::ReplyValue(Invoke("status"), "pid"));
  EXPECT_EQ(qarn::test::kServiceOff, Invoke("callback text " + address(&KillTheServer) + " 1 1 2 3 4 5"));
  EXPECT_EQ(-1, f_QARNSVR_GetVersion(h_));
}

}  // namespace
