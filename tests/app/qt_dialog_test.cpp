// The Qt window backend driven like a user would, on the offscreen platform:
// the template dialog's controls, keys, focus notifications, message boxes,
// file pickers, the format chooser, the progress window and dropped files.
#define QTEST_QPA_MOUSE_HANDLING  // mouse events go through the window system, as real ones do

#include "app/dialog.h"
#include "platform/window/qt/format_chooser.h"
#include "platform/window/qt/qt_backend.h"
#include "platform/window/window.h"
#include "res/dialog_template.h"
#include "res/resource.h"
#include "support/testsupport.h"

#include <QApplication>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QFileDialog>
#include <QLabel>
#include <QLineEdit>
#include <QListView>
#include <QMessageBox>
#include <QMimeData>
#include <QProgressBar>
#include <QPushButton>
#include <QSettings>
#include <QTest>
#include <QTimer>
#include <QUrl>

#include <gtest/gtest.h>

#include <cmath>
#include <csignal>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <vector>
#include <unistd.h>

namespace {

namespace fs = std::filesystem;

// One QApplication and one Qt backend for the whole run.
class QtEnvironment final : public ::testing::Environment {
public:
    void SetUp() override {
        // The pickers' settings go to a folder of the run's own, not the user's.
        qputenv("XDG_CONFIG_HOME", QByteArray::fromStdString(config_.path().string()));
        application_ = std::make_unique<QApplication>(argc_, argv_);
        application_->setQuitOnLastWindowClosed(false);
        UseDefaultUiFont();
        backend_ = std::make_unique<QtBackend>();
        SetWindowBackend(backend_.get());
    }
    void TearDown() override {
        SetWindowBackend(nullptr);
        backend_.reset();
        application_.reset();
    }
    static QtBackend& Backend() { return *backend_; }

private:
    testsupport::TempDir config_;
    static inline int argc_ = 1;
    static inline char name_[] = "qt_dialog_test";
    static inline char* argv_[] = {name_, nullptr};
    static inline std::unique_ptr<QApplication> application_;
    static inline std::unique_ptr<QtBackend> backend_;
};

[[maybe_unused]] ::testing::Environment* const gEnvironment = ::testing::AddGlobalTestEnvironment(new QtEnvironment);

struct Command {
    int id;
    int code;
    LPARAM from;
    bool operator==(const Command& o) const { return id == o.id && code == o.code; }
};

}  // namespace

// Readable failure output for Qt strings.
void PrintTo(const QString& text, std::ostream* os) { *os << '"' << text.toStdString() << '"'; }

namespace {

std::string Describe(const std::vector<Command>& commands) {
    std::string out;
    for (const Command& c : commands) out += "(" + std::to_string(c.id) + "," + std::to_string(c.code) + ") ";
    return out;
}

// What the test dialog procedure does and records.
struct Probe {
    HWND dialog = nullptr;
    std::vector<Command> commands;
    // Runs from the dialog's event loop once the dialog is up.
    std::function<void(HWND)> script;
    // Called for every command; by default IDCANCEL ends the dialog with wParam.
    std::function<void(HWND, WPARAM)> onCommand;
};
Probe* gProbe = nullptr;

INT_PTR TestDlgProc(HWND hDlg, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_INITDIALOG:
        gProbe->dialog = hDlg;
        SetFocus(GetDlgItem(hDlg, IDC_SRCFILE));
        QTimer::singleShot(0, [hDlg] {
            QWidget* dialog = QtEnvironment::Backend().Widget(hDlg);
            EXPECT_TRUE(QTest::qWaitForWindowActive(dialog));
            gProbe->script(hDlg);
        });
        return FALSE;
    case WM_COMMAND:
        gProbe->commands.push_back({LOWORD(wParam), HIWORD(wParam), lParam});
        if (gProbe->onCommand) gProbe->onCommand(hDlg, wParam);
        else if (LOWORD(wParam) == IDCANCEL) EndDialog(hDlg, static_cast<INT_PTR>(wParam));
        return TRUE;
    default: return FALSE;
    }
}

// Runs the main template with the test procedure and the given script; a
// watchdog ends a dialog that a broken script leaves open.
INT_PTR RunTestDialog(Probe& probe) {
    gProbe = &probe;
    QTimer watchdog;
    watchdog.setSingleShot(true);
    QObject::connect(&watchdog, &QTimer::timeout, [&probe] {
        ADD_FAILURE() << "the dialog was still open after 20 s";
        QWidget* main = QtEnvironment::Backend().Widget(probe.dialog);
        for (QWidget* w : QApplication::topLevelWidgets())
            if (auto* d = qobject_cast<QDialog*>(w); d != nullptr && d->isVisible() && w != main) d->done(0);
        EndDialog(probe.dialog, -99);
    });
    watchdog.start(20000);
    const INT_PTR result = DialogBoxParamA(nullptr, "WAVTRN", nullptr, TestDlgProc, 0);
    gProbe = nullptr;
    return result;
}

QWidget* Control(HWND hDlg, int id) { return QtEnvironment::Backend().Widget(GetDlgItem(hDlg, id)); }

int FocusedId(HWND hDlg) {
    for (const ControlTemplate& c : FindDialogTemplate("WAVTRN")->controls)
        if (c.id != -1 && Control(hDlg, c.id) == QApplication::focusWidget()) return c.id;
    return 0;
}

// Waits until the queued commands have reached the procedure.
void Settle(std::size_t count) {
    EXPECT_TRUE(QTest::qWaitFor([count] { return gProbe->commands.size() >= count; }, 2000))
        << "waiting for " << count << " commands, have " << Describe(gProbe->commands);
    QTest::qWait(20);
}

// Answers modal windows other than the template dialog as they come up, from
// whatever event loop is running (the box or picker's own included).
class ModalAnswerer {
public:
    explicit ModalAnswerer(std::function<void(QWidget*)> answer) : answer_(std::move(answer)) {
        timer_.setInterval(10);
        QObject::connect(&timer_, &QTimer::timeout, [this] {
            QWidget* modal = QApplication::activeModalWidget();
            if (modal == nullptr || !modal->isVisible() || modal->property("answered").toBool()) return;
            if (qobject_cast<QMessageBox*>(modal) == nullptr && qobject_cast<QFileDialog*>(modal) == nullptr &&
                modal->windowTitle() != QStringLiteral("フォーマットの選択"))
                return;
            modal->setProperty("answered", true);
            // Answered from a timer of its own: an answer that opens another
            // modal window must not hold up this poll.
            QTimer::singleShot(0, modal, [this, modal] { answer_(modal); });
        });
        timer_.start();
    }

private:
    std::function<void(QWidget*)> answer_;
    QTimer timer_;
};

struct BoxSeen {
    QString title;
    QString text;
    QMessageBox::Icon icon;
    Qt::WindowModality modality;
    int buttons;
    std::size_t commandsBefore;
};

void PressOk(QWidget* modal) {
    auto* box = qobject_cast<QMessageBox*>(modal);
    ASSERT_NE(box, nullptr);
    QTest::mouseClick(box->button(QMessageBox::Ok), Qt::LeftButton);
}

TEST(QtDialog, BuildsTheTemplateControlsInProportion) {
    Probe probe;
    probe.script = [](HWND hDlg) {
        QWidget* dialog = QtEnvironment::Backend().Widget(hDlg);
        const DialogTemplate& tmpl = *FindDialogTemplate("WAVTRN");
        EXPECT_EQ(dialog->windowTitle(), QStringLiteral("WAVTRN"));
        EXPECT_EQ(dialog->minimumSize(), dialog->maximumSize()) << "the dialog has a fixed size";
        const double sx = double(dialog->width()) / tmpl.cx;
        const double sy = double(dialog->height()) / tmpl.cy;
        // One dialog unit is a quarter of an average character across and an
        // eighth of the character height down.
        const QFontMetrics metrics(dialog->font());
        EXPECT_NEAR(sx, metrics.horizontalAdvance(QStringLiteral("abcdefghijklmnopqrstuvwxyz")) / 26.0 / 4, 0.5);
        EXPECT_NEAR(sy, metrics.height() / 8.0, 0.2);

        ASSERT_EQ(tmpl.controls.size(), 13u);
        int staticIndex = 0;
        for (std::size_t i = 0; i < tmpl.controls.size(); ++i) {
            const ControlTemplate& t = tmpl.controls[i];
            SCOPED_TRACE(t.text);
            QWidget* w = t.id != -1 ? Control(hDlg, t.id)
                                    : dialog->findChild<QWidget*>(QStringLiteral("static%1").arg(i));
            ASSERT_NE(w, nullptr);
            if (t.id == -1) ++staticIndex;
            EXPECT_NEAR(w->x(), t.x * sx, 2.0);
            EXPECT_NEAR(w->y(), t.y * sy, 2.0);
            EXPECT_NEAR(w->width(), t.cx * sx, 2.0);
            EXPECT_NEAR(w->height(), t.cy * sy, 2.0);
            const QString text = QString::fromUtf8(t.text);
            QString shown = text;
            shown.remove(u'&');
            switch (t.kind) {
            case ControlKind::Static: {
                auto* label = qobject_cast<QLabel*>(w);
                ASSERT_NE(label, nullptr);
                EXPECT_EQ(label->text(), text);
                EXPECT_LE(label->fontMetrics().horizontalAdvance(shown), label->width()) << "label text is cut";
                break;
            }
            case ControlKind::Edit: {
                auto* edit = qobject_cast<QLineEdit*>(w);
                ASSERT_NE(edit, nullptr);
                EXPECT_TRUE(edit->text().isEmpty());
                EXPECT_TRUE(edit->hasFrame());
                break;
            }
            case ControlKind::Button: {
                auto* button = qobject_cast<QPushButton*>(w);
                ASSERT_NE(button, nullptr);
                EXPECT_EQ(button->text(), text);
                EXPECT_FALSE(button->isDefault());
                EXPECT_FALSE(button->autoDefault());
                EXPECT_LE(button->fontMetrics().horizontalAdvance(shown) + 4, button->width()) << "button text is cut";
                break;
            }
            }
            if (t.id != -1) {
                char buffer[64];
                GetDlgItemTextA(hDlg, t.id, buffer, sizeof buffer);
                EXPECT_STREQ(buffer, t.text);
            }
        }
        EXPECT_EQ(staticIndex, 2);
        // The labels' mnemonics lead to the path fields.
        EXPECT_EQ(dialog->findChild<QLabel*>(QStringLiteral("static0"))->buddy(), Control(hDlg, IDC_SRCFILE));
        EXPECT_EQ(dialog->findChild<QLabel*>(QStringLiteral("static4"))->buddy(), Control(hDlg, IDC_DSTFILE));

        // Label texts written by the program replace the placeholders.
        EXPECT_TRUE(SetDlgItemTextA(hDlg, IDC_SRCFORMAT, "PCM(44,100 Hz, 16 ビット, ステレオ)"));
        EXPECT_EQ(qobject_cast<QLabel*>(Control(hDlg, IDC_SRCFORMAT))->text(),
                  QStringLiteral("PCM(44,100 Hz, 16 ビット, ステレオ)"));
        EXPECT_EQ(GetDlgItem(hDlg, 999), nullptr);
        EndDialog(hDlg, 42);
    };
    EXPECT_EQ(RunTestDialog(probe), 42);
    EXPECT_TRUE(probe.commands.empty()) << Describe(probe.commands);
}

TEST(QtDialog, KeysFollowTheDialogManagersRules) {
    Probe probe;
    std::vector<int> tabOrder;
    probe.script = [&tabOrder](HWND hDlg) {
        // The procedure put the focus on the source field and returned FALSE.
        EXPECT_EQ(FocusedId(hDlg), IDC_SRCFILE);
        for (int i = 0; i < 9; ++i) {
            QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
            tabOrder.push_back(FocusedId(hDlg));
        }
        Settle(2);
        // Enter in a path field means execute; on a push button it presses that button.
        QTest::keyClicks(Control(hDlg, IDC_SRCFILE), "/tmp/a.wav");
        QTest::keyClick(Control(hDlg, IDC_SRCFILE), Qt::Key_Return);
        Settle(3);
        Control(hDlg, IDC_TEST)->setFocus(Qt::TabFocusReason);
        QTest::keyClick(Control(hDlg, IDC_TEST), Qt::Key_Return);
        QTest::keyClick(Control(hDlg, IDC_TEST), Qt::Key_Enter);
        Settle(6);
        // Mnemonics: Alt+T goes to the destination field, Alt+O to the source field.
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_T, Qt::AltModifier);
        EXPECT_EQ(FocusedId(hDlg), IDC_DSTFILE);
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_O, Qt::AltModifier);
        EXPECT_EQ(FocusedId(hDlg), IDC_SRCFILE);
        Settle(7);
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Escape);
    };
    EXPECT_EQ(RunTestDialog(probe), IDCANCEL);
    EXPECT_EQ(tabOrder, (std::vector<int>{IDC_SRCBROWSE, IDC_DSTFILE, IDC_DSTBROWSE, IDC_CHOOSEFORMAT, IDC_TEST,
                                          IDC_COPY, IDC_CPY2, IDOK, IDC_SRCFILE}));
    const std::vector<Command> expected{
        {IDC_SRCFILE, EN_KILLFOCUS, 0}, {IDC_DSTFILE, EN_KILLFOCUS, 0}, {IDOK, BN_CLICKED, 0},
        {IDC_SRCFILE, EN_KILLFOCUS, 0}, {IDC_TEST, BN_CLICKED, 0},      {IDC_TEST, BN_CLICKED, 0},
        {IDC_DSTFILE, EN_KILLFOCUS, 0}, {IDCANCEL, BN_CLICKED, 0}};
    EXPECT_EQ(probe.commands, expected) << Describe(probe.commands);
    if (probe.commands.size() == expected.size()) {
        // lParam names the control that sent the command (none has id 2).
        EXPECT_NE(probe.commands[0].from, 0);
        EXPECT_NE(probe.commands[2].from, 0);
        EXPECT_EQ(probe.commands[7].from, 0);
    }
}

TEST(QtDialog, FieldFocusLossComesBeforeTheClickEvenWhenItShowsABox) {
    Probe probe;
    std::vector<BoxSeen> boxes;
    probe.onCommand = [](HWND hDlg, WPARAM wParam) {
        if (LOWORD(wParam) == IDC_SRCFILE && HIWORD(wParam) == EN_KILLFOCUS) {
            char path[64];
            GetDlgItemTextA(hDlg, IDC_SRCFILE, path, sizeof path);
            MessageBoxA(nullptr, path, nullptr, MB_OK);
        } else if (LOWORD(wParam) == IDCANCEL) {
            EndDialog(hDlg, static_cast<INT_PTR>(wParam));
        }
    };
    ModalAnswerer answerer([&boxes](QWidget* modal) {
        auto* box = qobject_cast<QMessageBox*>(modal);
        if (box == nullptr) return;
        boxes.push_back({box->windowTitle(), box->text(), box->icon(), box->windowModality(),
                         static_cast<int>(box->buttons().size()), gProbe->commands.size()});
        PressOk(box);
    });
    bool heldButtonWaited = false;
    bool buttonStuck = true;
    probe.script = [&](HWND hDlg) {
        QTest::keyClicks(Control(hDlg, IDC_SRCFILE), "not-a-wave.bin");
        auto* test = qobject_cast<QPushButton*>(Control(hDlg, IDC_TEST));
        // The press takes the focus; nothing reaches the procedure while the
        // button is held.
        QTest::mousePress(test, Qt::LeftButton);
        QTest::qWait(60);
        heldButtonWaited = gProbe->commands.empty() && test->isDown() && FocusedId(hDlg) == IDC_TEST;
        QTest::mouseRelease(test, Qt::LeftButton);
        Settle(2);
        buttonStuck = test->isDown();
        QTest::keyClick(test, Qt::Key_Escape);
    };
    EXPECT_EQ(RunTestDialog(probe), IDCANCEL);
    EXPECT_TRUE(heldButtonWaited);
    EXPECT_FALSE(buttonStuck);
    const std::vector<Command> expected{
        {IDC_SRCFILE, EN_KILLFOCUS, 0}, {IDC_TEST, BN_CLICKED, 0}, {IDCANCEL, BN_CLICKED, 0}};
    EXPECT_EQ(probe.commands, expected) << Describe(probe.commands);
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].text, QStringLiteral("not-a-wave.bin"));
    EXPECT_EQ(boxes[0].title, QStringLiteral("WAVTRN"));
    EXPECT_EQ(boxes[0].commandsBefore, 1u) << "the click waited until the box was answered";
}

TEST(QtDialog, OnlyTheProcedureEndsTheDialog) {
    Probe probe;
    int cancels = 0;
    probe.onCommand = [&cancels](HWND hDlg, WPARAM wParam) {
        // The first close request is refused, the second accepted.
        if (LOWORD(wParam) == IDCANCEL && ++cancels == 2) EndDialog(hDlg, 7);
    };
    bool stayedOpen = false;
    probe.script = [&](HWND hDlg) {
        QWidget* dialog = QtEnvironment::Backend().Widget(hDlg);
        dialog->close();  // the window's close button
        Settle(1);
        stayedOpen = dialog->isVisible();
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Escape);
    };
    EXPECT_EQ(RunTestDialog(probe), 7);
    EXPECT_TRUE(stayedOpen);
    EXPECT_EQ(cancels, 2);
}

TEST(QtBackend, MessageBoxesShowCaptionTextAndIcon) {
    std::vector<BoxSeen> boxes;
    ModalAnswerer answerer([&boxes](QWidget* modal) {
        auto* box = qobject_cast<QMessageBox*>(modal);
        if (box == nullptr) return;
        boxes.push_back({box->windowTitle(), box->text(), box->icon(), box->windowModality(),
                         static_cast<int>(box->buttons().size()), 0});
        PressOk(box);
    });
    EXPECT_EQ(MessageBoxA(nullptr, "success", nullptr, MB_OK), IDOK);
    MessageBoxA(nullptr, "Assertion failed: <x>, file a.cpp, line 1", "wavtrn",
                MB_ICONSTOP | MB_TASKMODAL | MB_SETFOREGROUND);
    ASSERT_EQ(boxes.size(), 2u);
    EXPECT_EQ(boxes[0].title, QStringLiteral("WAVTRN"));
    EXPECT_EQ(boxes[0].text, QStringLiteral("success"));
    EXPECT_EQ(boxes[0].icon, QMessageBox::NoIcon);
    EXPECT_EQ(boxes[0].buttons, 1);
    EXPECT_EQ(boxes[1].title, QStringLiteral("wavtrn"));
    EXPECT_EQ(boxes[1].text, QStringLiteral("Assertion failed: <x>, file a.cpp, line 1"));
    EXPECT_EQ(boxes[1].icon, QMessageBox::Critical);
    EXPECT_EQ(boxes[1].modality, Qt::ApplicationModal);
    EXPECT_EQ(boxes[1].buttons, 1);
}

// Types a name into the picker's name field, as the user does, and confirms.
void ConfirmName(QFileDialog* picker, const QString& name) {
    auto* field = picker->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"));
    ASSERT_NE(field, nullptr);
    field->setFocus();
    field->clear();
    QTest::keyClicks(field, name);
    QTest::keyClick(field, Qt::Key_Return);
}

// The names the picker lists in its current folder, once it has read it.
QStringList ListedNames(QFileDialog* picker, int atLeast) {
    auto* view = picker->findChild<QListView*>(QStringLiteral("listView"));
    if (view == nullptr) return {};
    QStringList names;
    (void)QTest::qWaitFor([&] { return view->model()->rowCount(view->rootIndex()) >= atLeast; }, 3000);
    for (int row = 0; row < view->model()->rowCount(view->rootIndex()); ++row)
        names << view->model()->index(row, 0, view->rootIndex()).data().toString();
    names.sort();
    return names;
}

FilePickerRequest WaveRequest(bool save) {
    FilePickerRequest request;
    request.save = save;
    request.title = save ? "変換先ファイル" : "変換元ファイル";
    request.filters = SplitFilterList("ｻｳﾝﾄﾞ(*.WAV)\0*.WAV\0全ファイル(*.*)\0*.*\0");
    request.filterIndex = 0;
    request.mustExist = !save;
    return request;
}

TEST(QtBackend, OpenPickerFiltersIgnoreCaseAndReturnThePath) {
    testsupport::TempDir dir;
    for (const char* name : {"x.wav", "Y.WAV", "z.txt", "README"}) testsupport::WriteText(dir.file(name), "x");
    QString title;
    QStringList filterTexts, waveNames, allNames;
    ModalAnswerer answerer([&](QWidget* modal) {
        auto* picker = qobject_cast<QFileDialog*>(modal);
        if (picker == nullptr) return;
        title = picker->windowTitle();
        if (auto* combo = picker->findChild<QComboBox*>(QStringLiteral("fileTypeCombo")))
            for (int i = 0; i < combo->count(); ++i) filterTexts << combo->itemText(i);
        picker->setDirectory(QString::fromStdString(dir.path().string()));
        waveNames = ListedNames(picker, 2);
        picker->selectNameFilter(picker->nameFilters().value(1));
        allNames = ListedNames(picker, 4);
        ConfirmName(picker, QStringLiteral("x.wav"));
    });
    EXPECT_EQ(QtEnvironment::Backend().PickFile(WaveRequest(false)), dir.file("x.wav"));
    EXPECT_EQ(title, QStringLiteral("変換元ファイル"));
    EXPECT_EQ(filterTexts, (QStringList{QStringLiteral("ｻｳﾝﾄﾞ(*.WAV)"), QStringLiteral("全ファイル(*.*)")}));
    EXPECT_EQ(waveNames, (QStringList{"Y.WAV", "x.wav"}));
    EXPECT_EQ(allNames, (QStringList{"README", "Y.WAV", "x.wav", "z.txt"}));
}

TEST(QtBackend, SavePickerAsksNothingAboutAnExistingFileAndCancelGivesNothing) {
    testsupport::TempDir dir;
    testsupport::WriteText(dir.file("out.wav"), "x");
    int boxes = 0;
    int pickers = 0;
    QString reopenedIn;
    bool wideEnough = false;
    ModalAnswerer answerer([&](QWidget* modal) {
        if (auto* box = qobject_cast<QMessageBox*>(modal)) {
            ++boxes;
            box->button(QMessageBox::Yes) != nullptr ? box->button(QMessageBox::Yes)->click() : box->accept();
            return;
        }
        auto* picker = qobject_cast<QFileDialog*>(modal);
        if (picker == nullptr) return;
        if (++pickers == 1) {
            picker->setDirectory(QString::fromStdString(dir.path().string()));
            ConfirmName(picker, QStringLiteral("out.wav"));
        } else {
            reopenedIn = picker->directory().absolutePath();
            wideEnough = picker->width() >= picker->fontMetrics().horizontalAdvance(u'x') * 80;
            QTest::keyClick(picker, Qt::Key_Escape);
        }
    });
    EXPECT_EQ(QtEnvironment::Backend().PickFile(WaveRequest(true)), dir.file("out.wav"));
    EXPECT_EQ(boxes, 0) << "no overwrite question";
    EXPECT_EQ(QtEnvironment::Backend().PickFile(WaveRequest(false)), std::nullopt);
    EXPECT_EQ(pickers, 2);
    // Given no folder, the next picker opens where the last one was confirmed
    // (kept in the settings file, so also in the next run), wide enough for its columns.
    EXPECT_EQ(reopenedIn.toStdString(), dir.path().string());
    EXPECT_TRUE(wideEnough);
    const QSettings settings(QSettings::NativeFormat, QSettings::UserScope, QStringLiteral("wavtrn"),
                             QStringLiteral("wavtrn"));
    EXPECT_EQ(settings.value(QStringLiteral("pickers/lastFolder")).toString().toStdString(), dir.path().string());
}

FormatChooserModel TwoTagModel() {
    FormatChooserModel model;
    // Listed out of order: the chooser shows every tag's formats by rate, bits
    // (integer before float), channels.
    model.tags.push_back({"PCM",
                          {{"48,000 Hz, 16 ビット, ステレオ", 192000, 48000, 2, 16},
                           {"8,000 Hz, 8 ビット, モノラル", 8000, 8000, 1, 8},
                           {"44,100 Hz, 16 ビット, ステレオ", 176400, 44100, 2, 16},
                           {"44,100 Hz, 8 ビット, モノラル", 44100, 44100, 1, 8},
                           {"44,100 Hz, 32 ビット浮動小数点, モノラル", 176400, 44100, 1, 32, true},
                           {"44,100 Hz, 32 ビット, ステレオ", 352800, 44100, 2, 32}}});
    model.tags.push_back({"IMA ADPCM", {{"8,000 Hz, 4 ビット, モノラル", 4055}, {"22,050 Hz, 4 ビット, ステレオ", 22311}}});
    model.defaultTag = 1;
    model.defaultFormat = 1;
    return model;
}

TEST(QtBackend, FormatChooserOpensOnTheDefaultAndReturnsTheChoice) {
    QString title;
    int openTag = -1, openFormat = -1;
    QStringList pcmItems;
    QStringList buttonTexts;
    int round = 0;
    ModalAnswerer answerer([&](QWidget* modal) {
        auto* tag = modal->findChild<QComboBox*>(QStringLiteral("formatTag"));
        auto* format = modal->findChild<QComboBox*>(QStringLiteral("format"));
        auto* buttons = modal->findChild<QDialogButtonBox*>();
        ASSERT_TRUE(tag != nullptr && format != nullptr && buttons != nullptr);
        if (++round == 2) {
            QTest::keyClick(modal, Qt::Key_Escape);
            return;
        }
        title = modal->windowTitle();
        openTag = tag->currentIndex();
        openFormat = format->currentIndex();
        for (QAbstractButton* b : buttons->buttons()) buttonTexts << b->text();
        tag->setCurrentIndex(0);
        for (int i = 0; i < format->count(); ++i) pcmItems << format->itemText(i);
        format->setCurrentIndex(1);
        QTest::mouseClick(buttons->button(QDialogButtonBox::Ok), Qt::LeftButton);
    });
    const std::optional<FormatChoice> choice = QtEnvironment::Backend().ChooseFormat(nullptr, TwoTagModel());
    ASSERT_TRUE(choice.has_value());
    EXPECT_EQ(choice->tag, 0);
    EXPECT_EQ(choice->format, 3) << "the second row shown is the fourth format of the model";
    EXPECT_EQ(title, QStringLiteral("フォーマットの選択"));
    EXPECT_EQ(openTag, 1);
    EXPECT_EQ(openFormat, 1);
    buttonTexts.sort();
    EXPECT_EQ(buttonTexts, (QStringList{QStringLiteral("OK"), QStringLiteral("キャンセル")}));
    ASSERT_EQ(pcmItems.size(), 6);
    EXPECT_TRUE(pcmItems[1].startsWith(QStringLiteral("44,100 Hz, 8 ビット, モノラル")));
    EXPECT_TRUE(pcmItems[2].startsWith(QStringLiteral("44,100 Hz, 16 ビット, ステレオ")));
    EXPECT_TRUE(pcmItems[2].endsWith(QStringLiteral("172 KB/秒"))) << pcmItems[2].toStdString();
    EXPECT_TRUE(pcmItems[0].endsWith(QStringLiteral(" 8 KB/秒"))) << pcmItems[0].toStdString();
    EXPECT_TRUE(pcmItems[3].startsWith(QStringLiteral("44,100 Hz, 32 ビット, ステレオ")));
    EXPECT_TRUE(pcmItems[4].startsWith(QStringLiteral("44,100 Hz, 32 ビット浮動小数点")));
    EXPECT_TRUE(pcmItems[5].startsWith(QStringLiteral("48,000 Hz")));

    EXPECT_EQ(QtEnvironment::Backend().ChooseFormat(nullptr, TwoTagModel()), std::nullopt);
    EXPECT_EQ(round, 2);
}

// The real program on the Qt backend: describe the source when its field is
// left, choose a format in the chooser, execute, close.
TEST(QtDialog, RealDialogDescribesChoosesAndConverts) {
    testsupport::TempDir dir;
    const std::string source =
        testsupport::WriteTestWave(dir.file("src.wav"), testsupport::PcmFormat(44100, 16, 2), 22050);
    const std::string destination = dir.file("dst.wav");
    QStringList boxes;
    QString chosenTag, chosenFormat;
    ModalAnswerer answerer([&](QWidget* modal) {
        if (auto* box = qobject_cast<QMessageBox*>(modal)) {
            boxes << box->text();
            PressOk(box);
            return;
        }
        auto* tag = modal->findChild<QComboBox*>(QStringLiteral("formatTag"));
        auto* format = modal->findChild<QComboBox*>(QStringLiteral("format"));
        auto* buttons = modal->findChild<QDialogButtonBox*>();
        ASSERT_TRUE(tag != nullptr && format != nullptr && buttons != nullptr);
        if (const int ima = tag->findText(QStringLiteral("IMA ADPCM")); ima >= 0) tag->setCurrentIndex(ima);
        chosenTag = tag->currentText();
        chosenFormat = format->currentText().section(QStringLiteral("    "), 0, 0);
        QTest::mouseClick(buttons->button(QDialogButtonBox::Ok), Qt::LeftButton);
    });
    QString sourceLabel, destinationLabel;
    QTimer::singleShot(0, [&] {
        QWidget* dialog = nullptr;
        ASSERT_TRUE(QTest::qWaitFor([&] {
            dialog = QApplication::activeModalWidget();
            return dialog != nullptr && dialog->windowTitle() == QStringLiteral("WAVTRN");
        }, 3000));
        ASSERT_TRUE(QTest::qWaitForWindowActive(dialog));
        auto* sourceField = dialog->findChild<QLineEdit*>(QStringLiteral("control101"));
        auto* destinationField = dialog->findChild<QLineEdit*>(QStringLiteral("control104"));
        auto* sourceFormat = dialog->findChild<QLabel*>(QStringLiteral("control103"));
        auto* destinationFormat = dialog->findChild<QLabel*>(QStringLiteral("control106"));
        ASSERT_TRUE(sourceField && destinationField && sourceFormat && destinationFormat);
        EXPECT_EQ(QApplication::focusWidget(), sourceField);

        QTest::keyClicks(sourceField, QString::fromStdString(source));
        QTest::keyClick(sourceField, Qt::Key_Tab);
        EXPECT_TRUE(QTest::qWaitFor([&] { return sourceFormat->text() != QStringLiteral("変換元フォーマット"); }, 3000));
        sourceLabel = sourceFormat->text();

        QTest::mouseClick(destinationField, Qt::LeftButton);
        QTest::keyClicks(destinationField, QString::fromStdString(destination));
        QTest::keyClick(destinationField, Qt::Key_F, Qt::AltModifier);
        EXPECT_TRUE(QTest::qWaitFor([&] { return destinationFormat->text() != QStringLiteral("変換先フォーマット"); }, 3000));
        destinationLabel = destinationFormat->text();

        destinationField->setFocus(Qt::MouseFocusReason);
        QTest::keyClick(destinationField, Qt::Key_Return);
        EXPECT_TRUE(QTest::qWaitFor([&] { return boxes.contains(QStringLiteral("success")); }, 5000));
        QTest::keyClick(destinationField, Qt::Key_Escape);
    });
    EXPECT_EQ(WavtrnMain(), 0);

    EXPECT_TRUE(sourceLabel.contains(QStringLiteral("44,100 Hz")) && sourceLabel.contains(QStringLiteral("ステレオ")))
        << sourceLabel.toStdString();
    ASSERT_FALSE(chosenTag.isEmpty());
    EXPECT_EQ(destinationLabel, chosenTag + u'(' + chosenFormat + u')');
    EXPECT_EQ(boxes, QStringList{QStringLiteral("success")});
    const testsupport::ProbeResult probe = testsupport::Probe(destination);
    EXPECT_TRUE(probe.ok);
    if (chosenTag == QStringLiteral("IMA ADPCM")) {
        EXPECT_EQ(probe.codec, "adpcm_ima_wav");
    }
    EXPECT_NEAR(probe.duration, 0.5, 0.05);
}

// The real dialog, moved near the middle of the screen: a wide window over it
// is not pushed back onto the screen, and one centred on the screen instead
// of over the dialog is off by 100 pixels.
QWidget* StartRealDialog() {
    QWidget* dialog = nullptr;
    EXPECT_TRUE(QTest::qWaitFor([&] {
        dialog = QApplication::activeModalWidget();
        return dialog != nullptr && dialog->windowTitle() == QStringLiteral("WAVTRN");
    }, 3000));
    if (dialog == nullptr || !QTest::qWaitForWindowActive(dialog)) return nullptr;
    dialog->move(dialog->screen()->availableGeometry().center() - dialog->rect().center() - QPoint(0, 100));
    return dialog;
}

double OffCentre(const QWidget* window, const QWidget* dialog) {
    const QPoint d = window->frameGeometry().center() - dialog->frameGeometry().center();
    return std::hypot(d.x(), d.y());
}

// Answers boxes with OK and the chooser with its default (PCM 44,100 Hz 16-bit
// stereo), noting the boxes' texts and how far each is from the dialog's centre.
ModalAnswerer OkAnswerer(QStringList* boxes, QWidget* const* dialog, std::vector<double>* offCentre) {
    return ModalAnswerer([=](QWidget* modal) {
        offCentre->push_back(OffCentre(modal, *dialog));
        if (auto* box = qobject_cast<QMessageBox*>(modal)) *boxes << box->text();
        QTest::keyClick(modal, Qt::Key_Return);
    });
}

// A long conversion shows its progress window below the dialog; the bar
// advances between passes; the cancel button, then Escape, then SIGTERM (as
// at logout) stop the conversion: no file is left and the destination is as
// it was. The signal also ends the dialog, with no box.
TEST(QtDialog, ProgressWindowAdvancesAndCancels) {
    testsupport::TempDir dir;
    const std::string source =
        testsupport::WriteTestWave(dir.file("long.wav"), testsupport::PcmFormat(44100, 16, 2), 441000);
    const std::string destination = dir.file("dst.wav");
    testsupport::WriteText(destination, "precious");
    const auto before = testsupport::ReadBytes(destination);
    QtEnvironment::Backend().SetProgressDelay(0);  // the window comes with the first pass

    QWidget* dialog = nullptr;
    QStringList boxes;
    std::vector<double> offCentre;
    std::vector<std::vector<int>> values;  // the bar's values each run saw
    const ModalAnswerer answerer = OkAnswerer(&boxes, &dialog, &offCentre);
    bool signalled = false;
    QTimer ticker;  // at interval 0 it ticks once a pass: each pass runs the event loop once
    QObject::connect(&ticker, &QTimer::timeout, [&] {
        QWidget* progress = QApplication::activeModalWidget();
        if (progress == nullptr || progress->objectName() != QStringLiteral("progressWindow")) return;
        if (!progress->property("seen").toBool()) {  // a new window: each run has its own
            progress->setProperty("seen", true);
            values.emplace_back();
            // Below the dialog, whose two path fields stay in sight.
            EXPECT_GT(progress->frameGeometry().top(), dialog->frameGeometry().bottom());
            EXPECT_EQ(progress->findChild<QLabel*>(QStringLiteral("name"))->text(),
                      QStringLiteral("変換元: long.wav\n変換先: dst.wav"));
        }
        const int value = progress->findChild<QProgressBar*>()->value();
        if (values.back().empty() || values.back().back() != value) values.back().push_back(value);
        if (values.back().size() != 3) return;
        if (values.size() == 1) QTest::mouseClick(progress->findChild<QPushButton*>(QStringLiteral("cancel")), Qt::LeftButton);
        else if (values.size() == 2) QTest::keyClick(progress, Qt::Key_Escape);
        else if (!signalled) signalled = ::kill(::getpid(), SIGTERM) == 0;
    });
    ticker.start(0);
    QtEnvironment::Backend().CloseOnSignals({SIGTERM});
    QTimer::singleShot(0, [&] {
        dialog = StartRealDialog();
        ASSERT_NE(dialog, nullptr);
        auto* destinationField = dialog->findChild<QLineEdit*>(QStringLiteral("control104"));
        QTest::keyClicks(dialog->findChild<QLineEdit*>(QStringLiteral("control101")), QString::fromStdString(source));
        destinationField->setFocus(Qt::TabFocusReason);
        QTest::keyClicks(destinationField, QString::fromStdString(destination));
        QTest::keyClick(destinationField, Qt::Key_F, Qt::AltModifier);
        auto* destinationFormat = dialog->findChild<QLabel*>(QStringLiteral("control106"));
        EXPECT_TRUE(QTest::qWaitFor([&] { return destinationFormat->text().startsWith(QStringLiteral("PCM")); }, 3000));
        for (int run = 1; run <= 2; ++run) {
            QTest::keyClick(destinationField, Qt::Key_Return);
            EXPECT_TRUE(QTest::qWaitFor([&] { return boxes.size() >= run; }, 20000));
        }
        QTest::keyClick(destinationField, Qt::Key_Return);
    });
    QTimer stuck;  // a dialog the signal did not end
    QObject::connect(&stuck, &QTimer::timeout, [&] {
        ADD_FAILURE() << "the dialog was still open 30 s after it started";
        QTest::keyClick(QApplication::activeModalWidget(), Qt::Key_Escape);
    });
    stuck.start(30000);
    EXPECT_EQ(WavtrnMain(), 0);
    QtEnvironment::Backend().SetProgressDelay(500);

    EXPECT_EQ(boxes, (QStringList{QStringLiteral("変換を中止しました。"), QStringLiteral("変換を中止しました。")}));
    ASSERT_EQ(values.size(), 3u);
    // The signal is taken up at the pass after it: the third run may show one more value.
    for (const std::vector<int>& seen : values)
        EXPECT_TRUE(seen.size() >= 3 && seen.size() <= (&seen == &values.back() ? 4u : 3u) && seen[0] < seen[1] &&
                    seen[1] < seen[2] && seen.back() < 1000)
            << seen.size();
    EXPECT_EQ(offCentre.size(), 3u);  // the chooser, and each cancelled run's box
    for (double d : offCentre) EXPECT_LE(d, 3.0) << "a window is not centred over the dialog";
    EXPECT_EQ(testsupport::ReadBytes(destination), before);
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.path()), {}), 2) << "a temporary file was left";
}

// Drops file URLs as a file manager does: enter, then drop.
void Drop(QWidget* target, const std::vector<std::string>& paths) {
    QMimeData mime;
    QList<QUrl> urls;
    for (const std::string& path : paths) urls << QUrl::fromLocalFile(QString::fromStdString(path));
    mime.setUrls(urls);
    QDragEnterEvent enter(target->rect().center(), Qt::CopyAction, &mime, Qt::NoButton, Qt::NoModifier);
    QApplication::sendEvent(target, &enter);
    QDropEvent drop(target->rect().center(), Qt::CopyAction, &mime, Qt::NoButton, Qt::NoModifier);
    QApplication::sendEvent(target, &drop);
}

// Files dropped on the source field, elsewhere on the dialog and on the
// destination field; a dropped file that fails its check clears the label,
// its box centred over the dialog.
TEST(QtDialog, DroppedFilesFillTheFields) {
    testsupport::TempDir dir;
    const std::string first = testsupport::WriteTestWave(dir.file("a.wav"), testsupport::PcmFormat(44100, 16, 2), 100);
    const std::string second = testsupport::WriteTestWave(dir.file("b.wav"), testsupport::PcmFormat(8000, 8, 1), 100);
    const std::string notWave = dir.file("c.wav");
    testsupport::WriteText(notWave, "not a RIFF file");
    QWidget* dialog = nullptr;
    QStringList boxes, labels, fields;
    std::vector<double> offCentre;
    const ModalAnswerer answerer = OkAnswerer(&boxes, &dialog, &offCentre);
    QTimer::singleShot(0, [&] {
        dialog = StartRealDialog();
        ASSERT_NE(dialog, nullptr);
        auto* sourceField = dialog->findChild<QLineEdit*>(QStringLiteral("control101"));
        auto* destinationField = dialog->findChild<QLineEdit*>(QStringLiteral("control104"));
        auto* sourceFormat = dialog->findChild<QLabel*>(QStringLiteral("control103"));
        for (const auto& [target, path] : {std::pair<QWidget*, std::string>{sourceField, first},
                                           {dialog->findChild<QPushButton*>(QStringLiteral("control109")), second},
                                           {dialog, notWave}, {destinationField, dir.file("out.wav")}}) {
            // The drop is handled whole (a box included) before its path shows.
            Drop(target, {path});
            const QString shown = QString::fromStdString(path);
            EXPECT_TRUE(QTest::qWaitFor([&] { return sourceField->text() == shown || destinationField->text() == shown; }, 3000));
            labels << sourceFormat->text();
            fields << sourceField->text() + u'|' + destinationField->text();
        }
        QTest::keyClick(sourceField, Qt::Key_Escape);
    });
    EXPECT_EQ(WavtrnMain(), 0);
    const QString a = QString::fromStdString(first), b = QString::fromStdString(second), c = QString::fromStdString(notWave);
    EXPECT_EQ(fields, (QStringList{a + u'|', b + u'|', c + u'|', c + u'|' + QString::fromStdString(dir.file("out.wav"))}));
    ASSERT_EQ(labels.size(), 4);
    EXPECT_TRUE(labels[0].contains(QStringLiteral("44,100 Hz")) && labels[1].contains(QStringLiteral("8,000 Hz")));
    EXPECT_EQ(labels[2], QString()) << "a failed check clears the label";
    ASSERT_EQ(boxes.size(), 1);
    EXPECT_TRUE(boxes[0].startsWith(QStringLiteral("Assertion failed: "))) << boxes[0].toStdString();
    ASSERT_EQ(offCentre.size(), 1u);
    EXPECT_LE(offCentre[0], 3.0) << "the box is not centred over the dialog";
}

// Two files dropped together go into a folder picked for them, in the format
// the chooser asks for first; one of their names exists there: skipped, then
// replaced, after one question each time; a closing box tells what became of each.
TEST(QtDialog, SeveralDroppedFilesGoIntoAFolderAskingOnceAboutExistingNames) {
    testsupport::TempDir dir;
    fs::create_directory(dir.file("out"));
    const std::vector<std::string> sources = {
        testsupport::WriteTestWave(dir.file("a.wav"), testsupport::PcmFormat(8000, 16, 1), 8000),
        testsupport::WriteTestWave(dir.file("b.wav"), testsupport::PcmFormat(22050, 16, 2), 8000)};
    testsupport::WriteText(dir.file("out/b.wav"), "precious");
    const auto precious = testsupport::ReadBytes(dir.file("out/b.wav"));
    QString answer = QStringLiteral("スキップする");
    QStringList questions, boxes;
    int pickers = 0, choosers = 0;
    ModalAnswerer answerer([&](QWidget* modal) {
        if (auto* picker = qobject_cast<QFileDialog*>(modal)) {
            ++pickers;
            EXPECT_EQ(picker->directory().absolutePath().toStdString(), dir.path().string()) << "the sources' folder";
            return ConfirmName(picker, QString::fromStdString(dir.file("out")));
        }
        auto* box = qobject_cast<QMessageBox*>(modal);
        if (box == nullptr) ++choosers;  // the chooser: its default, PCM 44,100 Hz 16-bit stereo
        if (box != nullptr && box->buttons().size() == 1) boxes << box->text();  // the closing box
        if (box == nullptr || box->buttons().size() == 1) return QTest::keyClick(modal, Qt::Key_Return);
        questions << box->text();
        for (QAbstractButton* button : box->buttons())
            if (button->text() == answer) button->click();
    });
    std::vector<decltype(testsupport::ReadBytes(""))> afterSkip;
    QTimer::singleShot(0, [&] {
        QWidget* dialog = StartRealDialog();
        ASSERT_NE(dialog, nullptr);
        Drop(dialog->findChild<QLineEdit*>(QStringLiteral("control104")), sources);
        EXPECT_TRUE(QTest::qWaitFor([&] { return boxes.size() == 1; }, 10000));
        afterSkip = {testsupport::ReadBytes(dir.file("out/a.wav")), testsupport::ReadBytes(dir.file("out/b.wav"))};
        answer = QStringLiteral("すべて置き換える");
        Drop(dialog, sources);
        EXPECT_TRUE(QTest::qWaitFor([&] { return boxes.size() == 2; }, 10000));
        QTest::keyClick(dialog, Qt::Key_Escape);
    });
    EXPECT_EQ(WavtrnMain(), 0);

    EXPECT_EQ(pickers, 2);
    EXPECT_EQ(choosers, 1) << "the chooser only while no format is chosen";
    ASSERT_EQ(questions.size(), 2);
    EXPECT_TRUE(questions[0].contains(QStringLiteral("1 個")) && questions[0].contains(QStringLiteral("b.wav")));
    ASSERT_EQ(boxes.size(), 2);
    EXPECT_EQ(boxes[0], QStringLiteral("変換したファイル: 1\n  a.wav\n\nスキップしたファイル: 1\n  b.wav"));
    EXPECT_EQ(boxes[1], QStringLiteral("変換したファイル: 2\n  a.wav\n  b.wav"));
    ASSERT_EQ(afterSkip.size(), 2u);
    EXPECT_EQ(afterSkip[1], precious) << "skipped: the existing file is as it was";
    for (const char* name : {"out/a.wav", "out/b.wav"}) {
        const testsupport::ProbeResult probe = testsupport::Probe(dir.file(name));
        EXPECT_TRUE(probe.ok && probe.sampleRate == 44100 && probe.channels == 2) << name;
    }
    EXPECT_EQ(testsupport::ReadBytes(dir.file("out/a.wav")), afterSkip[0]) << "the same conversion again";
    EXPECT_EQ(std::distance(fs::directory_iterator(dir.file("out")), {}), 2) << "a temporary file was left";
}

}  // namespace
