#include "ui/record_processor.h"

#include <algorithm>
#include <limits>

#include "access/file_manager.h"
#include "access/file_registry.h"
#include "access/relation_manager.h"
#include "errors/level.h"
#include "runtime/core/text.h"
#include "runtime/files/file.h"
#include "runtime/files/file_operations.h"
#include "runtime/files/view.h"
#include "runtime/windows/event_loop.h"
#include "runtime/windows/properties.h"
#include "ui/step_manager.h"

namespace ui {
namespace {

using errors::LevelBenign;

// A limit's text is cut to this length.
constexpr std::size_t kLimitCapacity = 64;

}  // namespace

RecordProcessor::~RecordProcessor() { RecordProcessor::Destroy(); }

void RecordProcessor::Init(rt::View& view, dataaccess::RelationManager& primary,
                           std::int32_t progressText, const rt::FieldRef& valueField,
                           StepManager* stepManager, std::uint8_t* progress) {
  Percentile = progress;
  if (Percentile) *Percentile = 0;
  PText = progressText;
  StepMgr = stepManager;
  ValueField = valueField;
  CaseSensitiveValue = 1;
  ViewReader::Init(view, primary);
}

void RecordProcessor::Destroy() {
  if (Inited && !Killed) Kill();
}

void RecordProcessor::Kill() {
  if (!Inited || Killed) {
    ViewReader::Kill();
    return;
  }
  Percentile = nullptr;
  ValueField = rt::FieldRef();
  // A relation manager killed before the processor (the dictionary going
  // first) has nothing left to switch.
  if (Primary && dataaccess::ThreadRegistry().Holds(Primary))
    Primary->SetQuickScan(0, dataaccess::kQuickScanAll);
  Children.reset();
  if (StepMgr) StepMgr->Kill();
  ViewReader::Kill();
}

std::string RecordProcessor::LimitText(bool high) const {
  if (!ValueField.IsValid())
    return std::to_string(high ? std::numeric_limits<std::int32_t>::max()
                               : std::numeric_limits<std::int32_t>::min());
  std::string text = ValueField.ToText().substr(0, kLimitCapacity);
  return CaseSensitiveValue ? text : rt::UpperCase(text);
}

void RecordProcessor::Reset() {
  RecordsProcessed = 0;
  if (StepMgr) {
    // The last record gives the high limit, the first the low one.
    ViewReader::Reset();
    Previous();
    const std::string high = LimitText(true);
    ViewReader::Reset();
    FetchNext(0);
    const std::string low = LimitText(false);
    StepMgr->SetLimits(AnyValue::Text(low), AnyValue::Text(high));
  } else if (RecordsToProcess == 0 && Primary && Primary->Me) {
    dataaccess::FileManager& file = *Primary->Me;
    file.UseFile(dataaccess::kUseUses);
    if (file.File) {
      const std::int64_t records = rt::FileRecords(*file.File);
      RecordsToProcess = static_cast<std::int32_t>(std::min<std::int64_t>(
          records < 0 ? 0 : records, std::numeric_limits<std::int32_t>::max()));
      if (RecordsToProcess == 0) FileSize = rt::FileBytes(*file.File);
    }
  }
  ChildRead = 0;
  ViewReader::Reset();
}

void RecordProcessor::ChooseSource() {
  if (RecordsProcessed == 0 || !Children || Children->empty()) return;
  const std::vector<ChildEntry>& entries = *Children;
  const std::size_t count = entries.size();
  if (ChildRead > count || (ChildRead == 0 && ChildEOF)) {
    ChildRead = 0;
    ChildEOF = 0;
    return;
  }
  // The source last read: the primary view (level 0) or entry ChildRead.
  const int level = ChildRead == 0 ? 0 : entries[ChildRead - 1].Level;
  if (!ChildEOF) {
    // A record was just read: the entry right after its source, when deeper,
    // holds that record's children and is read next.
    if (ChildRead < count && entries[ChildRead].Level > level)
      StartChild(static_cast<std::uint16_t>(ChildRead + 1), entries[ChildRead].Level);
    return;
  }
  // Entry ChildRead has ended: its next sibling (the next entry at its level
  // before one above it) starts; without one, the entry it belongs to goes
  // on reading. Each step moves forward or up, so the walk always ends.
  for (std::size_t next = ChildRead; next < count && entries[next].Level >= level; ++next)
    if (entries[next].Level == level) {
      StartChild(static_cast<std::uint16_t>(next + 1), entries[next].Level);
      return;
    }
  std::uint16_t owner = static_cast<std::uint16_t>(ChildRead - 1);
  while (owner > 0 && entries[owner - 1].Level >= level) --owner;
  ChildRead = owner;
  ChildEOF = 0;
}

void RecordProcessor::StartChild(std::uint16_t position, std::uint8_t) {
  if (!Children || position == 0 || position > Children->size()) return;
  ChildRead = position;
  if (RecordProcessor* child = (*Children)[position - 1].Processor) child->Reset();
  ChildEOF = 0;
}

void RecordProcessor::EndChild(std::uint16_t, int) { ChildEOF = 1; }

int RecordProcessor::Percentage() {
  if (StepMgr) {
    AnyValue value = AnyValue::Of(ValueField);
    if (value.IsText && !CaseSensitiveValue) value.Chars = rt::UpperCase(value.Chars);
    return StepMgr->GetPercentile(value);
  }
  if (FileSize > 0)
    return static_cast<int>(std::min<std::int64_t>(BytesRead * 100 / FileSize, 101));
  if (RecordsToProcess > 0)
    return static_cast<int>(
        std::min<std::int64_t>(std::int64_t{RecordsProcessed} * 100 / RecordsToProcess, 101));
  return -1;  // nothing to measure by: the thermometer stays where it is
}

int RecordProcessor::FetchNext(std::uint8_t count) {
  int r = LevelBenign;
  for (;;) {
    ChooseSource();
    if (ChildRead == 0) {
      r = Next();
      break;
    }
    RecordProcessor* child = (*Children)[ChildRead - 1].Processor;
    r = child ? child->Next() : errors::LevelNotify;
    if (r == LevelBenign) break;
    EndChild(ChildRead, r);
  }
  if (r != LevelBenign || !count) return r;
  if (FileSize && View) BytesRead += rt::FileRecordSize(View->Primary());
  ++RecordsProcessed;
  if (Percentile && ChildRead == 0) {
    int p = Percentage();
    if (p >= 0) {
      if (p > 100) p = 100;
      if (p != *Percentile) {
        *Percentile = static_cast<std::uint8_t>(p);
        UpdateDisplay();
      }
    }
  }
  return LevelBenign;
}

void RecordProcessor::UpdateDisplay() {
  if (PText < 0) return;
  const int percentage = Percentile ? *Percentile : 0;
  rt::SetProperty(PText, rt::PropText, std::to_string(percentage) + kPercentText);
  rt::Display(0);
}

void RecordProcessor::IdleHook() {}

void RecordProcessor::ApplyQuery() {
  if (!Query || !Query->Run()) return;
  SetNamedFilter(Query->FilterText(), kQueryFilterId);
  ApplyFilter();
}

int RecordProcessor::TakeRecord() { return LevelBenign; }

}  // namespace ui
