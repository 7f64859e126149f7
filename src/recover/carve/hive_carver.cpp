#include "recover/carve/hive_carver.h"

#include <algorithm>
#include <cinttypes>
#include <cstdio>
#include <map>
#include <queue>

#include "hive/hive_file.h"
#include "hive/hive_reader.h"
#include "hive/image_view.h"

namespace cellbrook {
namespace {

constexpr uint64_t kBinUnit = kPageSize;
constexpr uint64_t kNoLimit = UINT64_MAX;
// Bins data a hive file can hold: its size is a 32-bit number.
constexpr uint64_t kMaxBinsData = (kMaxHiveFileSize - kBaseBlockSize) / kBinUnit * kBinUnit;
// Hives that may wait for one continuing offset before a fragment counts as
// ambiguous without weighing each.
constexpr size_t kMaxContenders = 64;

std::string Hex(uint64_t v) {
  char b[24];
  std::snprintf(b, sizeof b, "0x%" PRIx64, v);
  return b;
}

struct Run {
  uint64_t start = 0;
  uint32_t first = 0;    // offset field of its first bin
  uint64_t length = 0;   // bytes the bins declare
  uint64_t present = 0;  // of them inside the image
  uint32_t bins = 0;
  uint64_t limit = kNoLimit;  // the base block's bins size, for a run right after one
  int64_t base = -1;          // index of that base block
  bool open = true;
};

struct BaseSeen {
  uint64_t offset = 0;
  BaseBlock block;
  int64_t run = -1;
};

bool UsableBinsSize(uint32_t size) { return size != 0 && size % kBinUnit == 0 && size <= kMaxBinsData; }

// The scan: base blocks and runs of bins whose offset fields run on.
class Scanner {
 public:
  Scanner(ImageSource& image, const CarveOptions& options, CarveReport& report)
      : image_(image), options_(options), report_(report) {}

  bool Scan() {
    const uint64_t size = image_.Size();
    const size_t blockBytes = std::max<size_t>(kSectorSize, options_.blockBytes / kSectorSize * kSectorSize);
    std::vector<uint8_t> block(blockBytes);
    for (uint64_t at = 0; at < size; at += blockBytes) {
      if (options_.cancel != nullptr && options_.cancel->load()) {
        report_.cancelled = true;
        return false;
      }
      const size_t n = static_cast<size_t>(std::min<uint64_t>(blockBytes, size - at));
      if (!image_.Read(at, block.data(), n)) {
        report_.readFailed = true;
        report_.readFailedAt = at;
        return false;
      }
      for (size_t s = 0; s + 4 <= n; s += kSectorSize) {
        const uint32_t sig = ImageView::Le32(block.data() + s);
        if (sig == bin_field::SignatureValue) {
          Bin(at + s, block.data() + s, n - s);
        } else if (sig == base_field::SignatureValue) {
          Base(at + s, block.data() + s, n - s);
        }
      }
      if (options_.progress) options_.progress(at + n, size);
    }
    return true;
  }

  std::vector<Run> runs;
  std::vector<BaseSeen> bases;

 private:
  void Base(uint64_t at, const uint8_t* p, size_t room) {
    const BaseBlock b = ParseBaseBlock({p, std::min<size_t>(room, kSectorSize)});
    if (!b.complete) return;
    ++report_.baseBlocksSeen;
    if (b.fileType != base_field::FileTypePrimary) {
      ++report_.logHeadersSkipped;
      return;
    }
    bases.push_back({at, b, -1});
  }

  void Bin(uint64_t at, const uint8_t* p, size_t room) {
    if (room < bin_field::HeaderSize + 4) return;
    const ImageView v(p, room);
    uint32_t offset = 0, size = 0, firstCell = 0;
    v.U32(bin_field::Offset, offset);
    v.U32(bin_field::Size, size);
    v.U32(bin_field::HeaderSize, firstCell);
    if (offset % kBinUnit != 0 || size < kBinUnit || size % kBinUnit != 0) return;
    // Every bin is covered by cells, so its first cell's size is plausible.
    const uint32_t cell = static_cast<int32_t>(firstCell) < 0 ? 0u - firstCell : firstCell;
    if (cell < cell_field::MinSize || cell % cell_field::Alignment != 0 || cell > size - bin_field::HeaderSize) return;
    ++report_.binsSeen;
    // Runs that expected a bin before here have ended.
    while (!expecting_.empty() && expecting_.begin()->first < at) {
      runs[expecting_.begin()->second].open = false;
      expecting_.erase(expecting_.begin());
    }
    const uint64_t imageSize = image_.Size();
    const uint64_t present = std::min<uint64_t>(size, imageSize - at);
    // Runs expecting a bin here, with this offset field.
    auto range = expecting_.equal_range(at);
    for (auto it = range.first; it != range.second; ++it) {
      Run& r = runs[it->second];
      if (uint64_t{r.first} + r.length != offset || r.length + size > r.limit) continue;
      r.length += size;
      r.present += present;
      ++r.bins;
      const size_t index = it->second;
      expecting_.erase(it);
      if (present == size && r.length < r.limit && r.length < kMaxBinsData) {
        expecting_.emplace(at + size, index);
      } else {
        r.open = false;
      }
      return;
    }
    if (runs.size() >= options_.maxRuns) {
      report_.runsCapped = true;
      return;
    }
    Run r;
    r.start = at;
    r.first = offset;
    r.length = size;
    r.present = present;
    r.bins = 1;
    // A run of bins from offset 0 right after a base block belongs to it.
    if (offset == 0 && at >= kBaseBlockSize) {
      for (size_t i = bases.size(); i-- > 0 && bases[i].offset + kBaseBlockSize >= at;) {
        if (bases[i].offset + kBaseBlockSize == at && bases[i].run < 0) {
          r.base = static_cast<int64_t>(i);
          bases[i].run = static_cast<int64_t>(runs.size());
          if (UsableBinsSize(bases[i].block.hiveBinsDataSize)) r.limit = bases[i].block.hiveBinsDataSize;
          break;
        }
      }
    }
    runs.push_back(r);
    if (present == size && r.length < r.limit) expecting_.emplace(at + size, runs.size() - 1);
  }

  ImageSource& image_;
  const CarveOptions& options_;
  CarveReport& report_;
  std::multimap<uint64_t, size_t> expecting_;  // image offset -> run that goes on there
};

// A hive being put together, and where it waits for its next fragment.
struct Building {
  CarvedHive hive;
  uint64_t limit = kNoLimit;  // bins data expected (the base block's), or open
  bool done = false;
  bool cut = false;      // the image ends inside its last bin
  uint64_t breakAt = 0;  // image offset after its last fragment
  bool waiting = false;
  uint64_t Next() const { return hive.binsFound; }
};

struct Waiter {
  uint64_t after;  // image offset from which a fragment may continue it
  size_t hive;
  bool operator>(const Waiter& o) const { return after > o.after; }
};

class Grouper {
 public:
  Grouper(ImageSource& image, std::vector<Run>& runs, std::vector<BaseSeen>& bases, CarveReport& report)
      : image_(image), runs_(runs), bases_(bases), report_(report) {}

  void Group() {
    size_t b = 0;
    for (size_t r = 0; r <= runs_.size(); ++r) {
      const uint64_t at = r < runs_.size() ? runs_[r].start : UINT64_MAX;
      for (; b < bases_.size() && bases_[b].offset <= at; ++b) StartFromBase(b);
      if (r == runs_.size()) break;
      Admit(at);
      if (runs_[r].base < 0) Place(r);
    }
    for (Building& h : hives_) Finish(h);
    std::vector<CarvedHive> out;
    out.reserve(hives_.size());
    for (Building& h : hives_) out.push_back(std::move(h.hive));
    std::stable_sort(out.begin(), out.end(),
                     [](const CarvedHive& x, const CarvedHive& y) { return x.offset < y.offset; });
    report_.hives = std::move(out);
  }

 private:
  void StartFromBase(size_t b) {
    const BaseSeen& base = bases_[b];
    Building h;
    h.hive.offset = base.offset;
    h.hive.baseBlockFound = true;
    h.hive.baseBlock = base.block;
    h.hive.name = base.block.fileName;
    if (UsableBinsSize(base.block.hiveBinsDataSize)) {
      h.limit = base.block.hiveBinsDataSize;
    } else {
      h.hive.notes.push_back("its base block's hive bins data size " + Hex(base.block.hiveBinsDataSize) +
                             " is not usable; the bins found are taken as they run");
    }
    if (!base.block.ChecksumValid()) h.hive.notes.push_back("its base block checksum is wrong (kept as found)");
    if (!base.block.SequencesEqual()) {
      h.hive.notes.push_back("its base block's sequence numbers differ (" + std::to_string(base.block.primarySequence) +
                             " and " + std::to_string(base.block.secondarySequence) + "): the hive was being written");
    }
    hives_.push_back(std::move(h));
    const size_t index = hives_.size() - 1;
    if (base.run >= 0) {
      Join(index, static_cast<size_t>(base.run));
    } else {
      hives_[index].breakAt = base.offset + kBaseBlockSize;
      hives_[index].hive.notes.push_back("no hive bin follows its base block");
      Wait(index);
    }
  }

  // Bins of run `r` join hive `h`, up to the bins data it expects.
  void Join(size_t h, size_t r) {
    Building& b = hives_[h];
    Run& run = runs_[r];
    const uint64_t room = std::min(b.limit, kMaxBinsData) - b.hive.binsFound;
    uint64_t take = run.length, bins = run.bins;
    if (take > room) {
      // Whole bins only, read again from the image.
      take = 0;
      bins = 0;
      uint8_t header[bin_field::HeaderSize];
      while (take < room && image_.Read(run.start + take, header, sizeof header)) {
        const uint32_t size = ImageView::Le32(header + bin_field::Size);
        if (size == 0 || take + size > room) break;
        take += size;
        ++bins;
      }
      b.hive.notes.push_back("the bins at image offset " + Hex(run.start + take) +
                             " go on past the hive bins data size and are left out");
      if (take == 0) {
        b.done = true;
        return;
      }
    }
    CarvedFragment f;
    f.imageOffset = run.start;
    f.binsOffset = run.first;
    f.length = take;
    f.present = std::min(take, run.present);
    f.bins = static_cast<uint32_t>(bins);
    b.hive.fragments.push_back(f);
    b.hive.binsFound += take;
    b.breakAt = run.start + take;
    if (b.hive.fragments.size() > 1) {
      b.hive.notes.push_back("bins from offset " + Hex(run.first) + " joined from image offset " + Hex(run.start) +
                             " (the nearest bins after the break that continue it)");
    }
    if (f.present < f.length) {
      b.cut = true;
      b.done = true;
      return;
    }
    if (b.hive.binsFound >= b.limit || b.hive.binsFound >= kMaxBinsData || take == 0) {
      b.done = true;
      return;
    }
    Wait(h);
  }

  void Wait(size_t h) {
    hives_[h].waiting = true;
    pending_.push({hives_[h].breakAt, h});
  }

  // Hives whose break lies at or before `at` may take fragments from here on.
  void Admit(uint64_t at) {
    while (!pending_.empty() && pending_.top().after <= at) {
      const size_t h = pending_.top().hive;
      pending_.pop();
      waiting_[static_cast<uint32_t>(hives_[h].Next())].push_back(h);
    }
  }

  void Place(size_t r) {
    Run& run = runs_[r];
    auto found = waiting_.find(run.first);
    std::vector<size_t> none;
    std::vector<size_t>& contenders = found != waiting_.end() ? found->second : none;
    if (contenders.empty()) {
      if (run.first == 0) {
        StartHeaderless(r, "");
      } else {
        ++report_.strayFragments;
      }
      return;
    }
    size_t chosen = SIZE_MAX;
    if (contenders.size() == 1) {
      chosen = 0;
    } else if (contenders.size() <= kMaxContenders) {
      chosen = ByFit(contenders, run.length);
    }
    if (chosen == SIZE_MAX) {
      std::string others;
      if (contenders.size() <= kMaxContenders) {
        for (size_t c : contenders) others += (others.empty() ? "" : ", ") + Hex(hives_[c].hive.offset);
        for (size_t c : contenders) {
          hives_[c].hive.notes.push_back("the bins at image offset " + Hex(run.start) +
                                         " would continue it but also the hives at " + others +
                                         ": left out as ambiguous");
        }
      }
      if (run.first == 0) {
        StartHeaderless(r, others.empty() ? "many base blocks" : "the base blocks at " + others);
      } else {
        ++report_.strayFragments;
      }
      return;
    }
    const size_t h = contenders[chosen];
    contenders.erase(contenders.begin() + static_cast<std::ptrdiff_t>(chosen));
    hives_[h].waiting = false;
    Join(h, r);
  }

  // Of several hives waiting for the same offset, the one the fragment fits:
  // exactly what it lacks, else the only one with room for it.
  size_t ByFit(const std::vector<size_t>& contenders, uint64_t length) const {
    size_t exact = SIZE_MAX, exactCount = 0, room = SIZE_MAX, roomCount = 0;
    for (size_t i = 0; i < contenders.size(); ++i) {
      const Building& b = hives_[contenders[i]];
      const uint64_t lacking = b.limit == kNoLimit ? kNoLimit : b.limit - b.hive.binsFound;
      if (lacking == length) {
        exact = i;
        ++exactCount;
      }
      if (lacking >= length) {
        room = i;
        ++roomCount;
      }
    }
    if (exactCount == 1) return exact;
    if (exactCount == 0 && roomCount == 1) return room;
    return SIZE_MAX;
  }

  void StartHeaderless(size_t r, const std::string& alsoFor) {
    Building h;
    h.hive.offset = runs_[r].start;
    h.hive.baseBlockFound = false;
    h.hive.notes.push_back("no base block before its first bin: base block rebuilt");
    if (!alsoFor.empty()) {
      h.hive.notes.push_back("these bins could also belong to " + alsoFor +
                             " (ambiguous): kept as a hive of their own");
    }
    hives_.push_back(std::move(h));
    Join(hives_.size() - 1, r);
  }

  void Finish(Building& b) {
    CarvedHive& h = b.hive;
    if (h.fragments.size() > 1) h.notes.push_back(std::to_string(h.fragments.size()) + " fragments");
    uint64_t present = 0;
    for (const CarvedFragment& f : h.fragments) present += f.present;
    if (b.cut) {
      h.notes.push_back("the image ends inside its bins: written as far as the image goes");
    }
    if (h.baseBlockFound) {
      h.binsExpected = b.limit == kNoLimit ? h.binsFound : b.limit;
      if (!b.cut && h.binsFound < h.binsExpected) {
        h.notes.push_back("no bins continuing offset " + Hex(h.binsFound) + " found after image offset " +
                          Hex(b.breakAt) + ": " + std::to_string(h.binsFound) + " of " +
                          std::to_string(h.binsExpected) + " bytes of hive bins data found");
      }
      h.complete = !b.cut && h.binsFound == h.binsExpected;
    } else {
      h.binsExpected = h.binsFound;
      h.complete = !b.cut;
      Rebuild(h);
    }
    h.binsFound = present;
  }

  // A base block for a headerless hive, from what its cells show.
  void Rebuild(CarvedHive& h) {
    std::vector<uint8_t> bins;
    uint32_t root = kNoCell, roots = 0;
    bool lh = false, db = false;
    uint64_t firstTime = 0;
    uint64_t rel = 0;
    uint64_t whole = 0;  // bins data wholly present
    for (const CarvedFragment& f : h.fragments) {
      // Bin by bin, so that memory holds one bin at a time.
      for (uint64_t done = 0; done < f.present;) {
        uint8_t header[bin_field::HeaderSize];
        if (f.present - done < sizeof header || !image_.Read(f.imageOffset + done, header, sizeof header)) break;
        const uint32_t size = ImageView::Le32(header + bin_field::Size);
        if (size < kBinUnit || size > f.present - done) break;
        if (rel == 0)
          firstTime = uint64_t{ImageView::Le32(header + bin_field::LastWritten)} |
                      uint64_t{ImageView::Le32(header + bin_field::LastWritten + 4)} << 32;
        bins.resize(size);
        if (!image_.Read(f.imageOffset + done, bins.data(), size)) break;
        const ImageView v(bins.data(), size);
        for (uint64_t c = bin_field::HeaderSize; c + cell_field::MinSize <= size;) {
          const int32_t raw = static_cast<int32_t>(ImageView::Le32(bins.data() + c));
          const uint64_t cellSize = raw < 0 ? uint64_t{0} - static_cast<int64_t>(raw) : static_cast<uint64_t>(raw);
          if (cellSize < cell_field::MinSize || cellSize % cell_field::Alignment != 0 || cellSize > size - c) break;
          uint16_t sig = 0, flags = 0;
          v.U16(c + cell_field::Signature, sig);
          if (raw < 0) {
            if (sig == key_field::SignatureValue && v.U16(c + key_field::Flags, flags) &&
                (flags & key_field::FlagRoot) && cellSize >= key_field::Name) {
              if (roots++ == 0) root = static_cast<uint32_t>(rel + c);
            }
            if (sig == index_field::HashLeaf) lh = true;
            if (sig == big_data_field::SignatureValue) db = true;
          }
          c += cellSize;
        }
        rel += size;
        done += size;
        whole = rel;
      }
    }
    const uint32_t minor = lh ? index_field::HashLeafMinorVersion : db ? big_data_field::MinorVersion : 3;
    std::vector<uint8_t>& out = h.rebuiltBlock;
    out.assign(kBaseBlockSize, 0);
    auto put = [&out](uint64_t at, uint32_t v) {
      for (int i = 0; i < 4; ++i) out[at + i] = static_cast<uint8_t>(v >> (8 * i));
    };
    namespace f = base_field;
    put(f::Signature, f::SignatureValue);
    put(f::PrimarySequence, 1);
    put(f::SecondarySequence, 1);
    put(f::LastWritten, static_cast<uint32_t>(firstTime));
    put(f::LastWritten + 4, static_cast<uint32_t>(firstTime >> 32));
    put(f::MajorVersion, 1);
    put(f::MinorVersion, minor);
    put(f::FileType, base_field::FileTypePrimary);
    put(f::FileFormat, 1);
    put(f::RootCell, root);
    put(f::HiveBinsDataSize, static_cast<uint32_t>(whole));
    put(f::ClusteringFactor, 1);
    put(base_field::Checksum, BaseBlockChecksum({out.data(), kSectorSize}));
    h.baseBlock = ParseBaseBlock(out);
    h.binsExpected = whole;
    h.notes.push_back(std::string("version 1.") + std::to_string(minor) +
                      (lh   ? " (\"lh\" subkey indexes found)"
                       : db ? " (big-data cells found, no \"lh\" indexes)"
                            : " (no \"lh\" indexes or big-data cells found)"));
    h.notes.push_back("hive bins data size " + Hex(whole) + ": the bins found");
    h.notes.push_back("last written time taken from its first bin");
    if (roots == 0) {
      h.notes.push_back("no key node flagged as root found: root cell left empty");
      h.complete = false;
    } else {
      h.notes.push_back("root cell " + Hex(root) + ": the key node flagged as root" +
                        (roots > 1 ? " (the first of " + std::to_string(roots) + ")" : ""));
    }
  }

  ImageSource& image_;
  std::vector<Run>& runs_;
  std::vector<BaseSeen>& bases_;
  CarveReport& report_;
  std::vector<Building> hives_;
  std::priority_queue<Waiter, std::vector<Waiter>, std::greater<Waiter>> pending_;
  std::map<uint32_t, std::vector<size_t>> waiting_;  // next offset -> hives, in order of break
};

}  // namespace

CarveReport CarveImage(ImageSource& image, const CarveOptions& options) {
  CarveReport report;
  report.imageSize = image.Size();
  Scanner scanner(image, options, report);
  scanner.Scan();
  report.runs = scanner.runs.size();
  if (report.cancelled || report.readFailed) return report;
  Grouper(image, scanner.runs, scanner.bases, report).Group();
  return report;
}

bool AssembleHive(ImageSource& image, const CarvedHive& hive, std::vector<uint8_t>& out) {
  uint64_t total = kBaseBlockSize;
  for (const CarvedFragment& f : hive.fragments) total += f.present;
  if (total > kMaxHiveFileSize) return false;
  out.assign(static_cast<size_t>(total), 0);
  if (hive.baseBlockFound) {
    const uint64_t room = std::min<uint64_t>(kBaseBlockSize, image.Size() - std::min(image.Size(), hive.offset));
    if (!image.Read(hive.offset, out.data(), static_cast<size_t>(room))) return false;
  } else {
    if (hive.rebuiltBlock.size() != kBaseBlockSize) return false;
    std::copy(hive.rebuiltBlock.begin(), hive.rebuiltBlock.end(), out.begin());
  }
  uint64_t at = kBaseBlockSize;
  for (const CarvedFragment& f : hive.fragments) {
    if (!image.Read(f.imageOffset, out.data() + at, static_cast<size_t>(f.present))) return false;
    at += f.present;
  }
  return true;
}

bool StartsWithHiveBins(std::span<const uint8_t> bytes) {
  const ImageView v(bytes.data(), bytes.size());
  for (uint64_t at : {uint64_t{0}, kBaseBlockSize}) {
    uint32_t sig = 0, offset = 1, size = 0;
    if (v.U32(at, sig) && sig == bin_field::SignatureValue && v.U32(at + bin_field::Offset, offset) &&
        v.U32(at + bin_field::Size, size) && offset == 0 && size >= kBinUnit && size % kBinUnit == 0) {
      return true;
    }
  }
  return false;
}

std::string CarvedFileName(const CarvedHive& hive) {
  // The field often holds a path; its last part, kept to characters safe in
  // any file name.
  std::string name = hive.name;
  const size_t cut = name.find_last_of("\\/");
  if (cut != std::string::npos) name = name.substr(cut + 1);
  for (char& c : name) {
    const bool safe =
        (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '.' || c == '_' || c == '-';
    if (!safe) c = '_';
  }
  if (name.empty() || name.find_first_not_of('.') == std::string::npos) name = "hive";
  char offset[24];
  std::snprintf(offset, sizeof offset, "0x%010" PRIx64, hive.offset);
  return std::string(offset) + "-" + name + ".hive";
}

}  // namespace cellbrook
