#include <gtest/gtest.h>
#include "Application.h"
TEST(Smoke, DefaultTitle) { EXPECT_EQ(gui::Application::DefaultTitle(L"C:\\x\\ORVANE.EXE"), L"Orvane"); }
