// The common part of the data tree, packed into "zzzz.saf": the collision shapes
// of the track objects that every track uses and of the generic bike.
#include "mkdata.h"

namespace ks::mkdata {

bool write_common(const Output& out) {
  bool ok = true;
  for (const ShapeFile& s : standard_shapes()) ok = stage_file(out, s.name, s.text) && ok;
  for (const ShapeFile& s : bike_shapes()) ok = stage_file(out, s.name, s.text) && ok;
  return ok;
}

}  // namespace ks::mkdata
