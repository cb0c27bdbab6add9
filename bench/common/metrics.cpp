#include "metrics.h"

#include <Eigen/Eigenvalues>
#include <algorithm>
#include <cmath>
#include <limits>
#include <nanoflann.hpp>

namespace ici3d::bench {

namespace {

// nanoflann's view of an interleaved 3n array.
struct CloudAdaptor {
  const std::vector<double>& xyz;
  size_t kdtree_get_point_count() const { return xyz.size() / 3; }
  double kdtree_get_pt(size_t i, size_t dim) const { return xyz[3 * i + dim]; }
  template <class Box>
  bool kdtree_get_bbox(Box&) const {
    return false;
  }
};

using Tree = nanoflann::KDTreeSingleIndexAdaptor<nanoflann::L2_Simple_Adaptor<double, CloudAdaptor>,
                                                 CloudAdaptor, 3, size_t>;

}  // namespace

struct CloudIndex::Impl {
  explicit Impl(const std::vector<double>& xyz)
      : adaptor{xyz}, tree(3, adaptor, nanoflann::KDTreeSingleIndexAdaptorParams(16)) {}
  CloudAdaptor adaptor;
  Tree tree;
};

CloudIndex::CloudIndex(const std::vector<double>& xyz) : impl_(std::make_unique<Impl>(xyz)) {}
CloudIndex::~CloudIndex() = default;

size_t CloudIndex::size() const { return impl_->adaptor.kdtree_get_point_count(); }

double CloudIndex::nearest_squared_distance(const double* q) const {
  if (size() == 0) return std::numeric_limits<double>::infinity();
  size_t index = 0;
  double d2 = 0;
  impl_->tree.knnSearch(q, 1, &index, &d2);
  return d2;
}

std::vector<size_t> CloudIndex::nearest(const double* q, size_t k) const {
  std::vector<size_t> indices(std::min(k, size()));
  std::vector<double> d2(indices.size());
  indices.resize(impl_->tree.knnSearch(q, indices.size(), indices.data(), d2.data()));
  return indices;
}

double mean_squared_nearest(const std::vector<double>& from, const std::vector<double>& to) {
  const long n = static_cast<long>(from.size() / 3);
  if (n == 0) return 0;
  const CloudIndex index(to);
  double sum = 0;
#pragma omp parallel for schedule(static) reduction(+ : sum)
  for (long i = 0; i < n; ++i) sum += index.nearest_squared_distance(&from[3 * i]);
  return sum / static_cast<double>(n);
}

double chamfer_distance(const std::vector<double>& a, const std::vector<double>& b) {
  return mean_squared_nearest(a, b) + mean_squared_nearest(b, a);
}

std::vector<double> pca_normals(const std::vector<double>& xyz, size_t k) {
  const long n = static_cast<long>(xyz.size() / 3);
  std::vector<double> normals(xyz.size(), 0.0);
  const CloudIndex index(xyz);
#pragma omp parallel for schedule(static)
  for (long i = 0; i < n; ++i) {
    const std::vector<size_t> near = index.nearest(&xyz[3 * i], k);
    Eigen::Vector3d mean = Eigen::Vector3d::Zero();
    for (size_t j : near) mean += Eigen::Vector3d(xyz[3 * j], xyz[3 * j + 1], xyz[3 * j + 2]);
    mean /= static_cast<double>(near.size());
    Eigen::Matrix3d scatter = Eigen::Matrix3d::Zero();
    for (size_t j : near) {
      const Eigen::Vector3d d = Eigen::Vector3d(xyz[3 * j], xyz[3 * j + 1], xyz[3 * j + 2]) - mean;
      scatter += d * d.transpose();
    }
    // Eigenvalues come in increasing order: column 0 is the normal.
    const Eigen::SelfAdjointEigenSolver<Eigen::Matrix3d> solver(scatter);
    const Eigen::Vector3d normal = solver.eigenvectors().col(0);
    for (int c = 0; c < 3; ++c) normals[3 * i + c] = normal[c];
  }
  return normals;
}

double mean_unoriented_angle_deg(const std::vector<double>& a, const std::vector<double>& b) {
  const size_t n = std::min(a.size(), b.size()) / 3;
  double sum = 0;
  size_t counted = 0;
  for (size_t i = 0; i < n; ++i) {
    double dot = 0, na = 0, nb = 0;
    for (int c = 0; c < 3; ++c) {
      dot += a[3 * i + c] * b[3 * i + c];
      na += a[3 * i + c] * a[3 * i + c];
      nb += b[3 * i + c] * b[3 * i + c];
    }
    if (!(na > 0) || !(nb > 0)) continue;
    const double cosine = std::min(1.0, std::fabs(dot) / std::sqrt(na * nb));
    sum += std::acos(cosine) * 180.0 / M_PI;
    ++counted;
  }
  return counted ? sum / static_cast<double>(counted) : 0.0;
}

}  // namespace ici3d::bench
