// The packages as an administrator gets them: what the .deb holds and with
// which modes, the program run from where the .deb puts it, the units, the
// manual page and lintian's verdict; what the Windows .zip holds and its task;
// what the Windows Installer package holds, and how it installs, upgrades
// and uninstalls under Wine.
#include <filesystem>
#include <map>
#include <regex>

#include "tests/e2e/program_fixture.h"

namespace testing_support {
namespace {

const std::string kProgram = "muTesselServerDbBackupandRepair";
const std::string kInstallDir = "/opt/" + kProgram;
const std::string kUnitDir = "/lib/systemd/system/";
const std::string kDocDir = "/usr/share/doc/mutesselserverdbbackupandrepair/";
const std::string kManPage = "/usr/share/man/man8/" + kProgram + ".8.gz";

// The one package of that kind that the test run made; empty when none.
std::string package(const std::string& pattern) {
  std::vector<std::string> found = pathsMatching(MUTESSEL_PACKAGES "/" + pattern);
  return found.size() == 1 ? found[0] : "";
}

RunResult run(const std::vector<std::string>& argv,
              const std::map<std::string, std::string>& environment = {}) {
  RunOptions options;
  options.environment = environment;
  return runCommand(argv, options);
}

// Whether every line of the text ends in CR LF, and there are lines.
bool crLfOnly(const std::string& text) {
  const std::size_t lines = splitLines(text).size();
  return lines > 0 && splitLines(text, "\r\n").size() == lines;
}

// The .deb, unpacked once for all its tests.
class DebianPackage : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    root_ = new ScratchDirectory;
    ASSERT_FALSE(deb().empty()) << "no single .deb in " MUTESSEL_PACKAGES;
    ASSERT_EQ(run({"dpkg-deb", "-x", deb(), root_->path()}).status, 0);
  }
  static void TearDownTestSuite() { delete root_; }

  static std::string deb() { return package("*.deb"); }
  static std::string root() { return root_->path(); }

 private:
  static ScratchDirectory* root_;
};
ScratchDirectory* DebianPackage::root_ = nullptr;

TEST_F(DebianPackage, HoldsEachFileWhereItBelongsWithItsMode) {
  const std::map<std::string, std::string> expected = {
      {kInstallDir + "/" + kProgram, "-rwxr-xr-x"},
      {kInstallDir + "/" + kProgram + ".ini.example", "-rw-r--r--"},
      {kUnitDir + kProgram + ".service", "-rw-r--r--"},
      {kUnitDir + kProgram + ".timer", "-rw-r--r--"},
      {kManPage, "-rw-r--r--"},
      {kDocDir + "copyright", "-rw-r--r--"},
      {kDocDir + "changelog.gz", "-rw-r--r--"},
      {kDocDir + "README.md", "-rw-r--r--"},
      {kDocDir + "examples/database.conf.example", "-rw-r--r--"},
      {"/usr/share/lintian/overrides/mutesselserverdbbackupandrepair", "-rw-r--r--"}};
  std::map<std::string, std::string> files;
  for (const std::string& entry : splitLines(run({"dpkg-deb", "-c", deb()}).standardOutput)) {
    // mode owner/group size date time ./path
    std::size_t path = entry.find(" ./");
    ASSERT_NE(path, std::string::npos) << entry;
    EXPECT_EQ(entry.substr(11, 10), "root/root ") << entry;
    if (entry[0] != 'd') files[entry.substr(path + 2)] = entry.substr(0, 10);
  }
  EXPECT_EQ(files, expected);
  EXPECT_TRUE(crLfOnly(readFile(root() + kInstallDir + "/" + kProgram + ".ini.example")));
}

TEST_F(DebianPackage, TheInstalledProgramDoesAWholeJobFromWhereItIsInstalled) {
  ScratchDirectory home;
  const std::string installation = root() + kInstallDir;
  const std::string database = home / "muTesselDb.mdb";
  writeFile(database, kOriginal);
  // The example settings, with the administrator's one change.
  std::string settings = readFile(installation + "/" + kProgram + ".ini.example");
  const std::size_t value = settings.find("\nDatabase=") + 10;
  settings.replace(value, settings.find('\r', value) - value, database);
  writeFile(installation + "/" + kProgram + ".ini", settings);
  layOutStandInDriver(home.path());

  RunResult result = run(
      {installation + "/" + kProgram},
      {{"ODBCSYSINI", home.path()}, {"STANDIN_RECORD", home / "requests.txt"}, {"LC_ALL", "C"}});
  EXPECT_EQ(result.status, 0) << result.standardError;
  EXPECT_EQ(linesOf(readFile(installation + "/" + kProgram + ".log")), block(fullRunOf(database)));
  EXPECT_EQ(readFile(home / ("muTesselDb" + today() + ".mdb")), kOriginal);
  EXPECT_EQ(readFile(database), kRepaired);
}

TEST_F(DebianPackage, LintianFindsNoErrorsOrWarnings) {
  if (!installed("lintian")) GTEST_SKIP() << "lintian is not installed (tools/install-deps)";
  RunResult result = run({"lintian", "--fail-on", "error,warning", deb()});
  EXPECT_EQ(result.status, 0) << result.standardOutput << result.standardError;
}

TEST_F(DebianPackage, TheUnitsVerifyWhereThePackagePutsThem) {
  const std::string service = root() + kUnitDir + kProgram + ".service";
  // A night on a machine without a driver that can repair is no failed unit.
  EXPECT_NE(readFile(service).find("\nSuccessExitStatus=3\n"), std::string::npos);
  if (!installed("systemd-analyze")) GTEST_SKIP() << "systemd is not installed";
  const std::string whyNot = whyNoMountNamespace();
  if (!whyNot.empty()) GTEST_SKIP() << whyNot << " (to lay the package over /opt)";
  // The package's own tree over /opt, in a mount namespace of its own, so
  // that the check finds the program that the service starts, and its
  // manual page.
  RunResult verify =
      run({"unshare", "--mount", "sh", "-c",
           "mount --bind \"$0/opt\" /opt && exec systemd-analyze verify \"$1\" \"$2\"", root(),
           service, root() + kUnitDir + kProgram + ".timer"},
          {{"MANPATH", root() + "/usr/share/man"}});
  EXPECT_EQ(verify.status, 0) << verify.standardOutput << verify.standardError;
  EXPECT_EQ(verify.standardError, "");
  // Exposure 1.0 or less, of systemd's scale of 10.
  RunResult security =
      run({"systemd-analyze", "security", "--offline=true", "--threshold=10", service});
  EXPECT_EQ(security.status, 0) << security.standardOutput;
}

TEST_F(DebianPackage, TheManualPageRendersWithoutAWarning) {
  if (!installed("groff") || !installed("man")) GTEST_SKIP() << "groff or man-db is not installed";
  const std::string page = root() + kManPage;
  RunResult groff = run({"sh", "-c", "zcat \"$0\" | groff -man -ww -z", page});
  EXPECT_EQ(groff.status, 0);
  EXPECT_EQ(groff.standardError, "");
  RunResult man = run({"man", "--warnings", "-l", page}, {{"MANWIDTH", "80"}});
  EXPECT_EQ(man.status, 0);
  EXPECT_EQ(man.standardError, "");
  for (const char* section : {"SETTINGS", "EXIT STATUS", "FILES", "LINUX", "UNDER FAULTS"}) {
    EXPECT_NE(man.standardOutput.find("\n" + std::string(section) + "\n"), std::string::npos)
        << section;
  }
}

// The Windows .zip, when the test run has a Windows build to make it from.
class WindowsZip : public ::testing::Test {
 protected:
  void SetUp() override {
    zip_ = package("*-win32.zip");
    if (zip_.empty()) GTEST_SKIP() << "no Windows build given (MUTESSEL_WINDOWS_BUILD)";
  }
  std::string member(const std::string& name) {
    return run({"unzip", "-p", zip_, kProgram + "/" + name}).standardOutput;
  }
  std::string zip_;
};

TEST_F(WindowsZip, HoldsTheProgramTheSettingsTheReadmeAndTheTaskInOneFolder) {
  EXPECT_EQ(splitLines(run({"unzip", "-Z1", zip_}).standardOutput),
            (std::vector<std::string>{
                kProgram + "/", kProgram + "/README.txt", kProgram + "/" + kProgram + "-task.xml",
                kProgram + "/" + kProgram + ".ini.example", kProgram + "/" + kProgram + ".exe"}));
  const std::string program = member(kProgram + ".exe");
  ASSERT_GT(program.size(), 0x40u);
  const std::size_t header =
      static_cast<unsigned char>(program[0x3c]) | static_cast<unsigned char>(program[0x3d]) << 8;
  EXPECT_EQ(program.substr(header, 6), std::string("PE\0\0\x4c\x01", 6)) << "a 32-bit program";
  for (const std::string& text : {std::string("README.txt"), kProgram + ".ini.example"}) {
    EXPECT_TRUE(crLfOnly(member(text))) << text;
  }
}

TEST_F(WindowsZip, TheTaskIsWellFormedAndRunsDailyAtThreeForAtMostTwoHours) {
  if (!installed("xmllint")) GTEST_SKIP() << "xmllint is not installed (libxml2-utils)";
  ScratchDirectory scratch;
  const std::string task = scratch / "task.xml";
  writeFile(task, member(kProgram + "-task.xml"));
  EXPECT_EQ(readFile(task).substr(0, 2), "\xFF\xFE") << "UTF-16, as the Task Scheduler writes it";
  EXPECT_EQ(run({"xmllint", "--noout", task}).status, 0);
  const std::map<std::string, std::string> settings = {
      {"CalendarTrigger/StartBoundary", "2026-01-01T03:00:00"},
      {"ScheduleByDay/DaysInterval", "1"},
      {"Principal/LogonType", "Password"},  // whether the user is logged on or not
      {"Settings/ExecutionTimeLimit", "PT2H"},
      {"Settings/StartWhenAvailable", "true"},  // a missed run starts when it can
      {"Settings/Enabled", "true"},
      {"Exec/Command", "C:\\" + kProgram + "\\" + kProgram + ".exe"}};
  for (const auto& [path, value] : settings) {
    std::string parent = path.substr(0, path.find('/')), child = path.substr(path.find('/') + 1);
    RunResult read =
        run({"xmllint", "--xpath",
             "string(//*[local-name()='" + parent + "']/*[local-name()='" + child + "'])", task});
    EXPECT_EQ(read.standardOutput, value + "\n") << path;
  }
}

// What of the shipped 32-bit package the install under Wine, from the build
// that runs there, does not try: its folders, and what msibuild mends.
TEST(WindowsMsi, HoldsItsFoldersTheEventSourceTheTaskAndOneUpgradeCode) {
  const std::string msi = package("*-win32.msi");
  if (msi.empty()) GTEST_SKIP() << "no .msi made (MUTESSEL_WINDOWS_ZIP_BUILD, wixl)";
  const std::vector<std::pair<std::string, std::string>> rows = {
      {"Directory", "INSTALLDIR\tProgramFilesFolder\t" + kProgram},
      {"Registry", "\\Application\\" + kProgram + "\\\tEventMessageFile\t#%[#Program]\t"},
      {"Property", "UpgradeCode\t{8266CE58-C6E3-4301-8504-F43182A2AF9A}"},
      {"Property", "ARPPRODUCTICON\tprogram.ico"},
      {"Property", ";DATABASE;COPYTO;PINGURL;INSTALLDIR"},  // secure: they reach deferred steps
      {"Upgrade", "\t\t" MUTESSEL_VERSION "\t\t1\t\tWIX_UPGRADE_DETECTED"},
      {"CustomAction", "FindTaskScheduler\t51\tSCHTASKS\t[SystemFolder]schtasks.exe"},
      {"CustomAction", "CreateTask\t3122\t"},  // deferred, as the system account (0xC00)
      {"InstallExecuteSequence", "RemoveExistingProducts\t\t1450"}};  // before anything new
  for (const auto& [name, row] : rows) {
    EXPECT_NE(run({"msiinfo", "export", msi, name}).standardOutput.find(row), std::string::npos)
        << name << ": " << row;
  }
}

// The package of the Windows build that runs here, installed silently into a
// Wine prefix, again over itself and upgraded, with another database each
// time, and uninstalled.
TEST(WindowsMsi, InstallsSilentlyKeepsTheSettingsAndUninstallsUnderWine) {
  const std::string msi = package("*-win" MUTESSEL_WINE_BITS ".msi");
  if (msi.empty())
    GTEST_SKIP() << "no .msi of a Windows build run under Wine (MUTESSEL_WINDOWS_BUILD)";
  const std::string prefix = MUTESSEL_WINE_PREFIX, drive = prefix + "/drive_c/";
  const std::string installed = "C:\\Program Files\\" + kProgram + "\\" + kProgram + ".exe";
  const std::string folder = drive + "Program Files/" + kProgram + "/";
  const std::string storedTask = drive + "windows/system32/tasks/muTessel database maintenance";
  const std::string source =
      "HKLM\\SYSTEM\\CurrentControlSet\\Services\\EventLog\\Application\\" + kProgram;
  auto wine = [&](std::vector<std::string> argv) {
    argv.insert(argv.begin(), MUTESSEL_WINE_LOADER);
    return run(argv, {{"WINEPREFIX", prefix}, {"WINEDEBUG", "-all"}});
  };
  const std::string newerCode = "{0C3B5E2A-1111-4222-8333-944455556666}";
  std::string installing = "Z:" + msi;
  auto msiexec = [&](const std::string& action, std::vector<std::string> properties = {}) {
    properties.insert(properties.begin(), {"msiexec", action, installing, "/qn"});
    return wine(properties).status;
  };
  auto there = [](const std::string& path) {
    return "Z:" + std::regex_replace(path, std::regex("/"), "\\");
  };
  msiexec("/x");  // what an earlier run left
  wine({"msiexec", "/x", newerCode, "/qn"});
  std::filesystem::remove_all(folder);
  ScratchDirectory home;
  std::filesystem::create_directory(home / "far");
  const std::string database = home / "muTesselDb.mdb", copy = "muTesselDb" + today() + ".mdb";
  writeFile(database, kOriginal);
  const std::vector<std::string> values = {"Database=" + there(database),
                                           "CopyTo=" + there(home / "far"),
                                           "PingUrl=http://127.0.0.1:9/ping"};
  ASSERT_EQ(msiexec("/i", {"DATABASE=" + there(database), "COPYTO=" + there(home / "far"),
                           "PINGURL=http://127.0.0.1:9/ping"}),
            0);
  const std::string settings = readFile(folder + kProgram + ".ini");
  for (const std::string& line : values) {
    EXPECT_NE(settings.find("\r\n" + line + "\r\n"), std::string::npos) << settings;
  }
  EXPECT_NE(wine({"reg", "query", source}).standardOutput.find("REG_EXPAND_SZ    " + installed),
            std::string::npos);
  const std::string xml =
      run({"iconv", "-f", "UTF-16LE", "-t", "UTF-8", folder + kProgram + "-task.xml"})
          .standardOutput;
  EXPECT_NE(xml.find("<Command>" + installed + "</Command>"), std::string::npos) << xml;
  const bool taskMade = exists(storedTask);

  // The night runs with the settings given.
  EXPECT_EQ(wine({installed}).status, 0);
  std::vector<std::string> lines = linesOf(readFile(folder + kProgram + ".log")),
                           night = block(fullRunOf(there(database)));
  night.resize(night.size() - 3);  // then the far copy and the ping
  lines.resize(std::min(lines.size(), night.size()));
  EXPECT_EQ(lines, night);
  EXPECT_EQ(readFile(home / ("far/" + copy)), kOriginal);

  ASSERT_EQ(msiexec("/i", {"DATABASE=Z:\\elsewhere\\muTesselDb.mdb"}), 0);
  EXPECT_EQ(readFile(folder + kProgram + ".ini"), settings);
  // A newer version replaces it: the old one's files, were it left, would stay.
  const std::string newer = home / "newer.msi";
  std::filesystem::copy_file(msi, newer);
  ASSERT_EQ(
      run({"msibuild", newer, "-q",
           "UPDATE Property SET Value = '" MUTESSEL_NEWER_VERSION
           "' WHERE Property = 'ProductVersion'",
           "-q", "UPDATE Property SET Value = '" + newerCode + "' WHERE Property = 'ProductCode'",
           "-q",
           "INSERT INTO Upgrade (UpgradeCode, VersionMax, Attributes, ActionProperty) VALUES "
           "('{8266CE58-C6E3-4301-8504-F43182A2AF9A}', '" MUTESSEL_NEWER_VERSION
           "', 1, 'WIX_UPGRADE_DETECTED')"})
          .status,
      0);
  installing = there(newer);
  ASSERT_EQ(msiexec("/i", {"DATABASE=Z:\\elsewhere\\muTesselDb.mdb"}), 0);
  EXPECT_EQ(readFile(folder + kProgram + ".ini"), settings);
  const bool taskKept = exists(storedTask);
  ASSERT_EQ(msiexec("/x"), 0);
  EXPECT_EQ(namesIn(folder), (std::vector<std::string>{kProgram + ".ini", kProgram + ".log"}));
  EXPECT_EQ(readFile(folder + kProgram + ".ini"), settings);
  EXPECT_NE(wine({"reg", "query", source}).status, 0) << "the event source stays";
  EXPECT_FALSE(exists(storedTask));
  EXPECT_EQ(namesIn(home.path()),
            (std::vector<std::string>{"far", "muTesselDb.mdb", copy, "newer.msi"}));
  EXPECT_EQ(taskKept, taskMade);
  if (!taskMade)
    GTEST_SKIP() << "Wine's schtasks made no task of the package's XML: " << storedTask;
}

}  // namespace
}  // namespace testing_support
