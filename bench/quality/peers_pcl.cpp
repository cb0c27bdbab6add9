#include <pcl/point_cloud.h>
#include <pcl/point_types.h>
#include <pcl/search/kdtree.h>
#include <pcl/surface/mls.h>

#include "peers.h"

namespace ici3d::bench {

std::vector<double> pcl_mls_smooth(const std::vector<double>& xyz, double radius, int threads) {
  pcl::PointCloud<pcl::PointXYZ>::Ptr cloud(new pcl::PointCloud<pcl::PointXYZ>);
  cloud->reserve(xyz.size() / 3);
  for (size_t i = 0; i + 2 < xyz.size(); i += 3) {
    cloud->push_back(pcl::PointXYZ(static_cast<float>(xyz[i]), static_cast<float>(xyz[i + 1]),
                                   static_cast<float>(xyz[i + 2])));
  }
  pcl::MovingLeastSquares<pcl::PointXYZ, pcl::PointXYZ> mls;
  mls.setInputCloud(cloud);
  mls.setSearchMethod(pcl::search::KdTree<pcl::PointXYZ>::Ptr(new pcl::search::KdTree<pcl::PointXYZ>));
  mls.setPolynomialOrder(2);
  mls.setSearchRadius(radius);
  mls.setComputeNormals(false);
  mls.setNumberOfThreads(static_cast<unsigned>(threads > 0 ? threads : 1));
  pcl::PointCloud<pcl::PointXYZ> out;
  mls.process(out);
  std::vector<double> result;
  result.reserve(3 * out.size());
  for (const auto& p : out) result.insert(result.end(), {p.x, p.y, p.z});
  return result;
}

}  // namespace ici3d::bench
