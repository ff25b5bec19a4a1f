// The Windows services on real files, under Wine: the listing's mask rules,
// the attribute read, the delete refusals and the copy.
#include <gtest/gtest.h>
#include <windows.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <string>

#include "job/exist_file.h"
#include "platform/services.h"
#include "tests/support/pages_again.h"

namespace {

using V = std::vector<std::string>;

class Win32Services : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = (std::filesystem::temp_directory_path() /
            ("mutessel-" + std::to_string(GetCurrentProcessId()) + "-" +
             ::testing::UnitTest::GetInstance()->current_test_info()->name()))
               .string();
    ASSERT_TRUE(std::filesystem::create_directory(dir_));
  }

  // The system deletes no read-only file: each is made plain first.
  void TearDown() override {
    for (const auto& entry : std::filesystem::directory_iterator(dir_)) {
      SetFileAttributesA(entry.path().string().c_str(), FILE_ATTRIBUTE_NORMAL);
    }
    std::filesystem::remove_all(dir_);
  }

  std::string path(const std::string& name) const { return dir_ + "\\" + name; }

  void write(const std::string& name, const std::string& content, DWORD attributes = 0) {
    std::ofstream(path(name), std::ios::binary) << content;
    if (attributes != 0) SetFileAttributesA(path(name).c_str(), attributes);
  }

  std::vector<std::string> list(const std::string& pattern, int mask) {
    std::vector<std::string> names = services->listDirectory(path(pattern), mask);
    std::sort(names.begin(), names.end());
    return names;
  }

  std::string dir_;
  std::unique_ptr<platform::Services> services = platform::systemServices();
};

TEST_F(Win32Services, ListingShowsHiddenAndSystemFilesOnlyWhenAsked) {
  write("plain.mdb", "x");
  write("hidden.mdb", "x", FILE_ATTRIBUTE_HIDDEN);
  write("system.mdb", "x", FILE_ATTRIBUTE_SYSTEM);
  write("readonly.mdb", "x", FILE_ATTRIBUTE_READONLY);
  write("plain.mdb_old", "x");
  CreateDirectoryA(path("folder.mdb").c_str(), nullptr);
  EXPECT_EQ(list("*.mdb", platform::kListOrdinary), (V{"plain.mdb", "readonly.mdb"}));
  EXPECT_EQ(list("*.MDB", platform::kListHiddenAndSystem),
            (V{"hidden.mdb", "plain.mdb", "readonly.mdb", "system.mdb"}));
  EXPECT_TRUE(job::fncExistFile(*services, path("hidden.mdb")));
  EXPECT_FALSE(job::fncExistFile(*services, path("folder.mdb")));
  EXPECT_FALSE(job::fncExistFile(*services, path("p*.mdb")));
  EXPECT_FALSE(job::fncExistFile(*services, "Q:\\nowhere\\muTesselDb.mdb"));
  EXPECT_EQ(services->attributes(path("missing.mdb")), std::nullopt);
  EXPECT_EQ(services->attributes(path("bad<name>.mdb")), std::nullopt);
}

TEST_F(Win32Services, PagesAreReadAgainWholeWhereAskedOrSayWhyNot) {
  const std::string content =
      std::string(4096, 'a') + std::string(4096, 'b') + std::string(4096, 'c');
  write("copy.mdb", content);
  const auto [outcome, again] =
      testing_support::pagesAgain(*services, path("copy.mdb"), {8192, 0, 12288});
  EXPECT_EQ(outcome.reason, "the file is shorter than before");
  EXPECT_TRUE(again == content.substr(8192) + content.substr(0, 4096));
}

TEST_F(Win32Services, DeleteLeavesFilesThatAreReadOnlyOrInUse) {
  write("free", "x");
  write("readonly", "x", FILE_ATTRIBUTE_READONLY);
  write("open", "x");
  HANDLE held = CreateFileA(path("open").c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                            nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  std::vector<bool> deleted;
  for (const platform::Outcome& outcome :
       services->deleteFiles({path("free"), path("readonly"), path("open"), path("missing")})) {
    deleted.push_back(outcome.ok);
  }
  CloseHandle(held);
  EXPECT_EQ(deleted, (std::vector<bool>{true, false, false, false}));
}

// The copy has the database's content, last-write time and attributes, less
// hidden.
TEST_F(Win32Services, CopyNeverReplacesAndLeavesNothingBehindOnFailure) {
  write("db.mdb", "new");
  const FILETIME written{0x12345600, 0x01d00000};
  HANDLE database = CreateFileA(path("db.mdb").c_str(), FILE_WRITE_ATTRIBUTES, 0, nullptr,
                                OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  SetFileTime(database, nullptr, nullptr, &written);
  CloseHandle(database);
  SetFileAttributesA(path("db.mdb").c_str(), FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN);
  write("copy.mdb", "old");
  EXPECT_FALSE(services->copyFileNew(path("db.mdb"), path("copy.mdb"), "").ok);
  EXPECT_FALSE(services->copyFileNew(path("missing.mdb"), path("other.mdb"), "").ok);
  platform::Outcome copy = services->copyFileNew(path("db.mdb"), path("fresh.mdb"), "");
  EXPECT_TRUE(copy.ok) << copy.reason;
  EXPECT_EQ(
      *services->attributes(path("fresh.mdb")) & (FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_READONLY),
      FILE_ATTRIBUTE_READONLY);
  WIN32_FILE_ATTRIBUTE_DATA fresh{};
  GetFileAttributesExA(path("fresh.mdb").c_str(), GetFileExInfoStandard, &fresh);
  EXPECT_EQ(CompareFileTime(&fresh.ftLastWriteTime, &written), 0);
  std::string content;
  std::ifstream(path("fresh.mdb")) >> content;
  EXPECT_EQ(content, "new");
  EXPECT_EQ(list("*", platform::kListHiddenAndSystem), (V{"copy.mdb", "db.mdb", "fresh.mdb"}));
}

// A killed run's temporary, of any day, goes; a live run's stays. The
// temporary is no longer than the dated name, so a dated path of 258
// characters, which fits in MAX_PATH, leaves room for it.
TEST_F(Win32Services, CopyClearsDeadTemporariesAndFitsBesideALongName) {
  write("db.mdb", "data");
  write("~mt4242.tmp", "part", FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_READONLY);
  write("~mt17.tmp", "part", FILE_ATTRIBUTE_HIDDEN);
  HANDLE live = CreateFileA(path("~mt17.tmp").c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  const std::string dated(258 - path("").size(), 'd');
  platform::Outcome copy = services->copyFileNew(path("db.mdb"), path(dated), "");
  CloseHandle(live);
  EXPECT_TRUE(copy.ok) << copy.reason;
  EXPECT_EQ(*services->attributes(path(dated)) & FILE_ATTRIBUTE_HIDDEN, 0u);
  EXPECT_EQ(list("*", platform::kListHiddenAndSystem), (V{"db.mdb", dated, "~mt17.tmp"}));
}

// Another program holding a file open without delete sharing, as the system
// may still hold a killed run's temporary, until the object goes.
class HeldElsewhere {
 public:
  explicit HeldElsewhere(const std::string& path) {
    char self[MAX_PATH] = "";
    GetModuleFileNameA(nullptr, self, MAX_PATH);
    std::string command(self);
    command =
        "\"" + command.substr(0, command.rfind('\\') + 1) + "hold_file.exe\" \"" + path + "\"";
    SECURITY_ATTRIBUTES inherited{sizeof inherited, nullptr, TRUE};
    HANDLE input = nullptr, output = nullptr;
    CreatePipe(&input, &input_, &inherited, 0);
    CreatePipe(&output_, &output, &inherited, 0);
    SetHandleInformation(input_, HANDLE_FLAG_INHERIT, 0);
    SetHandleInformation(output_, HANDLE_FLAG_INHERIT, 0);
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = input;
    startup.hStdOutput = startup.hStdError = output;
    started_ = CreateProcessA(nullptr, command.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr,
                              &startup, &process_);
    CloseHandle(input);
    CloseHandle(output);
    // What Wine itself may say first, or a pipe's short read, comes before.
    char piece[64];
    DWORD got = 0;
    while (started_ && said_.find("held") == std::string::npos &&
           ReadFile(output_, piece, sizeof piece, &got, nullptr) && got > 0) {
      said_.append(piece, got);
    }
    held_ = said_.find("held") != std::string::npos;
  }
  ~HeldElsewhere() {
    CloseHandle(input_);  // the holder lets go when its input ends
    if (started_) {
      WaitForSingleObject(process_.hProcess, 10000);
      CloseHandle(process_.hProcess);
      CloseHandle(process_.hThread);
    }
    CloseHandle(output_);
  }
  bool held() const { return held_; }
  const std::string& said() const { return said_; }

 private:
  HANDLE input_ = nullptr, output_ = nullptr;
  PROCESS_INFORMATION process_{};
  bool started_ = false, held_ = false;
  std::string said_;
};

// A killed run's temporary under the name that this run would take first:
// its process id came round again, and the system still holds the file. The
// copy takes another name, and the held file stays.
TEST_F(Win32Services, CopyPassesOverATemporaryNameThatIsHeld) {
  write("db.mdb", "data");
  const std::string first = "~mt" + std::to_string(GetCurrentProcessId()) + ".tmp";
  write(first, "part", FILE_ATTRIBUTE_HIDDEN);
  HeldElsewhere holder(path(first));
  ASSERT_TRUE(holder.held()) << holder.said();
  platform::Outcome copy = services->copyFileNew(path("db.mdb"), path("copy.mdb"), "");
  EXPECT_TRUE(copy.ok) << copy.reason;
  EXPECT_EQ(list("*", platform::kListHiddenAndSystem), (V{"copy.mdb", "db.mdb", first}));
}

// A writer that has the database open, or a lock file that appeared, fails
// the copy and leaves nothing.
TEST_F(Win32Services, CopyOfADatabaseInUseFails) {
  write("db.mdb", "data");
  HANDLE writer =
      CreateFileA(path("db.mdb").c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                  nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  EXPECT_FALSE(services->copyFileNew(path("db.mdb"), path("copy.mdb"), "").ok);
  CloseHandle(writer);
  write("db.ldb", "");
  platform::Outcome copy = services->copyFileNew(path("db.mdb"), path("copy.mdb"), path("db.ldb"));
  EXPECT_EQ(copy.reason, "The database's lock file appeared during the copy");
  EXPECT_EQ(list("*", platform::kListHiddenAndSystem), (V{"db.ldb", "db.mdb"}));
}

}  // namespace
