// The window tests' main: one QApplication for the whole run, set up as the
// program sets it up and created only when tests run (listing them needs no
// platform plugin).
#include <memory>

#include <QApplication>
#include <gtest/gtest.h>

#include "platform/CodePage.h"
#include "ui/Unit1.h"

namespace {

class QtEnvironment : public ::testing::Environment {
 public:
  QtEnvironment(int& argc, char** argv) : argc_(argc), argv_(argv) {}
  void SetUp() override {
    tallyfold::InitSystemCodePage();
    application_ = std::make_unique<QApplication>(argc_, argv_);
    tallyfold::ConfigureApplication();
  }
  void TearDown() override { application_.reset(); }

 private:
  int& argc_;
  char** argv_;
  std::unique_ptr<QApplication> application_;
};

}  // namespace

int main(int argc, char** argv) {
  ::testing::InitGoogleTest(&argc, argv);
  ::testing::AddGlobalTestEnvironment(new QtEnvironment(argc, argv));
  return RUN_ALL_TESTS();
}
