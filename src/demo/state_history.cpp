#include "demo/state_history.h"

#include "demo/demo.h"
#include "fs/messages.h"

namespace ks {

namespace {

int wrap(int i) { return (i % kHistoryEntries + kHistoryEntries) % kHistoryEntries; }

StateHistory* history_of(int slot) {
  if (slot < 0 || slot >= kMaxBikes) return nullptr;
  return &state_histories().slots[static_cast<size_t>(slot)];
}

}  // namespace

StateHistories& state_histories() {
  static StateHistories h;
  return h;
}

void clear_history(int slot) {
  if (StateHistory* h = history_of(slot)) *h = StateHistory{};
}

void add_state_to_history(int slot, const DemoState& state, int tic) {
  StateHistory* h = history_of(slot);
  if (h == nullptr) {
    post_message("add_state_to_history: slot out of range");
    return;
  }
  if (tic < 0) return;  // -1 marks an empty entry
  auto& e = h->entries;
  int i = h->newest;
  int steps = 0;
  while (steps < kHistoryEntries && e[static_cast<size_t>(i)].tic > tic) {
    i = wrap(i - 1);
    ++steps;
  }
  if (steps < kHistoryEntries && e[static_cast<size_t>(i)].tic == tic) return;
  // Everything newer than the new entry goes.
  for (int k = 0, j = h->newest; k < steps; ++k, j = wrap(j - 1)) e[static_cast<size_t>(j)].tic = -1;
  const int at = steps < kHistoryEntries ? wrap(i + 1) : h->newest;
  e[static_cast<size_t>(at)].tic = tic;
  e[static_cast<size_t>(at)].state = state;
  h->newest = at;
  if (h->pending < kHistoryEntries) ++h->pending;
}

const HistoryEntry* newest_entry(int slot) {
  const StateHistory* h = history_of(slot);
  if (h == nullptr) return nullptr;
  const HistoryEntry& e = h->entries[static_cast<size_t>(h->newest)];
  return e.tic >= 0 ? &e : nullptr;
}

const HistoryEntry* entry_before(int slot, const HistoryEntry* e) {
  const StateHistory* h = history_of(slot);
  if (h == nullptr || e == nullptr) return nullptr;
  const auto index = e - h->entries.data();
  if (index < 0 || index >= kHistoryEntries) return nullptr;
  const int prev = wrap(static_cast<int>(index) - 1);
  if (prev == h->newest) return nullptr;  // walked the whole ring
  const HistoryEntry& p = h->entries[static_cast<size_t>(prev)];
  return p.tic >= 0 && p.tic < e->tic ? &p : nullptr;
}

HistoryBracket history_bracket(int slot, int t) {
  HistoryBracket br;
  const HistoryEntry* e = newest_entry(slot);
  const HistoryEntry* later = nullptr;
  for (int steps = 0; e != nullptr && steps < kHistoryEntries; ++steps) {
    if (e->tic < t) {
      br.older = e;
      break;
    }
    later = e;
    e = entry_before(slot, e);
  }
  br.newer = later;
  return br;
}

bool history_bounds(int slot, int& oldest, int& newest) {
  const HistoryEntry* e = newest_entry(slot);
  if (e == nullptr) return false;
  newest = e->tic;
  oldest = e->tic;
  for (int steps = 0; e != nullptr && steps < kHistoryEntries; ++steps) {
    oldest = e->tic;
    e = entry_before(slot, e);
  }
  return true;
}

void clear_histories() { state_histories() = StateHistories{}; }

}  // namespace ks
