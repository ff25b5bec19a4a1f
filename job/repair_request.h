// The request that asks the Access driver to compact and repair a database.
#pragma once

#include <string>

#include "platform/services.h"

namespace job {

constexpr const char* kAccessDriver = "Microsoft Access Driver (*.MDB)";

// The installer's attribute list for repairing `databasePath`: one entry,
// ending in NUL, and the NUL that ends the list.
std::string repairAttributes(const std::string& databasePath);

// Sends the repair request. A path that holds a double quote cannot be
// quoted in the request, so it is refused without being sent.
platform::Outcome requestRepair(platform::Services& services, const std::string& databasePath);

}  // namespace job
