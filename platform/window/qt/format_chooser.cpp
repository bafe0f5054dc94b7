#include "platform/window/qt/format_chooser.h"

#include "platform/window/qt/qt_backend.h"

#include <QApplication>
#include <QComboBox>
#include <QDialog>
#include <QDialogButtonBox>
#include <QGridLayout>
#include <QLabel>
#include <QLocale>
#include <QPainter>
#include <QPushButton>
#include <QStyledItemDelegate>

#include <algorithm>

namespace {

QString Utf8(const std::string& text) { return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size())); }

// Roles of a format item besides its display text "name    rate".
constexpr int kNameRole = Qt::UserRole;
constexpr int kRateRole = Qt::UserRole + 1;

void FillFormats(QComboBox& box, const FormatChooserModel::Tag& tag) {
    box.clear();
    for (const FormatChooserModel::Format& f : tag.formats) {
        const QString name = Utf8(f.name);
        const QString rate = FormatRateText(f.avgBytesPerSec);
        box.addItem(name + QStringLiteral("    ") + rate);
        box.setItemData(box.count() - 1, name, kNameRole);
        box.setItemData(box.count() - 1, rate, kRateRole);
    }
}

// The format of a tag that keeps most of the one shown before: its rate first,
// then its channels, then its bits; the first of equals.
int ClosestFormat(const FormatChooserModel::Tag& tag, const FormatChooserModel::Format& was) {
    int best = 0;
    int bestScore = -1;
    for (std::size_t i = 0; i < tag.formats.size(); ++i) {
        const FormatChooserModel::Format& f = tag.formats[i];
        const int score = (f.samplesPerSec == was.samplesPerSec ? 4 : 0) + (f.channels == was.channels ? 2 : 0) +
                          (f.bitsPerSample == was.bitsPerSample ? 1 : 0);
        if (score > bestScore) {
            best = static_cast<int>(i);
            bestScore = score;
        }
    }
    return best;
}

// Draws a format item of the open list as two columns: the name on the left,
// the data rate on the right, so the rates line up.
class FormatItemDelegate final : public QStyledItemDelegate {
public:
    using QStyledItemDelegate::QStyledItemDelegate;

    void paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const override {
        QStyleOptionViewItem opt = option;
        initStyleOption(&opt, index);
        const QString name = index.data(kNameRole).toString();
        const QString rate = index.data(kRateRole).toString();
        opt.text.clear();
        QStyle* style = opt.widget != nullptr ? opt.widget->style() : QApplication::style();
        style->drawControl(QStyle::CE_ItemViewItem, &opt, painter, opt.widget);
        const QRect text =
            style->subElementRect(QStyle::SE_ItemViewItemText, &opt, opt.widget).adjusted(kPadding, 0, -kPadding, 0);
        const QPalette::ColorRole role = (opt.state & QStyle::State_Selected) ? QPalette::HighlightedText : QPalette::Text;
        style->drawItemText(painter, text, Qt::AlignLeft | Qt::AlignVCenter, opt.palette, true, name, role);
        style->drawItemText(painter, text, Qt::AlignRight | Qt::AlignVCenter, opt.palette, true, rate, role);
    }

    QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override {
        return QStyledItemDelegate::sizeHint(option, index) + QSize(2 * kPadding, 0);
    }

private:
    static constexpr int kPadding = 4;
};

}  // namespace

QString FormatRateText(DWORD avgBytesPerSec) {
    const qulonglong kilobytes = (qulonglong(avgBytesPerSec) + 512) / 1024;
    return QLocale(QLocale::English).toString(kilobytes) + QStringLiteral(" KB/秒");
}

std::optional<FormatChoice> RunFormatChooser(QWidget* owner, const FormatChooserModel& model) {
    FormatItemDelegate delegate;  // outlives the list that draws with it
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
    formatCombo.setItemDelegate(&delegate);
    // A list of a screen's height is hard to read; scroll a shorter one instead.
    formatCombo.setStyleSheet(QStringLiteral("QComboBox { combobox-popup: 0; }"));
    formatCombo.setMaxVisibleItems(16);
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
    // Wide enough for the formats of every tag, so the window keeps its size
    // when the tag changes.
    int widest = 0;
    for (const FormatChooserModel::Tag& tag : model.tags) {
        FillFormats(*formatBox, tag);
        widest = std::max(widest, formatBox->sizeHint().width());
    }
    formatBox->setMinimumWidth(widest);
    const auto refresh = [&] {
        const int tag = tagBox->currentIndex();
        if (tag >= 0 && tag < static_cast<int>(model.tags.size())) FillFormats(*formatBox, model.tags[tag]);
        else formatBox->clear();
        ok->setEnabled(formatBox->count() > 0);
    };
    // A new tag keeps the rate and channels of the format the user picked last
    // (or opened on), where it offers them: stepping through a tag that has
    // not got them, such as an 8,000 Hz mono one, does not lose them.
    FormatChooserModel::Format wanted;
    bool choosing = false;  // the chooser itself is setting the format
    QObject::connect(tagBox, &QComboBox::currentIndexChanged, &dialog, [&] {
        choosing = true;
        refresh();
        const int tag = tagBox->currentIndex();
        if (formatBox->count() > 0) formatBox->setCurrentIndex(ClosestFormat(model.tags[tag], wanted));
        choosing = false;
    });
    QObject::connect(formatBox, &QComboBox::currentIndexChanged, &dialog, [&] {
        const int tag = tagBox->currentIndex(), format = formatBox->currentIndex();
        ok->setEnabled(format >= 0);
        if (!choosing && format >= 0 && tag >= 0 && tag < static_cast<int>(model.tags.size()))
            wanted = model.tags[tag].formats[format];
    });
    QObject::connect(&buttons, &QDialogButtonBox::accepted, &dialog, &QDialog::accept);
    QObject::connect(&buttons, &QDialogButtonBox::rejected, &dialog, &QDialog::reject);

    if (!model.tags.empty()) {
        const int tag = std::clamp(model.defaultTag, 0, static_cast<int>(model.tags.size()) - 1);
        const QSignalBlocker block(tagBox);
        tagBox->setCurrentIndex(tag);
    }
    refresh();
    if (formatBox->count() > 0) formatBox->setCurrentIndex(std::clamp(model.defaultFormat, 0, formatBox->count() - 1));

    ShowCentred(dialog);
    if (dialog.exec() != QDialog::Accepted) return std::nullopt;
    const int tag = tagBox->currentIndex();
    const int format = formatBox->currentIndex();
    if (tag < 0 || tag >= static_cast<int>(model.tags.size())) return std::nullopt;
    if (format < 0 || format >= static_cast<int>(model.tags[tag].formats.size())) return std::nullopt;
    return FormatChoice{tag, format};
}
