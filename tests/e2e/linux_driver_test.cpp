// The repair step as a Linux administrator meets it: Debian's own Access
// driver, and the registrations that go wrong, each named in the log.
#include <optional>

#include "tests/e2e/program_fixture.h"

namespace testing_support {
namespace {

// Debian's Access driver (odbc-mdbtools), wherever the machine's
// architecture puts it; empty when it is not installed.
std::string mdbtoolsLibrary() {
  std::vector<std::string> found = pathsMatching("/usr/lib/*/odbc/libmdbodbc.so");
  return found.empty() ? "" : found[0];
}

struct Registration {
  const char* what;
  // The installer's driver list; "@mdb@" stands for the real driver and
  // "@list@" for the list's own path. None: not even its directory is there.
  std::optional<std::string> odbcinst;
  std::string diagnosis;  // how the log's reason begins, after the installer's general message
};

void PrintTo(const Registration& registration, std::ostream* out) { *out << registration.what; }

class RealDriver : public Program, public ::testing::WithParamInterface<Registration> {};

TEST_P(RealDriver, TheGeneralInstallerErrorSaysWhyTheRequestWentNowhere) {
  const std::string library = mdbtoolsLibrary();
  if (library.empty()) GTEST_SKIP() << "odbc-mdbtools is not installed (tools/install-deps)";
  const std::string driverList = program.home() / "odbc/odbcinst.ini";
  auto filledIn = [&](std::string text) {
    for (const auto& [mark, value] : {std::pair{"@mdb@", library}, {"@list@", driverList}}) {
      for (std::size_t at; (at = text.find(mark)) != std::string::npos;) {
        text.replace(at, std::string(mark).size(), value);
      }
    }
    return text;
  };
  if (GetParam().odbcinst) {
    writeFile(driverList, filledIn(*GetParam().odbcinst));
  } else {
    std::filesystem::remove_all(program.home() / "odbc");
  }

  // Nothing on this machine can repair, and the night did all it could: the
  // copy and the clean-up went through, and the reason names the driver.
  EXPECT_EQ(program.run().status, 3);
  std::vector<std::string> expected = block(fullRunOf(database()));
  std::vector<std::string> logged = log();
  ASSERT_EQ(logged.size(), expected.size());
  const std::string reason =
      "Repair failed: General installer error (" + filledIn(GetParam().diagnosis);
  const std::string repairLine = lineAfter(logged, "Start compress and repair");
  ASSERT_EQ(repairLine.rfind(reason, 0), 0u) << repairLine;
  EXPECT_EQ(repairLine.back(), ')') << repairLine;
  EXPECT_EQ(logged,
            replacing(expected, lineAfter(expected, "Start compress and repair"), repairLine));
  EXPECT_EQ(readFile(todaysCopy()), kOriginal);
  EXPECT_EQ(readFile(program.logPath()).find("Kv58n2w6"), std::string::npos);
}

const std::string kSection = "[Microsoft Access Driver (*.MDB)]\n";

INSTANTIATE_TEST_SUITE_P(
    Registrations, RealDriver,
    ::testing::Values(
        Registration{"MdbtoolsUnderTheAccessName",
                     kSection + "Description = MDB Tools\nDriver = @mdb@\nSetup = @mdb@\n",
                     "the setup library @mdb@ registered for \"Microsoft Access Driver (*.MDB)\" "
                     "has no ConfigDSN)"},
        Registration{"NoSetupLibrary", kSection + "Driver = @mdb@\n",
                     "the driver registered as \"Microsoft Access Driver (*.MDB)\" in "
                     "@list@ names no Setup library)"},
        Registration{"ASetupLibraryThatIsNotThere",
                     kSection + "Driver = @mdb@\nSetup = /nonexistent/libsetup.so\n",
                     "the setup library /nonexistent/libsetup.so registered for "
                     "\"Microsoft Access Driver (*.MDB)\" cannot be loaded: "},
        Registration{"OnlyUnderItsOwnName", "[MDBTools]\nDriver = @mdb@\nSetup = @mdb@\n",
                     "no driver is registered as \"Microsoft Access Driver (*.MDB)\" in @list@)"},
        Registration{"NoInstallerConfigurationAtAll", std::nullopt,
                     "the driver list @list@ cannot be read)"}),
    [](const auto& info) { return std::string(info.param.what); });

// A driver list that is there but cannot be read may name a driver: the
// night failed, whatever the machine holds.
TEST_F(Program, AnUnreadableDriverListIsNoProofThatNoDriverIsThere) {
  if (!isRoot()) GTEST_SKIP() << "changing user needs root";
  openToAll();
  chmod((program.home() / "odbc/odbcinst.ini").c_str(), 0);
  RunOptions options;
  options.user = &kNobody;
  EXPECT_EQ(program.runWith(options).status, 1);
  EXPECT_EQ(lineAfter(log(), "Start compress and repair"),
            "Repair failed: General installer error (the driver list " +
                program.home() / "odbc/odbcinst.ini" + " cannot be read)");
}

// Nor is a setup library that is there but does not load, even when it is
// registered past where the installer cuts a driver list too long for it.
TEST_F(Program, ASetupLibraryThatIsThereButDoesNotLoadIsAFailedNight) {
  const std::string junk = program.home() / "odbc/libjunk.so",
                    list = program.home() / "odbc/odbcinst.ini";
  writeFile(junk, "not a library");
  std::string longList;
  for (int i = 0; i < 700; ++i)
    longList += "[Driver " + std::to_string(i) + std::string(100, 'x') + "]\n";
  const std::string driver = "\"Microsoft Access Driver (*.MDB)\"";
  for (const auto& [before, reason] :
       {std::pair{std::string(), "the setup library " + junk + " registered for " + driver +
                                     " cannot be loaded: "},
        {longList, "the driver list " + list + " is too long to tell whether " + driver +
                       " is registered)"}}) {
    writeFile(list, before + kSection + "Setup = " + junk + "\n");
    for (const std::string& last : {program.logPath(), todaysCopy()}) std::filesystem::remove(last);
    EXPECT_EQ(program.run().status, 1);
    const std::string repairLine = lineAfter(log(), "Start compress and repair");
    EXPECT_TRUE(startsWith(repairLine, "Repair failed: General installer error (" + reason))
        << repairLine;
  }
}

}  // namespace
}  // namespace testing_support
