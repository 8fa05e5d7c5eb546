// Erosion: wheel sampling into strokes, the packed record, the queue of rut points and
// their application to the height field.
#include "physics/erosion.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "fs/messages.h"
#include "physics/bike_state.h"
#include "physics/wheel_contact.h"
#include "track/heightfield.h"
#include "track/track.h"

namespace ks {

namespace {

constexpr double kDeltaWiden = 0.0625;  // min and max deltas are widened by 1/16 ft
constexpr double kDeltaLimit = 1024;
constexpr double kMinDigSquared = 0.0009765625;  // 2^-10
constexpr double kGuardRadiusSquared = 100;      // 10 ft

// NaN lands on the low end, so a broken value never reaches an integer conversion.
inline double clamp_safe(double v, double lo, double hi) {
  if (!(v >= lo)) return lo;
  if (v > hi) return hi;
  return v;
}

// clamp((x - lo) / (hi - lo), 0, 1), a step at lo when the range is empty.
inline double ramp(double x, double lo, double hi) {
  if (!(hi > lo)) return x > lo ? 1.0 : 0.0;
  return clamp_safe((x - lo) / (hi - lo), 0.0, 1.0);
}

// ---- record coding ------------------------------------------------------------------

inline int code_delta(double value) {
  const double v = clamp_safe(value, -kDeltaLimit, kDeltaLimit);
  return static_cast<int>(std::floor((v + kDeltaLimit) / (2 * kDeltaLimit) * 65535.0 + 0.5));
}
inline double decode_delta(int v) {
  return static_cast<double>(v) / 65535.0 * (2 * kDeltaLimit) - kDeltaLimit;
}

inline int code_position(double value, double extent) {
  if (!(extent > 0)) return 0;
  const double v = clamp_safe(value, 0.0, extent);
  return static_cast<int>(std::floor(v / extent * 16777215.0 + 0.5));
}
inline double decode_position(int v, double extent) {
  return static_cast<double>(v) / 16777215.0 * extent;
}

inline int code_dig(double c) {
  const double t = clamp_safe((c + 1) / 2, 0.0, 1.0);
  return std::min(63, static_cast<int>(std::floor(64 * t)));
}
inline double decode_dig(int v) { return static_cast<double>(v) / 64.0 * 2.0 - 1.0; }

// One delta step, shared by the encoder and the decoder so both land on the same value.
inline double delta_step(double previous, double mn, double mx, int b) {
  return previous + mn + static_cast<double>(b) / 255.0 * (mx - mn);
}

inline int code_delta_byte(double delta, double mn, double mx) {
  const double range = mx - mn;
  if (!(range > 0)) return 0;
  const double d = clamp_safe(delta, mn, mx);
  return std::clamp(static_cast<int>(std::floor((d - mn) / range * 255.0 + 0.5)), 0, 255);
}

inline void put16(uint8_t* p, int v) {
  p[0] = static_cast<uint8_t>(v & 0xff);
  p[1] = static_cast<uint8_t>((v >> 8) & 0xff);
}
inline void put24(uint8_t* p, int v) {
  p[0] = static_cast<uint8_t>(v & 0xff);
  p[1] = static_cast<uint8_t>((v >> 8) & 0xff);
  p[2] = static_cast<uint8_t>((v >> 16) & 0xff);
}
inline int get16(const uint8_t* p) { return p[0] | (p[1] << 8); }
inline int get24(const uint8_t* p) { return p[0] | (p[1] << 8) | (p[2] << 16); }

inline void put_dig(uint8_t* p, const RutPoint& pt) {
  const int count = encode_point_count(pt.count);
  p[0] = static_cast<uint8_t>((code_dig(static_cast<double>(pt.dig_x)) << 2) | (count & 3));
  p[1] = static_cast<uint8_t>((code_dig(static_cast<double>(pt.dig_z)) << 2) |
                              ((count >> 2) & 3));
}
inline void get_dig(const uint8_t* p, RutPoint& pt) {
  pt.dig_x = static_cast<float>(decode_dig(p[0] >> 2));
  pt.dig_z = static_cast<float>(decode_dig(p[1] >> 2));
  pt.count = decode_point_count((p[0] & 3) | ((p[1] & 3) << 2));
}

void push_point(const RutPoint& p) {
  ErosionState& s = erosion_state();
  if (s.length >= kErosionQueueSize) {
    if (!s.full_reported) {
      s.full_reported = true;
      post_message("Erode queue full!");
    }
    return;
  }
  s.queue[static_cast<size_t>((s.head + s.length) & (kErosionQueueSize - 1))] = p;
  ++s.length;
}

void send_stroke(const RutStroke& stroke, const HeightField& hf) {
  uint8_t record[kErosionRecordMax];
  const int n = encode_erosion_record(stroke, hf.extent, record);
  if (n != 0) submit_erosion_record(record, n, hf.extent);
}

void clear_pending(RutStroke& s) {
  s.sum_x = s.sum_z = s.sum_dig_x = s.sum_dig_z = 0;
  s.sample_count = 0;
}

void accumulate(RutStroke& s, const HeightField& hf, int tic, float px, float pz, float dx,
                float dz) {
  float dist = 0;
  if (s.sample_count >= 1) dist = std::hypot(px - s.previous_x, pz - s.previous_z);
  s.previous_x = px;
  s.previous_z = pz;
  if (s.sample_count < kMaxPointSamples && s.travel + dist < 1) {
    s.sum_x += px;
    s.sum_z += pz;
    s.sum_dig_x += dx;
    s.sum_dig_z += dz;
    ++s.sample_count;
    s.travel += dist;
    return;
  }
  const bool was_full = s.sample_count >= kMaxPointSamples;
  const float left = s.travel + dist - 1;
  store_rut_point(s, hf, tic);
  s.sum_x = px;
  s.sum_z = pz;
  s.sum_dig_x = dx;
  s.sum_dig_z = dz;
  s.sample_count = 1;
  s.travel = was_full ? 0.0f : (left < 1 ? std::max(left, 0.0f) : 0.0f);
}

// The visited square of a dig or deposit: the whole square and its part inside the field.
// Samples outside are never written, so a dig takes nothing from them.
struct Square {
  int i0 = 0, i1 = -1, j0 = 0, j1 = -1;  // inclusive, clipped to the field
  int m = 0, o = 0, h = 0;               // whole square: m - h + 1 .. m + h, o likewise
  double cx = 0, cz = 0, rho = 0;
};

Square square_at(const HeightField& hf, double x, double z, double radius) {
  Square q;
  if (hf.size <= 0 || !(hf.spacing > 0)) return q;
  const double s = static_cast<double>(hf.spacing);
  // A bell wider than twice the field reaches nothing more.
  q.rho = std::min(radius / s, 2.0 * hf.size);
  q.cx = x / s;
  q.cz = z / s;
  if (!(q.rho > 0) || !std::isfinite(q.cx) || !std::isfinite(q.cz)) return Square{};
  const double last = static_cast<double>(hf.size - 1);
  const double h = std::ceil(q.rho);
  const double m = std::floor(q.cx);
  const double o = std::floor(q.cz);
  const double i0 = std::max(0.0, m - h + 1), i1 = std::min(last, m + h);
  const double j0 = std::max(0.0, o - h + 1), j1 = std::min(last, o + h);
  if (i0 > i1 || j0 > j1) return Square{};
  // Touching the field bounds m and o to within h of it.
  q.i0 = static_cast<int>(i0);
  q.i1 = static_cast<int>(i1);
  q.j0 = static_cast<int>(j0);
  q.j1 = static_cast<int>(j1);
  q.m = static_cast<int>(m);
  q.o = static_cast<int>(o);
  q.h = static_cast<int>(h);
  return q;
}

inline double bell(const Square& q, int i, int j) {
  const double dx = q.cx - i, dz = q.cz - j;
  const double t2 = dx * dx + dz * dz;
  if (t2 > q.rho * q.rho) return 0;
  const double tau = std::sqrt(t2) / q.rho;
  return 1 - 3 * tau * tau + 2 * tau * tau * tau;
}

void report_square(HeightField& hf, const Square& q) {
  ++hf.height_changes;
  if (erosion_hooks().mark_ground_changed) {
    erosion_hooks().mark_ground_changed(hf, q.i0, q.i1, q.j0, q.j1);
  }
}

// Adds `add` to a sample; returns what actually changed (0 when the write was refused).
inline double add_height(HeightField& hf, int i, int j, double add) {
  const float before = height_sample(hf, i, j);
  set_height_sample(hf, i, j, static_cast<float>(static_cast<double>(before) + add));
  return static_cast<double>(height_sample(hf, i, j)) - static_cast<double>(before);
}

// The loaded shape of the ground at (x, z), by the same triangles as the live heights.
float loaded_height_at(HeightField& hf, double x, double z) {
  if (hf.loaded_heights.size() != hf.heights.size()) return ground_height_at(hf, x, z);
  hf.heights.swap(hf.loaded_heights);
  const float h = ground_height_at(hf, x, z);
  hf.heights.swap(hf.loaded_heights);
  return h;
}

// The a and b factors of the limits at `dug` ft below the loaded ground.
void limit_factors(const ErodeParams& p, double dug, double& a, double& b) {
  const int count = std::clamp(static_cast<int>(p.limit_count), 1, kMaxErodeLimits);
  const auto depth = [&](int i) {
    return static_cast<double>(p.limit_depth[static_cast<size_t>(i)]);
  };
  double phi = 0;
  if (count >= 2 && !(dug < depth(0))) {
    phi = count - 1;
    for (int i = 1; i < count; ++i) {
      if (dug < depth(i)) {
        const double span = depth(i) - depth(i - 1);
        phi = i - 1 + (span > 0 ? (dug - depth(i - 1)) / span : 0.0);
        break;
      }
    }
  }
  const double fl = std::floor(phi);
  const int i0 = std::clamp(static_cast<int>(fl), 0, count - 1);
  const int i1 = std::clamp(i0 + 1, 0, count - 1);
  const double u = phi - fl;
  const auto la = [&](int i) { return static_cast<double>(p.limit_a[static_cast<size_t>(i)]); };
  const auto lb = [&](int i) { return static_cast<double>(p.limit_b[static_cast<size_t>(i)]); };
  a = la(i0) + u * (la(i1) - la(i0));
  b = lb(i0) + u * (lb(i1) - lb(i0));
}

void apply_point(HeightField& hf, const RutPoint& e, double strength) {
  const double ex = static_cast<double>(e.x), ez = static_cast<double>(e.z);
  const ErodeParams& p = hf.materials[ground_material_at(hf, ex, ez)].erode;
  const double dgx = static_cast<double>(e.dig_x), dgz = static_cast<double>(e.dig_z);
  const double len = std::hypot(dgx, dgz);
  double d = 0, tx = ex, tz = ez;
  if (len > 0) {
    d = clamp_safe((len - 0.125) * 1.1428572, 0.0, 1.0) * static_cast<double>(p.displacement);
    tx = ex - d * dgx / len;
    tz = ez - d * dgz / len;
  }
  const double h0 = static_cast<double>(ground_height_at(hf, ex, ez));
  const double h1 = static_cast<double>(ground_height_at(hf, tx, tz));
  const double rise = h1 - h0;
  if (rise > static_cast<double>(p.max_slope) * d ||
      rise < static_cast<double>(p.min_slope) * d || !std::isfinite(rise)) {
    return;
  }
  double k = strength / 2048.0;
  if (rise < 0 && d > 0) k *= 1 + (-rise / d) * static_cast<double>(p.downhill_scale);
  const double dug = static_cast<double>(loaded_height_at(hf, ex, ez)) - h0;
  double a = 0, b = 0;
  limit_factors(p, dug, a, b);
  const double v1 = terrain_dig(hf, ex, ez, static_cast<double>(p.radius),
                                -e.count * a * k * static_cast<double>(p.depth));
  const double v2 = terrain_dig(hf, ex, ez, static_cast<double>(p.inner_radius),
                                -b * k * static_cast<double>(p.inner_depth));
  terrain_deposit(hf, tx, tz, static_cast<double>(p.radius), -(v1 + v2));
}

void set_debug(ErosionDebug& d, double speed, double slip, double fx, double fz, double pfx,
               double pfz) {
  d.speed = static_cast<float>(speed);
  d.slip = static_cast<float>(slip);
  d.fx = static_cast<float>(fx);
  d.fz = static_cast<float>(fz);
  d.pfx = static_cast<float>(pfx);
  d.pfz = static_cast<float>(pfz);
}

}  // namespace

// ---- state --------------------------------------------------------------------------

ErosionHooks& erosion_hooks() {
  static ErosionHooks h;
  return h;
}

ErosionState& erosion_state() {
  static ErosionState s;
  return s;
}

void clear_erosion_queue() {
  ErosionState& s = erosion_state();
  s.head = 0;
  s.length = 0;
  s.guard_deadline = kNoDeadline;
}

void reset_erosion() {
  clear_erosion_queue();
  ErosionState& s = erosion_state();
  s.full_reported = false;
  s.last = s.front = s.rear = ErosionDebug{};
}

int erosion_queue_length() { return erosion_state().length; }

const RutPoint& erosion_queue_at(int k) {
  const ErosionState& s = erosion_state();
  return s.queue[static_cast<size_t>((s.head + k) & (kErosionQueueSize - 1))];
}

// ---- sampling -----------------------------------------------------------------------

void reset_rut_strokes(BikeState& bike) {
  bike.front_stroke = RutStroke{};
  bike.rear_stroke = RutStroke{};
}

void erosion_sample_bike(BikeState& bike, const HeightField& hf, int tic) {
  ErosionState& s = erosion_state();
  erosion_sample_wheel(bike.front_stroke, bike.front_contact, true, hf, tic);
  s.front = s.last;
  erosion_sample_wheel(bike.rear_stroke, bike.rear_contact, false, hf, tic);
  s.rear = s.last;
}

void erosion_sample_wheel(RutStroke& stroke, const WheelContact& wheel, bool front,
                          const HeightField& hf, int tic) {
  ErosionDebug& debug = erosion_state().last;
  debug = ErosionDebug{};
  if (wheel.depth > 0 && wheel.body != nullptr && hf.size > 0) {
    const double px = static_cast<double>(wheel.point[0]);
    const double pz = static_cast<double>(wheel.point[2]);
    const ErodeParams& p = hf.materials[ground_material_at(hf, px, pz)].erode;
    const std::array<float, 3> nf = ground_face_normal_at(hf, px, pz);
    const double n[3] = {static_cast<double>(nf[0]), static_cast<double>(nf[1]),
                         static_cast<double>(nf[2])};
    const dReal* v = dBodyGetLinearVel(wheel.body);
    const double speed = std::sqrt(v[0] * v[0] + v[1] * v[1] + v[2] * v[2]);
    const double horizontal = std::hypot(v[0], v[2]);
    if (horizontal > 0 && std::isfinite(horizontal)) {
      const double f[2] = {v[0] / horizontal, v[2] / horizontal};
      const double l[2] = {-f[1], f[0]};
      const double on = ramp(speed, static_cast<double>(p.off_speed),
                             static_cast<double>(p.on_speed));
      const double force[3] = {wheel.feedback.f1[0], wheel.feedback.f1[1],
                               wheel.feedback.f1[2]};
      const double nn = n[0] * n[0] + n[1] * n[1] + n[2] * n[2];
      const double nF = nn > 0 ? (n[0] * force[0] + n[1] * force[1] + n[2] * force[2]) / nn : 0;
      const double tx = force[0] - n[0] * nF;
      const double tz = force[2] - n[2] * nF;
      const double ptg = static_cast<double>(p.project_to_ground);
      double gx = (force[0] + (tx - force[0]) * ptg) * on;
      double gz = (force[2] + (tz - force[2]) * ptg) * on;
      const double slip = std::sqrt(static_cast<double>(
          wheel.point_velocity[0] * wheel.point_velocity[0] +
          wheel.point_velocity[1] * wheel.point_velocity[1] +
          wheel.point_velocity[2] * wheel.point_velocity[2]));
      const double base = static_cast<double>(p.slip_base_scale);
      const double slip_factor =
          base + ramp(slip, static_cast<double>(p.slip_lower), static_cast<double>(p.slip_upper)) *
                     (static_cast<double>(p.slip_scale) - base);
      gx *= slip_factor;
      gz *= slip_factor;
      const double side = (l[0] * gx + l[1] * gz) * (static_cast<double>(p.lateral_scale) - 1);
      gx += l[0] * side;
      gz += l[1] * side;
      if (front) {
        gx *= static_cast<double>(p.front_scale);
        gz *= static_cast<double>(p.front_scale);
      }
      set_debug(debug, speed, slip, force[0] * l[0] + force[2] * l[1],
                force[0] * f[0] + force[2] * f[1], gx * l[0] + gz * l[1],
                gx * f[0] + gz * f[1]);
      const double m2 = gx * gx + gz * gz;
      const double lower = static_cast<double>(p.lower);
      if (m2 > lower * lower && m2 > kMinDigSquared) {
        const double m = std::sqrt(m2);
        const double s = ramp(m, lower, static_cast<double>(p.upper));
        const double scale = (0.875 * s + 0.125) / m;
        accumulate(stroke, hf, tic, wheel.point[0], wheel.point[2],
                   static_cast<float>(gx * scale), static_cast<float>(gz * scale));
        return;
      }
    }
  }
  // No sample this tic: a stroke idle for long enough is closed and sent.
  if (stroke.point_count >= 1 && stroke.last_point_tic + kErosionIdleTics < tic) {
    store_rut_point(stroke, hf, tic);
    send_stroke(stroke, hf);
    stroke = RutStroke{};
  }
}

void store_rut_point(RutStroke& s, const HeightField& hf, int tic) {
  const int n = s.sample_count;
  if (n <= 0) return;
  int k = std::clamp(s.point_count, 0, kRutStrokePoints);
  if (k == kRutStrokePoints) {
    send_stroke(s, hf);
    k = s.point_count = 0;
  }
  const float inv = 1.0f / static_cast<float>(n);
  RutPoint& pt = s.points[static_cast<size_t>(k)];
  pt = RutPoint{s.sum_x * inv, s.sum_z * inv, s.sum_dig_x * inv, s.sum_dig_z * inv, n};
  clear_pending(s);
  if (k == 0) {
    s.min_delta_x = s.min_delta_z = s.max_delta_x = s.max_delta_z = 0;
    s.point_count = 1;
    s.last_point_tic = tic;
    return;
  }
  const RutPoint& prev = s.points[static_cast<size_t>(k - 1)];
  const float dx = pt.x - prev.x;
  const float dz = pt.z - prev.z;
  float mnx = dx, mnz = dz, mxx = dx, mxz = dz;
  if (k > 1) {
    mnx = std::min(s.min_delta_x, dx);
    mnz = std::min(s.min_delta_z, dz);
    mxx = std::max(s.max_delta_x, dx);
    mxz = std::max(s.max_delta_z, dz);
  }
  const float r = std::max(mxx - mnx, mxz - mnz);
  // A delta the record can't carry (past 1024 ft) would land the point elsewhere on the
  // receiver; it starts a new stroke like a too-wide range does.
  const float carry = static_cast<float>(kDeltaLimit - kDeltaWiden);
  const bool too_far = !(std::fabs(dx) <= carry) || !(std::fabs(dz) <= carry);
  if (r > kStrokeDeltaRange || too_far) {
    s.point_count = k;
    send_stroke(s, hf);
    s.min_delta_x = s.min_delta_z = s.max_delta_x = s.max_delta_z = 0;
    s.points[0] = s.points[static_cast<size_t>(k)];
    s.point_count = 1;
  } else {
    s.min_delta_x = mnx;
    s.min_delta_z = mnz;
    s.max_delta_x = mxx;
    s.max_delta_z = mxz;
    s.point_count = k + 1;
  }
  s.last_point_tic = tic;
}

// ---- records ------------------------------------------------------------------------

int encode_erosion_record(const RutStroke& stroke, float extent, uint8_t* out) {
  const int n = std::clamp(stroke.point_count, 0, kRutStrokePoints);
  if (n == 0 || out == nullptr) return 0;
  const double ext = static_cast<double>(extent);
  const int c_mnx = code_delta(static_cast<double>(stroke.min_delta_x) - kDeltaWiden);
  const int c_mnz = code_delta(static_cast<double>(stroke.min_delta_z) - kDeltaWiden);
  const int c_mxx = code_delta(static_cast<double>(stroke.max_delta_x) + kDeltaWiden);
  const int c_mxz = code_delta(static_cast<double>(stroke.max_delta_z) + kDeltaWiden);
  out[0] = 1;
  put16(out + 1, c_mnx);
  put16(out + 3, c_mnz);
  put16(out + 5, c_mxx);
  put16(out + 7, c_mxz);
  const double mnx = decode_delta(c_mnx), mnz = decode_delta(c_mnz);
  const double mxx = decode_delta(c_mxx), mxz = decode_delta(c_mxz);

  const RutPoint& first = stroke.points[0];
  const int cx = code_position(static_cast<double>(first.x), ext);
  const int cz = code_position(static_cast<double>(first.z), ext);
  put24(out + 9, cx);
  put24(out + 12, cz);
  put_dig(out + 15, first);
  double rx = decode_position(cx, ext);
  double rz = decode_position(cz, ext);

  uint8_t* p = out + kErosionRecordHeader;
  for (int k = 1; k < n; ++k, p += 4) {
    const RutPoint& pt = stroke.points[static_cast<size_t>(k)];
    const int bx = code_delta_byte(static_cast<double>(pt.x) - rx, mnx, mxx);
    const int bz = code_delta_byte(static_cast<double>(pt.z) - rz, mnz, mxz);
    p[0] = static_cast<uint8_t>(bx);
    p[1] = static_cast<uint8_t>(bz);
    put_dig(p + 2, pt);
    rx = delta_step(rx, mnx, mxx, bx);
    rz = delta_step(rz, mnz, mxz, bz);
  }
  return kErosionRecordHeader + 4 * (n - 1);
}

void decode_erosion_record(const uint8_t* bytes, int length, float extent) {
  if (bytes == nullptr || length < kErosionRecordHeader || bytes[0] != 1) return;
  const double ext = static_cast<double>(extent);
  const double mnx = decode_delta(get16(bytes + 1));
  const double mnz = decode_delta(get16(bytes + 3));
  const double mxx = decode_delta(get16(bytes + 5));
  const double mxz = decode_delta(get16(bytes + 7));
  double rx = decode_position(get24(bytes + 9), ext);
  double rz = decode_position(get24(bytes + 12), ext);
  RutPoint pt;
  pt.x = static_cast<float>(rx);
  pt.z = static_cast<float>(rz);
  get_dig(bytes + 15, pt);
  push_point(pt);
  const int further = (length - kErosionRecordHeader) / 4;
  const uint8_t* p = bytes + kErosionRecordHeader;
  for (int k = 0; k < further; ++k, p += 4) {
    rx = delta_step(rx, mnx, mxx, p[0]);
    rz = delta_step(rz, mnz, mxz, p[1]);
    pt.x = static_cast<float>(rx);
    pt.z = static_cast<float>(rz);
    get_dig(p + 2, pt);
    push_point(pt);
  }
}

void decode_erosion_record(const uint8_t* bytes, int length) {
  const Track* t = current_track();
  if (t == nullptr || !t->terrain) return;
  decode_erosion_record(bytes, length, t->terrain->extent);
}

void submit_erosion_record(const uint8_t* bytes, int length, float extent) {
  if (bytes == nullptr || length <= 0) return;
  const ErosionHooks& h = erosion_hooks();
  if (h.send_to_server && h.send_to_server(bytes, length)) return;
  decode_erosion_record(bytes, length, extent);
  if (h.record_written) h.record_written(bytes, length);
}

void submit_erosion_record(const uint8_t* bytes, int length) {
  const Track* t = current_track();
  submit_erosion_record(bytes, length, t != nullptr && t->terrain ? t->terrain->extent : 0.0f);
}

// ---- application --------------------------------------------------------------------

int erosion_quota(int q) {
  q = std::max(q, 0);
  return q / 512 + std::max(0, q - 8192) / 64 + 4;
}

void apply_erosion(HeightField& hf, std::optional<GuardPosition> guard, double strength,
                   int tic) {
  ErosionState& s = erosion_state();
  if (s.guard_deadline < tic) {
    s.guard_deadline = kNoDeadline;
    guard.reset();
  }
  const int quota = erosion_quota(s.length);
  int taken = 0;
  while (s.length > 0) {
    const RutPoint e = s.queue[static_cast<size_t>(s.head)];
    if (guard) {
      const double dx = static_cast<double>(e.x) - guard->x;
      const double dz = static_cast<double>(e.z) - guard->z;
      if (dx * dx + dz * dz < kGuardRadiusSquared) break;
    }
    s.head = (s.head + 1) & (kErosionQueueSize - 1);
    --s.length;
    if (hf.size > 0) apply_point(hf, e, strength);
    s.guard_deadline = kNoDeadline;
    if (++taken == quota) return;
  }
  if (s.length > 0) {
    const int wait_until = tic > kNoDeadline - kGuardWaitTics ? kNoDeadline : tic + kGuardWaitTics;
    s.guard_deadline = std::min(s.guard_deadline, wait_until);
  }
}

double terrain_dig(HeightField& hf, double x, double z, double radius, double amount) {
  if (amount == 0 || !std::isfinite(amount)) return 0;
  const Square q = square_at(hf, x, z, radius);
  if (q.i0 > q.i1) return 0;
  double total = 0;
  for (int j = q.j0; j <= q.j1; ++j) {
    for (int i = q.i0; i <= q.i1; ++i) {
      const double w = bell(q, i, j);
      if (w > 0) total += add_height(hf, i, j, amount * w);
    }
  }
  report_square(hf, q);
  return total;
}

void terrain_deposit(HeightField& hf, double x, double z, double radius, double amount) {
  if (amount == 0 || !std::isfinite(amount)) return;
  const Square q = square_at(hf, x, z, radius);
  if (q.i0 > q.i1) return;
  // Weighed over the whole square: dirt thrown past the edge of the field is lost rather
  // than piled onto the edge samples.
  double weights = 0;
  for (int j = q.o - q.h + 1; j <= q.o + q.h; ++j)
    for (int i = q.m - q.h + 1; i <= q.m + q.h; ++i) weights += bell(q, i, j);
  weights = std::max(weights, 1.0);
  for (int j = q.j0; j <= q.j1; ++j) {
    for (int i = q.i0; i <= q.i1; ++i) {
      const double w = bell(q, i, j);
      if (w > 0) add_height(hf, i, j, w * amount / weights);
    }
  }
  report_square(hf, q);
}

// ---- log display ----------------------------------------------------------------------

int erosion_log_text(const ErosionDebug& front, const ErosionDebug& rear, char* out,
                     size_t size) {
  if (out == nullptr || size == 0) return 0;
  const auto d = [](float v) { return static_cast<double>(v); };
  const int n = std::snprintf(
      out, size,
      "front:\nspeed=%.2f\nslip=%.2f\nfx=%.2f\nfz=%.2f\npfx=%.2f\npfz=%.2f\n"
      "rear:\nspeed=%.2f\nslip=%.2f\nfx=%.2f\nfz=%.2f\npfx=%.2f\npfz=%.2f\n",
      d(front.speed), d(front.slip), -d(front.fx), -d(front.fz), -d(front.pfx),
      -d(front.pfz), d(rear.speed), d(rear.slip), -d(rear.fx), -d(rear.fz), -d(rear.pfx),
      -d(rear.pfz));
  if (n < 0) {
    out[0] = '\0';
    return 0;
  }
  return static_cast<int>(std::min(static_cast<size_t>(n), size - 1));
}

}  // namespace ks
