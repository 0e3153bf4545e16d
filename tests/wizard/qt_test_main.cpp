// The wizard tests need a QApplication; they run on the offscreen platform so that no display
// is needed (also when the test list is read at build time).
#include <gtest/gtest.h>

#include <QApplication>
#include <cstdlib>
#include <filesystem>
#include <system_error>

int main(int argc, char** argv) {
  setenv("QT_QPA_PLATFORM", "offscreen", /*overwrite=*/0);
  // The gateway that some tests run lies beside this program, unless the caller says otherwise.
  std::error_code error;
  const std::filesystem::path self = std::filesystem::read_symlink("/proc/self/exe", error);
  if (!error) setenv("BREVIX_BIN_DIR", self.parent_path().c_str(), /*overwrite=*/0);
  QApplication app(argc, argv);
  testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
