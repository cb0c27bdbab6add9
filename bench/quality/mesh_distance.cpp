#include "mesh_distance.h"

#include <CGAL/AABB_traits.h>
#include <CGAL/AABB_tree.h>
#include <CGAL/AABB_triangle_primitive.h>
#include <CGAL/Simple_cartesian.h>

namespace ici3d::bench {

namespace {

using Kernel = CGAL::Simple_cartesian<double>;
using Point = Kernel::Point_3;
using Triangle = Kernel::Triangle_3;
using Iterator = std::vector<Triangle>::const_iterator;
using Primitive = CGAL::AABB_triangle_primitive<Kernel, Iterator>;
using Tree = CGAL::AABB_tree<CGAL::AABB_traits<Kernel, Primitive>>;

Point point_at(const double* p) { return Point(p[0], p[1], p[2]); }

}  // namespace

struct MeshDistance::Impl {
  std::vector<Triangle> triangles;
  Tree tree;
};

MeshDistance::MeshDistance(const shapes::Mesh& mesh)
    : impl_(std::make_unique<Impl>()), mesh_(mesh) {
  impl_->triangles.reserve(mesh.triangles.size());
  for (const auto& t : mesh.triangles) {
    const shapes::Vec3& a = mesh.vertices[t[0]];
    const shapes::Vec3& b = mesh.vertices[t[1]];
    const shapes::Vec3& c = mesh.vertices[t[2]];
    impl_->triangles.emplace_back(point_at(a.data()), point_at(b.data()), point_at(c.data()));
  }
  impl_->tree.insert(impl_->triangles.cbegin(), impl_->triangles.cend());
  impl_->tree.build();
  // Built once here, so that concurrent queries only read the tree.
  impl_->tree.accelerate_distance_queries();
}

MeshDistance::~MeshDistance() = default;

double MeshDistance::squared_distance(const double* p) const {
  return impl_->tree.squared_distance(point_at(p));
}

int32_t MeshDistance::closest_triangle(const double* p) const {
  const auto hit = impl_->tree.closest_point_and_primitive(point_at(p));
  return static_cast<int32_t>(hit.second - impl_->triangles.cbegin());
}

double MeshDistance::mean_squared_distance(const std::vector<double>& xyz) const {
  const long n = static_cast<long>(xyz.size() / 3);
  if (n == 0) return 0;
  double sum = 0;
#pragma omp parallel for schedule(static) reduction(+ : sum)
  for (long i = 0; i < n; ++i) sum += squared_distance(&xyz[3 * i]);
  return sum / static_cast<double>(n);
}

std::vector<double> MeshDistance::closest_normals(const std::vector<double>& xyz) const {
  const long n = static_cast<long>(xyz.size() / 3);
  std::vector<double> normals(xyz.size());
#pragma omp parallel for schedule(static)
  for (long i = 0; i < n; ++i) {
    const shapes::Vec3 normal =
        shapes::triangle_normal(mesh_, static_cast<size_t>(closest_triangle(&xyz[3 * i])));
    for (int c = 0; c < 3; ++c) normals[3 * i + c] = normal[c];
  }
  return normals;
}

}  // namespace ici3d::bench
