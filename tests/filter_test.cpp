// Filter proxies: the messages they send and how they end.
#include <gtest/gtest.h>
#include <stdint.h>
#include <string.h>

#include <string>

#include "peer_session.h"
#include "peers/scripted_peer.h"
#include "qarnplus/driver.h"
#include "qarnplus/filters.h"
#include "qarnplus/server.h"

namespace {

using qarn::test::PeerScript;
using qarn::test::ServerFolder;
namespace msg = qarn::msg;

// A factory value: only its number travels; nobody calls it.
const auto kFactory = reinterpret_cast<c_QARNPlus_FilterEntry::PfnCreate>(static_cast<uintptr_t>(0x00ABCDEF));

uint32_t IdentityOf(QARN_FilterDef* filter) {
  return static_cast<uint32_t>(
      reinterpret_cast<uintptr_t>(static_cast<c_QARNPlus_FilterDef*>(filter)->m_pFilterDef));
}

using Filters = qarn::test::PeerSessionTest;

TEST_F(Filters, LifecycleOnTheWire) {
  Open("reply");
  QARN_FilterEntry* entry = c_QARNPlus_FilterEntry::CreateInstance(h_, kFactory);
  ASSERT_NE(nullptr, entry);
  QARN_FilterDef* filter = entry->Create();
  ASSERT_NE(nullptr, filter);
  const uint32_t identity = IdentityOf(filter);
  EXPECT_NE(0u, identity);

  char* first = filter->GetName();
  ASSERT_NE(nullptr, first);
  EXPECT_STREQ("GetFilterName#2", first);
  char* second = filter->GetName();
  EXPECT_EQ(first, second);  // one buffer, overwritten
  EXPECT_STREQ("GetFilterName#3", first);
  filter->Destroy(entry);

  const auto m = folder_.Received();
  ASSERT_EQ(4u, m.size());
  EXPECT_TRUE(m[0].IsRequest("CreateFilter"));
  EXPECT_EQ(154u, m[0].bytes.size());
  EXPECT_EQ(0x00ABCDEFu, msg::GetUInt32(m[0].bytes.data(), 146));
  EXPECT_EQ(0u, msg::GetUInt32(m[0].bytes.data(), 150));
  EXPECT_EQ(166u, m[1].bytes.size());
  EXPECT_EQ(identity, msg::GetUInt32(m[1].bytes.data(), 146));
  EXPECT_EQ(std::string(16, '\0'), m[1].bytes.substr(150));
  EXPECT_TRUE(m[3].IsRequest("GetFilterName"));
  EXPECT_EQ(150u, m[3].bytes.size());
  EXPECT_EQ(identity, msg::GetUInt32(m[3].bytes.data(), 146));
}

TEST_F(Filters, NullFactoryAndZeroIdentitySendNothing) {
  Open("zero");
  QARN_FilterEntry* empty = c_QARNPlus_FilterEntry::CreateInstance(h_, nullptr);
  ASSERT_NE(nullptr, empty);
  EXPECT_EQ(nullptr, empty->Create());

  QARN_FilterEntry* entry = c_QARNPlus_FilterEntry::CreateInstance(h_, kFactory);
  QARN_FilterDef* filter = entry->Create();  // the reply's identity is 0
  ASSERT_NE(nullptr, filter);
  EXPECT_EQ(0u, IdentityOf(filter));
  EXPECT_EQ(nullptr, filter->GetName());
  filter->Destroy(entry);  // neither sends nor deletes
  EXPECT_EQ(1u, folder_.Received().size());
  delete filter;
  delete entry;
  delete empty;
}

TEST_F(Filters, DestroyWithoutEntryKeepsTheEntry) {
  Open("reply");
  QARN_FilterEntry* entry = c_QARNPlus_FilterEntry::CreateInstance(h_, kFactory);
  QARN_FilterDef* filter = entry->Create();
  ASSERT_NE(nullptr, filter);
  filter->Destroy(nullptr);
  QARN_FilterDef* another = entry->Create();  // the entry still works
  ASSERT_NE(nullptr, another);
  another->Destroy(entry);
  EXPECT_EQ(2u, folder_.CountRequests("CreateFilter"));
  EXPECT_EQ(2u, folder_.CountRequests("GetFilterName"));
}

TEST(FiltersStaleSession, NothingIsSentAndDestroyStillDeletes) {
  void* h = f_QARNSVR_LoadLibrary(0, QARN_SERVER_DIR, "");
  ASSERT_NE(nullptr, h);
  QARN_FilterEntry* entry = c_QARNPlus_FilterEntry::CreateInstance(h, kFactory);
  QARN_FilterDef* filter = entry->Create();
  ASSERT_NE(nullptr, filter);
  f_QARNSVR_FreeLibrary(h);
  EXPECT_EQ(nullptr, entry->Create());
  EXPECT_EQ(nullptr, filter->GetName());
  filter->Destroy(entry);  // deletes both; the sanitizer build checks it
}

TEST(FiltersWithServer, LongNamesAreCutAndReleasesAreSeen) {
  void* h = f_QARNSVR_LoadLibrary(0, QARN_SERVER_DIR, "");
  ASSERT_NE(nullptr, h);
  f_QARNDRV_Init(h);
  // The server picks the kind by factory value; 4 is its long-named kind.
  auto factory = reinterpret_cast<c_QARNPlus_FilterEntry::PfnCreate>(static_cast<uintptr_t>(4));
  QARN_FilterEntry* entry = c_QARNPlus_FilterEntry::CreateInstance(h, factory);
  QARN_FilterDef* filter = entry->Create();
  ASSERT_NE(nullptr, filter);
  EXPECT_STREQ("SignatureVerifi", filter->GetName());

  const char* reply = nullptr;
  f_QARNDRV_Invoke(h, "filters", &reply, nullptr);
  ASSERT_NE(nullptr, reply);
  EXPECT_NE(nullptr, strstr(reply, "<intVal val=\"1\" name=\"count\"/>")) << reply;
  filter->Destroy(entry);
  f_QARNDRV_Invoke(h, "filters", &reply, nullptr);
  ASSERT_NE(nullptr, reply);
  EXPECT_NE(nullptr, strstr(reply, "<intVal val=\"0\" name=\"count\"/>")) << reply;
  f_QARNSVR_FreeLibrary(h);
}

}  // namespace
