// The folder helpers of gm_base that the loader and the app rely on when they create their
// run and log folders.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include "base/paths.h"
#include "support/temp_home.h"

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

class BaseDirs : public gmtest::TempHomeTest {};

TEST_F(BaseDirs, MakeDirsCreatesEveryMissingFolderAndRefusesAFileInTheWay) {
  const std::string deep = gm_base::run_dir() + "/x/y";
  EXPECT_EQ(gm_base::run_dir(), home_.path() + "/Library/Application Support/Gainmesh/run");
  ASSERT_TRUE(gm_base::make_dirs(deep));
  struct stat st {};
  ASSERT_EQ(stat(deep.c_str(), &st), 0);
  EXPECT_TRUE(S_ISDIR(st.st_mode));
  EXPECT_TRUE(gm_base::make_dirs(deep)) << "an existing folder";

  const std::string file = home_.write("plain", "x");
  EXPECT_FALSE(gm_base::make_dirs(file));
  EXPECT_FALSE(gm_base::make_dirs(file + "/below"));
  EXPECT_FALSE(gm_base::make_dirs(""));
}

}  // namespace
