// Two processes write the registry at the same time and lose nothing. The
// second process is this very program, started again to run only the writer
// below; its key and value prefix come through the environment.
#include "RegistryTestSupport.h"

#include <cstdlib>

#ifndef _WIN32
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>
extern char **environ;
#endif

namespace {

constexpr const char *WriterVariable = "REGISTRY_TEST_WRITER";
constexpr int ValuesPerWriter = 300;
constexpr int Buckets = 10;

// Writes ValuesPerWriter values named <prefix>_<n>, spread over subkeys that
// both writers create, each value in its own calls as a program would.
void writeValues(const std::string &keyPath, const std::string &prefix) {
  for (int n = 0; n < ValuesPerWriter; ++n) {
    std::string bucket = keyPath + "\\Bucket" + std::to_string(n % Buckets);
    Key key;
    ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExA(HKEY_CURRENT_USER, bucket.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS,
                                             nullptr, key.out(), nullptr));
    DWORD data = static_cast<DWORD>(n);
    std::string name = prefix + "_" + std::to_string(n);
    ASSERT_EQ(ERROR_SUCCESS,
              RegSetValueExA(key.get(), name.c_str(), 0, REG_DWORD, reinterpret_cast<BYTE *>(&data), sizeof data));
  }
}

std::string ownProgram() {
#ifdef _WIN32
  char path[MAX_PATH];
  DWORD length = GetModuleFileNameA(nullptr, path, MAX_PATH);
  return std::string(path, length);
#else
  char path[4096];
  ssize_t length = readlink("/proc/self/exe", path, sizeof path);
  return length > 0 ? std::string(path, static_cast<size_t>(length)) : std::string();
#endif
}

// Starts this program again as the writer; waited for by finishWriter.
struct Writer {
#ifdef _WIN32
  PROCESS_INFORMATION process{};
#else
  pid_t process = -1;
#endif
};

bool startWriter(const std::string &keyPath, const std::string &prefix, Writer &writer) {
  std::string setting = keyPath + ";" + prefix;
  std::string program = ownProgram();
  std::string filter = "--gtest_filter=RegistryWriterProcess.DISABLED_Writer";
  std::string disabled = "--gtest_also_run_disabled_tests";
#ifdef _WIN32
  SetEnvironmentVariableA(WriterVariable, setting.c_str());
  std::string commandLine = "\"" + program + "\" " + filter + " " + disabled;
  STARTUPINFOA startup{};
  startup.cb = sizeof startup;
  BOOL started = CreateProcessA(program.c_str(), &commandLine[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                                &startup, &writer.process);
  SetEnvironmentVariableA(WriterVariable, nullptr);
  return started != FALSE;
#else
  setenv(WriterVariable, setting.c_str(), 1);
  char *argv[] = {program.data(), filter.data(), disabled.data(), nullptr};
  int result = posix_spawn(&writer.process, program.c_str(), nullptr, nullptr, argv, environ);
  unsetenv(WriterVariable);
  return result == 0;
#endif
}

int finishWriter(Writer &writer) {
#ifdef _WIN32
  WaitForSingleObject(writer.process.hProcess, INFINITE);
  DWORD code = 1;
  GetExitCodeProcess(writer.process.hProcess, &code);
  CloseHandle(writer.process.hProcess);
  CloseHandle(writer.process.hThread);
  return static_cast<int>(code);
#else
  int status = 0;
  if (waitpid(writer.process, &status, 0) != writer.process) return -1;
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
#endif
}

}  // namespace

using RegistryProcesses = RegistryTest;

TEST_F(RegistryProcesses, TwoProcessesWritingAtOnceLoseNothing) {
  Writer writer;
  ASSERT_TRUE(startWriter(path, "second", writer));
  writeValues(path, "first");
  ASSERT_EQ(0, finishWriter(writer));

  for (int bucket = 0; bucket < Buckets; ++bucket) {
    Key key;
    ASSERT_EQ(ERROR_SUCCESS, RegOpenKeyExA(root.get(), ("Bucket" + std::to_string(bucket)).c_str(), 0, KEY_READ,
                                           key.out()));
    DWORD values = 0;
    ASSERT_EQ(ERROR_SUCCESS, RegQueryInfoKeyA(key.get(), nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, &values,
                                              nullptr, nullptr, nullptr, nullptr));
    EXPECT_EQ(static_cast<DWORD>(2 * ValuesPerWriter / Buckets), values);
    for (int n = bucket; n < ValuesPerWriter; n += Buckets) {
      for (const char *prefix : {"first", "second"}) {
        DWORD data = 0xffffffff, size = sizeof data;
        std::string name = std::string(prefix) + "_" + std::to_string(n);
        ASSERT_EQ(ERROR_SUCCESS, RegQueryValueExA(key.get(), name.c_str(), nullptr, nullptr,
                                                  reinterpret_cast<BYTE *>(&data), &size));
        EXPECT_EQ(static_cast<DWORD>(n), data);
      }
    }
  }
}

// Run only as the second process of the test above.
TEST(RegistryWriterProcess, DISABLED_Writer) {
  const char *setting = std::getenv(WriterVariable);
  ASSERT_NE(nullptr, setting);
  std::string text(setting);
  size_t split = text.find(';');
  ASSERT_NE(std::string::npos, split);
  writeValues(text.substr(0, split), text.substr(split + 1));
}
