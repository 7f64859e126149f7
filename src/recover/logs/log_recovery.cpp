#include "recover/logs/log_recovery.h"

#include <algorithm>
#include <bit>
#include <cstdio>
#include <cstring>

#include "hive/filetime.h"
#include "hive/image_view.h"
#include "recover/logs/marvin32.h"

namespace cellbrook {
namespace {

namespace hvle = log_entry_field;

std::string Hex(uint64_t v) {
  char text[24];
  std::snprintf(text, sizeof text, "0x%llx", static_cast<unsigned long long>(v));
  return text;
}
std::string Num(uint64_t v) { return std::to_string(v); }

bool EndsWithNoCase(const std::string& s, const char* suffix) {
  const size_t n = std::strlen(suffix);
  if (s.size() < n) return false;
  for (size_t i = 0; i < n; ++i) {
    char c = s[s.size() - n + i];
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    if (c != suffix[i]) return false;
  }
  return true;
}

void Put32(std::vector<uint8_t>& image, uint64_t off, uint32_t v) {
  for (int i = 0; i < 4; ++i) image[off + i] = static_cast<uint8_t>(v >> (8 * i));
}

struct Entry {
  uint64_t offset = 0;  // in the log
  uint32_t size = 0, flags = 0, sequence = 0, binsSize = 0, pageCount = 0;
};

struct LogAnalysis {
  const LogFile* file = nullptr;
  LogReport report;
  std::vector<Entry> entries;  // new format: the valid run
  uint64_t pagesStart = 0;     // old format: first page in the log
  uint64_t maxImage = kMaxRecoveredImageSize;
  uint64_t primaryBytes = 0;  // the primary's size, at least a base block, in whole pages
};

uint64_t RoundUpToPage(uint64_t bytes) { return (bytes + kPageSize - 1) / kPageSize * kPageSize; }

// Why the header of a bin at relative offset `rel` is not valid ("" when it
// is), read from `view` at file offset `at`.
std::string BinHeaderProblem(const ImageView& view, uint64_t at, uint64_t rel, uint64_t binsEnd) {
  uint32_t sig = 0, offset = 0, size = 0;
  if (!view.U32(at + bin_field::Signature, sig) || !view.U32(at + bin_field::Offset, offset) ||
      !view.U32(at + bin_field::Size, size)) {
    return "the bin header lies outside the image";
  }
  if (sig != bin_field::SignatureValue) return "no \"hbin\" signature";
  if (size < kPageSize || size % kPageSize != 0) return "bin size " + Num(size) + " is not a multiple of 4096";
  if (offset != rel) return "the bin's offset field " + Hex(offset) + " is not its own offset";
  if (rel + size > binsEnd) return "the bin runs past the hive bins data size";
  return "";
}

std::string ReadNewEntries(const LogFile& log, const BaseBlock& copy, uint64_t maxImage, std::vector<Entry>& out) {
  const ImageView v(log.bytes.data(), log.bytes.size());
  uint64_t off = kSectorSize;
  uint32_t expected = copy.primarySequence;
  for (uint32_t index = 1;; ++index) {
    const std::string where = "entry " + Num(index) + " at log offset " + Hex(off) + ": ";
    if (off >= v.size()) return "read to the end of the file";
    if (!v.Contains(off, hvle::Header)) return where + "too short for an entry header";
    Entry e;
    e.offset = off;
    uint32_t sig = 0, lo = 0, hi = 0;
    v.U32(off + hvle::Signature, sig);
    v.U32(off + hvle::Size, e.size);
    v.U32(off + hvle::Flags, e.flags);
    v.U32(off + hvle::Sequence, e.sequence);
    v.U32(off + hvle::HiveBinsDataSize, e.binsSize);
    v.U32(off + hvle::PageCount, e.pageCount);
    if (sig != hvle::SignatureValue) return where + "no \"HvLE\" signature";
    if (e.size < kSectorSize || e.size % kSectorSize != 0) {
      return where + "its size " + Num(e.size) + " is not a non-zero multiple of 512";
    }
    if (!v.Contains(off, e.size)) {
      return where + "its size " + Num(e.size) + " runs past the end of the file";
    }
    if (e.binsSize == 0 || e.binsSize % kPageSize != 0) {
      return where + "its hive bins data size " + Num(e.binsSize) + " is not a non-zero multiple of 4096";
    }
    if (kBaseBlockSize + e.binsSize > maxImage) {
      return where + "its hive bins data size " + Num(e.binsSize) + " is more than the hive and its logs could hold";
    }
    if (e.pageCount == 0) return where + "it lists no dirty page";
    const uint64_t refsEnd = hvle::Header + hvle::PageReferenceSize * e.pageCount;
    if (refsEnd > e.size) return where + "its page count " + Num(e.pageCount) + " does not fit in the entry";
    const uint8_t* entry = v.At(off, e.size);
    v.U32(off + hvle::Hash1, lo);
    v.U32(off + hvle::Hash1 + 4, hi);
    const uint64_t hash1 = (uint64_t{hi} << 32) | lo;
    v.U32(off + hvle::Hash2, lo);
    v.U32(off + hvle::Hash2 + 4, hi);
    const uint64_t hash2 = (uint64_t{hi} << 32) | lo;
    if (Marvin32({entry + hvle::Header, e.size - hvle::Header}) != hash1) return where + "its hash 1 is wrong";
    if (Marvin32({entry, hvle::Hash2Covers}) != hash2) return where + "its hash 2 is wrong";
    uint64_t pageBytes = 0;
    for (uint32_t i = 0; i < e.pageCount; ++i) {
      uint32_t pageOffset = 0, pageSize = 0;
      v.U32(off + hvle::Header + hvle::PageReferenceSize * i + hvle::PageOffset, pageOffset);
      v.U32(off + hvle::Header + hvle::PageReferenceSize * i + hvle::PageSize, pageSize);
      const std::string ref =
          where + "page reference " + Num(i + 1) + " (offset " + Hex(pageOffset) + ", size " + Num(pageSize) + ") ";
      if (pageOffset % kPageSize != 0 || pageSize % kPageSize != 0) return ref + "is not a multiple of 4096";
      const uint64_t pageEnd = uint64_t{pageOffset} + pageSize;
      if (pageEnd > 0x100000000ull) return ref + "lies beyond the 4 GiB limit";
      if (pageEnd > e.binsSize) return ref + "runs past the entry's hive bins data size";
      pageBytes += pageSize;
    }
    if (refsEnd + pageBytes > e.size) return where + "its pages do not fit in the entry";
    if (e.sequence != expected) {
      if (out.empty()) {
        return where + "its sequence number " + Num(e.sequence) + " is not the log's own (" + Num(expected) + ")";
      }
      return where + "its sequence number " + Num(e.sequence) + " does not follow " + Num(expected - 1);
    }
    out.push_back(e);
    expected = e.sequence + 1;
    off += e.size;
  }
}

// Fills the report's format; reads the entries of a new-format log.
// Returns why the log is unusable, "" when it is usable.
std::string ExamineLog(LogAnalysis& a) {
  const LogFile& log = *a.file;
  LogReport& r = a.report;
  if (log.bytes.empty()) return "it is empty (0 bytes) and counts as absent";
  if (log.bytes.size() < kSectorSize) {
    return "it is shorter than 512 bytes (" + Num(log.bytes.size()) + " bytes) and counts as absent";
  }
  r.baseBlock = ParseBaseBlock(log.bytes);
  const BaseBlock& b = r.baseBlock;
  if (!b.hasSignature) return "its base-block copy has no \"regf\" signature";
  if (!b.ChecksumValid()) {
    return "its base-block copy has a wrong checksum (stored " + Hex(b.storedChecksum) + ", computed " +
           Hex(b.computedChecksum) + ")";
  }
  if (!b.SequencesEqual()) {
    return "its base-block copy's sequence numbers differ (" + Num(b.primarySequence) + " and " +
           Num(b.secondarySequence) + ")";
  }
  const ImageView v(log.bytes.data(), log.bytes.size());
  if (b.fileType == base_field::FileTypeNewLog) {
    r.format = LogFormat::New;
    r.entriesStopReason = ReadNewEntries(log, b, a.maxImage, a.entries);
    r.validEntries = static_cast<uint32_t>(a.entries.size());
    if (!a.entries.empty()) {
      r.firstSequence = a.entries.front().sequence;
      r.lastSequence = a.entries.back().sequence;
    }
    return "";
  }
  if (b.fileType != 1 && b.fileType != 2) {
    return "its file type " + Num(b.fileType) + " is not a log's (1 or 2 for the old format, 6 for the new)";
  }
  r.format = LogFormat::Old;
  uint32_t sig = 0;
  if (!v.U32(dirt_field::Signature, sig) || sig != dirt_field::SignatureValue)
    return "no \"DIRT\" signature at offset 512";
  if (b.hiveBinsDataSize == 0 || b.hiveBinsDataSize % kPageSize != 0) {
    return "its hive bins data size " + Num(b.hiveBinsDataSize) + " is not a non-zero multiple of 4096";
  }
  if (kBaseBlockSize + b.hiveBinsDataSize > a.maxImage) {
    return "its hive bins data size " + Num(b.hiveBinsDataSize) + " is more than the hive and its logs could hold";
  }
  // One bit per 512-byte page of the bins.
  const uint64_t bitmapBytes = b.hiveBinsDataSize / kSectorSize / 8;
  const uint8_t* bitmap = v.At(dirt_field::Bitmap, bitmapBytes);
  if (bitmap == nullptr) return "its dirty-page bitmap runs past the end of the file";
  for (uint64_t i = 0; i < bitmapBytes; ++i) r.dirtyPages += static_cast<uint64_t>(std::popcount(bitmap[i]));
  a.pagesStart = (dirt_field::Bitmap + bitmapBytes + kSectorSize - 1) / kSectorSize * kSectorSize;
  const uint64_t pagesHeld = v.size() > a.pagesStart ? (v.size() - a.pagesStart) / kSectorSize : 0;
  if (pagesHeld == 0) return "it holds no page after its dirty-page bitmap";
  if (r.dirtyPages == 0) return "its bitmap marks no dirty page";
  if (r.dirtyPages > pagesHeld) {
    return "its bitmap marks " + Num(r.dirtyPages) + " dirty pages but only " + Num(pagesHeld) + " follow it";
  }
  // Every byte the log adds to the hive comes in its pages.
  const uint64_t carried = RoundUpToPage(r.dirtyPages * kSectorSize);
  if (kBaseBlockSize + uint64_t{b.hiveBinsDataSize} > a.primaryBytes + carried) {
    return "its hive bins data size " + Num(b.hiveBinsDataSize) + " would grow the image past the primary's " +
           Num(a.primaryBytes) + " bytes and the " + Num(carried) + " bytes of pages it carries";
  }
  return "";
}

LogAnalysis AnalyzeLog(const LogFile& log, uint64_t maxImage, uint64_t primaryBytes) {
  LogAnalysis a;
  a.file = &log;
  a.maxImage = maxImage;
  a.primaryBytes = primaryBytes;
  a.report.name = log.name;
  a.report.size = log.bytes.size();
  a.report.role = LogRoleFromName(log.name);
  a.report.unusableReason = ExamineLog(a);
  a.report.usable = a.report.unusableReason.empty();
  if (!a.report.usable) a.report.format = LogFormat::Unusable;
  return a;
}

void SetVerdict(LogReport& r, LogVerdict verdict, std::string why) {
  r.verdict = verdict;
  r.verdictReason = std::move(why);
}

// The image the logs are applied to: the primary's bytes, at least a whole
// base block, with the log's base-block copy when the primary's is invalid.
void StartImage(std::vector<uint8_t>& image, std::span<const uint8_t> primary, const LogAnalysis* baseFrom) {
  image.assign(primary.begin(), primary.end());
  if (image.size() < kBaseBlockSize) image.resize(kBaseBlockSize, 0);
  if (baseFrom != nullptr) {
    std::memcpy(image.data(), baseFrom->file->bytes.data(), kSectorSize);
    Put32(image, base_field::FileType, base_field::FileTypePrimary);
  }
}

void GrowTo(std::vector<uint8_t>& image, uint64_t binsSize) {
  if (image.size() < kBaseBlockSize + binsSize) image.resize(kBaseBlockSize + binsSize, 0);
}

// The fields a log's base-block copy carries over.
void TakeLogFields(std::vector<uint8_t>& image, const BaseBlock& copy) {
  namespace f = base_field;
  Put32(image, f::RootCell, copy.rootCell);
  Put32(image, f::MinorVersion, copy.minorVersion);
  Put32(image, f::LastWritten, static_cast<uint32_t>(copy.lastWritten));
  Put32(image, f::LastWritten + 4, static_cast<uint32_t>(copy.lastWritten >> 32));
  Put32(image, f::Flags, copy.flags);
}

void FinishBaseBlock(std::vector<uint8_t>& image, uint32_t sequence) {
  Put32(image, base_field::PrimarySequence, sequence);
  Put32(image, base_field::SecondarySequence, sequence);
  Put32(image, base_field::Checksum, BaseBlockChecksum({image.data(), base_field::Checksum}));
}

// What the image may grow to: the primary's own bytes plus the bytes of the
// pages the applied entries carry, whatever a base block or entry claims.
struct GrowthLimit {
  uint64_t primaryBytes = 0;  // the primary's size, at least a base block, in whole pages
  uint64_t pageBytes = 0;     // carried by the entries applied so far
};

// Applies the log's entries in order until one would grow the image past
// `growth`; that one and those after it are dropped from the log's valid
// run, with the reason. Returns the number applied.
size_t ApplyNewLog(std::vector<uint8_t>& image, LogAnalysis& log, std::vector<bool>& dirtyPages, GrowthLimit& growth,
                   const EntryObserver& onEntry) {
  const std::vector<uint8_t>& bytes = log.file->bytes;
  const ImageView v(bytes.data(), bytes.size());
  LogReport& r = log.report;
  size_t applied = 0;
  for (const Entry& e : log.entries) {
    uint64_t carried = 0;
    for (uint32_t i = 0; i < e.pageCount; ++i) {
      uint32_t pageSize = 0;
      v.U32(e.offset + hvle::Header + hvle::PageReferenceSize * i + hvle::PageSize, pageSize);
      carried += pageSize;
    }
    const uint64_t allowed = growth.primaryBytes + RoundUpToPage(growth.pageBytes + carried);
    const uint64_t wanted = kBaseBlockSize + uint64_t{e.binsSize};
    if (wanted > image.size() && wanted > allowed) {
      r.entriesStopReason =
          "entry " + Num(applied + 1) + " at log offset " + Hex(e.offset) + ": its hive bins data size " +
          Num(e.binsSize) + " would grow the image past the primary's " + Num(growth.primaryBytes) + " bytes and the " +
          Num(RoundUpToPage(growth.pageBytes + carried)) + " bytes of pages the applied entries carry";
      break;
    }
    if (applied == 0) TakeLogFields(image, r.baseBlock);
    growth.pageBytes += carried;
    GrowTo(image, e.binsSize);
    if (dirtyPages.size() < e.binsSize / kPageSize) dirtyPages.resize(e.binsSize / kPageSize, false);
    uint64_t data = e.offset + hvle::Header + hvle::PageReferenceSize * e.pageCount;
    for (uint32_t i = 0; i < e.pageCount; ++i) {
      uint32_t pageOffset = 0, pageSize = 0;
      v.U32(e.offset + hvle::Header + hvle::PageReferenceSize * i + hvle::PageOffset, pageOffset);
      v.U32(e.offset + hvle::Header + hvle::PageReferenceSize * i + hvle::PageSize, pageSize);
      // Checked when read: inside the entry and inside the grown image.
      std::memcpy(image.data() + kBaseBlockSize + pageOffset, v.At(data, pageSize), pageSize);
      for (uint64_t p = pageOffset / kPageSize; p < (uint64_t{pageOffset} + pageSize) / kPageSize; ++p)
        dirtyPages[p] = true;
      data += pageSize;
      ++r.appliedPages;
    }
    Put32(image, base_field::HiveBinsDataSize, e.binsSize);
    uint32_t flags = 0;
    ImageView(image.data(), image.size()).U32(base_field::Flags, flags);
    Put32(image, base_field::Flags, (flags & ~base_field::FlagCarried) | (e.flags & base_field::FlagCarried));
    ++applied;
    if (onEntry) {
      // The next entry or the end finishes the base block again.
      FinishBaseBlock(image, e.sequence);
      onEntry(AppliedEntry{r.name, e.sequence, e.pageCount, image});
    }
  }
  if (applied == 0) {
    SetVerdict(r, LogVerdict::Refused, r.entriesStopReason);
    return 0;
  }
  if (applied < log.entries.size()) {
    log.entries.resize(applied);
    r.validEntries = static_cast<uint32_t>(applied);
    r.lastSequence = log.entries.back().sequence;
  }
  r.appliedEntries = static_cast<uint32_t>(applied);
  r.appliedFirstSequence = log.entries.front().sequence;
  r.appliedLastSequence = log.entries.back().sequence;
  SetVerdict(r, LogVerdict::Applied, "");
  return applied;
}

// Invalid dirty bins stay as they are; each damaged stretch is reported once.
void FindDamagedBins(const std::vector<uint8_t>& image, uint64_t binsSize, const std::vector<bool>& dirtyPages,
                     std::vector<DamagedBin>& out) {
  const ImageView v(image.data(), image.size());
  auto problemAt = [&](uint64_t rel) { return BinHeaderProblem(v, kBaseBlockSize + rel, rel, binsSize); };
  uint64_t cursor = 0;
  while (cursor < binsSize) {
    std::string problem = problemAt(cursor);
    if (problem.empty()) {
      uint32_t size = 0;
      v.U32(kBaseBlockSize + cursor + bin_field::Size, size);
      cursor += size;
      continue;
    }
    uint64_t next = cursor + kPageSize;
    while (next < binsSize && !problemAt(next).empty()) next += kPageSize;
    bool dirty = false;
    for (uint64_t p = cursor / kPageSize; p < next / kPageSize && p < dirtyPages.size() && !dirty; ++p)
      dirty = dirtyPages[p];
    if (dirty) out.push_back({cursor, problem});
    cursor = next;
  }
}

bool RecoverNew(std::span<const uint8_t> primary, std::vector<LogAnalysis*> candidates, Recovery& result,
                const EntryObserver& onEntry) {
  RecoveryReport& rep = result.report;
  std::vector<LogAnalysis*> withEntries;
  for (LogAnalysis* c : candidates) {
    if (c->entries.empty()) {
      SetVerdict(c->report, LogVerdict::Refused,
                 "it holds no whole, valid log entry (" + c->report.entriesStopReason + ")");
    } else {
      withEntries.push_back(c);
    }
  }
  std::vector<LogAnalysis*> order;
  const LogAnalysis* baseFrom = nullptr;
  if (!rep.primary.ChecksumValid()) {
    LogAnalysis* latest = nullptr;
    for (LogAnalysis* c : withEntries) {
      if (latest == nullptr || SequenceLater(c->report.lastSequence, latest->report.lastSequence)) latest = c;
    }
    if (latest == nullptr) return false;
    for (LogAnalysis* c : withEntries) {
      if (c != latest) {
        SetVerdict(c->report, LogVerdict::Unused,
                   "the primary's base block is invalid, so only the log with the latest entries (" +
                       latest->report.name + ") applies");
      }
    }
    order.push_back(latest);
    baseFrom = latest;
  } else {
    const uint32_t secondary = rep.primary.secondarySequence;
    for (LogAnalysis* c : withEntries) {
      if (SequenceLater(secondary, c->report.baseBlock.primarySequence)) {
        SetVerdict(c->report, LogVerdict::Stale,
                   "its sequence number " + Num(c->report.baseBlock.primarySequence) +
                       " is below the primary's secondary sequence number " + Num(secondary));
      } else {
        // Earlier sequence number first; a few logs at most, so insertion.
        auto at = order.begin();
        while (at != order.end() &&
               !SequenceLater((*at)->report.baseBlock.primarySequence, c->report.baseBlock.primarySequence)) {
          ++at;
        }
        order.insert(at, c);
      }
    }
    if (order.empty()) return false;
  }
  StartImage(result.image, primary, baseFrom);
  std::vector<bool> dirtyPages;
  GrowthLimit growth{RoundUpToPage(std::max<uint64_t>(primary.size(), kBaseBlockSize)), 0};
  if (ApplyNewLog(result.image, *order.front(), dirtyPages, growth, onEntry) == 0) {
    for (size_t i = 1; i < order.size(); ++i) {
      SetVerdict(order[i]->report, LogVerdict::Unused,
                 "the first log to apply, " + order.front()->report.name + ", was refused");
    }
    return false;
  }
  const LogAnalysis* lastLog = order.front();
  uint32_t last = order.front()->report.appliedLastSequence;
  for (size_t i = 1; i < order.size(); ++i) {
    LogReport& r = order[i]->report;
    if (r.firstSequence == last + 1) {
      if (ApplyNewLog(result.image, *order[i], dirtyPages, growth, onEntry) == 0) continue;
      last = r.appliedLastSequence;
      lastLog = order[i];
    } else if (!SequenceLater(r.lastSequence, last)) {
      SetVerdict(r, LogVerdict::Stale,
                 "its entries " + Num(r.firstSequence) + "-" + Num(r.lastSequence) +
                     " are not later than those applied from " + lastLog->report.name);
    } else {
      SetVerdict(r, LogVerdict::Refused,
                 "its entries start at " + Num(r.firstSequence) + ", not at " + Num(last + 1) +
                     ", so they do not follow on from " + lastLog->report.name);
    }
  }
  FinishBaseBlock(result.image, last);
  rep.appliedFormat = LogFormat::New;
  rep.baseBlockFromLog = baseFrom != nullptr;
  if (baseFrom != nullptr) rep.baseBlockLog = baseFrom->report.name;
  rep.finalSequence = last;
  ImageView(result.image.data(), result.image.size()).U32(base_field::HiveBinsDataSize, rep.finalHiveBinsDataSize);
  FindDamagedBins(result.image, rep.finalHiveBinsDataSize, dirtyPages, rep.damagedBins);
  return true;
}

bool RecoverOld(std::span<const uint8_t> primary, std::vector<LogAnalysis*> candidates, Recovery& result) {
  RecoveryReport& rep = result.report;
  LogAnalysis* chosen = nullptr;
  for (LogAnalysis* c : candidates) {
    if (chosen == nullptr || c->report.baseBlock.lastWritten > chosen->report.baseBlock.lastWritten) chosen = c;
  }
  if (chosen == nullptr) return false;
  for (LogAnalysis* c : candidates) {
    if (c != chosen) {
      SetVerdict(c->report, LogVerdict::Stale,
                 "its last written time " + FormatFileTime(c->report.baseBlock.lastWritten) + " is not later than " +
                     chosen->report.name + "'s");
    }
  }
  const bool primaryValid = rep.primary.ChecksumValid();
  uint64_t primaryTime = rep.primary.lastWritten;
  std::string primaryTimeSource = "the primary's";
  if (!primaryValid) {
    // The base block cannot be trusted: the first bin keeps a copy.
    const ImageView pv(primary.data(), primary.size());
    uint32_t sig = 0, lo = 0, hi = 0;
    primaryTime = 0;
    primaryTimeSource = "the primary's first bin's";
    if (pv.U32(kBaseBlockSize + bin_field::Signature, sig) && sig == bin_field::SignatureValue &&
        pv.U32(kBaseBlockSize + bin_field::LastWritten, lo) &&
        pv.U32(kBaseBlockSize + bin_field::LastWritten + 4, hi)) {
      primaryTime = (uint64_t{hi} << 32) | lo;
    }
  }
  LogReport& r = chosen->report;
  const BaseBlock& copy = r.baseBlock;
  if (copy.lastWritten < primaryTime) {
    SetVerdict(r, LogVerdict::Stale,
               "its last written time " + FormatFileTime(copy.lastWritten) + " is earlier than " + primaryTimeSource +
                   " " + FormatFileTime(primaryTime));
    return false;
  }
  std::vector<uint8_t>& image = result.image;
  StartImage(image, primary, primaryValid ? nullptr : chosen);
  GrowTo(image, copy.hiveBinsDataSize);
  const std::vector<uint8_t>& bytes = chosen->file->bytes;
  const ImageView logView(bytes.data(), bytes.size());
  const uint8_t* bitmap = logView.At(dirt_field::Bitmap, copy.hiveBinsDataSize / kSectorSize / 8);
  const uint64_t bits = copy.hiveBinsDataSize / kSectorSize;
  auto isSet = [bitmap](uint64_t k) { return (bitmap[k / 8] >> (k % 8)) & 1; };
  uint64_t logPage = 0;  // index of the next page in the log
  uint64_t chainCursor = 0;
  bool chainKnown = true;
  for (uint64_t k = 0; k < bits;) {
    if (!isSet(k)) {
      ++k;
      continue;
    }
    uint64_t run = 1;
    while (k + run < bits && isSet(k + run)) ++run;
    const uint64_t rel = kSectorSize * k;
    const uint64_t from = chosen->pagesStart + kSectorSize * logPage;
    // Follow the bins as they stand to learn whether this run starts one.
    const ImageView iv(image.data(), image.size());
    while (chainKnown && chainCursor < rel) {
      if (!BinHeaderProblem(iv, kBaseBlockSize + chainCursor, chainCursor, copy.hiveBinsDataSize).empty()) {
        chainKnown = false;
        break;
      }
      uint32_t size = 0;
      iv.U32(kBaseBlockSize + chainCursor + bin_field::Size, size);
      chainCursor += size;
    }
    uint32_t sig = 0;
    const bool startsBin =
        (chainKnown && chainCursor == rel) ||
        (rel % kPageSize == 0 && logView.U32(from + bin_field::Signature, sig) && sig == bin_field::SignatureValue);
    if (startsBin) {
      std::string problem = BinHeaderProblem(logView, from, rel, copy.hiveBinsDataSize);
      if (!problem.empty()) {
        rep.stoppedAtInvalidBin = true;
        rep.stopBin = {rel, problem};
        break;
      }
    }
    std::memcpy(image.data() + kBaseBlockSize + rel, logView.At(from, kSectorSize * run), kSectorSize * run);
    r.appliedPages += run;
    logPage += run;
    k += run;
  }
  if (r.appliedPages == 0) {
    SetVerdict(r, LogVerdict::Refused,
               "recovery stopped at an invalid bin at offset " + Hex(rep.stopBin.offset) + " (" + rep.stopBin.problem +
                   ") before any page applied");
    image.clear();
    return false;
  }
  Put32(image, base_field::HiveBinsDataSize, copy.hiveBinsDataSize);
  TakeLogFields(image, copy);
  FinishBaseBlock(image, copy.primarySequence);
  SetVerdict(r, LogVerdict::Applied, "");
  rep.appliedFormat = LogFormat::Old;
  rep.baseBlockFromLog = !primaryValid;
  if (!primaryValid) rep.baseBlockLog = r.name;
  rep.finalSequence = copy.primarySequence;
  rep.finalHiveBinsDataSize = copy.hiveBinsDataSize;
  return true;
}

}  // namespace

LogRole LogRoleFromName(const std::string& fileName) {
  return EndsWithNoCase(fileName, ".log") ? LogRole::Single : LogRole::Dual;
}

const char* LogFormatName(LogFormat format) {
  switch (format) {
    case LogFormat::Old:
      return "old";
    case LogFormat::New:
      return "new";
    case LogFormat::Unusable:
      break;
  }
  return "unusable";
}

const char* LogVerdictName(LogVerdict verdict) {
  switch (verdict) {
    case LogVerdict::Applied:
      return "applied";
    case LogVerdict::Stale:
      return "stale";
    case LogVerdict::Refused:
      return "refused";
    case LogVerdict::Unused:
      return "unused";
    case LogVerdict::NotNeeded:
      return "not needed";
  }
  return "refused";
}

uint64_t RecoveredImageLimit(std::span<const uint8_t> primary, const std::vector<LogFile>& logs) {
  // The primary's own bytes, not what its base block claims.
  uint64_t limit = RoundUpToPage(std::max<uint64_t>(primary.size(), kBaseBlockSize));
  for (const LogFile& log : logs) limit += RoundUpToPage(log.bytes.size());
  return std::min(limit, kMaxRecoveredImageSize);
}

Recovery RecoverFromLogs(std::span<const uint8_t> primary, const std::vector<LogFile>& logs,
                         const EntryObserver& onEntry) {
  Recovery result;
  RecoveryReport& rep = result.report;
  rep.primary = ParseBaseBlock(primary);
  rep.primarySize = primary.size();
  rep.dirty = IsDirty(rep.primary);
  rep.dirtyReason = DirtyReason(rep.primary);

  std::vector<LogAnalysis> analyses;
  analyses.reserve(logs.size());
  const uint64_t maxImage = RecoveredImageLimit(primary, logs);
  const uint64_t primaryBytes = RoundUpToPage(std::max<uint64_t>(primary.size(), kBaseBlockSize));
  for (const LogFile& log : logs) analyses.push_back(AnalyzeLog(log, maxImage, primaryBytes));
  auto finish = [&]() {
    for (LogAnalysis& a : analyses) rep.logs.push_back(std::move(a.report));
    result.applied = rep.applied;
    if (!rep.applied) result.image.clear();
    return std::move(result);
  };
  for (LogAnalysis& a : analyses) {
    if (!a.report.usable) SetVerdict(a.report, LogVerdict::Refused, a.report.unusableReason);
  }
  if (!rep.primary.complete) {
    rep.refusal = "the primary file is too short (" + Num(primary.size()) + " bytes) to hold a base block";
    for (LogAnalysis& a : analyses) {
      if (a.report.usable) SetVerdict(a.report, LogVerdict::Unused, rep.refusal);
    }
    return finish();
  }
  if (!rep.dirty) {
    for (LogAnalysis& a : analyses) {
      if (a.report.usable) SetVerdict(a.report, LogVerdict::NotNeeded, "the hive is clean");
    }
    return finish();
  }

  bool dualUsable = false;
  for (const LogAnalysis& a : analyses) dualUsable |= a.report.usable && a.report.role == LogRole::Dual;
  const LogRole takingPart = dualUsable ? LogRole::Dual : LogRole::Single;
  bool anyNew = false;
  for (const LogAnalysis& a : analyses) {
    anyNew |= a.report.usable && a.report.role == takingPart && a.report.format == LogFormat::New;
  }
  std::vector<LogAnalysis*> candidates;
  for (LogAnalysis& a : analyses) {
    if (!a.report.usable) continue;
    if (a.report.role != takingPart) {
      SetVerdict(a.report, LogVerdict::Unused, "a usable .LOG1 or .LOG2 is present; .LOG is used only when neither is");
    } else if (anyNew && a.report.format == LogFormat::Old) {
      SetVerdict(a.report, LogVerdict::Unused, "it is in the old format while another log is in the new format");
    } else {
      candidates.push_back(&a);
    }
  }
  rep.applied = anyNew ? RecoverNew(primary, candidates, result, onEntry) : RecoverOld(primary, candidates, result);
  if (!rep.applied) {
    rep.refusal = candidates.empty() && logs.empty() ? "no transaction log was found"
                  : candidates.empty()               ? "no usable transaction log was found"
                                                     : "no transaction log applies";
  }
  return finish();
}

}  // namespace cellbrook
