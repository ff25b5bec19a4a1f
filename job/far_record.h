// The record beside each far copy: the copy's SHA-256 in the form that
// `sha256sum -c` reads, under a first comment that names the database the
// copy is of. A far place that holds the records of another database is
// that database's, and the night leaves it alone.
#pragma once

#include <string>

namespace job {

// What a copy's record is called: "muTesselDb20261209.mdb.sha256".
constexpr const char* kRecordEnd = ".sha256";
inline std::string recordName(const std::string& copyName) { return copyName + kRecordEnd; }

// The database as a record names it: its full path, and the computer.
std::string databaseNamed(const std::string& computer, const std::string& databasePath);

// The record of the copy `copyName` of `database`, whose SHA-256 is `sha256`.
std::string recordText(const std::string& database, const std::string& copyName,
                       const std::string& sha256);

struct Record {
  std::string database;  // as databaseNamed gave it; empty when the record names none
  std::string sha256;    // of `copyName`; empty when the record holds none
};

// What the text of the record of `copyName` says.
Record readRecord(const std::string& text, const std::string& copyName);

}  // namespace job
