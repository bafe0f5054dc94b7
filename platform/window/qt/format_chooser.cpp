#include "platform/window/qt/format_chooser.h"

#include <QComboBox>
#include <QDialog>
#include <QDialogButtonBox>
#include <QGridLayout>
#include <QLabel>
#include <QLocale>
#include <QPushButton>

#include <algorithm>

namespace {

QString Utf8(const std::string& text) { return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size())); }

void FillFormats(QComboBox& box, const FormatChooserModel::Tag& tag) {
    box.clear();
    for (const FormatChooserModel::Format& f : tag.formats)
        box.addItem(Utf8(f.name) + QStringLiteral("    ") + FormatRateText(f.avgBytesPerSec));
}

}  // namespace

QString FormatRateText(DWORD avgBytesPerSec) {
    const qulonglong kilobytes = (qulonglong(avgBytesPerSec) + 512) / 1024;
    return QLocale(QLocale::English).toString(kilobytes) + QStringLiteral(" KB/秒");
}

std::optional<FormatChoice> RunFormatChooser(QWidget* owner, const FormatChooserModel& model) {
    QDialog dialog(owner, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                              Qt::WindowCloseButtonHint);
    dialog.setWindowTitle(QStringLiteral("フォーマットの選択"));
    dialog.setWindowModality(Qt::ApplicationModal);

    // Children live on the stack after their parent, so they go first.
    QGridLayout layout(&dialog);
    QLabel tagLabel(QStringLiteral("形式(&T):"), &dialog);
    QComboBox tagCombo(&dialog);
    tagCombo.setObjectName(QStringLiteral("formatTag"));
    tagCombo.setSizeAdjustPolicy(QComboBox::AdjustToContents);
    tagLabel.setBuddy(&tagCombo);
    QLabel formatLabel(QStringLiteral("属性(&A):"), &dialog);
    QComboBox formatCombo(&dialog);
    formatCombo.setObjectName(QStringLiteral("format"));
    formatCombo.setSizeAdjustPolicy(QComboBox::AdjustToContents);
    formatCombo.setMinimumContentsLength(28);
    formatLabel.setBuddy(&formatCombo);
    QDialogButtonBox buttons(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, &dialog);
    QPushButton* ok = buttons.button(QDialogButtonBox::Ok);
    ok->setText(QStringLiteral("OK"));
    buttons.button(QDialogButtonBox::Cancel)->setText(QStringLiteral("キャンセル"));
    layout.addWidget(&tagLabel, 0, 0);
    layout.addWidget(&tagCombo, 0, 1);
    layout.addWidget(&formatLabel, 1, 0);
    layout.addWidget(&formatCombo, 1, 1);
    layout.addWidget(&buttons, 2, 0, 1, 2);
    layout.setSizeConstraint(QLayout::SetFixedSize);
    QComboBox* tagBox = &tagCombo;
    QComboBox* formatBox = &formatCombo;

    for (const FormatChooserModel::Tag& tag : model.tags) tagBox->addItem(Utf8(tag.name));
    const auto refresh = [&] {
        const int tag = tagBox->currentIndex();
        if (tag >= 0 && tag < static_cast<int>(model.tags.size())) FillFormats(*formatBox, model.tags[tag]);
        else formatBox->clear();
        ok->setEnabled(formatBox->count() > 0);
    };
    QObject::connect(tagBox, &QComboBox::currentIndexChanged, &dialog, [&] {
        refresh();
        formatBox->setCurrentIndex(0);
    });
    QObject::connect(formatBox, &QComboBox::currentIndexChanged, &dialog,
                     [&] { ok->setEnabled(formatBox->currentIndex() >= 0); });
    QObject::connect(&buttons, &QDialogButtonBox::accepted, &dialog, &QDialog::accept);
    QObject::connect(&buttons, &QDialogButtonBox::rejected, &dialog, &QDialog::reject);

    if (!model.tags.empty()) {
        const int tag = std::clamp(model.defaultTag, 0, static_cast<int>(model.tags.size()) - 1);
        const QSignalBlocker block(tagBox);
        tagBox->setCurrentIndex(tag);
    }
    refresh();
    if (formatBox->count() > 0) formatBox->setCurrentIndex(std::clamp(model.defaultFormat, 0, formatBox->count() - 1));
    formatBox->setFocus(Qt::OtherFocusReason);

    if (dialog.exec() != QDialog::Accepted) return std::nullopt;
    const int tag = tagBox->currentIndex();
    const int format = formatBox->currentIndex();
    if (tag < 0 || tag >= static_cast<int>(model.tags.size())) return std::nullopt;
    if (format < 0 || format >= static_cast<int>(model.tags[tag].formats.size())) return std::nullopt;
    return FormatChoice{tag, format};
}
