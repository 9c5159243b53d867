// Files: creation dispositions, bad names, the file pointer, share modes
// within the process and against another process, moving by name, and the
// temporary folder.
#include <windows.h>
#include <gtest/gtest.h>

#include <string>

#include "ServicesTestSupport.h"

namespace {

constexpr DWORD Unchecked = 0xffffffff;  // a result a case does not check

std::string contentOf(const std::string &path) {
  Handle file(openFile(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, OPEN_EXISTING));
  return file.valid() ? readAll(file.get()) : "<missing>";
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
  struct Case {
    bool exists;
    DWORD disposition;
    bool opens;
    DWORD error;  // the last error after the call, successful or not
    const char *contentAfter;
  };
  const Case cases[] = {
      {false, CREATE_NEW, true, 0, ""},
      {true, CREATE_NEW, false, ERROR_FILE_EXISTS, "kept"},
      {false, CREATE_ALWAYS, true, 0, ""},
      {true, CREATE_ALWAYS, true, ERROR_ALREADY_EXISTS, ""},
      {false, OPEN_ALWAYS, true, 0, ""},
      {true, OPEN_ALWAYS, true, ERROR_ALREADY_EXISTS, "kept"},
      {false, OPEN_EXISTING, false, ERROR_FILE_NOT_FOUND, "<missing>"},
      {true, OPEN_EXISTING, true, Unchecked, "kept"},
      {false, TRUNCATE_EXISTING, false, ERROR_FILE_NOT_FOUND, "<missing>"},
      {true, TRUNCATE_EXISTING, true, Unchecked, ""},
      {true, 0, false, ERROR_INVALID_PARAMETER, "kept"},
      {true, TRUNCATE_EXISTING + 1, false, ERROR_INVALID_PARAMETER, "kept"},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(testing::Message() << "disposition " << c.disposition << (c.exists ? " on a file" : " on nothing"));
    DeleteFileA(path.c_str());
    if (c.exists) {
      Handle file(openFile(path, GENERIC_WRITE, 0, CREATE_NEW));
      ASSERT_TRUE(write(file.get(), "kept"));
    }
    SetLastError(0xdead);
    Handle file(openFile(path, GENERIC_READ | GENERIC_WRITE, 0, c.disposition));
    const DWORD error = GetLastError();
    EXPECT_EQ(c.opens, file.valid());
    if (c.error != Unchecked) {
      EXPECT_EQ(c.error, error);
    }
    file.reset();
    EXPECT_EQ(c.contentAfter, contentOf(path));
  }
}

TEST_F(FileTest, BadNamesAreRefusedWithTheirErrors) {
  { Handle created(openFile(path, GENERIC_WRITE, 0, CREATE_NEW)); }
  std::string folder = tempFolder();
  folder.pop_back();
  struct Case {
    std::string path;
    DWORD createError;  // CREATE_ALWAYS, or OPEN_EXISTING for the folder
    DWORD deleteError;
  };
  const Case cases[] = {
      {tempFolder() + "no_such_folder\\x.txt", ERROR_PATH_NOT_FOUND, ERROR_PATH_NOT_FOUND},
      {"", ERROR_PATH_NOT_FOUND, ERROR_PATH_NOT_FOUND},
      {path + "\\", ERROR_INVALID_NAME, Unchecked},
      {tempFolder() + "bad*name", ERROR_INVALID_NAME, Unchecked},
      {path + "\\inside", ERROR_PATH_NOT_FOUND, Unchecked},  // a file used as a folder
      {folder, ERROR_ACCESS_DENIED, ERROR_ACCESS_DENIED},    // a folder is no file
      {path + ".missing", Unchecked, ERROR_FILE_NOT_FOUND},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.path);
    if (c.createError != Unchecked) {
      SetLastError(0);
      const bool isFolder = c.path == folder;
      EXPECT_EQ(INVALID_HANDLE_VALUE, openFile(c.path, isFolder ? GENERIC_READ : GENERIC_WRITE, FILE_SHARE_READ,
                                               isFolder ? OPEN_EXISTING : CREATE_ALWAYS));
      EXPECT_EQ(c.createError, GetLastError());
    }
    if (c.deleteError != Unchecked) {
      SetLastError(0);
      EXPECT_FALSE(DeleteFileA(c.path.c_str()));
      EXPECT_EQ(c.deleteError, GetLastError());
    }
  }
  SetLastError(0);
  EXPECT_EQ(INVALID_HANDLE_VALUE, CreateFileA(nullptr, GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr));
  EXPECT_EQ(static_cast<DWORD>(ERROR_PATH_NOT_FOUND), GetLastError());
  EXPECT_TRUE(DeleteFileW(widen(path).c_str()));
}

TEST_F(FileTest, FilePointer) {
  Handle file(openFile(path, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ, CREATE_NEW));
  ASSERT_TRUE(write(file.get(), "hello world"));
  EXPECT_EQ(6u, SetFilePointer(file.get(), -5, nullptr, FILE_END));
  EXPECT_EQ("world", readAll(file.get()));

  // Moving before the start fails and leaves the pointer where it was.
  EXPECT_EQ(2u, SetFilePointer(file.get(), 2, nullptr, FILE_BEGIN));
  SetLastError(0);
  EXPECT_EQ(INVALID_SET_FILE_POINTER, SetFilePointer(file.get(), -100, nullptr, FILE_CURRENT));
  EXPECT_EQ(static_cast<DWORD>(ERROR_NEGATIVE_SEEK), GetLastError());
  EXPECT_EQ(2u, SetFilePointer(file.get(), 0, nullptr, FILE_CURRENT));

  // The high part: 4 GiB plus 7, and -5 taken as a 64-bit distance.
  LONG high = 1;
  EXPECT_EQ(7u, SetFilePointer(file.get(), 7, &high, FILE_BEGIN));
  high = -1;
  EXPECT_EQ(2u, SetFilePointer(file.get(), -5, &high, FILE_CURRENT));
  EXPECT_EQ(1, high);
}

TEST_F(FileTest, ShareModesWithinTheProcess) {
  Handle writer(openFile(path, GENERIC_WRITE, FILE_SHARE_READ, CREATE_NEW));
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
      {0, 0, OPEN_EXISTING, 0},                                              // no data access: share modes do not apply
  };
  for (const Attempt &attempt : attempts) {
    SCOPED_TRACE(testing::Message() << "access " << std::hex << attempt.access << " share " << attempt.share
                                    << " disposition " << attempt.disposition);
    SetLastError(0);
    Handle other(openFile(path, attempt.access, attempt.share, attempt.disposition));
    EXPECT_EQ(attempt.error == 0, other.valid());
    if (attempt.error != 0) {
      EXPECT_EQ(attempt.error, GetLastError());
    }
  }
  EXPECT_EQ("kept", contentOf(path)) << "a refused CREATE_ALWAYS truncates nothing";
  SetLastError(0);
  EXPECT_FALSE(DeleteFileA(path.c_str()));
  EXPECT_EQ(static_cast<DWORD>(ERROR_SHARING_VIOLATION), GetLastError());
  writer.reset();

  // A handle that shares deletion lets the file be deleted.
  Handle deletable(openFile(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_DELETE, OPEN_EXISTING));
  ASSERT_TRUE(deletable.valid());
  EXPECT_TRUE(DeleteFileA(path.c_str())) << GetLastError();
}

TEST_F(FileTest, ShareModesAgainstAnotherProcess) {
  Handle writer(openFile(path, GENERIC_WRITE, FILE_SHARE_READ, CREATE_NEW));
  ASSERT_TRUE(writer.valid());
  const std::string result = path + ".result";
  DeleteFileA(result.c_str());
  const std::string command = "platform_services_helper.exe open \"" + path + "\" \"" + result + "\"";
  ASSERT_GT(WinExec(command.c_str(), SW_HIDE), 31u);
  EXPECT_EQ("write=32 read=0", waitForFile(result));
  DeleteFileA(result.c_str());
}

TEST(TempPath, WindowsFormEndingInABackslash) {
  char path[MAX_PATH + 1];
  const DWORD length = GetTempPathA(MAX_PATH + 1, path);
  ASSERT_GT(length, 3u);
  ASSERT_EQ(std::string(path).size(), length);
  EXPECT_EQ(":\\", std::string(path + 1, 2)) << path;
  EXPECT_EQ('\\', path[length - 1]);
  EXPECT_EQ(std::string::npos, std::string(path).find('/'));
  WCHAR wide[MAX_PATH + 1];
  EXPECT_EQ(length, GetTempPathW(MAX_PATH + 1, wide));
  EXPECT_EQ(path, narrow(wide));

  // Too small a buffer: the size needed, terminator included.
  EXPECT_EQ(length + 1, GetTempPathW(0, nullptr));
  EXPECT_EQ(length + 1, GetTempPathW(length, wide));
  EXPECT_EQ(length + 1, GetTempPathA(length, path));
}

TEST_F(FileTest, MovedByNameReplacingOnlyWhenAsked) {
  const std::string target = path + ".moved";
  DeleteFileA(target.c_str());
  {
    Handle source(openFile(path, GENERIC_WRITE, FILE_SHARE_READ, CREATE_NEW));
    ASSERT_TRUE(write(source.get(), "first"));
    SetLastError(0);
    EXPECT_FALSE(MoveFileExA(path.c_str(), target.c_str(), 0)) << "an open handle that denies deletion";
    EXPECT_EQ(static_cast<DWORD>(ERROR_SHARING_VIOLATION), GetLastError());
  }
  ASSERT_TRUE(MoveFileExA(path.c_str(), target.c_str(), 0)) << GetLastError();
  EXPECT_EQ("<missing>", contentOf(path));
  EXPECT_EQ("first", contentOf(target));

  Handle second(openFile(path, GENERIC_WRITE, FILE_SHARE_READ, CREATE_NEW));
  ASSERT_TRUE(write(second.get(), "second"));
  second.reset();
  SetLastError(0);
  EXPECT_FALSE(MoveFileExA(path.c_str(), target.c_str(), 0));
  EXPECT_EQ(static_cast<DWORD>(ERROR_ALREADY_EXISTS), GetLastError());
  EXPECT_EQ("first", contentOf(target));
  EXPECT_TRUE(MoveFileExA(path.c_str(), target.c_str(), MOVEFILE_REPLACE_EXISTING)) << GetLastError();
  EXPECT_EQ("second", contentOf(target));

  SetLastError(0);
  EXPECT_FALSE(MoveFileExA(path.c_str(), target.c_str(), MOVEFILE_REPLACE_EXISTING));
  EXPECT_EQ(static_cast<DWORD>(ERROR_FILE_NOT_FOUND), GetLastError());
  DeleteFileA(target.c_str());
}
