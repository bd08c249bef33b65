// The temporary file beside a file being replaced: always a new one, never reached through a
// link planted at its name.
#include <gtest/gtest.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "base/whole_file.h"

namespace {

TEST(BaseWholeFile, ATemporaryFileIsAlwaysNewAndNamesThatAreTakenArePassedOver) {
  char folder[] = "/tmp/gm-whole-file.XXXXXX";
  ASSERT_NE(mkdtemp(folder), nullptr);
  const std::string target = std::string(folder) + "/wing.cfg", victim = target + ".victim";
  const std::string stem = target + ".part." + std::to_string(getpid()) + ".";
  ASSERT_EQ(symlink(victim.c_str(), (stem + "1").c_str()), 0);
  std::ofstream(stem + "2") << "someone else's";
  std::atomic<unsigned> counter{0};
  std::string tmp;
  const int fd = gm_base::create_temp_beside(target, 0600, counter, tmp);
  ASSERT_GE(fd, 0);
  EXPECT_EQ(tmp, stem + "3");
  close(fd);
  EXPECT_FALSE(std::filesystem::exists(victim)) << "nothing made through the link";

  for (int n = 4; n < 12; ++n) symlink(victim.c_str(), (stem + std::to_string(n)).c_str());
  EXPECT_EQ(gm_base::create_temp_beside(target, 0600, counter, tmp), -1) << "8 names tried";
  EXPECT_EQ(errno, EEXIST);
  EXPECT_TRUE(gm_base::sync_parent_dir(target));
  std::filesystem::remove_all(folder);
}

}  // namespace
