// The dialog program: the main dialog on the Qt window backend.
#include "app/dialog.h"
#include "platform/window/qt/qt_backend.h"

#include <QApplication>
#include <QIcon>

int main(int argc, char** argv) {
    QApplication application(argc, argv);
    // Only the end of the dialog ends the program, not the closing of a box.
    application.setQuitOnLastWindowClosed(false);
    UseDefaultUiFont();
    // Every window shows the program's icon; the desktop file name lets task bars
    // and Wayland compositors match the windows to the installed menu entry.
    QApplication::setWindowIcon(ProgramIcon());
    QGuiApplication::setDesktopFileName(QStringLiteral("org.wavtrn.wavtrn"));

    QtBackend backend;
    SetWindowBackend(&backend);
    const int status = WavtrnMain();
    SetWindowBackend(nullptr);
    return status;
}
