// Entry point of the GUI tests (offscreen) and of the GL tests, which need an X display
// (xvfb-run) and the xcb platform since QOpenGLWidget cannot draw offscreen; listing the tests
// needs neither. The C locale makes typed and shown numbers use a decimal point on any machine.
#include "gui/viewer/gl_format.hpp"

#include <QApplication>
#include <QLocale>

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>

int main(int argc, char** argv) {
    testing::InitGoogleTest(&argc, argv);
    if (GTEST_FLAG_GET(list_tests)) return RUN_ALL_TESTS();
#ifdef QUARV_GL_TESTS
    if (std::getenv("DISPLAY") == nullptr) {
        std::fprintf(stderr, "The GL tests need an X display: run them under xvfb-run -a.\n");
        return 1;
    }
    setenv("QT_QPA_PLATFORM", "xcb", 1);
    quarv::setDefaultGlFormat();
#else
    setenv("QT_QPA_PLATFORM", "offscreen", 0); // unless the caller chose a platform
#endif
    QLocale::setDefault(QLocale::c());
    QApplication app(argc, argv);
    return RUN_ALL_TESTS();
}
