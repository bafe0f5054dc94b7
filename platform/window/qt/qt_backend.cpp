#include "platform/window/qt/qt_backend.h"

#include "platform/window/qt/format_chooser.h"
#include "platform/window/qt/progress_window.h"
#include "platform/window/qt/template_dialog.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QFontDatabase>
#include <QHeaderView>
#include <QIcon>
#include <QMessageBox>
#include <QPainter>
#include <QPixmap>
#include <QPointer>
#include <QPushButton>
#include <QScreen>
#include <QSettings>
#include <QSocketNotifier>
#include <QSvgRenderer>
#include <QTreeView>

#include <algorithm>
#include <cerrno>
#include <fcntl.h>
#include <memory>
#include <optional>
#include <unistd.h>

namespace {

// Where a signal handler tells the event loop that a close signal arrived.
int gSignalPipe[2] = {-1, -1};

void OnCloseSignal(int) {
    const int saved = errno;
    const char byte = 1;
    (void)!::write(gSignalPipe[1], &byte, 1);
    errno = saved;
}

QString Utf8(std::string_view text) { return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size())); }

// One picker filter in Qt's form, "text (pattern pattern)". The patterns match
// names case-insensitively, as the picker's model is told below; "*.*" means
// every file, also one without a dot.
QString NameFilter(const std::string& text, const std::string& patterns) {
    QStringList list;
    for (const QString& p : Utf8(patterns).split(u';', Qt::SkipEmptyParts)) {
        const QString pattern = p.trimmed();
        if (pattern.isEmpty()) continue;
        list << (pattern == QStringLiteral("*.*") ? QStringLiteral("*") : pattern);
    }
    if (list.isEmpty()) list << QStringLiteral("*");
    return Utf8(text) + QStringLiteral(" (") + list.join(u' ') + u')';
}

// Gives the activation back to the window that had it when a modal box, picker,
// chooser or progress window closes; without this, a window manager that does
// not do it (or no window manager at all) leaves the dialog inactive, and its
// mnemonics dead. With no window active yet (a progress window has just closed
// and the dialog's activation is still on its way), the window under the new
// one is taken.
class RestoreActiveWindow {
public:
    explicit RestoreActiveWindow(QWidget* under)
        : window_(QApplication::activeWindow() != nullptr ? QApplication::activeWindow() : under) {}
    ~RestoreActiveWindow() {
        if (window_ != nullptr && window_->isVisible()) window_->activateWindow();
    }
    RestoreActiveWindow(const RestoreActiveWindow&) = delete;
    RestoreActiveWindow& operator=(const RestoreActiveWindow&) = delete;

private:
    QPointer<QWidget> window_;
};

QMessageBox::Icon BoxIcon(UINT type) {
    switch (type & MB_ICONMASK) {
    case MB_ICONHAND: return QMessageBox::Critical;
    case 0x20: return QMessageBox::Question;
    case 0x30: return QMessageBox::Warning;
    case 0x40: return QMessageBox::Information;
    default: return QMessageBox::NoIcon;
    }
}

}  // namespace

void UseDefaultUiFont() {
    QFont font = QApplication::font();
    const QString cjk = QStringLiteral("Noto Sans CJK JP");
    if (QFontDatabase::families().contains(cjk)) font.setFamilies({cjk});
    if (font.pointSizeF() > 0 && font.pointSizeF() < 10) font.setPointSizeF(10);
    QApplication::setFont(font);
}

// Drawn here with QSvgRenderer rather than loaded as a scalable QIcon, which would
// need Qt's SVG icon-engine plugin at run time and give an empty icon without it.
QIcon ProgramIcon() {
    QSvgRenderer svg(QStringLiteral(":/icons/org.wavtrn.wavtrn.svg"));
    QIcon icon;
    if (!svg.isValid()) return icon;
    for (const int size : {16, 22, 24, 32, 48, 64, 128, 256}) {
        QPixmap pixmap(size, size);
        pixmap.fill(Qt::transparent);
        QPainter painter(&pixmap);
        svg.render(&painter);
        painter.end();
        icon.addPixmap(pixmap);
    }
    return icon;
}

// One conversion's progress: its clock from the start, and its window once shown.
struct QtBackend::Progress {
    QPointer<QWidget> owner;
    QString text;
    QElapsedTimer clock;
    // Declared before the window: the window goes first, then the dialog is
    // activated again.
    std::optional<RestoreActiveWindow> restore;
    std::unique_ptr<ProgressWindow> window;
};

namespace {

// Moves a shown window to a top-left corner, kept on its screen.
void MoveOnScreen(QWidget& window, QPoint at) {
    const QRect frame = window.frameGeometry();
    if (const QScreen* screen = window.screen()) {
        const QRect room = screen->availableGeometry();
        at.setX(std::clamp(at.x(), room.left(), std::max(room.left(), room.left() + room.width() - frame.width())));
        at.setY(std::clamp(at.y(), room.top(), std::max(room.top(), room.top() + room.height() - frame.height())));
    }
    window.move(at);
}

// Shows a window at the place where(frame size) gives for its frame: first
// with its own size before it is mapped, so that a window manager takes the
// position as the program's own instead of placing the window itself, then
// again once the frame the window manager drew around it is known.
template <typename Where>
void ShowAt(QWidget& window, Where where) {
    const QWidget* parent = window.parentWidget();
    if (parent == nullptr) {
        window.show();
        return;
    }
    if (!window.testAttribute(Qt::WA_Resized)) window.adjustSize();
    MoveOnScreen(window, where(window.size()));
    window.show();
    MoveOnScreen(window, where(window.frameGeometry().size()));
}

}  // namespace

void ShowCentred(QWidget& window) {
    ShowAt(window, [&window](QSize frame) {
        const QRect over = window.parentWidget()->window()->frameGeometry();
        return QPoint(over.x() + (over.width() - frame.width()) / 2, over.y() + (over.height() - frame.height()) / 2);
    });
}

void ShowBelow(QWidget& window) {
    ShowAt(window, [&window](QSize frame) {
        const QRect over = window.parentWidget()->window()->frameGeometry();
        const int gap = window.fontMetrics().height() / 2;
        QPoint at(over.x() + (over.width() - frame.width()) / 2, over.bottom() + 1 + gap);
        if (const QScreen* screen = window.parentWidget()->screen()) {
            const QRect room = screen->availableGeometry();
            const bool fitsBelow = at.y() + frame.height() <= room.bottom() + 1;
            const bool fitsAbove = over.top() - gap - frame.height() >= room.top();
            if (!fitsBelow)
                at.setY(fitsAbove ? over.top() - gap - frame.height() : over.y() + (over.height() - frame.height()) / 2);
        }
        return at;
    });
}

QtBackend::QtBackend() = default;

QtBackend::~QtBackend() {
    for (const auto& [signal, handler] : previousHandlers_) ::sigaction(signal, &handler, nullptr);
}

void QtBackend::CloseAll() {
    if (dialogs_.empty()) return;
    closing_ = true;
    for (QWidget* window : QApplication::topLevelWidgets()) {
        const bool dialog = std::find(dialogs_.begin(), dialogs_.end(), window) != dialogs_.end();
        if (!dialog && window->isVisible()) window->close();
    }
    // A dialog takes its close command up when the command it runs returns.
    for (TemplateDialog* dialog : dialogs_) dialog->close();
}

void QtBackend::CloseOnSignals(std::initializer_list<int> numbers) {
    if (gSignalPipe[0] < 0 && ::pipe2(gSignalPipe, O_CLOEXEC | O_NONBLOCK) != 0) return;
    signalNotifier_ = std::make_unique<QSocketNotifier>(gSignalPipe[0], QSocketNotifier::Read);
    QObject::connect(signalNotifier_.get(), &QSocketNotifier::activated, [this] {
        char bytes[64];
        while (::read(gSignalPipe[0], bytes, sizeof bytes) > 0) {
        }
        CloseAll();
    });
    struct sigaction action {};
    action.sa_handler = OnCloseSignal;
    action.sa_flags = SA_RESTART;
    sigemptyset(&action.sa_mask);
    for (const int signal : numbers) {
        struct sigaction previous {};
        if (::sigaction(signal, &action, &previous) == 0) previousHandlers_.emplace_back(signal, previous);
    }
}

TemplateDialog* QtBackend::DialogOf(HWND handle) const {
    for (TemplateDialog* d : dialogs_)
        if (d->Handle() == handle || d->ControlFromHandle(handle) != nullptr) return d;
    return nullptr;
}

QWidget* QtBackend::Widget(HWND handle) const {
    TemplateDialog* d = DialogOf(handle);
    if (d == nullptr) return nullptr;
    if (d->Handle() == handle) return d;
    return d->ControlFromHandle(handle);
}

QWidget* QtBackend::OwnerWindow(HWND owner) const {
    if (owner != nullptr) return DialogOf(owner);
    // The program has no window but its dialog: a box without an owner is
    // still placed over the innermost running dialog, not in the middle of
    // the screen.
    return dialogs_.empty() ? nullptr : dialogs_.back();
}

INT_PTR QtBackend::RunDialog(const DialogTemplate& tmpl, DLGPROC proc, LPARAM param) {
    if (proc == nullptr || qobject_cast<QApplication*>(QCoreApplication::instance()) == nullptr) return -1;
    auto dialog = std::make_unique<TemplateDialog>(tmpl, proc);
    dialogs_.push_back(dialog.get());
    struct Unregister {
        std::vector<TemplateDialog*>& list;
        TemplateDialog* dialog;
        bool& closing;
        ~Unregister() {
            list.erase(std::remove(list.begin(), list.end(), dialog), list.end());
            if (list.empty()) closing = false;
        }
    } unregister{dialogs_, dialog.get(), closing_};
    return dialog->Run(param);
}

HWND QtBackend::ControlHandle(HWND dialog, int id) {
    for (TemplateDialog* d : dialogs_)
        if (d->Handle() == dialog) return TemplateDialog::HandleOf(d->Control(id));
    return nullptr;
}

std::string QtBackend::ControlText(HWND control) {
    TemplateDialog* d = DialogOf(control);
    if (d == nullptr) return {};
    if (d->Handle() == control) return d->windowTitle().toStdString();
    return d->Text(d->ControlFromHandle(control));
}

bool QtBackend::SetControlText(HWND control, std::string_view text) {
    TemplateDialog* d = DialogOf(control);
    if (d == nullptr) return false;
    if (d->Handle() == control) d->setWindowTitle(Utf8(text));
    else d->SetText(d->ControlFromHandle(control), text);
    return true;
}

HWND QtBackend::SetFocus(HWND control) {
    TemplateDialog* d = DialogOf(control);
    if (d == nullptr) return nullptr;
    QWidget* had = d->focusWidget();
    const HWND previous = had != nullptr && d->ControlFromHandle(TemplateDialog::HandleOf(had)) != nullptr
                              ? TemplateDialog::HandleOf(had)
                              : nullptr;
    if (QWidget* w = d->ControlFromHandle(control)) w->setFocus(Qt::OtherFocusReason);
    return previous;
}

void QtBackend::EndDialog(HWND dialog, INT_PTR result) {
    for (TemplateDialog* d : dialogs_) {
        if (d->Handle() == dialog) {
            d->End(result);
            return;
        }
    }
}

void QtBackend::MessageBox(HWND owner, std::string_view text, std::string_view caption, UINT type) {
    if (closing_) return;
    const RestoreActiveWindow restore(OwnerWindow(owner));
    QMessageBox box(OwnerWindow(owner));
    box.setWindowTitle(Utf8(caption));
    box.setTextFormat(Qt::PlainText);
    box.setText(Utf8(text));
    box.setIcon(BoxIcon(type));
    box.setStandardButtons(QMessageBox::Ok);
    // Every box holds the whole program until it is answered, the task-modal
    // ones included.
    box.setWindowModality(Qt::ApplicationModal);
    ShowCentred(box);
    if ((type & MB_SETFOREGROUND) != 0) {
        box.raise();
        box.activateWindow();
    }
    box.exec();
}

namespace {

// The folder a picker was last confirmed in, kept across runs in the user's
// settings (~/.config/wavtrn/wavtrn.conf), as a desktop's own picker keeps it.
QSettings ProgramSettings() {
    return QSettings(QSettings::NativeFormat, QSettings::UserScope, QStringLiteral("wavtrn"), QStringLiteral("wavtrn"));
}
const QString kLastFolderKey = QStringLiteral("pickers/lastFolder");

QString LastFolder() {
    const QString folder = ProgramSettings().value(kLastFolderKey).toString();
    return !folder.isEmpty() && QDir(folder).exists() ? folder : QString();
}

void RememberFolder(const QString& file) { ProgramSettings().setValue(kLastFolderKey, QFileInfo(file).absolutePath()); }

// A picker large enough to show its columns (name, size, type, date) without
// cutting them, never larger than most of the screen.
void SizeToColumns(QFileDialog& dialog) {
    dialog.setViewMode(QFileDialog::Detail);
    const QFontMetrics metrics(dialog.font());
    QSize size(metrics.horizontalAdvance(u'x') * 140, metrics.lineSpacing() * 28);
    if (const QScreen* screen = dialog.screen()) size = size.boundedTo(screen->availableGeometry().size() * 9 / 10);
    dialog.resize(size.expandedTo(dialog.minimumSizeHint()));
    // Size, type and date as wide as their texts; the name takes the rest.
    if (auto* view = dialog.findChild<QTreeView*>(QStringLiteral("treeView"))) {
        QHeaderView* header = view->header();
        header->setStretchLastSection(false);
        header->setSectionResizeMode(QHeaderView::ResizeToContents);
        header->setSectionResizeMode(0, QHeaderView::Stretch);
    }
}

}  // namespace

std::optional<std::string> QtBackend::PickFile(const FilePickerRequest& request) {
    if (closing_) return std::nullopt;
    const RestoreActiveWindow restore(OwnerWindow(request.owner));
    QFileDialog dialog(OwnerWindow(request.owner), Utf8(request.title));
    dialog.setOption(QFileDialog::DontUseNativeDialog);
    // The filter texts already say what they match; Qt's pattern list stays hidden.
    dialog.setOption(QFileDialog::HideNameFilterDetails);
    dialog.setAcceptMode(request.save ? QFileDialog::AcceptSave : QFileDialog::AcceptOpen);
    dialog.setFileMode(!request.save && request.mustExist ? QFileDialog::ExistingFile : QFileDialog::AnyFile);
    if (request.folder) {
        dialog.setFileMode(QFileDialog::Directory);
        dialog.setOption(QFileDialog::ShowDirsOnly);
    }
    if (request.save) dialog.setOption(QFileDialog::DontConfirmOverwrite);
    dialog.setFilter(dialog.filter() & ~QDir::CaseSensitive);
    const QString folder =
        request.initialDir.empty() ? LastFolder() : QFile::decodeName(QByteArray::fromStdString(request.initialDir));
    if (!folder.isEmpty()) dialog.setDirectory(folder);

    QStringList filters;
    for (const auto& [text, patterns] : request.filters) filters << NameFilter(text, patterns);
    if (!filters.isEmpty()) {
        dialog.setNameFilters(filters);
        dialog.selectNameFilter(filters[std::clamp(request.filterIndex, 0, static_cast<int>(filters.size()) - 1)]);
    }
    dialog.setWindowModality(Qt::ApplicationModal);
    SizeToColumns(dialog);
    ShowCentred(dialog);
    if (dialog.exec() != QDialog::Accepted) return std::nullopt;
    const QStringList files = dialog.selectedFiles();
    if (files.isEmpty() || files.front().isEmpty()) return std::nullopt;
    RememberFolder(files.front());
    return QFile::encodeName(files.front()).toStdString();
}

std::optional<FormatChoice> QtBackend::ChooseFormat(HWND owner, const FormatChooserModel& model) {
    if (closing_) return std::nullopt;
    const RestoreActiveWindow restore(OwnerWindow(owner));
    return RunFormatChooser(OwnerWindow(owner), model);
}

int QtBackend::Ask(HWND owner, std::string_view text, std::string_view caption,
                   const std::vector<std::string>& buttons) {
    const RestoreActiveWindow restore(OwnerWindow(owner));
    QMessageBox box(OwnerWindow(owner));
    box.setWindowTitle(Utf8(caption));
    box.setTextFormat(Qt::PlainText);
    box.setText(Utf8(text));
    box.setIcon(QMessageBox::Question);
    std::vector<QPushButton*> pressed;
    for (const std::string& label : buttons) pressed.push_back(box.addButton(Utf8(label), QMessageBox::ActionRole));
    if (pressed.empty()) return -1;
    box.setEscapeButton(pressed.back());
    box.setDefaultButton(pressed.back());
    box.setWindowModality(Qt::ApplicationModal);
    ShowCentred(box);
    box.exec();
    const auto at = std::find(pressed.begin(), pressed.end(), box.clickedButton());
    return at == pressed.end() ? static_cast<int>(pressed.size()) - 1 : static_cast<int>(at - pressed.begin());
}

bool QtBackend::PostDrop(HWND dialog, const std::vector<std::string>& files) {
    for (TemplateDialog* d : dialogs_) {
        if (d->Handle() == dialog) return d->PostDrop(files);
    }
    return false;
}

void QtBackend::SetProgressText(std::string_view text) {
    if (!progress_) return;
    progress_->text = Utf8(text);
    if (progress_->window) progress_->window->SetText(progress_->text);
}

void QtBackend::BeginProgress(HWND owner, std::string_view text) {
    progress_ = std::make_unique<Progress>();
    progress_->owner = OwnerWindow(owner);
    progress_->text = Utf8(text);
    progress_->clock.start();
}

bool QtBackend::UpdateProgress(std::uint64_t done, std::uint64_t total) {
    if (closing_) return false;
    if (!progress_) return true;
    Progress& p = *progress_;
    if (!p.window && p.clock.elapsed() >= progressDelayMs_) {
        p.restore.emplace(p.owner);
        p.window = std::make_unique<ProgressWindow>(p.owner, p.text);
        ShowBelow(*p.window);
        p.window->raise();
        p.window->activateWindow();
    }
    if (p.window) p.window->SetProgress(done, total, p.clock.elapsed());
    // Until the window holds the dialog, clicks and keys wait: no second
    // command starts while this one runs.
    QCoreApplication::processEvents(p.window ? QEventLoop::AllEvents : QEventLoop::ExcludeUserInputEvents);
    return !closing_ && !(p.window && p.window->Cancelled());
}

void QtBackend::EndProgress() { progress_.reset(); }
