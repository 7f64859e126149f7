#include "present/deleted_text.h"

#include <cstdio>
#include <string_view>

#include "hive/filetime.h"
#include "hive/hex_text.h"
#include "hive/text_codec.h"

namespace cellbrook {
namespace {

const std::string kUnassociated = "?";

}  // namespace

std::string PathNodeText(const DeletedScan& scan, uint32_t node, bool escaped) {
  if (node >= scan.pathNodes.size()) return kUnassociated;
  std::vector<uint32_t> chain;
  while (node >= kPathFirstNamed && node < scan.pathNodes.size() && chain.size() <= kMaxPathDepth) {
    chain.push_back(node);
    node = scan.pathNodes[node].parent;
  }
  std::string text = node == kPathRoot ? "ROOT" : "?";
  for (size_t i = chain.size(); i-- > 0;) {
    const PathNode& n = scan.pathNodes[chain[i]];
    const std::string_view name = std::string_view(scan.pathNames).substr(n.nameBegin, n.nameLength);
    text += '\\';
    if (escaped) {
      text += EscapeRecordName(std::string(name));
    } else {
      text += name;
    }
  }
  return text;
}

std::string DeletedKeyPath(const DeletedScan& scan, const DeletedKey& key) {
  return PathNodeText(scan, key.pathNode, false);
}

std::string DeletedKeyPathText(const DeletedScan& scan, const DeletedKey& key) {
  return PathNodeText(scan, key.pathNode, true);
}

std::string ValueOwnerPath(const DeletedScan& scan, const DeletedValue& value) {
  if (value.owner == ValueOwner::Recovered) return DeletedKeyPath(scan, scan.keys[value.ownerIndex]);
  if (value.owner == ValueOwner::LiveSlack)
    return PathNodeText(scan, scan.liveOwners[value.ownerIndex].pathNode, false);
  return kUnassociated;
}

std::string ValueOwnerPathText(const DeletedScan& scan, const DeletedValue& value) {
  if (value.owner == ValueOwner::Recovered) return DeletedKeyPathText(scan, scan.keys[value.ownerIndex]);
  if (value.owner == ValueOwner::LiveSlack) return PathNodeText(scan, scan.liveOwners[value.ownerIndex].pathNode, true);
  return kUnassociated;
}

std::string EscapeRecordName(const std::string& name) { return EscapeKeyName(name); }

std::string DeletedKeyLine(const DeletedScan& scan, const DeletedKey& key) {
  return "key\t" + DeletedKeyPathText(scan, key) + '\t' + FormatFileTime(key.lastWritten) + '\t' + Hex32Text(key.cell);
}

std::string DeletedValueLine(const DeletedScan& scan, const DeletedValue& value) {
  std::string line = "value\t";
  line += ValueOwnerPathText(scan, value);
  line += '\t' + EscapeRecordName(value.name) + '\t' + std::to_string(value.type) + '\t';
  if (value.data == DataState::Unreadable) {
    line += '?';
  } else {
    const std::vector<uint8_t> bytes = DeletedValueData(scan, value);
    AppendHex(line, bytes);
  }
  line += '\t' + Hex32Text(value.cell) + '\t';
  if (value.reallocated) line += "reallocated";
  return line;
}

std::vector<std::string> DeletedRecordLines(const DeletedScan& scan) {
  std::vector<std::string> lines;
  lines.reserve(scan.keys.size() + scan.values.size());
  for (const DeletedKey& k : scan.keys) lines.push_back(DeletedKeyLine(scan, k));
  for (const DeletedValue& v : scan.values) lines.push_back(DeletedValueLine(scan, v));
  return lines;
}

}  // namespace cellbrook
