// The dialog program: the main dialog on the Qt window backend.
// Usage: wavtrn [SOURCE]  (SOURCE starts in the source field, described)
#include "app/dialog.h"
#include "platform/kernel/signals.h"
#include "platform/window/qt/qt_backend.h"

#include <QApplication>
#include <QIcon>

#include <csignal>

int main(int argc, char** argv) {
    // Signals a parent left ignored or blocked must not keep the dialog from
    // ending as the session asks.
    ResetInheritedSignals({SIGTERM, SIGHUP, SIGINT});
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
    // The end of a session (SIGTERM, SIGHUP) or Ctrl-C ends the dialog as its
    // close button does; a conversion running then stops as 中止 stops it,
    // removing its unfinished file.
    backend.CloseOnSignals({SIGTERM, SIGHUP, SIGINT});
    // Qt has taken its own options out of argv; the first argument left is the source.
    const int status = WavtrnMain(argc > 1 ? argv[1] : nullptr);
    SetWindowBackend(nullptr);
    return status;
}
