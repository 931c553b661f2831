// The workstation: quarv [FILE]. Started with a recording, it processes it into the first layer
// as the Process command would, with the layer settings of layers.lcfg.
#include "core/app/message_sink.hpp"
#include "core/config/config_root.hpp"
#include "gui/app/main_frame.hpp"
#include "gui/app/quarv_app.hpp"
#include "gui/viewer/gl_format.hpp"

#include <QApplication>
#include <QMessageBox>
#include <QStringList>

#include <cstdio>

int main(int argc, char** argv) {
    // Before the application: the view needs the fixed-function pipeline and no multisampling.
    quarv::setDefaultGlFormat();
    QCoreApplication::setOrganizationName(QStringLiteral("Vornsketh"));
    QCoreApplication::setApplicationName(QStringLiteral("quarv"));
    QApplication app(argc, argv);

    const QStringList args = QCoreApplication::arguments();
    if (args.size() > 2 || (args.size() == 2 && args[1].startsWith('-'))) {
        std::fprintf(stderr, "usage: quarv [FILE]   open the workstation, processing FILE into "
                             "Layer 1\n");
        return args.size() == 2 && (args[1] == "-h" || args[1] == "--help") ? 0 : 2;
    }

    const quarv::ConfigRoot root = quarv::ConfigRoot::fromEnvironment();
    quarv::RecordingSink startup;
    if (!root.ensureCreated(startup)) {
        QMessageBox::critical(nullptr, QStringLiteral("quarv"),
                              QString::fromStdString(startup.last()));
        return 1;
    }

    quarv::CquarvApp theApp(root);
    if (!theApp.store().allocated()) {
        QMessageBox::critical(nullptr, QStringLiteral("quarv"),
                              QStringLiteral("ERROR, allocating the point layers!"));
        return 1;
    }
    // Without OpenGL the workstation still opens, without its view: the header, the graphs,
    // processing and the exports need none.
    const bool openGl = quarv::openGlAvailable();
    theApp.initInstance(true, openGl);
    if (!openGl) {
        QMessageBox::critical(&theApp.frame(), QStringLiteral("Error!"),
                              QStringLiteral("OpenGL Choose Pixel Format"));
    }
    if (args.size() == 2) theApp.processFile(0, args[1].toStdString());
    return app.exec();
}
