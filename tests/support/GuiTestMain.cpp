#include <QApplication>

#include <gtest/gtest.h>

#include <clocale>
#include <cstdlib>

// GoogleTest entry for tests that need widgets: one QApplication for the whole
// program, on the offscreen platform unless the environment picks another.
int main(int argc, char** argv)
{
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    ::testing::InitGoogleTest(&argc, argv);
    QApplication app(argc, argv);
    std::setlocale(LC_ALL, "");
    return RUN_ALL_TESTS();
}
