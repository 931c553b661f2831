// Entry point of the GL tests. Listing the tests (test discovery at build time) needs no display
// and creates no application; running them needs an X display (xvfb-run) and the xcb platform,
// since QOpenGLWidget cannot draw offscreen.
#include "gui/viewer/gl_format.hpp"

#include <QApplication>
#include <QLocale>

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

int main(int argc, char** argv) {
    testing::InitGoogleTest(&argc, argv);
    if (GTEST_FLAG_GET(list_tests)) return RUN_ALL_TESTS();

    const char* platform = std::getenv("QT_QPA_PLATFORM");
    if (platform == nullptr || std::strcmp(platform, "offscreen") == 0) {
        setenv("QT_QPA_PLATFORM", "xcb", 1);
    }
    if (std::getenv("DISPLAY") == nullptr) {
        std::fprintf(stderr, "The GL tests need an X display: run them under xvfb-run -a.\n");
        return 1;
    }
    QLocale::setDefault(QLocale::c());
    quarv::setDefaultGlFormat();
    QApplication app(argc, argv);
    return RUN_ALL_TESTS();
}
