// The common part of the data tree, packed into "zzzz.saf": for now the collision shapes
// of the track objects that every track uses.
#include "mkdata.h"

namespace ks::mkdata {

bool write_common(const Output& out) {
  bool ok = true;
  for (const ShapeFile& s : standard_shapes()) ok = stage_file(out, s.name, s.text) && ok;
  return ok;
}

}  // namespace ks::mkdata
