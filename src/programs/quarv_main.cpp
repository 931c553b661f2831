// The workstation's entry point.
#include <QApplication>
#include <QMainWindow>

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    QMainWindow window;
    window.setWindowTitle("Vornsketh            Ombrel            version 3.04");
    window.resize(800, 600);
    window.show();
    return app.exec();
}
