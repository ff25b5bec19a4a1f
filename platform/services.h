// The one interface through which the program reaches the operating system.
//
// Everything outside platform/ sees only this header: the job and the run
// driver ask it for files, settings, the clock and the ODBC installer, and the
// tests replace it with a double whose clock they set and whose installer
// records what it was asked.
//
// Two ways of failing, and only these: an operation that can fail and whose
// caller decides what follows returns an Outcome with the reason; a failure
// after which the run cannot go on (a service that cannot be loaded, a
// program that cannot find itself, a directory that cannot be listed, a log
// that cannot be written) raises a RunTimeError with its number and
// description. A query that finds nothing says so through its result too.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

namespace platform {

// The numbers the program raises.
enum ErrorNumber : std::int32_t {
  kInvalidProcedureCall = 5,
  kFileNotFound = 53,
  kPathFileAccessError = 75,
  kEntryPointNotFound = 453,
};

// A failure after which the run cannot go on, with the number and
// description by which the job's error handler tells failures apart.
class RunTimeError : public std::runtime_error {
 public:
  RunTimeError(std::int32_t number, const std::string& description)
      : std::runtime_error(description), number_(number) {}

  std::int32_t number() const { return number_; }
  std::string description() const { return what(); }

 private:
  std::int32_t number_;
};

// Where the executable lives and what it is called; the settings file and the
// run log are named after it.
struct ProgramLocation {
  std::string directory;  // no trailing separator unless it is the root
  std::string name;       // the file name less its extension
};

// Attribute bits, with the values the program has always used.
enum Attribute : std::uint32_t {
  kReadOnly = 1,
  kHidden = 2,
  kSystem = 4,
  kDirectory = 16,
  kArchive = 32,
};

// Listing masks: ordinary files only, or hidden and system files as well.
constexpr int kListOrdinary = 0;
constexpr int kListHiddenAndSystem = kHidden | kSystem;

struct LocalTime {
  int year = 0;
  int month = 0;  // 1 to 12
  int day = 0;    // 1 to 31
  int hour = 0;
  int minute = 0;
  int second = 0;
};

// The outcome of a service that reports through its result, not by raising.
struct Outcome {
  bool ok = false;
  std::string reason;  // why it failed; empty on success
  // Set by configDataSource alone: the request went nowhere because this
  // machine has no driver under that name that could take it (none
  // registered, its setup library not there or without the entry point, no
  // installer configuration at all), which no later run changes
  // until someone installs one. A driver that took the request and refused
  // it leaves this false.
  bool driverMissing = false;
  // Set by deleteUnused alone: the file stays because the file system it is
  // on cannot tell whether another program has it open (its leases do not
  // see every opener: NFS, overlayfs, FUSE without a local disk), and the
  // reason names that file system. A file seen in use, or one left for an
  // error, leaves this false.
  bool useUnknown = false;
  // Set by the far place's services alone: the place stopped answering, and
  // the call was given up; nothing more should be asked of it this run.
  bool noAnswer = false;
};

// How a night ended, for those who watch the machine rather than its log.
enum class NightEnd {
  kDone,           // status 0: went through, or the day's copy was there already
  kFailed,         // status 1: stopped early or failed
  kLogNotWritten,  // status 2: the log could not be written
  kNoDriver,       // status 3: done but for the repair, which no driver here can make
};

// What one try of a ping came to.
struct PingAnswer {
  bool ok = false;        // the server answered with a status of 2xx
  bool timedOut = false;  // the try ran out of its time, whatever it had reached
  std::string reason;     // why it failed; never the address, which may hold a secret
};

// The separator that joins a directory and a name on this system.
#ifdef _WIN32
constexpr char kPathSeparator = '\\';
#else
constexpr char kPathSeparator = '/';
#endif

// The request number the installer knows for configuring a data source.
constexpr std::uint16_t kOdbcConfigDsn = 2;

class Services {
 public:
  virtual ~Services() = default;

  virtual ProgramLocation programLocation() = 0;

  // Reads one entry of an initialization file. Returns the value as placed in
  // a buffer of `bufferSize` characters (so at most bufferSize - 1 of them),
  // or `defaultText` when the file, section or key is missing.
  virtual std::string readSetting(const std::string& section, const std::string& key,
                                  const std::string& defaultText, std::size_t bufferSize,
                                  const std::string& path) = 0;

  // Bare names of the entries that match `pattern`, whose last component may
  // hold "*" and "?". Directories are never listed; hidden and system files
  // only when `mask` asks for them. A missing directory lists nothing; one
  // that is there but cannot be read raises RunTimeError 75.
  virtual std::vector<std::string> listDirectory(const std::string& pattern, int mask) = 0;

  // The attribute bits of a file or directory; nothing when no file or
  // directory of that name can be found, for whatever reason.
  virtual std::optional<std::uint32_t> attributes(const std::string& path) = 0;

  // Deletes the file only on proof that no other program has it open (on
  // Windows, the system's own refusal; on POSIX systems, a write lease the
  // kernel grants only then). An error, a holder it cannot see, or anything
  // else short of that proof leaves the file: this decides whether a
  // database is in use.
  virtual Outcome deleteUnused(const std::string& path) = 0;

  // Deletes each file unless it is read-only or seen in use; one outcome a
  // path, in order. For old copies, where a holder missed costs nothing: a
  // file whose use the system cannot tell goes (on POSIX systems, one on
  // which no lease can be had); by default each goes through deleteUnused.
  virtual std::vector<Outcome> deleteFiles(const std::vector<std::string>& paths) {
    std::vector<Outcome> outcomes;
    for (const std::string& path : paths) outcomes.push_back(deleteUnused(path));
    return outcomes;
  }

  // Copies `source` to `target`, failing if `target` exists, and keeps the
  // copy only when the source did not change while it was read and
  // `lockFile` (when named) did not appear meanwhile: a program that opened
  // the database then may have written to it. A copy not kept leaves
  // nothing under the target's name, and the reason says why.
  virtual Outcome copyFileNew(const std::string& source, const std::string& target,
                              const std::string& lockFile) = 0;

  // How much of a file readSequentially hands over at a time: a fixed
  // amount, so that reading a copy of any size takes the same memory. 64 KiB
  // rather than 256: the larger pieces cost 192 KiB more at the peak and read
  // a copy from the page cache no faster (docs/benchmarks.md).
  static constexpr std::size_t kReadChunk = std::size_t{1} << 16;

  // Reads the file once from its start to its end, handing its bytes to
  // `sink` in order, at most kReadChunk at a time; `sink` returns false to
  // stop early. The outcome says why reading failed, if it did.
  using ReadSink = std::function<bool(const unsigned char* data, std::size_t size)>;
  virtual Outcome readSequentially(const std::string& path, const ReadSink& sink) = 0;

  // Reads `size` bytes at each offset that `next` gives, in turn, handing
  // each piece whole to `sink`, until `next` gives none or `sink` returns
  // false: the few pages that a check asks to see again after its pass. A
  // file that ends before a piece does has changed since, which fails.
  using NextOffset = std::function<std::optional<std::uint64_t>()>;
  virtual Outcome readAgain(const std::string& path, std::size_t size, const NextOffset& next,
                            const ReadSink& sink) = 0;

  // A second place for the copies: a directory on another disk, a share or
  // a folder that is carried off. It may stop answering (a dead network
  // mount): each call below gives up once the place has not answered for
  // kFarSilenceSeconds, and its outcome says so, with noAnswer set.
  static constexpr int kFarSilenceSeconds = 120;

  // Whether `directory` is there and is a directory, never creating it; and
  // whether it lies on the file system that holds the file `nearFile`, as the
  // device or volume tells, not the path.
  virtual Outcome examineFar(const std::string& directory, const std::string& nearFile,
                             bool& sameFileSystem) = 0;
  // The ordinary files there that match `pattern`, as listDirectory gives them.
  virtual Outcome listFar(const std::string& pattern, std::vector<std::string>& names) = 0;
  // Copies `source` to `target` in the far place by the system's own means.
  // The copy never replaces a file, and takes its name only once whole,
  // flushed, and read back from where it lies (not from this computer's
  // cache of it) equal to the source; a copy that fails leaves nothing
  // under the target's name nor a temporary, and one that a killed run left
  // is cleared by the next. `sha256` is the SHA-256 of the bytes read back,
  // as 64 lowercase hex digits.
  virtual Outcome copyFar(const std::string& source, const std::string& target,
                          std::string& sha256) = 0;
  // Reads a file of the far place from where it lies, as copyFar reads its
  // copy back, and gives its SHA-256.
  virtual Outcome digestFar(const std::string& path, std::string& sha256) = 0;
  // The text of a small file there, at most kFarTextLimit bytes of it.
  static constexpr std::size_t kFarTextLimit = 1 << 16;
  virtual Outcome readFarText(const std::string& path, std::string& text) = 0;
  // Writes a new file there that holds `text`: a temporary, flushed, then
  // named by a link or a rename that never replaces a file, so that a place
  // that lets files be created but not deleted takes it; fails when the
  // name is taken.
  virtual Outcome writeFarNew(const std::string& path, const std::string& text) = 0;
  // Deletes a file of the far place.
  virtual Outcome deleteFar(const std::string& path) = 0;

  // The SHA-256 of a file here, as copyFar gives it, by the system's own
  // means (OpenSSL's libcrypto on Linux, BCrypt on Windows).
  virtual Outcome digestFile(const std::string& path, std::string& sha256) = 0;
  // This computer's name, as the far place's records name it.
  virtual std::string computerName() = 0;

  // Hands memory the program has freed back to the system where the system
  // keeps it otherwise, so that what a night loads later (the installer's
  // libraries) does not add to what the check of the copy left behind.
  virtual void returnFreedMemory() {}

  // Appends `text` and CR LF to the file in one write, creating the file when
  // missing. Raises RunTimeError when the file cannot be opened or written.
  virtual void appendText(const std::string& path, const std::string& text) = 0;

  virtual LocalTime now() = 0;

  // The locale's general date form: its short date, a blank, its long time.
  virtual std::string generalDate(const LocalTime& time) = 0;

  // Sends a request to the ODBC installer. `attributes` is the installer's
  // list form: entries each ending in NUL, the list ending in one more NUL.
  // Raises RunTimeError 53 when the installer library cannot be loaded and
  // 453 when it lacks the entry point; otherwise reports through the result,
  // with the installer's own message as the reason, and driverMissing set
  // only when the installer's report shows that no driver was there to ask.
  virtual Outcome configDataSource(std::uint16_t request, const std::string& driver,
                                   const std::string& attributes) = 0;

  // Tells the system's own watchers how the night ended, with its report
  // (the log's block): where the scheduler's mail and the system's journal
  // read standard error, a failed night's report goes there; where the
  // system keeps an event log, every night becomes one event in it. Never
  // raises, never waits on anyone, and a report that cannot be made is
  // dropped: it must not change how the night ends.
  virtual void reportNight(NightEnd end, const std::string& report) = 0;

  // How long one try of a ping may take, all told: resolving the host,
  // connecting, sending and the answer.
  static constexpr int kPingTrySeconds = 10;

  // One try of an HTTP POST of `body` to `url` (http or https; HTTPS is
  // checked against the system's certificates), ended after kPingTrySeconds
  // at the latest. Redirects are not followed. Never raises.
  virtual PingAnswer postPing(const std::string& url, const std::string& body) = 0;

  // The file beside the executable named after it, with `extension`: where
  // its settings file and its run log are.
  std::string besideProgram(const std::string& extension) {
    ProgramLocation location = programLocation();
    return location.directory + kPathSeparator + location.name + extension;
  }
};

// The services of the system the program was built for.
std::unique_ptr<Services> systemServices();

}  // namespace platform
