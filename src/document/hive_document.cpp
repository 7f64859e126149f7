#include "document/hive_document.h"

#include <optional>

#include "recover/base_block.h"

namespace cellbrook {

struct HiveDocument::State {
  // The bytes and the view live here, on the heap: moving the document
  // moves only the pointer to them, so the view never dangles.
  OpenedHive hive;
  std::string path;
  bool inMemory = false;
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

HiveDocument::HiveDocument() = default;
HiveDocument::~HiveDocument() = default;

HiveDocument::HiveDocument(HiveDocument&& other) noexcept : state_(std::move(other.state_)) {}

HiveDocument& HiveDocument::operator=(HiveDocument&& other) noexcept {
  if (this != &other) state_ = std::move(other.state_);
  return *this;
}

LoadOutcome HiveDocument::Open(const std::string& path, const LogChoice& logs) {
  Close();
  auto state = std::make_unique<State>();
  const LoadOutcome outcome = OpenHiveFile(path, logs, state->hive);
  if (outcome != LoadOutcome::Loaded) return outcome;
  state->path = path;
  state->choice = logs;
  state->logs = state->hive.recoverable ? LogState::Offered : LogState::None;
  state_ = std::move(state);
  return outcome;
}

bool HiveDocument::OpenInMemory(std::vector<uint8_t> bytes, const std::string& caption) {
  Close();
  auto state = std::make_unique<State>();
  RecoveryReport& report = state->hive.report;
  report.primary = ParseBaseBlock(bytes);
  report.primarySize = bytes.size();
  report.dirty = IsDirty(report.primary);
  report.dirtyReason = DirtyReason(report.primary);
  if (!state->hive.block.Adopt(std::move(bytes), state->hive.image)) return false;
  state->path = caption;
  state->inMemory = true;
  state_ = std::move(state);
  return true;
}

void HiveDocument::Close() { state_.reset(); }

bool HiveDocument::Loaded() const { return state_ != nullptr; }
bool HiveDocument::InMemory() const { return state_ && state_->inMemory; }
const std::string& HiveDocument::Path() const { return state_ ? state_->path : kNoPath; }

std::string HiveDocument::FileName() const {
  const std::string& path = Path();
  return path.substr(path.find_last_of('/') + 1);
}

const HiveImage& HiveDocument::Hive() const { return state_ ? state_->hive.image : kNoImage; }

std::span<const uint8_t> HiveDocument::Bytes() const {
  if (!state_) return {};
  return {state_->hive.block.data(), state_->hive.block.size};
}

std::span<const uint8_t> HiveDocument::FileBytes() const {
  if (!state_ || state_->logs == LogState::Applied) return {};
  return Bytes();
}

std::span<const uint8_t> HiveDocument::RecoveredBytes() const {
  if (!state_ || state_->logs != LogState::Offered) return {};
  return state_->hive.recovered;
}

const RecoveryReport& HiveDocument::Recovery() const { return state_ ? state_->hive.report : kNoReport; }
const LogChoice& HiveDocument::Choice() const { return state_ ? state_->choice : kNoChoice; }
LogState HiveDocument::Logs() const { return state_ ? state_->logs : LogState::None; }

bool HiveDocument::ApplyLogs() {
  if (!state_ || state_->logs != LogState::Offered) return false;
  if (!ApplyRecovery(state_->hive)) {
    state_->logs = LogState::Unreadable;
    return false;
  }
  state_->logs = LogState::Applied;
  state_->deleted.reset();  // of the bytes no longer shown
  return true;
}

void HiveDocument::DeclineLogs() {
  if (!state_ || state_->logs != LogState::Offered) return;
  state_->logs = LogState::Declined;
  state_->hive.recoverable = false;
  std::vector<uint8_t>().swap(state_->hive.recovered);
}

const DamageReport& HiveDocument::Damage() const { return state_ ? state_->damage : kNoDamage; }

void HiveDocument::SetDamage(DamageReport damage) {
  if (state_) state_->damage = std::move(damage);
}

const DeletedScan& HiveDocument::Deleted() const {
  static const DeletedScan kNone;
  if (!state_) return kNone;
  if (!state_->deleted) {
    const HiveImage& image = state_->hive.image;
    state_->deleted.emplace(ScanDeletedRecords(image.Image, image.Size));
  }
  return *state_->deleted;
}

bool HiveDocument::DeletedScanned() const { return state_ && state_->deleted.has_value(); }

}  // namespace cellbrook
