// Object names of this process: the namespace after a fork, and the count of
// creating handles per name when many names are alive at once.

#include <sys/wait.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "tests/platform_test_support.h"

namespace {

using namespace platform_test;

TEST(NamesTest, ForkedChildNamesObjectsWithItsOwnProcessId) {
  ScopedEnv env("QARN_NS", nullptr);
  ASSERT_EQ(os::ObjectNamespace(), std::to_string(os::CurrentProcessId()));
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    // Exit status 0 only when the child's namespace is its own pid.
    _exit(os::ObjectNamespace() == std::to_string(getpid()) ? 0 : 1);
  }
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "the child kept its parent's namespace";
  EXPECT_EQ(os::ObjectNamespace(), std::to_string(os::CurrentProcessId()));
}

bool Exists(const std::string& name) {
  HANDLE mapping = nullptr;
  if (os::MappingOpen(name.c_str(), &mapping) != os::kErrorSuccess) return false;
  os::MappingClose(mapping);
  return true;
}

// More names than any table of creating handles has slots, so names share
// them; each name must still be removed exactly when its own last creating
// handle goes.
TEST(NamesTest, EachNameLivesUntilItsOwnLastCreatingHandle) {
  constexpr size_t kNames = 200;
  std::vector<std::string> names;
  std::vector<HANDLE> first(kNames), second(kNames);
  for (size_t i = 0; i < kNames; ++i) {
    names.push_back(UniqueName("names"));
    ASSERT_EQ(os::MappingCreate(names[i].c_str(), 16, &first[i]), os::kErrorSuccess);
  }
  // Every third name gets a second creating handle.
  for (size_t i = 0; i < kNames; i += 3) {
    ASSERT_EQ(os::MappingCreate(names[i].c_str(), 16, &second[i]), os::kErrorSuccess);
  }
  for (size_t i = 0; i < kNames; ++i) os::MappingClose(first[i]);
  for (size_t i = 0; i < kNames; ++i) {
    EXPECT_EQ(Exists(names[i]), i % 3 == 0) << names[i];
  }
  for (size_t i = 0; i < kNames; i += 3) {
    os::MappingClose(second[i]);
    EXPECT_FALSE(Exists(names[i])) << names[i];
    if (i + 3 < kNames) EXPECT_TRUE(Exists(names[i + 3])) << names[i + 3];
  }
}

}  // namespace
