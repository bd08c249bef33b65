// Where a folder's parent is: the loader climbs from its own file to LV1's IO Modules folder
// with it.
#include <gtest/gtest.h>

#include "base/paths.h"

namespace {

TEST(BasePaths, ParentDirCutsAtTheLastSlash) {
  const struct {
    const char* path;
    const char* parent;
  } cases[] = {
      {"/a/b/c", "/a/b"}, {"/a", "/"}, {"/", "/"}, {"name", ""}, {"", ""}, {"a/b/", "a/b"},
  };
  for (const auto& c : cases) EXPECT_EQ(gm_base::parent_dir(c.path), c.parent) << c.path;
}

}  // namespace
