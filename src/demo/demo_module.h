// The demo subsystem's one module record: the recording being written and the demo being
// played. Private to src/demo.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "demo/demo.h"

namespace ks {

struct DemoRecorder {
  VfsFile* file = nullptr;
  std::string path;          // the file being written
  bool time_trial = false;   // the track's lastlap demo, never renamed
  uint32_t prev_length = 0;  // payload length of the previous chunk
  std::vector<int> slots;    // recorded slots, in header (rider index) order
  std::string pending_name;  // "namedemo": the finished recording's new name
  void (*saved_erosion_hook)(const uint8_t*, int) = nullptr;
};

// An erosion record read ahead, applied once the race reaches its tic.
struct PendingErosion {
  int tic = 0;
  long position = 0;  // file position of its chunk
  std::vector<uint8_t> bytes;
};

struct DemoPlayer {
  VfsFile* file = nullptr;
  int version = 0;
  std::vector<DemoRider> riders;
  std::string track;
  long first_chunk = 0;  // file position of the first chunk (or state block)
  long next_chunk = 0;
  uint32_t prev_length = 0;
  int first_tic = -1;
  int time_offset = 0;  // ghost: race tic minus demo tic
  int read_ahead_tic = 0;
  long last_erosion = -1;  // position of the last erosion chunk applied
  bool ended = false;      // end of the data or damage reached
  bool damage_reported = false;
  std::vector<PendingErosion> erosion;
};

struct DemoModule {
  DemoRecorder recorder;
  DemoPlayer player;
};
DemoModule& demo_module();

}  // namespace ks
