#pragma once
// A test with one session to a server: the scripted peer, started with a
// script that says how it answers each request, or the stand-in server.
#include <gtest/gtest.h>

#include <string>

#include "peers/scripted_peer.h"
#include "qarnplus/driver.h"
#include "qarnplus/server.h"

namespace qarn::test {

// What a request gets once its server is gone.
inline constexpr char kServiceOff[] =
    "<QARN_RET>\n\t<boolVal val=\"false\" name=\"SUCCESS\"/>\n\t<stringVal val=\"Service Off\" "
    "name=\"error\"/>\n</QARN_RET>";

// The reply to `request` on session `h`; "" when there is none.
inline std::string ReplyTo(void* h, const std::string& request) {
  const char* reply = nullptr;
  f_QARNDRV_Invoke(h, request.c_str(), &reply, nullptr);
  return reply != nullptr ? reply : "";
}

// The value named `name` in a reply ("val=\"...\" name=\"NAME\""); "" when missing.
inline std::string ReplyValue(const std::string& reply, const std::string& name) {
  const size_t end = reply.find("\" name=\"" + name + "\"");
  const size_t start = end == std::string::npos ? end : reply.rfind("val=\"", end);
  return start == std::string::npos ? "" : reply.substr(start + 5, end - start - 5);
}

class PeerSessionTest : public ::testing::Test {
 protected:
  void Open(const char* script) {
    folder_.Install("qarn_svr");
    PeerScript peer(script);
    h_ = f_QARNSVR_LoadLibrary(0, folder_.path().c_str(), "");
    ASSERT_NE(nullptr, h_);
  }
  void TearDown() override { f_QARNSVR_FreeLibrary(h_); }
  std::string Invoke(const std::string& request) { return ReplyTo(h_, request); }

  ServerFolder folder_;
  void* h_ = nullptr;
};

}  // namespace qarn::test
