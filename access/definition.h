// A table definition, read from its pages joined in order.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "access/format.h"

namespace jet {

struct Column {
  std::uint8_t type = 0;
  std::uint8_t flags = 0;
  std::uint16_t number = 0;       // its place in a row's null mask
  std::uint16_t varIndex = 0;     // among the variable-length columns
  std::uint16_t fixedOffset = 0;  // in the row's fixed part
  std::uint16_t length = 0;       // the most bytes a value takes
  std::string name;               // as stored: one byte a character in Jet 3, two after
};

struct RealIndex {
  std::uint32_t map = 0;  // row pointer of its usage map
  std::uint32_t root = 0;
};

struct Definition {
  // Empty when the definition reads whole. Counts or lengths that run past
  // its bytes point outside it; anything else is a shape not understood.
  std::string outside, notUnderstood;
  std::uint8_t tableType = 0;
  std::uint32_t ownedMap = 0;
  std::uint32_t freeSpaceMap = 0;
  std::vector<Column> columns;
  std::vector<RealIndex> indexes;
  bool readsWhole() const { return outside.empty() && notUnderstood.empty(); }
  // The variable-length columns whose values may live on long-value pages.
  std::vector<std::uint16_t> longValueColumns() const;
};

// `bytes` is the definition's first page, then each continuation from its
// byte 8 on.
Definition readDefinition(const Format& format, const std::vector<unsigned char>& bytes);

}  // namespace jet
