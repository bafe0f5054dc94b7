// A modal dialog built from a dialog template, with its dialog procedure.
//
// Control handles are the controls' widget addresses; the dialog's handle is the
// dialog's own. Widget events become the procedure's messages:
//   - push button clicked                 WM_COMMAND(id, BN_CLICKED)
//   - edit lost the focus inside the dialog WM_COMMAND(id, EN_KILLFOCUS)
//   - Enter in an edit                     WM_COMMAND(IDOK, BN_CLICKED)
//   - Enter on a push button               that button is clicked
//   - Escape, or the window's close        WM_COMMAND(IDCANCEL, BN_CLICKED)
//   - local files dropped                  WM_DROPFILES(the drop, the edit it
//                                          fell on or null for the rest)
// Commands are queued and handed to the procedure one at a time from the event
// loop, in the order they arose. A command that arrives while the procedure is
// still busy (a message box of an earlier command is open) waits until it
// returns (a drop waits with them), and nothing is handed over while a mouse
// button is held: a focus loss
// caused by pressing a push button is handled after that press has become a
// click, so a message box shown for the focus loss cannot swallow the click.
#pragma once

#include "platform/window/window.h"
#include "res/dialog_template.h"

#include <QDialog>
#include <QString>

#include <deque>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

class QEventLoop;

class TemplateDialog final : public QDialog {
public:
    TemplateDialog(const DialogTemplate& tmpl, DLGPROC proc);
    ~TemplateDialog() override;
    TemplateDialog(const TemplateDialog&) = delete;
    TemplateDialog& operator=(const TemplateDialog&) = delete;

    // Sends WM_INITDIALOG, shows the dialog and runs its modal loop until End;
    // returns End's result.
    INT_PTR Run(LPARAM param);
    // Records the result and closes the dialog once the running command returns.
    // Later calls change nothing.
    void End(INT_PTR result);

    HWND Handle() const;
    // The first control with that id (not -1), or null.
    QWidget* Control(int id) const;
    // The control behind a handle, or null when the handle names none of ours.
    QWidget* ControlFromHandle(HWND handle) const;
    static HWND HandleOf(const QWidget* widget);

    // The control's text as the procedure sees it (labels keep their '&').
    std::string Text(QWidget* control) const;
    void SetText(QWidget* control, std::string_view text);
    // Queues WM_DROPFILES with these files, dropped on the dialog itself.
    bool PostDrop(const std::vector<std::string>& files);

    // Pixels per 4 horizontal and per 8 vertical dialog units.

protected:
    void keyPressEvent(QKeyEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    void reject() override;
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dragMoveEvent(QDragMoveEvent* event) override;
    void dropEvent(QDropEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    struct ControlEntry {
        int id;
        ControlKind kind;
        std::unique_ptr<QWidget> widget;
        QString text;  // labels only: the text with its '&' markers
    };
    struct Command {
        int id;
        WORD code;
        UINT message = WM_COMMAND;
        // WM_DROPFILES only: the files, and the edit they fell on (null: the dialog).
        std::vector<std::string> files = {};
        QWidget* dropTarget = nullptr;
    };

    const ControlEntry* Find(const QWidget* widget) const;
    ControlEntry* Find(const QWidget* widget);
    QRect ToPixels(int x, int y, int cx, int cy) const;
    std::unique_ptr<QWidget> MakeControl(const ControlTemplate& t);
    void BuildControls(const DialogTemplate& tmpl);
    void LinkTabOrder(std::span<const ControlTemplate> list);
    void Post(int id, WORD code);
    // Queues a drop of local files for the procedure; false when the drag
    // carries none.
    bool TakeDrop(QDropEvent* event, QWidget* target);
    void ScheduleDrain(int delayMs);
    void Drain();
    void Dispatch(const Command& command);

    DLGPROC proc_;
    int baseX_ = 1;
    int baseY_ = 1;
    std::vector<ControlEntry> controls_;
    std::deque<Command> pending_;
    bool dispatching_ = false;
    bool drainScheduled_ = false;
    int mouseWaits_ = 0;
    bool ended_ = false;
    INT_PTR result_ = 0;
    QEventLoop* loop_ = nullptr;
};
