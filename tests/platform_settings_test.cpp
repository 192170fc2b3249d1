// The "Debug" server setting read from the QARN_CONFIG file.

#include "tests/platform_test_support.h"

namespace {

using namespace platform_test;

struct DebugCase {
  const char* content;  // nullptr: no file at all
  uint32_t error;
  uint32_t value;  // checked only on success
};

const DebugCase kDebugCases[] = {
    {nullptr, os::kErrorFileNotFound, 0},
    {"Other=1\n", os::kErrorFileNotFound, 0},
    {"Debug=0\n", os::kErrorSuccess, 0},
    {"Debug=1", os::kErrorSuccess, 1},
    {"# settings\nOther=5\n  debug = 4294967295 \r\n", os::kErrorSuccess, 0xFFFFFFFFu},
    {"Debug=0x1F\n", os::kErrorSuccess, 0x1F},
    {"Debug=0XfFfFfFfF\n", os::kErrorSuccess, 0xFFFFFFFFu},
    {"Debug=010\n", os::kErrorSuccess, 10},
    {"Debug=yes\n", os::kErrorInvalidParameter, 0},
    {"Debug=12abc\n", os::kErrorInvalidParameter, 0},
    {"Debug=-1\n", os::kErrorInvalidParameter, 0},
    {"Debug=4294967296\n", os::kErrorInvalidParameter, 0},
    {"Debug=0x\n", os::kErrorInvalidParameter, 0},
    {"Debug=\n", os::kErrorInvalidParameter, 0},
    {"Debug=2\nDebug=3\n", os::kErrorSuccess, 2},
};

TEST(SettingsTest, DebugValueFromTheConfigurationFile) {
  WorkFolder folder;
  const std::string path = folder.file("qarn_svr.conf");
  ScopedEnv env("QARN_CONFIG", path.c_str());
  for (const DebugCase& test : kDebugCases) {
    const std::string shown = test.content ? test.content : "(no file)";
    fs::remove(path);
    if (test.content != nullptr) std::ofstream(path) << test.content;
    uint32_t value = 0xDEADBEEF;
    EXPECT_EQ(os::ReadDebugSetting(&value), test.error) << shown;
    if (test.error == os::kErrorSuccess) {
      EXPECT_EQ(value, test.value) << shown;
    }
  }
}

}  // namespace
