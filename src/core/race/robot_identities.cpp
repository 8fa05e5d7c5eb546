// The 80 robot identities, the identity order drawn at every reset, and how the lineup
// codes take identities from it.
#include <cstdio>
#include <cstring>
#include <utility>

#include "core/race/race_internal.h"
#include "core/random.h"
#include "physics/bike_catalog.h"

namespace ks {

namespace {

// number, personality, model, rider body, rider head, bike, wheel ("" = model default)
const std::array<RobotIdentity, kRobotIdentities> kIdentities{{
    {"20", "rellin", "kx125", "", "", "", ""},
    {"21", "rellin", "kx125", "", "", "", ""},
    {"22", "rellin", "kx125", "", "", "", ""},
    {"23", "rellin", "kx125", "", "", "", ""},
    {"24", "rellin", "kx125", "", "", "", ""},
    {"25", "rellin", "yz125", "", "", "", ""},
    {"26", "rellin", "yz125", "", "", "", ""},
    {"27", "rellin", "yz125", "", "", "", ""},
    {"28", "rellin", "yz125", "", "", "", ""},
    {"29", "rellin", "yz125", "", "", "", ""},
    {"30", "rellin", "cr125", "", "", "", ""},
    {"31", "rellin", "cr125", "", "", "", ""},
    {"32", "rellin", "cr125", "", "", "", ""},
    {"33", "rellin", "cr125", "", "", "", ""},
    {"34", "rellin", "cr125", "", "", "", ""},
    {"35", "rellin", "rm125", "", "", "", ""},
    {"36", "rellin", "rm125", "", "", "", ""},
    {"37", "rellin", "rm125", "", "", "", ""},
    {"38", "rellin", "rm125", "", "", "", ""},
    {"39", "rellin", "rm125", "", "", "", ""},
    {"40", "vosk", "crf250", "", "", "", ""},
    {"41", "vosk", "crf250", "", "", "", ""},
    {"42", "vosk", "crf250", "", "", "", ""},
    {"43", "vosk", "crf250", "", "", "", ""},
    {"44", "vosk", "crf250", "", "", "", ""},
    {"45", "vosk", "kx250f", "", "", "", ""},
    {"46", "vosk", "kx250f", "", "", "", ""},
    {"47", "vosk", "kx250f", "", "", "", ""},
    {"48", "vosk", "kx250f", "", "", "", ""},
    {"49", "vosk", "kx250f", "", "", "", ""},
    {"50", "vosk", "rmz250", "", "", "", ""},
    {"51", "vosk", "rmz250", "", "", "", ""},
    {"52", "vosk", "rmz250", "", "", "", ""},
    {"53", "vosk", "rmz250", "", "", "", ""},
    {"54", "vosk", "yz250f", "", "", "", ""},
    {"55", "vosk", "yz250f", "", "", "", ""},
    {"56", "vosk", "yz250f", "", "", "", ""},
    {"57", "vosk", "yz250f", "", "", "", ""},
    {"58", "vosk", "yz250f", "", "", "", ""},
    {"59", "vosk", "yz250f_se(2006)", "", "", "", ""},
    {"60", "rellin", "crf250", "", "", "", ""},
    {"61", "rellin", "crf250", "", "", "", ""},
    {"62", "rellin", "crf250", "", "", "", ""},
    {"63", "rellin", "crf250", "", "", "", ""},
    {"64", "rellin", "crf250", "", "", "", ""},
    {"65", "rellin", "kx250f", "", "", "", ""},
    {"66", "rellin", "kx250f", "", "", "", ""},
    {"67", "rellin", "kx250f", "", "", "", ""},
    {"68", "rellin", "kx250f", "", "", "", ""},
    {"69", "rellin", "kx250f", "", "", "", ""},
    {"70", "rellin", "rmz250", "", "", "", ""},
    {"71", "rellin", "rmz250", "", "", "", ""},
    {"72", "rellin", "rmz250", "", "", "", ""},
    {"73", "rellin", "rmz250", "", "", "", ""},
    {"74", "rellin", "yz250f", "", "", "", ""},
    {"75", "rellin", "yz250f", "", "", "", ""},
    {"76", "rellin", "yz250f", "", "", "", ""},
    {"77", "rellin", "yz250f", "", "", "", ""},
    {"78", "rellin", "yz250f", "", "", "", ""},
    {"79", "rellin", "yz250f_se(2006)", "", "", "", ""},
    {"80", "tamo", "crf250", "@rider_body-alt1.png",
     "@rider_head-alt1.png", "@crf250-alt1.png", "@wheels-alt1.png"},
    {"81", "tamo", "crf250", "@rider_body-alt2.png",
     "@rider_head-alt2.png", "@crf250-alt2.png", "@wheels-alt2.png"},
    {"82", "tamo", "crf250", "@rider_body-alt1.png",
     "@rider_head-alt1.png", "@crf250-alt1.png", "@wheels-alt1.png"},
    {"83", "tamo", "crf250", "@rider_body-alt2.png",
     "@rider_head-alt2.png", "@crf250-alt2.png", "@wheels-alt2.png"},
    {"84", "tamo", "crf250", "@rider_body-alt1.png",
     "@rider_head-alt1.png", "@crf250-alt1.png", "@wheels-alt1.png"},
    {"85", "tamo", "kx250f", "@rider_body-alt2.png",
     "@rider_head-alt2.png", "@kx250f-alt2.png", "@wheels-alt2.png"},
    {"86", "tamo", "kx250f", "@rider_body-alt1.png",
     "@rider_head-alt1.png", "@kx250f-alt1.png", "@wheels-alt1.png"},
    {"87", "tamo", "kx250f", "@rider_body-alt2.png",
     "@rider_head-alt2.png", "@kx250f-alt2.png", "@wheels-alt2.png"},
    {"88", "tamo", "kx250f", "@rider_body-alt1.png",
     "@rider_head-alt1.png", "@kx250f-alt1.png", "@wheels-alt1.png"},
    {"89", "tamo", "kx250f", "@rider_body-alt2.png",
     "@rider_head-alt2.png", "@kx250f-alt2.png", "@wheels-alt2.png"},
    {"90", "tamo", "yz250f", "@rider_body-alt1.png",
     "@rider_head-alt1.png", "@yz250f-alt1.png", "@wheels-alt1.png"},
    {"91", "tamo", "yz250f", "@rider_body-alt2.png",
     "@rider_head-alt2.png", "@yz250f-alt2.png", "@wheels-alt2.png"},
    {"92", "tamo", "yz250f", "@rider_body-alt1.png",
     "@rider_head-alt1.png", "@yz250f-alt1.png", "@wheels-alt1.png"},
    {"93", "tamo", "yz250f", "@rider_body-alt2.png",
     "@rider_head-alt2.png", "@yz250f-alt2.png", "@wheels-alt2.png"},
    {"94", "tamo", "yz250f", "@rider_body-alt1.png",
     "@rider_head-alt1.png", "@yz250f-alt1.png", "@wheels-alt1.png"},
    {"95", "tamo", "rmz250", "@rider_body-alt2.png",
     "@rider_head-alt2.png", "@rmz250-alt2.png", "@wheels-alt2.png"},
    {"96", "tamo", "rmz250", "@rider_body-alt1.png",
     "@rider_head-alt1.png", "@rmz250-alt1.png", "@wheels-alt1.png"},
    {"97", "tamo", "rmz250", "@rider_body-alt2.png",
     "@rider_head-alt2.png", "@rmz250-alt2.png", "@wheels-alt2.png"},
    {"98", "tamo", "rmz250", "@rider_body-alt1.png",
     "@rider_head-alt1.png", "@rmz250-alt1.png", "@wheels-alt1.png"},
    {"99", "tamo", "rmz250", "@rider_body-alt2.png",
     "@rider_head-alt2.png", "@rmz250-alt2.png", "@wheels-alt2.png"},
}};

bool identity_fits(int index, int code) {
  const char* model = kIdentities[static_cast<size_t>(index)].model;
  if (code == kLineupRobot125) return std::strstr(model, "125") != nullptr;
  if (code == kLineupRobot250) return std::strstr(model, "250") != nullptr;
  return true;
}

// The first unused identity of the order that passes `fits`, or -1.
template <typename Fits>
int first_unused(const IdentityPicker& p, Fits fits) {
  for (int id : p.order)
    if (id >= 0 && id < kRobotIdentities && !p.used[static_cast<size_t>(id)] && fits(id))
      return id;
  return -1;
}

void take(IdentityPicker& p, int id) {
  p.used[static_cast<size_t>(id)] = true;
  ++p.used_count;
}

}  // namespace

const std::array<RobotIdentity, kRobotIdentities>& robot_identities() { return kIdentities; }

void draw_robot_order(std::array<int, kRobotIdentities>& order, uint32_t seed) {
  for (int i = 0; i < kRobotIdentities; ++i) order[static_cast<size_t>(i)] = i;
  seed_game_random(seed);
  std::mt19937& g = game_random();
  for (int j = kRobotIdentities - 1; j >= 1; --j) {
    const uint32_t r = static_cast<uint32_t>(g());
    const auto k = static_cast<size_t>((r / 65536u) % static_cast<uint32_t>(j));
    std::swap(order[static_cast<size_t>(j)], order[k]);
  }
}

void start_identity_picker(IdentityPicker& p, const std::array<int, kRobotIdentities>& order) {
  p.order = order;
  p.used.fill(false);
  p.used_count = 0;
}

int pick_identity(IdentityPicker& p, int code, std::string& number) {
  const bool numbered = code >= kLineupNumbered;
  char wanted[16] = "";
  if (numbered) std::snprintf(wanted, sizeof wanted, "%d", code - kLineupNumbered);
  int id = -1;
  if (numbered) {
    id = first_unused(p, [&](int i) {
      return std::strcmp(kIdentities[static_cast<size_t>(i)].number, wanted) == 0;
    });
  }
  const int kind = numbered ? kLineupRobot : code;
  if (id < 0) id = first_unused(p, [&](int i) { return identity_fits(i, kind); });
  if (id < 0) {
    // More robots than identities: the order starts over, so identities repeat.
    p.used.fill(false);
    p.used_count = 0;
    id = first_unused(p, [&](int i) { return identity_fits(i, kind); });
  }
  if (id < 0) id = 0;
  take(p, id);
  number = numbered ? wanted : kIdentities[static_cast<size_t>(id)].number;
  return id;
}

const char* robot_model_name(const char* model) { return bike_model_aliases(model); }

}  // namespace ks
