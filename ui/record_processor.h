// RecordProcessor: the record side of a batch process. A view reader that a
// process window (process_window.h) drives from its timer: it fetches the
// next record of its view, counts it, works out how far the walk has come and
// shows that as a percentage, and hands each record to TakeRecord, the
// deriving procedure's per-record work.
//
// Progress, worked out for every record read from the primary view:
//   with a step manager    by the value of ValueField between the values of
//                          the first and last records (step_manager.h);
//   else by record count   RecordsProcessed / RecordsToProcess * 100;
//   else by bytes          BytesRead * 100 / FileSize, when the driver could
//                          not count the file's records;
// truncated, capped at 100. The progress variable (bound to the window's
// thermometer) and the "% Complete" text change only when the whole
// percentage does.
//
// Child processors (Children) are read between the primary view's records,
// each entry at a level: the list is a tree in reading order, a deeper entry
// holding the children of the records of the entry above it. After a record
// is read, the deeper entry right after its source starts (reset); an entry
// that ends hands over to its next sibling, or else back to the entry (or
// the primary view) it belongs to, which reads its next record. An entry
// with no records for its parent simply ends. Nothing in this program adds a
// child; the walk in FetchNext is complete all the same.
//
// Threading: a processor, its view and its files belong to one thread.
// Ownership: the step manager, the progress variable, the children and the
// query are not owned.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "access/view_reader.h"
#include "runtime/files/field_ref.h"

namespace ui {

class StepManager;

// A query built from a user's saved query: its filter text for the view.
class RecordQuery {
 public:
  // Asks the user (or reads the saved query); false when nothing is to change.
  virtual bool Run() = 0;
  virtual std::string FilterText() = 0;

 protected:
  ~RecordQuery() = default;
};

class RecordProcessor;

struct ChildEntry {
  RecordProcessor* Processor = nullptr;  // not owned
  std::uint8_t Level = 1;
};

// The text after the percentage.
inline constexpr const char* kPercentText = "% Complete";
// The id under which ApplyQuery files the query's filter.
inline constexpr const char* kQueryFilterId = "9 Query";

class RecordProcessor : public dataaccess::ViewReader {
 public:
  RecordProcessor() = default;
  // Kills a processor that was initialised and not killed.
  ~RecordProcessor() override;

  // ---- Overrides of the view reader.

  // Unbinds the progress variable and the value field, switches quick scan
  // off, kills the step manager, then the view reader. A second call does
  // nothing.
  void Kill() override;
  // Measures the data (the step manager's limits, or the record count) and
  // positions the view at its start.
  void Reset() override;
  // Kill when Init ran and Kill did not.
  void Destroy() override;

  // ---- Virtual operations, appended in their fixed order.

  // Reads the next record (of the primary view or a child); with `count` set
  // counts it and moves the progress. LevelBenign for a record, LevelNotify at
  // the end of the data, LevelFatal after a read error already reported.
  virtual int FetchNext(std::uint8_t count);
  // Empty; never called in this program.
  virtual void IdleHook();
  // Runs Query (when set) and makes its text the view's filter.
  virtual void ApplyQuery();
  // The per-record work; LevelBenign here. A deriving procedure returns
  // LevelBenign to go on, LevelNotify to end this timer event's work without
  // fetching the next record, LevelFatal to end the whole process.
  virtual int TakeRecord();
  // Writes "<percentage>% Complete" into the text control (the window title
  // for 0; nothing for a negative control) and redisplays the window.
  virtual void UpdateDisplay();
  // Prepares and resets the child at `position` (1-based) and clears ChildEOF.
  virtual void StartChild(std::uint16_t position, std::uint8_t level);
  // The child at `position` ended with `result`.
  virtual void EndChild(std::uint16_t position, int result);

  // ---- Non-virtual operations.

  // Binds the view and its primary relation manager (view_reader.h), the
  // progress text control, the value field, the step manager (may be null)
  // and the progress variable (may be null; set to 0 here).
  void Init(rt::View& view, dataaccess::RelationManager& primary, std::int32_t progressText,
            const rt::FieldRef& valueField, StepManager* stepManager, std::uint8_t* progress);

  // ---- Fields, appended in their fixed order.
  std::int64_t BytesRead = 0;
  std::int64_t FileSize = 0;
  std::optional<std::vector<ChildEntry>> Children;
  std::uint8_t* Percentile = nullptr;  // the progress variable; not owned
  std::int32_t PText = -1;
  RecordQuery* Query = nullptr;  // not owned
  std::int32_t RecordsProcessed = 0;
  std::int32_t RecordsToProcess = 0;
  StepManager* StepMgr = nullptr;  // not owned
  rt::FieldRef ValueField;
  std::uint16_t ChildRead = 0;
  std::uint8_t ChildEOF = 0;
  std::uint8_t CaseSensitiveValue = 1;

 private:
  // Moves ChildRead to the source of the next read (see FetchNext).
  void ChooseSource();
  // ValueField as text for the step manager's limits (64 characters,
  // upper-cased unless CaseSensitiveValue).
  std::string LimitText(bool high) const;
  // The percentage of the record just read from the primary view, uncapped.
  int Percentage();
};

}  // namespace ui
