// The compact-and-repair request to the Access driver.
#include "job/repair_request.h"

namespace job {
namespace {

// The password the office's databases are kept under; it travels only in
// the request and never appears in the log.
constexpr const char* kDatabasePassword = "Kv58n2w6";

}  // namespace

std::string repairAttributes(const std::string& databasePath) {
  std::string entry = "REPAIR_DB=\"" + databasePath + "\";PWD=" + kDatabasePassword;
  return entry + '\0' + '\0';
}

platform::Outcome requestRepair(platform::Services& services, const std::string& databasePath) {
  if (databasePath.find('"') != std::string::npos) {
    return {false, "the database path holds a double quote, which the request cannot carry"};
  }
  platform::Outcome outcome = services.configDataSource(platform::kOdbcConfigDsn, kAccessDriver,
                                                        repairAttributes(databasePath));
  // A driver may quote the request in its message; the log must not show
  // the password.
  const std::string password = kDatabasePassword;
  for (std::size_t at; (at = outcome.reason.find(password)) != std::string::npos;) {
    outcome.reason.replace(at, password.size(), "********");
  }
  return outcome;
}

}  // namespace job
