// Reading a table definition: counts, map pointers, columns with their names,
// and the real indexes after them.
#include "access/definition.h"

#include "access/bytes.h"

namespace jet {

std::vector<std::uint16_t> Definition::longValueColumns() const {
  std::vector<std::uint16_t> found;
  for (const Column& column : columns) {
    if ((column.flags & kColumnFixed) == 0 &&
        (column.type == kColumnMemo || column.type == kColumnOle)) {
      found.push_back(column.varIndex);
    }
  }
  return found;
}

Definition readDefinition(const Format& f, const std::vector<unsigned char>& bytes) {
  Definition d;
  const std::size_t size = bytes.size();
  const unsigned char* b = bytes.data();
  if (size < f.realIndexCountsAt) {
    d.outside = "is too short for a table definition";
    return d;
  }
  const std::size_t columns = le16(b + f.columnCountAt);
  const std::size_t indexes = le32(b + f.realIndexCountAt);
  d.tableType = b[f.tableTypeAt];
  d.ownedMap = le32(b + f.ownedMapAt);
  d.freeSpaceMap = le32(b + f.freeSpaceMapAt);
  // A table has at most 255 columns and 32 indexes; a count of indexes far
  // past that, or counts past the definition's room, run outside it, and
  // bound every loop below.
  constexpr std::size_t kIndexesMost = 1000;
  std::size_t at = f.realIndexCountsAt + indexes * f.realIndexCountSize;
  if (indexes > kIndexesMost || at + columns * f.columnEntrySize > size) {
    d.outside = "counts more columns and indexes than it holds";
    return d;
  }
  for (std::size_t n = 0; n < columns; ++n, at += f.columnEntrySize) {
    Column c;
    c.type = b[at];
    c.flags = b[at + f.columnFlagsAt];
    c.number = le16(b + at + f.columnNumberAt);
    c.varIndex = le16(b + at + f.columnVarIndexAt);
    c.fixedOffset = le16(b + at + f.columnFixedAt);
    c.length = le16(b + at + f.columnLengthAt);
    if (c.type == 0) {
      d.notUnderstood = "has a column of type 0";
      return d;
    }
    d.columns.push_back(c);
  }
  for (Column& c : d.columns) {
    if (at + f.nameLengthSize > size) {
      d.outside = "ends inside its column names";
      return d;
    }
    const std::size_t length = f.nameLengthSize == 1 ? b[at] : le16(b + at);
    at += f.nameLengthSize;
    if (length == 0) {
      d.notUnderstood = "has a column without a name";
      return d;
    }
    if (at + length > size) {
      d.outside = "ends inside its column names";
      return d;
    }
    c.name.assign(reinterpret_cast<const char*>(b + at), length);
    at += length;
  }
  if (at + indexes * f.realIndexSize > size) {
    d.outside = "ends inside its indexes";
    return d;
  }
  for (std::size_t n = 0; n < indexes; ++n, at += f.realIndexSize) {
    d.indexes.push_back({le32(b + at + f.indexMapAt), le32(b + at + f.indexRootAt)});
  }
  return d;
}

}  // namespace jet
