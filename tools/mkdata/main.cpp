// kessra-mkdata [--loose] [--verbose] DIR: writes the default data tree into DIR.
//
// The common files go into DIR/zzzz.saf and every track into DIR/<track>.saf; with --loose
// the tree is left as plain files instead (for looking at it or editing it). The output
// depends on nothing but this program: fixed seeds, no clock, sorted folder walks.
#include <cstdio>
#include <cstring>
#include <string>

#include "mkdata.h"

namespace {

int usage(const char* argv0) {
  std::fprintf(stderr, "usage: %s [--loose] [--verbose] DIR\n", argv0);
  return 2;
}

void report(const ks::mkdata::TrackLayout& t) {
  std::printf("%s: \"%s\", %d x %d samples at %.2f ft, lap %.0f ft (%.2f mi), start chute %.0f ft\n",
              t.dir.c_str(), t.long_name.c_str(), (2 << t.exponent) + 1, (2 << t.exponent) + 1,
              t.spacing, t.lap.length, t.lap.length / 5280.0, t.chute.length);
  for (const ks::mkdata::Feature& f : t.features)
    std::printf("  %-12s at %5.0f ft, %3.0f ft long, face %.1f ft\n", ks::mkdata::feature_name(f.kind),
                f.begin, f.end - f.begin, f.face_height);
}

}  // namespace

int main(int argc, char** argv) {
  bool loose = false, verbose = false;
  std::string dir;
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--loose") == 0) loose = true;
    else if (std::strcmp(argv[i], "--verbose") == 0) verbose = true;
    else if (argv[i][0] == '-' || !dir.empty()) return usage(argv[0]);
    else dir = argv[i];
  }
  if (dir.empty()) return usage(argv[0]);
  while (dir.size() > 1 && dir.back() == '/') dir.pop_back();

  using namespace ks::mkdata;
  Output out;
  out.stage = loose ? dir : dir + "/.mkdata-stage";
  if (!loose) remove_tree(out.stage);
  const std::vector<TrackLayout> layouts = build_layouts();
  bool ok = !layouts.empty();
  ok = write_common(out) && ok;
  for (const TrackLayout& t : layouts) {
    if (verbose) report(t);
    ok = write_track(out, t) && ok;
  }
  if (ok && !loose) {
    for (const TrackLayout& t : layouts)
      ok = ok && pack_archive(out, list_staged(out, t.dir), dir + "/" + t.dir + ".saf");
    std::vector<std::string> common;
    for (const std::string& name : list_staged(out, ""))
      if (name.find('/') == std::string::npos) common.push_back(name);
    // Last, because the build takes zzzz.saf as the sign that the tree is complete.
    ok = ok && pack_archive(out, common, dir + "/zzzz.saf");
  }
  if (!loose) remove_tree(out.stage);
  if (!ok) {
    std::fprintf(stderr, "kessra-mkdata: failed to write the data tree into '%s'\n", dir.c_str());
    return 1;
  }
  return 0;
}
