// Four threads, each with a session of its own and its own requests. Prints
// one line per thread and "all threads done" when every reply was its own.
#include <qarnplus.h>
#include <stdio.h>
#include <string.h>

#include <string>
#include <thread>
#include <vector>

namespace {

constexpr int kThreads = 4;
constexpr int kRequests = 5;

bool RunSession(int number) {
  void* session = f_QARNSVR_LoadLibrary(0, QARN_SERVER_DIR, "");
  if (session == nullptr) return false;
  bool ok = f_QARNSVR_GetVersion(session) > 0;
  f_QARNDRV_Init(session);
  for (int i = 0; ok && i < kRequests; ++i) {
    const std::string word = "thread" + std::to_string(number) + "-" + std::to_string(i);
    const char* reply = nullptr;
    f_QARNDRV_Invoke(session, ("echo " + word).c_str(), &reply, nullptr);
    ok = reply != nullptr && strstr(reply, ("val=\"" + word + "\"").c_str()) != nullptr;
  }
  f_QARNDRV_Clean(session);
  f_QARNSVR_FreeLibrary(session);
  return ok;
}

}  // namespace

int main() {
  std::vector<std::thread> threads;
  std::vector<int> results(kThreads, 0);
  for (int t = 0; t < kThreads; ++t) threads.emplace_back([t, &results] { results[t] = RunSession(t) ? 1 : 0; });
  for (std::thread& thread : threads) thread.join();
  int done = 0;
  for (int t = 0; t < kThreads; ++t) {
    printf("thread %d: %s\n", t, results[t] ? "ok" : "failed");
    done += results[t];
  }
  if (done != kThreads) return 1;
  printf("all threads done\n");
  return 0;
}
