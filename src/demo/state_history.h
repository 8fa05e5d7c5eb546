// The per-slot history of quantised states: a ring of 128 (tic, DemoState) entries per
// slot that the demo recorder and player, the replayed riders and the network client all
// feed and read.
#pragma once

#include <array>

#include "demo/demo_state.h"

namespace ks {

constexpr int kHistoryEntries = 128;

struct HistoryEntry {
  int tic = -1;  // -1 = empty
  DemoState state{};
};

struct StateHistory {
  std::array<HistoryEntry, kHistoryEntries> entries{};
  int newest = 0;   // index of the newest entry
  int pending = 0;  // entries added since they were last written to the demo, <= 128
};

struct StateHistories {
  std::array<StateHistory, kMaxBikes> slots{};
};
StateHistories& state_histories();

void clear_history(int slot);
// Stores the state at `tic` unless the slot already holds that tic; entries with a later
// tic are dropped. A slot outside 0..159 is reported in the message list.
void add_state_to_history(int slot, const DemoState& state, int tic);

// The entries that bracket tic t: `older` is the newest entry before t (or null), `newer`
// the one after it (or null). Walks back at most 128 entries.
struct HistoryBracket {
  const HistoryEntry* older = nullptr;
  const HistoryEntry* newer = nullptr;
};
HistoryBracket history_bracket(int slot, int t);

// The newest and second-newest entry (either may be null).
const HistoryEntry* newest_entry(int slot);
const HistoryEntry* entry_before(int slot, const HistoryEntry* e);

}  // namespace ks
