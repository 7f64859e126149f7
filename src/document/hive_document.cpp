#include "document/hive_document.h"

#include <new>
#include <optional>
#include <utility>

#include "recover/logs/base_block.h"
#include "recover/logs/log_files.h"

namespace cellbrook {

struct HiveDocument::State {
  // The bytes and the view live here, on the heap: moving the document
  // moves only the pointer to them, so the view never dangles. An open
  // empties this one in place, so their addresses stay.
  HiveBlock block;
  HiveImage image;
  RecoveryReport report;           // what the logs hold and what applies
  std::vector<uint8_t> recovered;  // the logs' image while Offered
  std::string path;
  bool inMemory = false;
  bool replaced = false;  // ShowImage: neither the file nor the logs' image
  LogChoice choice;
  LogState logs = LogState::None;
  DamageReport damage;
  std::optional<DeletedScan> deleted;
};

namespace {

const RecoveryReport kNoReport;
const LogChoice kNoChoice;
const HiveImage kNoImage;
const DamageReport kNoDamage;
const std::string kNoPath;

}  // namespace

HiveDocument::HiveDocument() : state_(std::make_unique<State>()) {}
HiveDocument::~HiveDocument() = default;

HiveDocument::HiveDocument(HiveDocument&& other) noexcept : state_(std::move(other.state_)) {}

HiveDocument& HiveDocument::operator=(HiveDocument&& other) noexcept {
  if (this != &other) state_ = std::move(other.state_);
  return *this;
}

LoadOutcome HiveDocument::Open(const std::string& path, const LogChoice& logs) {
  Close();
  State& state = *state_;
  const LoadOutcome outcome = LoadHiveFile(path, state.block, state.image);
  if (outcome != LoadOutcome::Loaded) {
    Close();
    return outcome;
  }
  state.path = path;
  state.choice = logs;
  try {
    // Without logs the report still describes the base block.
    const std::span<const uint8_t> primary(state.block.data(), state.block.size);
    cellbrook::Recovery recovery = logs.use ? RecoverHive(primary, path, logs.named.empty() ? nullptr : &logs.named)
                                            : RecoverFromLogs(primary, {});
    state.report = std::move(recovery.report);
    state.recovered = std::move(recovery.image);
    state.logs = recovery.applied ? LogState::Offered : LogState::None;
  } catch (const std::bad_alloc&) {
    state.report = RecoveryReport{};
    state.report.dirty = true;
    state.report.refusal = "there is not enough memory to apply the transaction logs";
    state.recovered.clear();
    state.logs = LogState::None;
  }
  return outcome;
}

bool HiveDocument::OpenInMemory(std::vector<uint8_t> bytes, const std::string& caption) {
  Close();
  State& state = *state_;
  RecoveryReport& report = state.report;
  report.primary = ParseBaseBlock(bytes);
  report.primarySize = bytes.size();
  report.dirty = IsDirty(report.primary);
  report.dirtyReason = DirtyReason(report.primary);
  if (!state.block.Adopt(std::move(bytes), state.image)) {
    Close();
    return false;
  }
  state.path = caption;
  state.inMemory = true;
  return true;
}

void HiveDocument::Close() {
  if (!state_) state_ = std::make_unique<State>();
  *state_ = State{};
}

bool HiveDocument::Loaded() const { return state_ && state_->block.Loaded(); }
bool HiveDocument::InMemory() const { return state_ && state_->inMemory; }
const std::string& HiveDocument::Path() const { return state_ ? state_->path : kNoPath; }

std::string HiveDocument::FileName() const {
  const std::string& path = Path();
  return path.substr(path.find_last_of('/') + 1);
}

const HiveImage& HiveDocument::Hive() const { return state_ ? state_->image : kNoImage; }

std::span<const uint8_t> HiveDocument::Bytes() const {
  if (!state_) return {};
  return {state_->block.data(), state_->block.size};
}

std::span<const uint8_t> HiveDocument::FileBytes() const {
  if (!state_ || state_->logs == LogState::Applied || state_->replaced) return {};
  return Bytes();
}

std::span<const uint8_t> HiveDocument::RecoveredBytes() const {
  if (!state_ || state_->logs != LogState::Offered) return {};
  return state_->recovered;
}

const RecoveryReport& HiveDocument::Recovery() const { return state_ ? state_->report : kNoReport; }
const LogChoice& HiveDocument::Choice() const { return state_ ? state_->choice : kNoChoice; }
LogState HiveDocument::Logs() const { return state_ ? state_->logs : LogState::None; }

bool HiveDocument::ApplyLogs() {
  if (!state_ || state_->logs != LogState::Offered) return false;
  if (!state_->block.Adopt(std::exchange(state_->recovered, {}), state_->image)) {
    state_->logs = LogState::Unreadable;
    return false;
  }
  state_->logs = LogState::Applied;
  state_->deleted.reset();  // of the bytes no longer shown
  return true;
}

void HiveDocument::DeclineLogs() { TakeRecoveredBytes(); }

std::vector<uint8_t> HiveDocument::TakeRecoveredBytes() {
  if (!state_ || state_->logs != LogState::Offered) return {};
  state_->logs = LogState::Declined;
  return std::exchange(state_->recovered, {});
}

bool HiveDocument::ShowImage(std::vector<uint8_t> image) {
  if (!Loaded()) return false;
  HiveBlock block;
  HiveImage view;
  if (!block.Adopt(std::move(image), view)) return false;
  TakeRecoveredBytes();
  state_->deleted.reset();           // of the bytes no longer shown
  state_->block = std::move(block);  // the vector's buffer moves, and the view with it
  state_->image = view;
  state_->replaced = true;
  return true;
}

const DamageReport& HiveDocument::Damage() const { return state_ ? state_->damage : kNoDamage; }

void HiveDocument::SetDamage(DamageReport damage) {
  if (Loaded()) state_->damage = std::move(damage);
}

const DeletedScan& HiveDocument::Deleted() const {
  static const DeletedScan kNone;
  if (!Loaded()) return kNone;
  if (!state_->deleted) {
    const HiveImage& image = state_->image;
    state_->deleted.emplace(ScanDeletedRecords(image));
  }
  return *state_->deleted;
}

bool HiveDocument::DeletedScanned() const { return state_ && state_->deleted.has_value(); }

}  // namespace cellbrook
