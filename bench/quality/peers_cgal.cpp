#include <CGAL/Simple_cartesian.h>
#include <CGAL/bilateral_smooth_point_set.h>
#include <CGAL/jet_estimate_normals.h>
#include <CGAL/jet_smooth_point_set.h>
#include <CGAL/property_map.h>

#include <utility>

#include "peers.h"

namespace ici3d::bench {

namespace {

using Kernel = CGAL::Simple_cartesian<double>;
using Point = Kernel::Point_3;
using Vector = Kernel::Vector_3;
using PointWithNormal = std::pair<Point, Vector>;
using Concurrency = CGAL::Parallel_if_available_tag;

std::vector<Point> to_points(const std::vector<double>& xyz) {
  std::vector<Point> points;
  points.reserve(xyz.size() / 3);
  for (size_t i = 0; i + 2 < xyz.size(); i += 3) points.emplace_back(xyz[i], xyz[i + 1], xyz[i + 2]);
  return points;
}

template <class Range, class Get>
std::vector<double> to_xyz(const Range& range, Get get) {
  std::vector<double> xyz;
  xyz.reserve(3 * range.size());
  for (const auto& item : range) {
    const Point& p = get(item);
    xyz.insert(xyz.end(), {p.x(), p.y(), p.z()});
  }
  return xyz;
}

}  // namespace

std::vector<double> cgal_jet_smooth(const std::vector<double>& xyz, unsigned k) {
  std::vector<Point> points = to_points(xyz);
  CGAL::jet_smooth_point_set<Concurrency>(points, k);
  return to_xyz(points, [](const Point& p) -> const Point& { return p; });
}

std::vector<double> cgal_bilateral_smooth(const std::vector<double>& xyz, unsigned k,
                                          int iterations, double sharpness_deg) {
  std::vector<PointWithNormal> points;
  for (const Point& p : to_points(xyz)) points.emplace_back(p, Vector(0, 0, 0));
  const auto maps = CGAL::parameters::point_map(CGAL::First_of_pair_property_map<PointWithNormal>())
                        .normal_map(CGAL::Second_of_pair_property_map<PointWithNormal>());
  CGAL::jet_estimate_normals<Concurrency>(points, k, maps);
  for (int it = 0; it < iterations; ++it) {
    CGAL::bilateral_smooth_point_set<Concurrency>(points, k, maps.sharpness_angle(sharpness_deg));
  }
  return to_xyz(points, [](const PointWithNormal& p) -> const Point& { return p.first; });
}

bool cgal_parallel() {
  return std::is_same_v<Concurrency, CGAL::Parallel_tag>;
}

}  // namespace ici3d::bench
