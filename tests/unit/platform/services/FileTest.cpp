// Files: creation dispositions, reading, writing and the file pointer, share
// modes within the process and against another process, the temporary
// folder and the current directory.
#include <windows.h>
#include <gtest/gtest.h>

#include <string>

#include "ServicesTestSupport.h"

using namespace services_test;

namespace {

DWORD sizeOf(HANDLE file) {
  DWORD high = 0;
  DWORD low = GetFileSize(file, &high);
  return high == 0 ? low : INVALID_FILE_SIZE;
}

std::string contentOf(const std::string &path) {
  File file(openFile(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, OPEN_EXISTING));
  return file.valid() ? readAll(file.get()) : "<cannot open>";
}

// Each test works on its own file and removes it afterwards.
class FileTest : public ::testing::Test {
 protected:
  void SetUp() override {
    path = tempFile(::testing::UnitTest::GetInstance()->current_test_info()->name());
    DeleteFileA(path.c_str());
  }
  void TearDown() override { DeleteFileA(path.c_str()); }

  std::string path;
};

}  // namespace

TEST_F(FileTest, CreationDispositions) {
  // A new file: CREATE_NEW, then CREATE_NEW again refused.
  {
    SetLastError(0xdead);
    File file(openFile(path, GENERIC_WRITE, 0, CREATE_NEW));
    ASSERT_TRUE(file.valid()) << GetLastError();
    EXPECT_TRUE(write(file.get(), "first"));
  }
  SetLastError(0);
  EXPECT_EQ(INVALID_HANDLE_VALUE, openFile(path, GENERIC_WRITE, 0, CREATE_NEW));
  EXPECT_EQ(static_cast<DWORD>(ERROR_FILE_EXISTS), GetLastError());

  // OPEN_ALWAYS on an existing file keeps it and says so.
  {
    SetLastError(0);
    File file(openFile(path, GENERIC_READ, 0, OPEN_ALWAYS));
    ASSERT_TRUE(file.valid());
    EXPECT_EQ(static_cast<DWORD>(ERROR_ALREADY_EXISTS), GetLastError());
    EXPECT_EQ("first", readAll(file.get()));
  }
  // CREATE_ALWAYS on an existing file empties it and says so.
  {
    SetLastError(0);
    File file(openFile(path, GENERIC_READ | GENERIC_WRITE, 0, CREATE_ALWAYS));
    ASSERT_TRUE(file.valid());
    EXPECT_EQ(static_cast<DWORD>(ERROR_ALREADY_EXISTS), GetLastError());
    EXPECT_EQ(0u, sizeOf(file.get()));
    EXPECT_TRUE(write(file.get(), "second"));
  }
  // TRUNCATE_EXISTING empties an existing file.
  {
    File file(openFile(path, GENERIC_WRITE, 0, TRUNCATE_EXISTING));
    ASSERT_TRUE(file.valid());
    EXPECT_EQ(0u, sizeOf(file.get()));
  }
  EXPECT_TRUE(DeleteFileA(path.c_str()));

  // The same dispositions on a missing file.
  SetLastError(0);
  EXPECT_EQ(INVALID_HANDLE_VALUE, openFile(path, GENERIC_READ, 0, OPEN_EXISTING));
  EXPECT_EQ(static_cast<DWORD>(ERROR_FILE_NOT_FOUND), GetLastError());
  SetLastError(0);
  EXPECT_EQ(INVALID_HANDLE_VALUE, openFile(path, GENERIC_WRITE, 0, TRUNCATE_EXISTING));
  EXPECT_EQ(static_cast<DWORD>(ERROR_FILE_NOT_FOUND), GetLastError());
  {
    SetLastError(0xdead);
    File file(openFile(path, GENERIC_WRITE, 0, OPEN_ALWAYS));
    ASSERT_TRUE(file.valid());
    EXPECT_EQ(0u, GetLastError());
  }
  EXPECT_TRUE(DeleteFileA(path.c_str()));
  {
    SetLastError(0xdead);
    File file(openFile(path, GENERIC_WRITE, 0, CREATE_ALWAYS));
    ASSERT_TRUE(file.valid());
    EXPECT_EQ(0u, GetLastError());
  }

  // A missing folder, and arguments that make no sense.
  SetLastError(0);
  EXPECT_EQ(INVALID_HANDLE_VALUE, openFile(tempFolder() + "no_such_folder\\x.txt", GENERIC_WRITE, 0, CREATE_ALWAYS));
  EXPECT_EQ(static_cast<DWORD>(ERROR_PATH_NOT_FOUND), GetLastError());
  SetLastError(0);
  EXPECT_EQ(INVALID_HANDLE_VALUE, openFile(path, GENERIC_WRITE, 0, 0));
  EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_PARAMETER), GetLastError());
  SetLastError(0);
  EXPECT_EQ(INVALID_HANDLE_VALUE, openFile(path, GENERIC_WRITE, 0, TRUNCATE_EXISTING + 1));
  EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_PARAMETER), GetLastError());
  SetLastError(0);
  EXPECT_EQ(INVALID_HANDLE_VALUE, openFile("", GENERIC_READ, 0, OPEN_EXISTING));
  EXPECT_EQ(static_cast<DWORD>(ERROR_PATH_NOT_FOUND), GetLastError());

  SetLastError(0);
  EXPECT_EQ(INVALID_HANDLE_VALUE, CreateFileA(nullptr, GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr));
  EXPECT_EQ(static_cast<DWORD>(ERROR_PATH_NOT_FOUND), GetLastError());
  SetLastError(0);
  EXPECT_EQ(INVALID_HANDLE_VALUE, openFile(path + "\\", GENERIC_WRITE, 0, CREATE_ALWAYS));
  EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_NAME), GetLastError()) << "a file name ending in a backslash";
  SetLastError(0);
  EXPECT_EQ(INVALID_HANDLE_VALUE, openFile(tempFolder() + "bad*name", GENERIC_WRITE, 0, CREATE_ALWAYS));
  EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_NAME), GetLastError());
  SetLastError(0);
  EXPECT_EQ(INVALID_HANDLE_VALUE, openFile(path + "\\inside", GENERIC_WRITE, 0, CREATE_ALWAYS));
  EXPECT_EQ(static_cast<DWORD>(ERROR_PATH_NOT_FOUND), GetLastError()) << "a file used as a folder";

  // A folder is no file.
  std::string folder = tempFolder();
  folder.pop_back();
  SetLastError(0);
  EXPECT_EQ(INVALID_HANDLE_VALUE, openFile(folder, GENERIC_READ, FILE_SHARE_READ, OPEN_EXISTING));
  EXPECT_EQ(static_cast<DWORD>(ERROR_ACCESS_DENIED), GetLastError());
}

TEST_F(FileTest, DeleteFile) {
  { File created(openFile(path, GENERIC_WRITE, 0, CREATE_NEW)); }
  EXPECT_TRUE(DeleteFileW(widen(path).c_str()));
  struct Case {
    std::string path;
    DWORD error;
  };
  std::string folder = tempFolder();
  folder.pop_back();
  const Case cases[] = {
      {path, ERROR_FILE_NOT_FOUND},
      {tempFolder() + "no_such_folder\\x.txt", ERROR_PATH_NOT_FOUND},
      {folder, ERROR_ACCESS_DENIED},
      {"", ERROR_PATH_NOT_FOUND},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.path);
    SetLastError(0);
    EXPECT_FALSE(DeleteFileA(c.path.c_str()));
    EXPECT_EQ(c.error, GetLastError());
  }
}

TEST_F(FileTest, ReadWriteAndTheFilePointer) {
  File file(CreateFileW(widen(path).c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_NEW,
                        FILE_ATTRIBUTE_NORMAL, nullptr));
  ASSERT_TRUE(file.valid());
  ASSERT_TRUE(write(file.get(), "hello world"));
  EXPECT_EQ(11u, sizeOf(file.get()));

  EXPECT_EQ(0u, SetFilePointer(file.get(), 0, nullptr, FILE_BEGIN));
  EXPECT_EQ("hello world", readAll(file.get()));
  DWORD read = 99;
  char byte;
  EXPECT_TRUE(ReadFile(file.get(), &byte, 1, &read, nullptr)) << "reading at the end succeeds";
  EXPECT_EQ(0u, read);

  EXPECT_EQ(6u, SetFilePointer(file.get(), -5, nullptr, FILE_END));
  EXPECT_EQ("world", readAll(file.get()));
  EXPECT_EQ(2u, SetFilePointer(file.get(), -9, nullptr, FILE_CURRENT));

  // Moving before the start fails and leaves the pointer where it was.
  SetLastError(0);
  EXPECT_EQ(INVALID_SET_FILE_POINTER, SetFilePointer(file.get(), -100, nullptr, FILE_CURRENT));
  EXPECT_EQ(static_cast<DWORD>(ERROR_NEGATIVE_SEEK), GetLastError());
  EXPECT_EQ(2u, SetFilePointer(file.get(), 0, nullptr, FILE_CURRENT));
  SetLastError(0);
  EXPECT_EQ(INVALID_SET_FILE_POINTER, SetFilePointer(file.get(), 0, nullptr, 3));
  EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_PARAMETER), GetLastError());

  // The high part: 4 GiB plus 7, without writing anything there.
  LONG high = 1;
  EXPECT_EQ(7u, SetFilePointer(file.get(), 7, &high, FILE_BEGIN));
  EXPECT_EQ(1, high);
  high = 0;
  EXPECT_EQ(7u, SetFilePointer(file.get(), 0, &high, FILE_CURRENT));
  EXPECT_EQ(1, high);
  high = -1;
  EXPECT_EQ(2u, SetFilePointer(file.get(), -5, &high, FILE_CURRENT)) << "-5 as a 64-bit distance";
  EXPECT_EQ(1, high);
  EXPECT_EQ(11u, sizeOf(file.get()));

  // Writing past the end fills the gap with zeros.
  EXPECT_EQ(13u, SetFilePointer(file.get(), 13, nullptr, FILE_BEGIN));
  EXPECT_TRUE(write(file.get(), "!"));
  EXPECT_EQ(std::string("hello world\0\0!", 14), contentOf(path));

  // A transfer at an offset given in an OVERLAPPED block.
  OVERLAPPED at = {};
  at.Offset = 6;
  char five[5];
  ASSERT_TRUE(ReadFile(file.get(), five, 5, &read, &at));
  EXPECT_EQ("world", std::string(five, read));
}

TEST_F(FileTest, AccessIsCheckedAndClosedHandlesAreInvalid) {
  File writer(openFile(path, GENERIC_WRITE, FILE_SHARE_READ, CREATE_NEW));
  ASSERT_TRUE(writer.valid());
  char byte;
  DWORD count = 9;
  SetLastError(0);
  EXPECT_FALSE(ReadFile(writer.get(), &byte, 1, &count, nullptr));
  EXPECT_EQ(static_cast<DWORD>(ERROR_ACCESS_DENIED), GetLastError());
  EXPECT_EQ(0u, count);
  ASSERT_TRUE(write(writer.get(), "x"));

  HANDLE reader = openFile(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, OPEN_EXISTING);
  ASSERT_NE(INVALID_HANDLE_VALUE, reader);
  SetLastError(0);
  EXPECT_FALSE(WriteFile(reader, "y", 1, &count, nullptr));
  EXPECT_EQ(static_cast<DWORD>(ERROR_ACCESS_DENIED), GetLastError());
  EXPECT_TRUE(CloseHandle(reader));

  SetLastError(0);
  EXPECT_FALSE(CloseHandle(reader));
  EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_HANDLE), GetLastError());
  SetLastError(0);
  EXPECT_FALSE(ReadFile(reader, &byte, 1, &count, nullptr));
  EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_HANDLE), GetLastError());
  SetLastError(0);
  EXPECT_EQ(INVALID_SET_FILE_POINTER, SetFilePointer(nullptr, 0, nullptr, FILE_BEGIN));
  EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_HANDLE), GetLastError());
  SetLastError(0);
  EXPECT_EQ(INVALID_FILE_SIZE, GetFileSize(reader, nullptr));
  EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_HANDLE), GetLastError());
  SetLastError(0);
  EXPECT_FALSE(CloseHandle(nullptr));
  EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_HANDLE), GetLastError());
}

// The log file pattern: open for writing while letting others read, move to
// the end, write a header into an empty file, then the record.
TEST_F(FileTest, AppendAtTheEnd) {
  for (int record = 1; record <= 3; ++record) {
    File file(openFile(path, GENERIC_WRITE, FILE_SHARE_READ, OPEN_ALWAYS));
    ASSERT_TRUE(file.valid());
    DWORD end = SetFilePointer(file.get(), 0, nullptr, FILE_END);
    if (end == 0) {
      ASSERT_TRUE(write(file.get(), "header\r\n"));
    }
    ASSERT_TRUE(write(file.get(), "record " + std::to_string(record) + "\r\n"));
  }
  EXPECT_EQ("header\r\nrecord 1\r\nrecord 2\r\nrecord 3\r\n", contentOf(path));
}

TEST_F(FileTest, ShareModesWithinTheProcess) {
  File writer(openFile(path, GENERIC_WRITE, FILE_SHARE_READ, CREATE_NEW));
  ASSERT_TRUE(writer.valid());
  ASSERT_TRUE(write(writer.get(), "kept"));

  struct Attempt {
    DWORD access;
    DWORD share;
    DWORD disposition;
    DWORD error;
  };
  const Attempt attempts[] = {
      {GENERIC_WRITE, FILE_SHARE_READ, OPEN_EXISTING, ERROR_SHARING_VIOLATION},  // second writer
      {GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, OPEN_ALWAYS, ERROR_SHARING_VIOLATION},
      {GENERIC_READ, FILE_SHARE_READ, OPEN_EXISTING, ERROR_SHARING_VIOLATION},  // would deny the writer
      {GENERIC_READ, 0, OPEN_EXISTING, ERROR_SHARING_VIOLATION},
      {GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, CREATE_ALWAYS, ERROR_SHARING_VIOLATION},
      {GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, OPEN_EXISTING, 0},  // a reader that lets it write
      {0, 0, OPEN_EXISTING, 0},  // no data access: share modes do not apply
  };
  for (const Attempt &attempt : attempts) {
    SCOPED_TRACE(testing::Message() << "access " << std::hex << attempt.access << " share " << attempt.share
                                    << " disposition " << attempt.disposition);
    SetLastError(0);
    File other(openFile(path, attempt.access, attempt.share, attempt.disposition));
    EXPECT_EQ(attempt.error == 0, other.valid());
    if (attempt.error != 0) {
      EXPECT_EQ(attempt.error, GetLastError());
    }
  }
  EXPECT_EQ("kept", contentOf(path)) << "a refused CREATE_ALWAYS truncates nothing";

  SetLastError(0);
  EXPECT_FALSE(DeleteFileA(path.c_str()));
  EXPECT_EQ(static_cast<DWORD>(ERROR_SHARING_VIOLATION), GetLastError());

  // Once the writer is gone, a second writer may come.
  writer.reset();
  File second(openFile(path, GENERIC_WRITE, FILE_SHARE_READ, OPEN_EXISTING));
  EXPECT_TRUE(second.valid()) << GetLastError();

  // Two readers that share reading, then a writer refused by both.
  second.reset();
  File reader1(openFile(path, GENERIC_READ, FILE_SHARE_READ, OPEN_EXISTING));
  File reader2(openFile(path, GENERIC_READ, FILE_SHARE_READ, OPEN_EXISTING));
  EXPECT_TRUE(reader1.valid());
  EXPECT_TRUE(reader2.valid());
  SetLastError(0);
  EXPECT_FALSE(File(openFile(path, GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, OPEN_EXISTING)).valid());
  EXPECT_EQ(static_cast<DWORD>(ERROR_SHARING_VIOLATION), GetLastError());
  reader1.reset();
  reader2.reset();

  // A handle that shares deletion lets the file be deleted.
  File deletable(openFile(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_DELETE, OPEN_EXISTING));
  ASSERT_TRUE(deletable.valid());
  EXPECT_TRUE(DeleteFileA(path.c_str())) << GetLastError();
  deletable.reset();
  SetLastError(0);
  EXPECT_EQ(INVALID_HANDLE_VALUE, openFile(path, GENERIC_READ, 0, OPEN_EXISTING));
  EXPECT_EQ(static_cast<DWORD>(ERROR_FILE_NOT_FOUND), GetLastError());
}

TEST_F(FileTest, ShareModesAgainstAnotherProcess) {
  File writer(openFile(path, GENERIC_WRITE, FILE_SHARE_READ, CREATE_NEW));
  ASSERT_TRUE(writer.valid());
  const std::string result = path + ".result";
  DeleteFileA(result.c_str());
  const std::string command = "platform_services_helper.exe open \"" + path + "\" \"" + result + "\"";
  ASSERT_GT(WinExec(command.c_str(), SW_HIDE), 31u);
  EXPECT_EQ("write=32 read=0", waitForFile(result));
  DeleteFileA(result.c_str());
}

TEST(TempPath, WindowsFormEndingInABackslash) {
  WCHAR wide[MAX_PATH + 1];
  const DWORD length = GetTempPathW(MAX_PATH + 1, wide);
  ASSERT_GT(length, 3u);
  ASSERT_EQ(static_cast<DWORD>(lstrlenW(wide)), length);
  const std::string path = narrow(WideString(wide));
  EXPECT_EQ(":\\", path.substr(1, 2)) << path;
  EXPECT_EQ('\\', path.back());
  EXPECT_EQ(std::string::npos, path.find('/'));

  char narrowPath[MAX_PATH + 1];
  EXPECT_EQ(length, GetTempPathA(MAX_PATH + 1, narrowPath));
  EXPECT_EQ(path, narrowPath);

  // Too small a buffer: the size needed, terminator included.
  EXPECT_EQ(length + 1, GetTempPathW(0, nullptr));
  EXPECT_EQ(length + 1, GetTempPathW(length, wide));
  EXPECT_EQ(length + 1, GetTempPathA(length, narrowPath));
  EXPECT_EQ(length, GetTempPathW(length + 1, wide));
}

TEST(CurrentDirectory, RoundTripAndRelativeNames) {
  char saved[MAX_PATH];
  const DWORD savedLength = GetCurrentDirectoryA(MAX_PATH, saved);
  ASSERT_GT(savedLength, 2u);
  EXPECT_EQ(':', saved[1]);

  std::string folder = tempFolder();
  folder.pop_back();
  ASSERT_TRUE(SetCurrentDirectoryA(folder.c_str()));
  char current[MAX_PATH];
  EXPECT_EQ(folder.size(), GetCurrentDirectoryA(MAX_PATH, current));
  EXPECT_EQ(folder, current);
  WCHAR wide[MAX_PATH];
  EXPECT_EQ(folder.size(), GetCurrentDirectoryW(MAX_PATH, wide));
  EXPECT_EQ(folder, narrow(WideString(wide)));

  // The size rules: too small a buffer gets the size needed, terminator included.
  EXPECT_EQ(folder.size() + 1, GetCurrentDirectoryA(0, nullptr));
  EXPECT_EQ(folder.size() + 1, GetCurrentDirectoryW(static_cast<DWORD>(folder.size()), wide));

  // A relative name lands in the current directory.
  const std::string name = "svc" + std::to_string(GetCurrentProcessId()) + "_relative.txt";
  {
    File file(openFile(name, GENERIC_WRITE, 0, CREATE_NEW));
    ASSERT_TRUE(file.valid());
    EXPECT_TRUE(write(file.get(), "here"));
  }
  EXPECT_EQ("here", contentOf(tempFolder() + name));
  EXPECT_TRUE(DeleteFileA(name.c_str()));

  // A missing folder or a file is refused, and the directory stays.
  SetLastError(0);
  EXPECT_FALSE(SetCurrentDirectoryA(""));
  EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_NAME), GetLastError());
  const std::string file = tempFile("not_a_folder.txt");
  { File created(openFile(file, GENERIC_WRITE, 0, CREATE_ALWAYS)); }
  SetLastError(0);
  EXPECT_FALSE(SetCurrentDirectoryA(file.c_str()));
  EXPECT_EQ(static_cast<DWORD>(ERROR_DIRECTORY), GetLastError());
  DeleteFileA(file.c_str());
  SetLastError(0);
  EXPECT_FALSE(SetCurrentDirectoryA((folder + "\\no_such_folder").c_str()));
  EXPECT_EQ(static_cast<DWORD>(ERROR_FILE_NOT_FOUND), GetLastError());
  SetLastError(0);
  EXPECT_FALSE(SetCurrentDirectoryW(widen(folder + "\\no_such_folder\\deeper").c_str()));
  EXPECT_EQ(static_cast<DWORD>(ERROR_PATH_NOT_FOUND), GetLastError());
  EXPECT_EQ(folder.size(), GetCurrentDirectoryA(MAX_PATH, current));

  // A final backslash is dropped.
  ASSERT_TRUE(SetCurrentDirectoryA(tempFolder().c_str()));
  EXPECT_EQ(folder.size(), GetCurrentDirectoryA(MAX_PATH, current));

  ASSERT_TRUE(SetCurrentDirectoryW(widen(saved).c_str()));
  EXPECT_EQ(savedLength, GetCurrentDirectoryA(MAX_PATH, current));
  EXPECT_STREQ(saved, current);
}
