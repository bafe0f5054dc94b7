// The dialog program: the main dialog on the Qt window backend.
// Usage: wavtrn [SOURCE...]  (one SOURCE starts in the source field, described;
// several are converted into a folder, as if dropped on the dialog together)
#include "app/dialog.h"
#include "platform/kernel/signals.h"
#include "platform/window/qt/qt_backend.h"
#include "res/cli_strings.h"

#include <QApplication>
#include <QIcon>

#include <csignal>
#include <cstdio>
#include <cstring>

namespace {

// Answers --help and --version before any window exists, so that they work
// without a display; returns true when one was answered. "--" ends the options.
bool AnsweredOption(int argc, char** argv) {
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--") == 0) return false;
        if (std::strcmp(argv[i], "--help") == 0 || std::strcmp(argv[i], "-h") == 0) {
            std::fputs(CliWords(CliText::DialogUsage), stdout);
            return true;
        }
        if (std::strcmp(argv[i], "--version") == 0) {
            std::printf("wavtrn %s\n", WAVTRN_VERSION);
            return true;
        }
    }
    return false;
}

}  // namespace

int main(int argc, char** argv) {
    if (AnsweredOption(argc, argv)) return std::fflush(stdout) == 0 ? 0 : 1;
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
    // Qt has taken its own options out of argv; the arguments left are the
    // sources, after a "--" that kept them from being read as options.
    int first = 1;
    if (first < argc && std::strcmp(argv[first], "--") == 0) ++first;
    const std::vector<std::string> sources(argv + first, argv + argc);
    const int status = WavtrnMain(sources);
    SetWindowBackend(nullptr);
    return status;
}
