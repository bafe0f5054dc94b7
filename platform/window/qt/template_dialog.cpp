#include "platform/window/qt/template_dialog.h"

#include <QCloseEvent>
#include <QDropEvent>
#include <QEventLoop>
#include <QFile>
#include <QFocusEvent>
#include <QFontMetrics>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMimeData>
#include <QPushButton>
#include <QScreen>
#include <QTimer>

#include <algorithm>
#include <cmath>
#include <span>
#include <utility>

namespace {

// How long queued commands wait for a held mouse button before they are handed
// over anyway (a stuck button state must not freeze the dialog).
constexpr int kMouseWaitStepMs = 10;
constexpr int kMouseWaitLimit = 300;

// A label's text as drawn when no control takes its mnemonic: "&x" shows "x",
// "&&" shows "&".
QString WithoutMnemonics(const QString& text) {
    QString out;
    out.reserve(text.size());
    for (qsizetype i = 0; i < text.size(); ++i) {
        if (text[i] == u'&') {
            if (++i < text.size()) out += text[i];
        } else {
            out += text[i];
        }
    }
    return out;
}

// The local files a drag carries, as paths; none for text or web addresses.
std::vector<std::string> LocalFiles(const QMimeData* mime) {
    std::vector<std::string> files;
    if (mime == nullptr || !mime->hasUrls()) return files;
    for (const QUrl& url : mime->urls())
        if (url.isLocalFile()) files.push_back(QFile::encodeName(url.toLocalFile()).toStdString());
    return files;
}

// Win32 rounds dialog-unit conversions half away from zero.
int Scale(int units, int base, int per) { return static_cast<int>(std::lround(double(units) * base / per)); }

}  // namespace

TemplateDialog::TemplateDialog(const DialogTemplate& tmpl, DLGPROC proc) : proc_(proc) {
    // A close button only, as the template's modal frame has. Window managers
    // that follow the Motif hints show no maximize button; openbox lets every
    // dialog be minimized and keeps the maximize button's place between the
    // minimize button and the title, drawn disabled: the fixed size (minimum =
    // maximum) leaves it no maximize action, so a click on it does nothing.
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                   Qt::WindowCloseButtonHint);
    setWindowTitle(QString::fromUtf8(tmpl.caption != nullptr ? tmpl.caption : ""));
    setSizeGripEnabled(false);
    // Files dropped anywhere on the dialog; the edits take theirs themselves.
    setAcceptDrops(true);

    // The template's font ("System") does not exist here; the dialog uses the
    // application's font and measures its base units the way the dialog manager
    // does: the average width of the Latin letters, and the character height.
    const QFontMetrics metrics(font());
    const int letters =
        metrics.horizontalAdvance(QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz"));
    baseX_ = std::max(1, (letters / 26 + 1) / 2);
    baseY_ = std::max(1, metrics.height());

    const QRect frame = ToPixels(tmpl.x, tmpl.y, tmpl.cx, tmpl.cy);
    setFixedSize(frame.size());
    // The template's origin is measured from the top left of the screen.
    if (const QScreen* screen = QGuiApplication::primaryScreen())
        move(screen->availableGeometry().topLeft() + frame.topLeft());

    BuildControls(tmpl);
}

TemplateDialog::~TemplateDialog() {
    ended_ = true;
    pending_.clear();
    for (ControlEntry& c : controls_) c.widget->removeEventFilter(this);
    // The controls go while the dialog is still whole; a control that is
    // destroyed may move the focus and send events.
    std::vector<ControlEntry> doomed = std::move(controls_);
    controls_.clear();
    doomed.clear();
}

std::unique_ptr<QWidget> TemplateDialog::MakeControl(const ControlTemplate& t) {
    switch (t.kind) {
    case ControlKind::Static: {
        auto label = std::make_unique<QLabel>(this);
        label->setTextFormat(Qt::PlainText);
        label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
        label->setFocusPolicy(Qt::NoFocus);
        return label;
    }
    case ControlKind::Edit: {
        auto edit = std::make_unique<QLineEdit>(this);
        edit->setFrame((t.style & WS_BORDER) != 0);
        edit->installEventFilter(this);
        return edit;
    }
    case ControlKind::Button: {
        auto button = std::make_unique<QPushButton>(this);
        // Enter is the dialog's business (see keyPressEvent); no button is a default.
        button->setAutoDefault(false);
        button->setDefault(false);
        const int id = t.id;
        connect(button.get(), &QPushButton::clicked, this, [this, id] { Post(id, BN_CLICKED); });
        return button;
    }
    }
    return std::make_unique<QWidget>(this);
}

void TemplateDialog::BuildControls(const DialogTemplate& tmpl) {
    const std::span<const ControlTemplate> list = tmpl.controls;
    controls_.reserve(list.size());
    for (std::size_t i = 0; i < list.size(); ++i) {
        const ControlTemplate& t = list[i];
        controls_.push_back(ControlEntry{t.id, t.kind, MakeControl(t), {}});
        QWidget* widget = controls_.back().widget.get();
        widget->setObjectName(t.id != -1 ? QStringLiteral("control%1").arg(t.id) : QStringLiteral("static%1").arg(i));
        widget->setGeometry(ToPixels(t.x, t.y, t.cx, t.cy));
        if (t.kind != ControlKind::Static)
            widget->setFocusPolicy((t.style & WS_TABSTOP) != 0 ? Qt::StrongFocus : Qt::ClickFocus);
        SetText(widget, t.text != nullptr ? t.text : "");
    }
    LinkTabOrder(list);
}

// Tab order is template order; a label's mnemonic moves the focus to the
// next control that takes the tab.
void TemplateDialog::LinkTabOrder(std::span<const ControlTemplate> list) {
    const auto takesTab = [&](std::size_t i) {
        return controls_[i].kind != ControlKind::Static && (list[i].style & WS_TABSTOP) != 0;
    };
    QWidget* previous = nullptr;
    for (std::size_t i = 0; i < controls_.size(); ++i) {
        ControlEntry& c = controls_[i];
        if (takesTab(i)) {
            if (previous != nullptr) QWidget::setTabOrder(previous, c.widget.get());
            previous = c.widget.get();
        }
        if (c.kind != ControlKind::Static || !c.text.contains(u'&')) continue;
        for (std::size_t j = i + 1; j < controls_.size(); ++j) {
            if (!takesTab(j)) continue;
            auto* label = static_cast<QLabel*>(c.widget.get());
            label->setBuddy(controls_[j].widget.get());
            label->setText(c.text);
            break;
        }
    }
}

QRect TemplateDialog::ToPixels(int x, int y, int cx, int cy) const {
    return QRect(Scale(x, baseX_, 4), Scale(y, baseY_, 8), Scale(cx, baseX_, 4), Scale(cy, baseY_, 8));
}

HWND TemplateDialog::Handle() const { return reinterpret_cast<HWND>(const_cast<TemplateDialog*>(this)); }

HWND TemplateDialog::HandleOf(const QWidget* widget) { return reinterpret_cast<HWND>(const_cast<QWidget*>(widget)); }

QWidget* TemplateDialog::Control(int id) const {
    if (id == -1) return nullptr;
    for (const ControlEntry& c : controls_)
        if (c.id == id) return c.widget.get();
    return nullptr;
}

QWidget* TemplateDialog::ControlFromHandle(HWND handle) const {
    for (const ControlEntry& c : controls_)
        if (HandleOf(c.widget.get()) == handle) return c.widget.get();
    return nullptr;
}

const TemplateDialog::ControlEntry* TemplateDialog::Find(const QWidget* widget) const {
    for (const ControlEntry& c : controls_)
        if (c.widget.get() == widget) return &c;
    return nullptr;
}

TemplateDialog::ControlEntry* TemplateDialog::Find(const QWidget* widget) {
    return const_cast<ControlEntry*>(std::as_const(*this).Find(widget));
}

std::string TemplateDialog::Text(QWidget* control) const {
    const ControlEntry* c = Find(control);
    if (c == nullptr) return {};
    switch (c->kind) {
    case ControlKind::Static: return c->text.toStdString();
    case ControlKind::Edit: return static_cast<QLineEdit*>(control)->text().toStdString();
    case ControlKind::Button: return static_cast<QPushButton*>(control)->text().toStdString();
    }
    return {};
}

void TemplateDialog::SetText(QWidget* control, std::string_view text) {
    ControlEntry* c = Find(control);
    if (c == nullptr) return;
    const QString value = QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
    switch (c->kind) {
    case ControlKind::Static: {
        c->text = value;
        auto* label = static_cast<QLabel*>(control);
        // With a buddy the label draws the mnemonic itself.
        label->setText(label->buddy() != nullptr ? value : WithoutMnemonics(value));
        break;
    }
    case ControlKind::Edit: static_cast<QLineEdit*>(control)->setText(value); break;
    case ControlKind::Button: static_cast<QPushButton*>(control)->setText(value); break;
    }
}

INT_PTR TemplateDialog::Run(LPARAM param) {
    QWidget* first = nullptr;
    for (const ControlEntry& c : controls_) {
        if (c.widget->focusPolicy() == Qt::StrongFocus) {
            first = c.widget.get();
            break;
        }
    }
    // FALSE from the procedure means it has placed the focus itself.
    if (proc_(Handle(), WM_INITDIALOG, reinterpret_cast<WPARAM>(HandleOf(first)), param) != FALSE && first != nullptr)
        first->setFocus(Qt::OtherFocusReason);

    if (!ended_) {
        setWindowModality(Qt::ApplicationModal);
        show();
        raise();
        activateWindow();
        QEventLoop loop;
        loop_ = &loop;
        loop.exec(QEventLoop::DialogExec);
        loop_ = nullptr;
        if (!ended_) {
            // The application is quitting under the dialog: close it the way the
            // user would, so the procedure releases what it holds.
            pending_.clear();
            Dispatch({IDCANCEL, BN_CLICKED});
            if (!ended_) End(-1);
        }
    }
    hide();
    return result_;
}

void TemplateDialog::End(INT_PTR result) {
    if (ended_) return;
    ended_ = true;
    result_ = result;
    pending_.clear();
    hide();
    if (loop_ != nullptr) loop_->quit();
}

void TemplateDialog::keyPressEvent(QKeyEvent* event) {
    switch (event->key()) {
    case Qt::Key_Return:
    case Qt::Key_Enter: {
        // A focused push button is pressed; anywhere else Enter means execute,
        // although no button carries the default style.
        const ControlEntry* c = Find(focusWidget());
        if (c != nullptr && c->kind == ControlKind::Button) static_cast<QPushButton*>(c->widget.get())->click();
        else Post(IDOK, BN_CLICKED);
        event->accept();
        return;
    }
    case Qt::Key_Escape:
        Post(IDCANCEL, BN_CLICKED);
        event->accept();
        return;
    default: QDialog::keyPressEvent(event);
    }
}

void TemplateDialog::closeEvent(QCloseEvent* event) {
    // Only the procedure ends the dialog.
    event->ignore();
    Post(IDCANCEL, BN_CLICKED);
}

void TemplateDialog::reject() { Post(IDCANCEL, BN_CLICKED); }

void TemplateDialog::dragEnterEvent(QDragEnterEvent* event) {
    if (!LocalFiles(event->mimeData()).empty()) event->acceptProposedAction();
}

void TemplateDialog::dragMoveEvent(QDragMoveEvent* event) {
    if (!LocalFiles(event->mimeData()).empty()) event->acceptProposedAction();
}

void TemplateDialog::dropEvent(QDropEvent* event) { TakeDrop(event, nullptr); }

bool TemplateDialog::TakeDrop(QDropEvent* event, QWidget* target) {
    std::vector<std::string> files = LocalFiles(event->mimeData());
    if (files.empty()) return false;
    event->acceptProposedAction();
    if (ended_) return true;
    pending_.push_back({0, 0, WM_DROPFILES, std::move(files), target});
    ScheduleDrain(0);
    return true;
}

bool TemplateDialog::PostDrop(const std::vector<std::string>& files) {
    if (ended_) return false;
    pending_.push_back({0, 0, WM_DROPFILES, files, nullptr});
    ScheduleDrain(0);
    return true;
}

bool TemplateDialog::eventFilter(QObject* watched, QEvent* event) {
    switch (event->type()) {
    // Local files dragged over an edit are taken by the dialog; text is left to
    // the edit, which inserts it as before.
    case QEvent::DragEnter:
    case QEvent::DragMove: {
        auto* drag = static_cast<QDragMoveEvent*>(event);
        if (LocalFiles(drag->mimeData()).empty()) break;
        drag->acceptProposedAction();
        return true;
    }
    case QEvent::Drop:
        if (TakeDrop(static_cast<QDropEvent*>(event), static_cast<QWidget*>(watched))) return true;
        break;
    default: break;
    }
    if (event->type() == QEvent::FocusOut) {
        // Leaving the field for another control counts; the window losing
        // activation (a message box, another program) or a context menu opening
        // does not: the field still has the dialog's focus.
        const Qt::FocusReason reason = static_cast<QFocusEvent*>(event)->reason();
        if (reason != Qt::ActiveWindowFocusReason && reason != Qt::PopupFocusReason) {
            const ControlEntry* c = Find(static_cast<QWidget*>(watched));
            if (c != nullptr && c->kind == ControlKind::Edit) Post(c->id, EN_KILLFOCUS);
        }
    }
    return QDialog::eventFilter(watched, event);
}

void TemplateDialog::Post(int id, WORD code) {
    if (ended_) return;
    pending_.push_back({id, code});
    ScheduleDrain(0);
}

void TemplateDialog::ScheduleDrain(int delayMs) {
    if (drainScheduled_) return;
    drainScheduled_ = true;
    QTimer::singleShot(delayMs, this, [this] {
        drainScheduled_ = false;
        Drain();
    });
}

void TemplateDialog::Drain() {
    // A command already running takes the queue up again when it returns.
    if (dispatching_) return;
    dispatching_ = true;
    while (!ended_ && !pending_.empty()) {
        if (QGuiApplication::mouseButtons() != Qt::NoButton && mouseWaits_ < kMouseWaitLimit) {
            ++mouseWaits_;
            ScheduleDrain(kMouseWaitStepMs);
            break;
        }
        mouseWaits_ = 0;
        const Command command = pending_.front();
        pending_.pop_front();
        Dispatch(command);
    }
    dispatching_ = false;
}

void TemplateDialog::Dispatch(const Command& command) {
    if (command.message == WM_DROPFILES) {
        DropFiles drop{command.files};
        proc_(Handle(), WM_DROPFILES, reinterpret_cast<WPARAM>(&drop),
              reinterpret_cast<LPARAM>(command.dropTarget != nullptr ? HandleOf(command.dropTarget) : nullptr));
        return;
    }
    QWidget* from = Control(command.id);
    proc_(Handle(), WM_COMMAND, MAKEWPARAM(static_cast<WORD>(command.id), command.code),
          reinterpret_cast<LPARAM>(from != nullptr ? HandleOf(from) : nullptr));
}
