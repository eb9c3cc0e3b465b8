// One QApplication for every widget test, made before the first test runs.
#include <QApplication>
#include <gtest/gtest.h>

namespace {

class QtTestEnvironment : public ::testing::Environment {
 public:
  void SetUp() override {
    // Widget tests never need a display: without a platform chosen they render offscreen.
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    if (QApplication::instance() == nullptr) {
      static int argc = 1;
      static char name[] = "widgets_test";
      static char* argv[] = {name, nullptr};
      m_app = new QApplication(argc, argv);
    }
  }
  void TearDown() override {
    delete m_app;
    m_app = nullptr;
  }

 private:
  QApplication* m_app = nullptr;
};

[[maybe_unused]] ::testing::Environment* const g_environment =
    ::testing::AddGlobalTestEnvironment(new QtTestEnvironment);

}  // namespace
