#include "ici3d_shapes/analytic.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <optional>
#include <stdexcept>

namespace ici3d::shapes {

namespace {

struct Rect {
  double u0, u1, v0, v1;
  double area() const { return (u1 - u0) * (v1 - v0); }
  double distance(double u, double v) const {
    const double du = std::max({u0 - u, 0.0, u - u1});
    const double dv = std::max({v0 - v, 0.0, v - v1});
    return std::hypot(du, dv);
  }
};

struct Disk {
  double cu, cv, r;
};

// A flat region in the plane p[axis] == level: a union of disjoint
// rectangles in the other two coordinates, (axis+1)%3 and (axis+2)%3, less an
// optional round hole lying inside them.
class PlanarRegion : public SurfacePatch {
 public:
  PlanarRegion(int axis, double level, std::vector<Rect> rects, std::optional<Disk> hole = {})
      : axis_(axis), level_(level), rects_(std::move(rects)), hole_(hole) {
    for (const Rect& rect : rects_) rect_area_ += rect.area();
  }

  double area() const override { return rect_area_ - (hole_ ? kPi * hole_->r * hole_->r : 0.0); }

  Vec3 sample(SeededRandom& random) const override {
    for (;;) {
      double pick = random.uniform() * rect_area_;
      const Rect* rect = &rects_.back();
      for (const Rect& candidate : rects_) {
        if (pick < candidate.area()) {
          rect = &candidate;
          break;
        }
        pick -= candidate.area();
      }
      const double u = rect->u0 + random.uniform() * (rect->u1 - rect->u0);
      const double v = rect->v0 + random.uniform() * (rect->v1 - rect->v0);
      if (in_hole(u, v)) continue;
      Vec3 p;
      p[axis_] = level_;
      p[(axis_ + 1) % 3] = u;
      p[(axis_ + 2) % 3] = v;
      return p;
    }
  }

  // The hole lies inside the rectangles, so from inside it the nearest point
  // of the region is on its rim; from anywhere else the hole does not matter.
  double distance(const Vec3& p) const override {
    const double u = p[(axis_ + 1) % 3], v = p[(axis_ + 2) % 3];
    double in_plane;
    if (in_hole(u, v)) {
      in_plane = hole_->r - std::hypot(u - hole_->cu, v - hole_->cv);
    } else {
      in_plane = std::numeric_limits<double>::infinity();
      for (const Rect& rect : rects_) in_plane = std::min(in_plane, rect.distance(u, v));
    }
    return std::hypot(p[axis_] - level_, in_plane);
  }

 private:
  bool in_hole(double u, double v) const {
    return hole_ && std::hypot(u - hole_->cu, v - hole_->cv) < hole_->r;
  }

  int axis_;
  double level_;
  std::vector<Rect> rects_;
  std::optional<Disk> hole_;
  double rect_area_ = 0;
};

// The side of a cylinder with a vertical axis through (cx, cy), z0 <= z <= z1.
class CylinderSide : public SurfacePatch {
 public:
  CylinderSide(double cx, double cy, double r, double z0, double z1)
      : cx_(cx), cy_(cy), r_(r), z0_(z0), z1_(z1) {}
  double area() const override { return 2 * kPi * r_ * (z1_ - z0_); }
  Vec3 sample(SeededRandom& random) const override {
    const double angle = 2 * kPi * random.uniform();
    const double z = z0_ + random.uniform() * (z1_ - z0_);
    return {cx_ + r_ * std::cos(angle), cy_ + r_ * std::sin(angle), z};
  }
  double distance(const Vec3& p) const override {
    const double radial = std::hypot(p[0] - cx_, p[1] - cy_) - r_;
    const double beyond = std::max({z0_ - p[2], 0.0, p[2] - z1_});
    return std::hypot(radial, beyond);
  }

 private:
  double cx_, cy_, r_, z0_, z1_;
};

class Sphere : public SurfacePatch {
 public:
  explicit Sphere(double r) : r_(r) {}
  double area() const override { return 4 * kPi * r_ * r_; }
  Vec3 sample(SeededRandom& random) const override {
    for (;;) {
      const Vec3 d{random.normal(), random.normal(), random.normal()};
      const double length = std::sqrt(d[0] * d[0] + d[1] * d[1] + d[2] * d[2]);
      if (length > 1e-12) return {r_ * d[0] / length, r_ * d[1] / length, r_ * d[2] / length};
    }
  }
  double distance(const Vec3& p) const override {
    return std::abs(std::sqrt(p[0] * p[0] + p[1] * p[1] + p[2] * p[2]) - r_);
  }

 private:
  double r_;
};

}  // namespace

std::vector<std::string> Shape::names() { return {"sphere", "cube", "part"}; }

void Shape::add(std::unique_ptr<SurfacePatch> patch) {
  cumulative_area_.push_back(area() + patch->area());
  patches_.push_back(std::move(patch));
}

Shape Shape::make(const std::string& name) {
  Shape shape;
  if (name == "sphere") {
    shape.add(std::make_unique<Sphere>(1.0));
  } else if (name == "cube") {
    for (int axis = 0; axis < 3; ++axis) {
      for (double level : {-1.0, 1.0})
        shape.add(std::make_unique<PlanarRegion>(axis, level, std::vector<Rect>{{-1, 1, -1, 1}}));
    }
  } else if (name == "part") {
    const Disk bore{0.5, 0.0, 0.25};
    // Horizontal faces (u = x, v = y).
    shape.add(std::make_unique<PlanarRegion>(2, 0.0, std::vector<Rect>{{-1, 1, -0.6, 0.6}}, bore));
    shape.add(std::make_unique<PlanarRegion>(2, 0.4, std::vector<Rect>{{0, 1, -0.6, 0.6}}, bore));
    shape.add(std::make_unique<PlanarRegion>(2, 0.8, std::vector<Rect>{{-1, 0, -0.6, 0.6}}));
    // Faces across x (u = y, v = z): the step between the halves, both ends.
    shape.add(std::make_unique<PlanarRegion>(0, 0.0, std::vector<Rect>{{-0.6, 0.6, 0.4, 0.8}}));
    shape.add(std::make_unique<PlanarRegion>(0, -1.0, std::vector<Rect>{{-0.6, 0.6, 0, 0.8}}));
    shape.add(std::make_unique<PlanarRegion>(0, 1.0, std::vector<Rect>{{-0.6, 0.6, 0, 0.4}}));
    // The L-shaped front and back (u = z, v = x).
    const std::vector<Rect> profile{{0, 0.8, -1, 0}, {0, 0.4, 0, 1}};
    shape.add(std::make_unique<PlanarRegion>(1, -0.6, profile));
    shape.add(std::make_unique<PlanarRegion>(1, 0.6, profile));
    shape.add(std::make_unique<CylinderSide>(bore.cu, bore.cv, bore.r, 0.0, 0.4));
  } else {
    throw std::invalid_argument("unknown shape '" + name + "' (expected sphere, cube or part)");
  }
  return shape;
}

std::vector<double> Shape::sample(size_t n, SeededRandom& random) const {
  std::vector<double> xyz;
  xyz.reserve(3 * n);
  for (size_t i = 0; i < n; ++i) {
    const Vec3 p = patches_[pick_by_share(cumulative_area_, random)]->sample(random);
    xyz.insert(xyz.end(), p.begin(), p.end());
  }
  return xyz;
}

double Shape::distance(const Vec3& p) const {
  double best = std::numeric_limits<double>::infinity();
  for (const auto& patch : patches_) best = std::min(best, patch->distance(p));
  return best;
}

}  // namespace ici3d::shapes
