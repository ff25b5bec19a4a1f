// The POSIX settings read, log append, date form and program location on real files.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <clocale>
#include <cstdint>
#include <filesystem>

#include "platform/read_buffer.h"
#include "platform/services.h"
#include "tests/support/pages_again.h"
#include "tests/support/scratch_directory.h"

namespace {

using testing_support::readFile;
using testing_support::ScratchDirectory;
using testing_support::writeFile;

class PosixServices : public ::testing::Test {
 protected:
  ScratchDirectory dir;
  std::unique_ptr<platform::Services> services = platform::systemServices();
};

TEST_F(PosixServices, SettingsThatCannotBeReadGiveTheDefault) {
  writeFile(dir / "good.ini", "[settings]\nDatabase=x\n");
  mkfifo((dir / "fifo.ini").c_str(), 0600);
  std::filesystem::create_directory(dir / "folder.ini");
  // Valid settings at its head, but over 16 MiB: no settings file is that large.
  writeFile(dir / "huge.ini", "[settings]\nDatabase=x\n");
  std::filesystem::resize_file(dir / "huge.ini", 17 << 20);
  auto read = [&](const std::string& name) {
    return services->readSetting("settings", "Database", "none", 4096, dir / name);
  };
  EXPECT_EQ(read("good.ini"), "x");
  EXPECT_EQ(read("fifo.ini"), "none");
  EXPECT_EQ(read("folder.ini"), "none");
  EXPECT_EQ(read("huge.ini"), "none");
  EXPECT_EQ(read("missing.ini"), "none");
}

TEST_F(PosixServices, TextAppendCreatesThenAppendsAndRaisesOnFailure) {
  services->appendText(dir / "run.log", "one");
  services->appendText(dir / "run.log", "two");
  EXPECT_EQ(readFile(dir / "run.log"), "one\r\ntwo\r\n");
  std::filesystem::create_directory(dir / "folder.log");
  mkfifo((dir / "fifo.log").c_str(), 0600);
  for (const char* name : {"folder.log", "fifo.log", "missing/run.log"}) {
    EXPECT_THROW(services->appendText(dir / name, "x"), platform::RunTimeError) << name;
  }
}

TEST_F(PosixServices, AFileIsReadBackWholeInPiecesOrSaysWhyNot) {
  const std::string content = testing_support::patternedContent(3 * (1 << 18) + 5);
  writeFile(dir / "copy.mdb", content);
  std::string read;
  auto gather = [&](const unsigned char* data, std::size_t size) {
    EXPECT_LE(size, platform::Services::kReadChunk);
    EXPECT_EQ(reinterpret_cast<std::uintptr_t>(data) % platform::ReadBuffer::kAlignment, 0u);
    read.append(reinterpret_cast<const char*>(data), size);
    return true;
  };
  EXPECT_TRUE(services->readSequentially(dir / "copy.mdb", gather).ok);
  EXPECT_TRUE(read == content);
  std::filesystem::create_directory(dir / "folder.mdb");
  EXPECT_EQ(services->readSequentially(dir / "folder.mdb", gather).reason, "Is a directory");
  EXPECT_EQ(services->readSequentially(dir / "missing.mdb", gather).reason,
            "No such file or directory");
  // Pages again, whole and in the order asked, until one runs past the end.
  const auto [outcome, again] =
      testing_support::pagesAgain(*services, dir / "copy.mdb", {8192, 0, 3 * (1 << 18)});
  EXPECT_EQ(outcome.reason, "the file is shorter than before");
  EXPECT_TRUE(again == content.substr(8192, 4096) + content.substr(0, 4096));
}

TEST_F(PosixServices, DatesKeepTheLocalesOrderWithFourDigitYears) {
  const std::pair<const char*, const char*> forms[] = {
      {"C", "2026-12-08 04:02:14"},
      {"en_GB.UTF-8", "08/12/2026 04:02:14"},
      {"nl_NL.UTF-8", "08-12-2026 04:02:14"},
      {"en_US.UTF-8", "12/08/2026 04:02:14 AM"},
  };
  for (const auto& [locale, form] : forms) {
    if (std::setlocale(LC_TIME, locale) == nullptr) {
      ADD_FAILURE() << "locale " << locale << " is not installed (tools/install-deps makes it)";
      continue;
    }
    EXPECT_EQ(services->generalDate({2026, 12, 8, 4, 2, 14}), form) << locale;
  }
  std::setlocale(LC_TIME, "C");
}

TEST_F(PosixServices, TheProgramIsFoundBesideItsOwnFile) {
  platform::ProgramLocation location = services->programLocation();
  EXPECT_EQ(location.name, "platform_tests");
  EXPECT_TRUE(std::filesystem::exists(location.directory + "/platform_tests"));
}

}  // namespace
