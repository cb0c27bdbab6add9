// The report writer's JSON.

#include <gtest/gtest.h>

#include <cmath>

#include "json.h"

namespace ici3d::cli {
namespace {

TEST(JsonWriter, EscapesStringsAndWritesNonFiniteAsNull) {
  JsonWriter json;
  json.begin_object().member("a\"b", "line\nbreak\x01").member("nan", std::nan(""));
  json.key("list").begin_array().value(1).value(2.5).value(true).end_array();
  json.key("empty").begin_object().end_object().end_object();
  EXPECT_EQ(json.str(),
            "{\n  \"a\\\"b\": \"line\\nbreak\\u0001\",\n  \"nan\": null,\n  \"list\": [\n    1,\n"
            "    2.5,\n    true\n  ],\n  \"empty\": {}\n}\n");
}

}  // namespace
}  // namespace ici3d::cli
