// The dialog program: the main dialog on the Qt window backend.
#include "app/dialog.h"
#include "platform/window/qt/qt_backend.h"

#include <QApplication>

int main(int argc, char** argv) {
    QApplication application(argc, argv);
    // Only the end of the dialog ends the program, not the closing of a box.
    application.setQuitOnLastWindowClosed(false);
    UseDefaultUiFont();

    QtBackend backend;
    SetWindowBackend(&backend);
    const int status = WavtrnMain();
    SetWindowBackend(nullptr);
    return status;
}
