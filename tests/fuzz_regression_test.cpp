// Inputs with which the fuzzers found faults, replayed through the fuzzers'
// own harnesses (under the sanitizer build a relapse is a report), and each
// fault pinned down as an ordinary check of its defined result.
#include <gtest/gtest.h>
#include <stdint.h>
#include <string.h>

#include <string>
#include <vector>

#include "connection/message.h"
#include "fuzz/code_text_harness.h"
#include "fuzz/package_harness.h"
#include "fuzz/reply_harness.h"
#include "qarnplus/callback.h"
#include "qarnplus/driver.h"
#include "qarnplus/server.h"

namespace {

namespace msg = qarn::msg;

std::string Message(const char* interface_name, const char* method, size_t size, char fill) {
  std::string m(size, fill);
  msg::Begin(&m[0], msg::kHeaderSize, interface_name, method);
  return m;
}

template <class Function>
void PutAddress(std::string& message, Function function) {
  msg::PutUInt32(&message[0], 146, static_cast<uint32_t>(reinterpret_cast<uintptr_t>(function)));
}

// A fuzz input: the bytes, each chunk behind its 16-bit length.
std::vector<uint8_t> Input(std::initializer_list<uint8_t> head, const std::vector<std::string>& chunks) {
  std::vector<uint8_t> input(head);
  for (const std::string& chunk : chunks) {
    input.push_back(static_cast<uint8_t>(chunk.size() & 0xFF));
    input.push_back(static_cast<uint8_t>(chunk.size() >> 8));
    input.insert(input.end(), chunk.begin(), chunk.end());
  }
  return input;
}

size_t g_seen_length = 0;

int WINAPI MeasurePassword(unsigned char*, unsigned int* length, const char* document) {
  g_seen_length = strlen(document);
  *length = 3;
  return 11;
}

bool MeasurePhoto(void*, RECT*, unsigned long, const char* text) {
  g_seen_length = strlen(text);
  return true;
}

// Found by reply_fuzz: a server that fills the document name (or the photo
// text) to the last byte of its message made the application read past the
// library's copy of the message.
TEST(CallbackFromAFullMessage, DocumentNameEndsWithinTheMessage) {
  std::string message = Message(msg::kCallbackInterface, "GetDocPasswd", 675, 'n');
  PutAddress(message, &MeasurePassword);
  msg::PutUInt32(&message[0], 410, 256);
  std::string slot = message + std::string(msg::kSlotSize - message.size(), '\x77');
  g_seen_length = 0;
  c_QARNPlus_Callback::Invoke(&slot[0]);
  EXPECT_EQ(g_seen_length, 261u);
  EXPECT_EQ(msg::GetInt32(slot.data(), 150), 11);
  EXPECT_EQ(msg::GetUInt32(slot.data(), 410), 3u);
  // Every other byte comes back as it was sent, and nothing past the message
  // is touched.
  EXPECT_EQ(slot.substr(414, 261), message.substr(414, 261));
  EXPECT_EQ(slot.substr(675), std::string(msg::kSlotSize - 675, '\x77'));
}

TEST(CallbackFromAFullMessage, PhotoTextEndsWithinTheMessage) {
  std::string message = Message(msg::kCallbackInterface, "DspAbsentPhoto", 432, 't');
  PutAddress(message, &MeasurePhoto);
  std::string slot = message + std::string(msg::kSlotSize - message.size(), '\0');
  g_seen_length = 0;
  c_QARNPlus_Callback::Invoke(&slot[0]);
  EXPECT_EQ(g_seen_length, 257u);
  EXPECT_EQ(slot[150], 1);
  EXPECT_EQ(slot.substr(175, 257), message.substr(175, 257));
}

TEST(ReplyFuzzInputs, FullCallbackTextsThenTheReply) {
  std::string password = Message(msg::kCallbackInterface, "GetDocPasswd", 675, 'n');
  msg::PutUInt32(&password[0], 410, 0xFFFFFFFFu);
  std::string photo = Message(msg::kCallbackInterface, "DspAbsentPhoto", 432, 't');
  const std::string reply = Message(msg::kDriverInterface, "Invoke", 160, '\0');
  const std::vector<uint8_t> input = Input({0x00}, {password, photo, reply});
  qarn::fuzz::RunReplyInput(input.data(), input.size());
  // The same messages, the server hanging up after them.
  const std::vector<uint8_t> hang_up = Input({0x08}, {password, photo});
  qarn::fuzz::RunReplyInput(hang_up.data(), hang_up.size());
}

// The package inputs, with the document call performed by the real stand-in
// server in its own process, as the application's package would meet it.
class PackageFuzzInputs : public ::testing::Test {
 protected:
  void SetUp() override {
    session_ = f_QARNSVR_LoadLibrary(0, QARN_SERVER_DIR, "");
    ASSERT_NE(session_, nullptr);
    f_QARNDRV_Init(session_);
  }
  void TearDown() override { f_QARNSVR_FreeLibrary(session_); }

  std::string Call(const char* name, const char* code) {
    const std::string request =
        code != nullptr ? std::string("call ") + name + " " + code : std::string("usb ") + name;
    const char* reply = nullptr;
    f_QARNDRV_Invoke(session_, request.c_str(), &reply, nullptr);
    return reply != nullptr ? reply : "";
  }

  // Replays `input`; `check` runs while the application's blocks still exist.
  void Replay(const std::vector<uint8_t>& input, const std::function<void(const std::string&)>& check) {
    bool called = false;
    qarn::fuzz::RunPackageInput(input.data(), input.size(), [&](const char* name, const char* code) {
      called = true;
      const std::string reply = Call(name, code);
      EXPECT_NE(reply.find("name=\"SUCCESS\""), std::string::npos) << reply;
      check(reply);
    });
    EXPECT_TRUE(called);
    EXPECT_GT(f_QARNSVR_GetVersion(session_), 0) << "the server did not survive the call";
  }

  void* session_ = nullptr;
};

// Package input header: direct code, flags aim + document call, no size,
// no patches; then the aims, then the record.
std::vector<uint8_t> PackageInput(uint16_t code, std::vector<uint8_t> aims, std::vector<uint8_t> record,
                                  std::vector<uint8_t> patches = {}) {
  std::vector<uint8_t> input = {0xFF, static_cast<uint8_t>(code), static_cast<uint8_t>(code >> 8), 0x09, 0};
  input.push_back(static_cast<uint8_t>(patches.size() / 3));
  input.insert(input.end(), patches.begin(), patches.end());
  input.insert(input.end(), aims.begin(), aims.end());
  input.insert(input.end(), record.begin(), record.end());
  return input;
}

constexpr uint8_t kShortString = 0, kNodeBuffer = 3;  // what an aim points at

// The text at the start of the 16-byte string buffer's block, read no
// further than the block.
std::string TextIn(c_QARNPlus_Shrmem& block) {
  const char* text = static_cast<const char*>(block.Local());
  return std::string(text, strnlen(text, qarn::fuzz::package::kBufferSizes[0]));
}

// Found by package_fuzz: SAPGetErrMes1 whose length field claims 9000 bytes
// for a 16-byte block made the server write far past its view.
TEST_F(PackageFuzzInputs, LengthBeyondTheBlockIsNotBelieved) {
  std::vector<uint8_t> record(14, 0);
  record[0] = 7;            // the error number
  record[6] = 9000 & 0xFF;  // the buffer's length ...
  record[7] = 9000 >> 8;    // ... far beyond its 16-byte block
  Replay(PackageInput(8, {kShortString, kShortString}, record), [](const std::string&) {
    // The message is cut to the block that really exists.
    c_QARNPlus_Shrmem buffer(static_cast<const void*>(qarn::fuzz::package::OwnMemory().buffers[0]));
    ASSERT_NE(buffer.Local(), nullptr);
    EXPECT_EQ(TextIn(buffer), "QARN error 7");
  });
}

// Found by package_fuzz: SAPEncrypt_CA whose length pair sums to far more
// than the buffer block holds.
TEST_F(PackageFuzzInputs, LengthPairBeyondTheBlockIsNotBelieved) {
  // The pair lies in the node buffer; a patch writes a pointer value over it,
  // whose two halves add up to tens of kilobytes.
  Replay(PackageInput(212, {kShortString, kNodeBuffer}, std::vector<uint8_t>(79, 0),
                      {1 + kNodeBuffer, 0, kShortString}),
         [](const std::string&) {
           c_QARNPlus_Shrmem buffer(static_cast<const void*>(qarn::fuzz::package::OwnMemory().buffers[0]));
           ASSERT_NE(buffer.Local(), nullptr);
           EXPECT_EQ(TextIn(buffer), "document.gw");  // left alone
         });
}

TEST(CodeTextFuzzInputs, ConversionAgreesWithStrtolAtTheEdges) {
  for (const char* text : {"8", " \t\n+404", "\v\f\r401", "0222x", "00", "x1", "+-8", " \t+-5", "", "-1",
                           "2147483647", "2147483648", "4294967304", "99999999999999999999", "-2147483648",
                           "-2147483649", "-99999999999999999999999"}) {
    EXPECT_TRUE(qarn::fuzz::CodeTextAgreesWithStrtol(text)) << text;
    const std::string input = std::string(text) + '\0' + "1";
    qarn::fuzz::RunCodeTextInput(reinterpret_cast<const uint8_t*>(input.data()), input.size());
  }
  EXPECT_EQ(qarn::transport::ParseApiCodeText(nullptr), 0u);
}

}  // namespace
