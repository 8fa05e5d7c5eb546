// Bike against bike and bike against track objects. Every body carries a set of spheres
// and each wheel is a torus; every overlapping pair of spheres becomes a one-step contact
// joint, a pair of penalty forces, or only a reported touch. A rider who hits an object
// fast enough crashes; bikes that meet set collision timers instead.
//
// Sections: geometry (pure) - sphere pairs - shapes and wheels - bikes and objects.
#pragma once

#include <array>
#include <vector>

#include <ode/ode.h>

#include "physics/wheel_contact.h"

namespace ks {

struct BikeState;
struct CollisionShape;
struct CollisionSphere;
struct HeightField;
struct ObjectGrid;
struct TrackObject;

// Parts of a bike, as a bit set.
enum BikePart : int {
  kPartFrame = 1,
  kPartFrontWheel = 2,
  kPartRearWheel = 4,
  kPartForkUpper = 8,
  kPartForkLower = 16,
  kPartSwingarm = 32,
  kPartRider = 64,
};
// The front end of a bike: the parts that meet another bike first.
constexpr int kPartFrontEnd = kPartFrontWheel | kPartForkLower;

// What an overlapping pair of spheres does.
enum ContactMode : int {
  kContactTouch = -1,  // only report the overlap
  kContactJoint = 0,   // a contact joint in the contact group
  kContactForce = 1,   // penalty forces on both bodies
};

// ---- geometry (pure) --------------------------------------------------------------------

// Two spheres overlap when their centres are closer than the sum of the radii. `normal`
// points from sphere 1 towards sphere 2 and `point` lies halfway through the overlap.
// Centres that practically coincide overlap without a usable contact (`has_contact` off).
struct SphereOverlap {
  bool overlaps = false;
  bool has_contact = false;
  double depth = 0;
  Vec3d normal{};
  Vec3d point{};
};
SphereOverlap sphere_overlap(const Vec3d& c1, double r1, const Vec3d& c2, double r2);

// Softness of a sphere pair at a depth: the softer spring and damper of the two, the
// spring lowered so that it never pushes with more than 2500 lb, the lower friction, and
// the joint ERP and CFM of one tic.
struct SphereSoftness {
  double spring = 0, damper = 0, mu = 0, erp = 0, cfm = 0;
};
SphereSoftness sphere_softness(const CollisionSphere& s1, const CollisionSphere& s2,
                               double depth);

// Penalty force along the normal at a depth, with body 1 closing on body 2 at
// `closing_speed` along the normal; within +-1000 lb.
constexpr double kMaxPenaltyForce = 1000;
double penalty_force(double depth, double spring, double damper, double closing_speed);

// The point of a tyre (torus centre `centre`, unit axle, torus radius) nearest a sphere at
// `target`: on the torus' centre circle, in the direction of the target across the axle.
// A target on the axle line takes the first fixed direction that is across the axle.
Vec3d torus_proxy_centre(const Vec3d& centre, const Vec3d& axle, double torus_radius,
                         const Vec3d& target);

// A rigid placement: position and row-major 3 x 3 rotation whose columns are the axes.
struct ShapePose {
  Vec3d position{};
  std::array<double, 9> rotation{1, 0, 0, 0, 1, 0, 0, 0, 1};
};
ShapePose body_pose(dBodyID body);
ShapePose object_pose(const std::array<float, 3>& position,
                      const std::array<float, 9>& orientation);

// Writes every sphere's world centre into this copy of the shape.
void place_shape(CollisionShape& shape, const ShapePose& pose);

// ---- sphere pairs -----------------------------------------------------------------------

// Spheres at their world centres, with their bodies (null = static). Returns true if they
// overlap. With a record, the point, body 1's velocity there, the normal and the depth are
// written into it.
bool sphere_sphere_contact(const CollisionSphere& s1, dBodyID b1, const CollisionSphere& s2,
                           dBodyID b2, int mode, WheelContact* record);

// ---- shapes and wheels ------------------------------------------------------------------

// Every sphere of shape 1 against every sphere of shape 2, after the bounding spheres
// overlap. True if any pair overlapped.
bool shape_shape_contacts(CollisionShape& s1, dBodyID b1, const ShapePose& p1,
                          CollisionShape& s2, dBodyID b2, const ShapePose& p2, int mode);

// The tyre of a wheel against every sphere of a shape. The deepest touch becomes the
// wheel's contact of this tic when the wheel touches no ground. True if the tyre touched.
bool wheel_shape_contacts(CollisionShape& s, dBodyID body, const ShapePose& pose,
                          WheelContact& wheel, int mode);

// Bike B's wheels and part shapes against one shape; B's front wheel, fork upper and fork
// lower use `front_mode`. Returns the part flags of B that touched.
int shape_bike_contacts(BikeState& b, CollisionShape& s, dBodyID body, const ShapePose& pose,
                        int mode, int front_mode);

// ---- bikes and objects ------------------------------------------------------------------

// One object (or starting-gate piece) against a bike, with the object crash rule: a rider
// body that hits it faster than 20 ft/s crashes, unless already down or protected by a
// negative collision timer. Returns the part flags that touched.
constexpr double kObjectCrashSpeed = 20;
int object_contact(BikeState& bike, CollisionShape& shape, dBodyID body, const ShapePose& pose,
                   const HeightField& hf);

// The tic's contacts of a locally simulated bike with the ground and with the objects of
// the grid cells within 6 ft of its frame; touched objects take the tic as their touch
// tic. True if anything touched.
bool bike_object_contacts(BikeState& bike, const HeightField& hf,
                          std::vector<TrackObject>& objects, const ObjectGrid& grid,
                          float world_width, int tic);

// Bike A against bike B. Contacts are joints unless either bike already met another bike
// in this tic, when they become forces. With `remote`, B's front parts only touch A's rear
// wheel, frame, swingarm and rider. Sets the collision timers of the bike that ran in
// (positive: its balance assist fades out) and of the bike that was hit (negative: it is
// protected from crashing). Returns the part flags of B that touched.
constexpr float kHeadOnTimer = 128;
constexpr float kRammerTimer = 192;
constexpr float kRammedTimer = -640;
int bike_bike_contacts(BikeState& a, BikeState& b, bool remote, int tic);

}  // namespace ks
