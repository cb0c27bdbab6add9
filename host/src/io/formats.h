#pragma once
// Entry points of the format readers and writers; io.cpp picks among them.

#include <ostream>
#include <string>

#include "ici3d_host/io.h"
#include "input_source.h"

namespace ici3d::host::io_detail {

PointCloud read_ply(InputSource& source);
PointCloud read_pcd(InputSource& source);
PointCloud read_text(InputSource& source);
PointCloud read_las(InputSource& source);

/// Only the header of a PLY or PCD file: the cloud's layout, with its
/// attributes but no points, and the number of points the header declares.
/// The source is left at the first byte of the data.
PointCloud read_ply_header(InputSource& source, uint64_t& points);
PointCloud read_pcd_header(InputSource& source, uint64_t& points);

/// `name` is used in messages; `delimiter` is the text delimiter to use when
/// the cloud was not read from text.
void write_ply(std::ostream& out, const std::string& name, const PointCloud& cloud, Encoding encoding);
void write_pcd(std::ostream& out, const std::string& name, const PointCloud& cloud, Encoding encoding);
void write_text(std::ostream& out, const std::string& name, const PointCloud& cloud, char delimiter);
void write_las(std::ostream& out, const std::string& name, const PointCloud& cloud);

/// The header that write_ply / write_pcd put before the data of `points`
/// points of the cloud's layout (the cloud itself may hold none).
void write_ply_header(std::ostream& out, const std::string& name, const PointCloud& cloud,
                      Encoding encoding, uint64_t points);
void write_pcd_header(std::ostream& out, const std::string& name, const PointCloud& cloud,
                      Encoding encoding, uint64_t points);

}  // namespace ici3d::host::io_detail
