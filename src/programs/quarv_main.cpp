// The workstation: quarv [FILE] [--snapshot OUT.png ...]. Started with a recording, it processes it
// into the first layer as the Process command would, with the layer settings of layers.lcfg. With
// --snapshot it renders that one frame into a PNG and exits, for scripts and reports; without a
// display it starts itself under xvfb-run for that.
#include "core/app/message_sink.hpp"
#include "core/config/config_root.hpp"
#include "core/scan/processing_session.hpp"
#include "gui/app/command_ids.hpp"
#include "gui/app/main_frame.hpp"
#include "gui/app/quarv_app.hpp"
#include "gui/viewer/gl_format.hpp"

#include <QApplication>
#include <QMessageBox>
#include <QStringList>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

constexpr const char* kUsage =
    "usage: quarv [FILE]   open the workstation, processing FILE into Layer 1\n"
    "       quarv FILE --snapshot OUT.png [--size WxH] [--color range|amplitude|snr|height]\n"
    "                  [--fit] [--no-edl] [--window]\n"
    "             process FILE, write one frame of the view (the whole window with --window)\n"
    "             as a PNG and exit; without a display it runs itself under xvfb-run\n";

struct Options {
    QString file, snapshot, color;
    int width = 1280, height = 960;
    bool fit = false, edl = true, window = false, help = false;
};

// False on a malformed command line.
bool parse(const QStringList& args, Options& o) {
    for (int i = 1; i < args.size(); ++i) {
        const QString& a = args[i];
        const bool hasValue = i + 1 < args.size();
        if (a == "-h" || a == "--help") {
            o.help = true;
        } else if (a == "--snapshot" && hasValue) {
            o.snapshot = args[++i];
        } else if (a == "--size" && hasValue) {
            const QStringList wh = args[++i].split('x');
            bool okW = false, okH = false;
            if (wh.size() == 2) {
                o.width = wh[0].toInt(&okW);
                o.height = wh[1].toInt(&okH);
            }
            if (!okW || !okH || o.width < 64 || o.height < 64 || o.width > 8192 || o.height > 8192)
                return false;
        } else if (a == "--color" && hasValue) {
            o.color = args[++i];
            if (o.color != "range" && o.color != "amplitude" && o.color != "snr" &&
                o.color != "height")
                return false;
        } else if (a == "--fit") {
            o.fit = true;
        } else if (a == "--no-edl") {
            o.edl = false;
        } else if (a == "--window") {
            o.window = true;
        } else if (!a.startsWith('-') && o.file.isEmpty()) {
            o.file = a;
        } else {
            return false;
        }
    }
    const bool snapshotOnly = !o.color.isEmpty() || o.fit || !o.edl || o.window;
    return o.snapshot.isEmpty() ? !snapshotOnly : !o.file.isEmpty();
}

// A snapshot needs an X display; without one the program starts itself again under xvfb-run.
void reexecUnderXvfb(int argc, char** argv) {
    if (std::getenv("DISPLAY") || std::getenv("WAYLAND_DISPLAY") || std::getenv("QUARV_IN_XVFB"))
        return;
    setenv("QUARV_IN_XVFB", "1", 1);
    std::vector<char*> args{const_cast<char*>("xvfb-run"), const_cast<char*>("-a"),
                            const_cast<char*>("-s"), const_cast<char*>("-screen 0 2048x2048x24")};
    for (int i = 0; i < argc; ++i) args.push_back(argv[i]);
    args.push_back(nullptr);
    execvp("xvfb-run", args.data());
    std::fprintf(stderr, "ERROR, snapshot: no display and no xvfb-run to make one (%s)\n",
                 std::strerror(errno));
    std::exit(1);
}

int snapshot(quarv::CquarvApp& app, const Options& o) {
    using namespace quarv;
    CMainFrame& frame = app.frame();
    if (!frame.hasView()) {
        std::fprintf(stderr, "ERROR, snapshot: OpenGL is not available\n");
        return 1;
    }
    if (!app.processFile(0, o.file.toStdString())) {
        // The reader has said why; its message reaches the terminal through the event loop.
        QCoreApplication::processEvents();
        return 1;
    }
    while (!app.session().waitUntilIdle(std::chrono::milliseconds(10)))
        QCoreApplication::processEvents();
    QCoreApplication::processEvents();

    CloudRenderer& renderer = app.renderer();
    PointLayer& layer = app.store().layer(0);
    if (o.color == "height") {
        renderer.colorByHeight(0, app.colorRamp());
    } else if (!o.color.isEmpty()) {
        // For this frame only: the layer list is not written back.
        layer.colorMode = o.color == "range"       ? kColorByRange
                          : o.color == "amplitude" ? kColorByAmplitudeRank
                                                   : kColorBySnrRank;
        renderer.colorize(0);
    }
    renderer.markDirty();
    if (renderer.bounds().count == 0) {
        std::fprintf(stderr, "ERROR, snapshot: no visible point in %s\n", qPrintable(o.file));
        return 1;
    }
    if (!o.edl) frame.action(ID_DEPTH_SHADING)->setChecked(false);

    // The view (or, with --window, the whole window) W x H; a view smaller than the window's
    // bars and panel allow is given its size on its own.
    CChildView& view = app.view();
    if (o.window) {
        frame.resize(o.width, o.height);
    } else {
        view.setFixedSize(o.width, o.height);
        frame.resize(frame.minimumSizeHint());
    }
    for (int i = 0; i < 5; ++i) QCoreApplication::processEvents();
    if (o.fit) view.fitCloud();
    if (!app.writeViewImage(o.snapshot.toStdString(), o.window)) return 1;
    const QSize size = o.window ? frame.size() : view.size();
    std::printf("%s (%d x %d)\n", qPrintable(o.snapshot), size.width(), size.height());
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    Options options;
    {
        QStringList args;
        for (int i = 0; i < argc; ++i) args << QString::fromLocal8Bit(argv[i]);
        if (!parse(args, options) || options.help) {
            std::fputs(kUsage, options.help ? stdout : stderr);
            return options.help ? 0 : 2;
        }
    }
    if (!options.snapshot.isEmpty()) reexecUnderXvfb(argc, argv);

    // Before the application: the view needs the fixed-function pipeline and no multisampling.
    quarv::setDefaultGlFormat();
    QCoreApplication::setOrganizationName(QStringLiteral("Vornsketh"));
    QCoreApplication::setApplicationName(QStringLiteral("quarv"));
    QApplication app(argc, argv);

    const quarv::ConfigRoot root = quarv::ConfigRoot::fromEnvironment();
    quarv::RecordingSink startup;
    if (!root.ensureCreated(startup)) {
        if (!options.snapshot.isEmpty()) {
            std::fprintf(stderr, "%s\n", startup.last().c_str());
            return 1;
        }
        QMessageBox::critical(nullptr, QStringLiteral("quarv"),
                              QString::fromStdString(startup.last()));
        return 1;
    }

    quarv::CquarvApp theApp(root);
    if (!theApp.store().allocated()) {
        if (!options.snapshot.isEmpty()) {
            std::fprintf(stderr, "ERROR, allocating the point layers!\n");
            return 1;
        }
        QMessageBox::critical(nullptr, QStringLiteral("quarv"),
                              QStringLiteral("ERROR, allocating the point layers!"));
        return 1;
    }
    // Without OpenGL the workstation still opens, without its view: the header, the graphs,
    // processing and the exports need none.
    const bool openGl = quarv::openGlAvailable();
    if (!options.snapshot.isEmpty()) {
        // Messages go to the terminal: nobody is there to close a box.
        theApp.sink().setPresenter(
            [](const QString& t) { std::fprintf(stderr, "%s\n", qPrintable(t)); });
        theApp.initInstance(false, openGl);
        return snapshot(theApp, options);
    }
    theApp.initInstance(true, openGl);
    if (!openGl) {
        QMessageBox::critical(&theApp.frame(), QStringLiteral("Error!"),
                              QStringLiteral("OpenGL Choose Pixel Format"));
    }
    if (!options.file.isEmpty()) theApp.processFile(0, options.file.toStdString());
    return app.exec();
}
