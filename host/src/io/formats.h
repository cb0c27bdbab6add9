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

/// `name` is used in messages; `delimiter` is the text delimiter to use when
/// the cloud was not read from text.
void write_ply(std::ostream& out, const std::string& name, const PointCloud& cloud, Encoding encoding);
void write_pcd(std::ostream& out, const std::string& name, const PointCloud& cloud, Encoding encoding);
void write_text(std::ostream& out, const std::string& name, const PointCloud& cloud, char delimiter);
void write_las(std::ostream& out, const std::string& name, const PointCloud& cloud);

}  // namespace ici3d::host::io_detail
