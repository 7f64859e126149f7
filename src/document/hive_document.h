// One open hive: the document the command line and the main window each
// hold one of (a comparison in the window holds one a side). It owns the
// bytes (the file as read, the image its transaction logs rebuild, or a
// hive held in memory) and the bounded view on them, what the logs hold
// and whether they were applied (and the user's log choice), the damage
// its holder met while reading it, its path, and the deleted-record scan,
// made the first time it is asked for. Non-copyable; a move carries
// everything along and leaves an empty one. The view and the path keep
// their addresses for the document's life, across opens and closes (until
// it is moved from or assigned to), so a holder may refer to them once.
// No Qt; the file and its logs are only read.
#pragma once

#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "hive/damage_report.h"
#include "hive/hive_file.h"
#include "hive/hive_reader.h"
#include "recover/deleted/deleted_scan.h"
#include "recover/logs/log_recovery.h"
#include "recover/logs/log_choice.h"

namespace cellbrook {

// What became of the transaction logs of the open hive.
enum class LogState : uint8_t {
  None,        // clean, or dirty and no log applies (Recovery() says why)
  Offered,     // dirty, and the logs rebuild it: not yet applied or declined
  Applied,     // the rebuilt image is shown
  Declined,    // the holder chose the file as it is
  Unreadable,  // the rebuilt image is no readable hive: the file is shown as it is
};

class HiveDocument {
 public:
  HiveDocument();
  ~HiveDocument();
  HiveDocument(HiveDocument&& other) noexcept;
  HiveDocument& operator=(HiveDocument&& other) noexcept;
  HiveDocument(const HiveDocument&) = delete;
  HiveDocument& operator=(const HiveDocument&) = delete;

  // Reads the file and what its logs would do (nothing applied yet). On any
  // outcome but Loaded the document is left empty.
  LoadOutcome Open(const std::string& path, const LogChoice& logs = {});
  // Holds a hive found elsewhere (carved from a disk image) under `caption`;
  // its base block alone says whether it is dirty: no logs go with it.
  // False, and empty, when the bytes are no readable hive.
  bool OpenInMemory(std::vector<uint8_t> bytes, const std::string& caption);
  // Empty again: nothing open.
  void Close();

  bool Loaded() const;
  bool InMemory() const;            // held by OpenInMemory, not read from a file
  const std::string& Path() const;  // as given to Open, or the caption; empty when not loaded
  std::string FileName() const;     // Path() after its last '/'

  // The view on the bytes shown, and those bytes.
  const HiveImage& Hive() const;
  std::span<const uint8_t> Bytes() const;
  // The file as read, while it is what is shown (empty once logs applied).
  std::span<const uint8_t> FileBytes() const;
  // The image the logs rebuild, while Offered (empty otherwise).
  std::span<const uint8_t> RecoveredBytes() const;

  // What the logs hold and what applies; for a hive in memory, its base block.
  const RecoveryReport& Recovery() const;
  const LogChoice& Choice() const;  // the logs asked for at open
  LogState Logs() const;
  bool LogsOffered() const { return Logs() != LogState::None; }  // the logs could apply
  bool LogsApplied() const { return Logs() == LogState::Applied; }
  // Shows the rebuilt image instead of the file as read; false (and
  // Unreadable) when it is no readable hive, false when nothing is offered.
  bool ApplyLogs();
  // Keeps the file as read and drops the rebuilt image.
  void DeclineLogs();
  // Hands the rebuilt image over while Offered (to a caller that keeps it
  // beyond the document); the logs then count as declined.
  std::vector<uint8_t> TakeRecoveredBytes();
  // Shows `image` (the same hive at another point, rebuilt from its file)
  // in place of the bytes shown; the log choice stays as it was made (an
  // offer still open counts as declined). False, and nothing changed, when
  // it is no readable hive.
  bool ShowImage(std::vector<uint8_t> image);

  // What the holder could not read of it (its walk, its listing), told
  // with the hive's state.
  const DamageReport& Damage() const;
  void SetDamage(DamageReport damage);  // ignored when nothing is open

  // The deleted keys and values of the image shown, scanned the first time
  // they are asked for and kept until the image changes.
  const DeletedScan& Deleted() const;
  bool DeletedScanned() const;

 private:
  struct State;
  std::unique_ptr<State> state_;
};

}  // namespace cellbrook
