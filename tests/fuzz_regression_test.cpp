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
#include "fuzz/reply_harness.h"
#include "qarnplus/callback.h"

namespace {

namespace msg = qarn::msg;

std::string Message(const char* interface_name, const char* method, size_t size, char fill) {
  std::string m(size, fill);
  msg::Begin(&m[0], msg::kHeaderSize, interface_name, method);
  return m;
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

// Found by reply_fuzz: a server that fills the document name (or the photo
// text) to the last byte of its message made the application read past the
// library's copy of the message. The text ends within the message, the
// answer comes back, and no other byte of the slot changes.
TEST(CallbackFromAFullMessage, TextEndsWithinTheMessage) {
  namespace reply = qarn::fuzz::reply;
  const struct {
    const char* method;
    size_t size, text_at;
    bool password;
  } cases[] = {{"GetDocPasswd", 675, 414, true}, {"DspAbsentPhoto", 432, 175, false}};
  for (const auto& c : cases) {
    std::string message = Message(msg::kCallbackInterface, c.method, c.size, 't');
    if (c.password) msg::PutUInt32(&message[0], 410, 300);  // a room beyond what it gets
    reply::Aim(message);
    std::string slot = message + std::string(msg::kSlotSize - message.size(), '\x77');
    reply::harmless_text_length = 0;
    c_QARNPlus_Callback::Invoke(&slot[0]);
    const size_t text = c.size - c.text_at;
    EXPECT_EQ(reply::harmless_text_length, text) << c.method;
    EXPECT_EQ(slot.substr(c.text_at),
              message.substr(c.text_at) + std::string(msg::kSlotSize - c.size, '\x77'))
        << c.method;
    if (c.password) {
      EXPECT_EQ(msg::GetInt32(slot.data(), 150), static_cast<int32_t>(text));
      EXPECT_EQ(msg::GetUInt32(slot.data(), 410), 256u);
    } else {
      EXPECT_EQ(slot[150], 1) << "an odd length: true";
    }
  }
}

TEST(ReplyFuzzInputs, FullCallbackTextsThenTheReply) {
  std::string password = Message(msg::kCallbackInterface, "GetDocPasswd", 675, 'n');
  msg::PutUInt32(&password[0], 410, 0xFFFFFFFFu);
  std::string photo = Message(msg::kCallbackInterface, "DspAbsentPhoto", 432, 't');
  const std::string reply = Message(msg::kDriverInterface, "Invoke", 160, '\0');
  // Both callbacks run, before the reply and before the server hangs up.
  for (const auto& input : {Input({0x00}, {password, photo, reply}), Input({0x08}, {password, photo})}) {
    qarn::fuzz::reply::harmless_calls = 0;
    qarn::fuzz::RunReplyInput(input.data(), input.size());
    EXPECT_EQ(qarn::fuzz::reply::harmless_calls, 2) << input[0];
  }
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
