// Placeholder until racing lines land.
#include "autopilot/racing_lines.h"

namespace ks {

LineStore& line_store() {
  static LineStore s;
  return s;
}
int line_index(const TimingGates&, int) { return 0; }
int line_record(const LineStore&, int) { return -1; }
RacingLine* find_line(LineStore&, int, int) { return nullptr; }
void save_lines() {}
void clear_line_records() { line_store().records.clear(); }
bool load_lines(const std::string&, int) { return false; }
void analyze_lines() {}
void reset_line_statistics() {}
void reset_trails() {}
void line_trail_step(RaceState&, int) {}
void line_step_at_crossing(RaceState&, int, int) {}
int line_cost(const RacingLine&, int) { return kLineUntimed; }
bool lines_connect(const RacingLine&, const RacingLine&) { return false; }
Circle circle_through(const LinePoint&, const LinePoint&, const LinePoint&) { return {}; }
void line_chain_costs(const LineStore&, int, int, int, ChainCosts&,
                      std::vector<std::array<std::array<uint8_t, kLinesPerRecord>,
                                             kLinesPerRecord>>*) {}

}  // namespace ks
