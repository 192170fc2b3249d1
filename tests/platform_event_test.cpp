// The start event between two real processes.

#include <fcntl.h>
#include <semaphore.h>
#include <sys/stat.h>

#include "tests/platform_test_support.h"

namespace {

using namespace platform_test;
using namespace platform_peer;

// Long enough never to be reached when the implementation is right.
constexpr uint32_t kLongWaitMs = 30000;

TEST(EventTest, SignalFromAnotherProcessEndsTheWait) {
  WorkFolder folder;
  StartEvent event;
  ASSERT_EQ(event.error(), os::kErrorSuccess);
  Peer peer(kSignalAndExit, folder, "", event.name());
  ASSERT_EQ(peer.start_error(), os::kErrorSuccess);
  EXPECT_EQ(os::EventWait(event.handle(), kLongWaitMs, peer.process()), os::WaitResult::kSignalled);
}

TEST(EventTest, WaitWithoutSignalTimesOut) {
  WorkFolder folder;
  StartEvent event;
  ASSERT_EQ(event.error(), os::kErrorSuccess);
  EXPECT_EQ(os::EventWait(event.handle(), 30, nullptr), os::WaitResult::kTimedOut);
  Peer peer(kLinger, folder, "", event.name());
  ASSERT_EQ(peer.start_error(), os::kErrorSuccess);
  EXPECT_EQ(os::EventWait(event.handle(), 30, peer.process()), os::WaitResult::kTimedOut);
  EXPECT_FALSE(os::ProcessHasExited(peer.process()));
}

TEST(EventTest, ProcessThatEndsWithoutSignallingEndsTheWait) {
  WorkFolder folder;
  StartEvent event;
  ASSERT_EQ(event.error(), os::kErrorSuccess);
  Peer peer(kExitSilently, folder, "", event.name());
  ASSERT_EQ(peer.start_error(), os::kErrorSuccess);
  EXPECT_EQ(os::EventWait(event.handle(), kLongWaitMs, peer.process()), os::WaitResult::kProcessExited);
  EXPECT_TRUE(os::ProcessHasExited(peer.process()));
}

TEST(EventTest, SignalBeforeTheWaitIsKeptAndCountsOnce) {
  StartEvent event;
  ASSERT_EQ(event.error(), os::kErrorSuccess);
  ASSERT_EQ(os::EventSignal(event.name().c_str()), os::kErrorSuccess);
  EXPECT_EQ(os::EventWait(event.handle(), 0, nullptr), os::WaitResult::kSignalled);
  EXPECT_EQ(os::EventWait(event.handle(), 0, nullptr), os::WaitResult::kTimedOut);
}

TEST(EventTest, NameIsExclusiveAndRemovedOnClose) {
  const std::string ns = os::ObjectNamespace();
  {
    StartEvent event;
    ASSERT_EQ(event.error(), os::kErrorSuccess);
    HANDLE second = nullptr;
    EXPECT_EQ(os::EventCreate(event.name().c_str(), &second), os::kErrorAlreadyExists);
    EXPECT_EQ(SharedObjectsOf(ns).size(), 1u);
  }
  EXPECT_TRUE(SharedObjectsOf(ns).empty());
  EXPECT_EQ(os::EventSignal(UniqueName("absent").c_str()), os::kErrorFileNotFound);
}

TEST(EventTest, SignalRefusesASemaphoreOthersCouldUse) {
  const std::string name = UniqueName("open");
  const std::string full_name = "/qarn." + std::string(os::ObjectNamespace()) + ".ev." + name;
  sem_t* semaphore = sem_open(full_name.c_str(), O_CREAT | O_EXCL, 0600, 0);
  ASSERT_NE(semaphore, SEM_FAILED);
  // Where the system keeps a named semaphore; the umask may have narrowed the mode.
  ASSERT_EQ(chmod(("/dev/shm/sem." + full_name.substr(1)).c_str(), 0666), 0);
  EXPECT_EQ(os::EventSignal(name.c_str()), os::kErrorAccessDenied);
  int value = -1;
  sem_getvalue(semaphore, &value);
  EXPECT_EQ(value, 0);
  sem_close(semaphore);
  sem_unlink(full_name.c_str());
}

}  // namespace
