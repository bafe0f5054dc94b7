// The dialog program: the main dialog on the Qt window backend.
// Usage: wavtrn [SOURCE]  (SOURCE starts in the source field, described)
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
    // Qt has taken its own options out of argv; the first argument left is the source.
    const int status = WavtrnMain(argc > 1 ? argv[1] : nullptr);
    SetWindowBackend(nullptr);
    return status;
}
