// Tag names: the per-session cache and what travels to the server.
#include <gtest/gtest.h>

#include <string>

#include "peer_session.h"
#include "peers/scripted_peer.h"
#include "qarnplus/driver.h"
#include "qarnplus/server.h"

namespace {

using qarn::test::PeerScript;
using qarn::test::ServerFolder;
namespace msg = qarn::msg;

using Tags = qarn::test::PeerSessionTest;

TEST_F(Tags, SecondLookupByNumberIsAnsweredFromTheCache) {
  Open("reply");
  const char* first = f_QARNDRV_GetTagNameByID(h_, static_cast<DXML_TAG>(-42));
  ASSERT_NE(nullptr, first);
  EXPECT_STREQ("GetTagNameByID#1", first);
  const char* second = f_QARNDRV_GetTagNameByID(h_, static_cast<DXML_TAG>(-42));
  ASSERT_NE(nullptr, second);
  EXPECT_NE(first, second);
  EXPECT_STREQ(first, second);

  const auto m = folder_.Received();
  ASSERT_EQ(1u, m.size());
  EXPECT_EQ(407u, m[0].bytes.size());
  EXPECT_EQ(-42, msg::GetInt32(m[0].bytes.data(), 146));
  EXPECT_EQ(std::string(257, '\0'), m[0].bytes.substr(150));
}

TEST_F(Tags, FailedLookupIsAskedAgain) {
  Open("long,reply");
  EXPECT_EQ(nullptr, f_QARNDRV_GetTagNameByID(h_, static_cast<DXML_TAG>(3)));
  const char* name = f_QARNDRV_GetTagNameByID(h_, static_cast<DXML_TAG>(3));
  ASSERT_NE(nullptr, name);
  EXPECT_STREQ("GetTagNameByID#2", name);
  EXPECT_EQ(2u, folder_.CountRequests("GetTagNameByID"));
}

TEST_F(Tags, LookupsByNameAreSentEveryTimeAndCutTo256) {
  Open("reply");
  const std::string name(300, 'q');
  EXPECT_EQ(1, f_QARNDRV_GetTagIDByName(h_, name.c_str()));
  EXPECT_EQ(2, f_QARNDRV_GetTagIDByName(h_, name.c_str()));
  const auto m = folder_.Received();
  ASSERT_EQ(2u, m.size());
  EXPECT_EQ(407u, m[0].bytes.size());
  EXPECT_EQ(std::string(256, 'q') + std::string(5, '\0'), m[0].bytes.substr(146));
}

TEST(TagsUnknownHandle, GivesNullAndMinusOne) {
  int stale = 0;
  EXPECT_EQ(nullptr, f_QARNDRV_GetTagNameByID(nullptr, static_cast<DXML_TAG>(1)));
  EXPECT_EQ(nullptr, f_QARNDRV_GetTagNameByID(&stale, static_cast<DXML_TAG>(1)));
  EXPECT_EQ(DXML_TAG_INVALID, f_QARNDRV_GetTagIDByName(&stale, "seal"));
}

TEST(TagsWithServer, TableOfTheStandInServer) {
  void* h = f_QARNSVR_LoadLibrary(0, QARN_SERVER_DIR, "");
  ASSERT_NE(nullptr, h);
  const char* name = f_QARNDRV_GetTagNameByID(h, static_cast<DXML_TAG>(7));
  ASSERT_NE(nullptr, name);
  EXPECT_EQ(7, f_QARNDRV_GetTagIDByName(h, name));
  EXPECT_EQ(DXML_TAG_INVALID, f_QARNDRV_GetTagIDByName(h, "no such tag"));
  const char* unknown = f_QARNDRV_GetTagNameByID(h, static_cast<DXML_TAG>(999));
  ASSERT_NE(nullptr, unknown);
  EXPECT_STREQ("", unknown);
  f_QARNSVR_FreeLibrary(h);
}

}  // namespace
