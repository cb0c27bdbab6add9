#include <utility>

#include "adapters.h"

namespace ici3d::python {

py::tuple read_cloud(const std::string& path, host::Format format) {
  host::PointCloud cloud;
  {
    py::gil_scoped_release release;
    host::ReadOptions options;
    options.format = format;
    cloud = host::read_point_cloud(path, options);
  }
  const auto n = static_cast<py::ssize_t>(cloud.size());
  py::list attributes;
  for (host::Attribute& attribute : cloud.attributes) {
    py::str name(attribute.name);
    attributes.append(py::make_tuple(name, attribute_to_numpy(std::move(attribute))));
  }
  return py::make_tuple(to_numpy(std::move(cloud.xyz), {n, 3}), attributes, std::move(cloud.layout));
}

void write_cloud(const std::string& path, const CArray<double>& points, const py::list& names,
                 const py::list& values, const std::optional<host::FileLayout>& layout,
                 host::Format format, std::optional<host::Encoding> encoding, bool overwrite) {
  const py::ssize_t n = require_rows(points, 3, "points");
  if (names.size() != values.size()) throw py::value_error("one name per attribute array is needed");
  host::PointCloud cloud;
  cloud.xyz.assign(points.data(), points.data() + 3 * n);
  if (layout) cloud.layout = *layout;
  for (size_t a = 0; a < names.size(); ++a) {
    const auto array = values[a].cast<py::array>();
    const auto name = names[a].cast<std::string>();
    host::Attribute& attribute = cloud.add_attribute(name, scalar_type_of(array.dtype(), "attribute '" + name + "'"));
    copy_values(array, attribute);
  }
  py::gil_scoped_release release;
  host::WriteOptions options;
  options.format = format;
  options.encoding = encoding;
  options.overwrite = overwrite;
  options.overwrite_source = overwrite;
  host::write_point_cloud(path, cloud, options);
}

}  // namespace ici3d::python
