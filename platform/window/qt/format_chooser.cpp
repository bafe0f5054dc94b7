#include "platform/window/qt/format_chooser.h"

#include "platform/window/qt/qt_backend.h"
#include "res/strings.h"

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
#include <cstdio>
#include <tuple>
#include <vector>

namespace {

QString Utf8(const std::string& text) { return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size())); }
QString DialogWords(Text id) { return QString::fromUtf8(DialogText(id)); }

// Roles of a format item besides its display text "name    rate".
constexpr int kNameRole = Qt::UserRole;
constexpr int kRateRole = Qt::UserRole + 1;
constexpr int kIndexRole = Qt::UserRole + 2;  // the format's index in its tag

// Every tag lists its formats in one order: by rate, then by bits (or, for a
// tag whose formats have no bit depth, by data rate), integer before float
// samples of the same depth, then by channels.
std::vector<int> ListOrder(const FormatChooserModel::Tag& tag) {
    std::vector<int> order(tag.formats.size());
    for (std::size_t i = 0; i < order.size(); ++i) order[i] = static_cast<int>(i);
    const auto key = [&tag](int i) {
        const FormatChooserModel::Format& f = tag.formats[static_cast<std::size_t>(i)];
        const DWORD depth = f.bitsPerSample != 0 ? f.bitsPerSample : f.avgBytesPerSec;
        return std::tuple(f.samplesPerSec, depth, f.floatingPoint, f.channels);
    };
    std::stable_sort(order.begin(), order.end(), [&key](int a, int b) { return key(a) < key(b); });
    return order;
}

void FillFormats(QComboBox& box, const FormatChooserModel::Tag& tag) {
    box.clear();
    for (const int index : ListOrder(tag)) {
        const FormatChooserModel::Format& f = tag.formats[static_cast<std::size_t>(index)];
        const QString name = Utf8(f.name);
        const QString rate = FormatRateText(f.avgBytesPerSec);
        box.addItem(name + QStringLiteral("    ") + rate);
        box.setItemData(box.count() - 1, name, kNameRole);
        box.setItemData(box.count() - 1, rate, kRateRole);
        box.setItemData(box.count() - 1, index, kIndexRole);
    }
}

// The format's index in its tag for a row of the list, and the other way round.
int IndexOfRow(const QComboBox& box, int row) { return row < 0 ? -1 : box.itemData(row, kIndexRole).toInt(); }
int RowOfIndex(const QComboBox& box, int index) { return std::max(0, box.findData(index, kIndexRole)); }

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

// The chooser's window: two lists and the buttons, owned by the dialog.
class FormatChooserDialog final : public QDialog {
public:
    FormatChooserDialog(QWidget* owner, const FormatChooserModel& model)
        : QDialog(owner, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                             Qt::WindowCloseButtonHint),
          model_(model) {
        setWindowTitle(DialogWords(Text::ChooserCaption));
        setWindowModality(Qt::ApplicationModal);
        BuildControls();
        FillTags();
        connect(tagBox_, &QComboBox::currentIndexChanged, this, [this] { TagChanged(); });
        connect(formatBox_, &QComboBox::currentIndexChanged, this, [this] { FormatChanged(); });
        OpenOnDefault();
    }

    // The chosen indices, or nullopt when nothing valid is selected.
    std::optional<FormatChoice> Choice() const {
        const int tag = tagBox_->currentIndex();
        const int format = IndexOfRow(*formatBox_, formatBox_->currentIndex());
        if (!ValidTag(tag)) return std::nullopt;
        if (format < 0 || format >= static_cast<int>(model_.tags[tag].formats.size())) return std::nullopt;
        return FormatChoice{tag, format};
    }

private:
    bool ValidTag(int tag) const { return tag >= 0 && tag < static_cast<int>(model_.tags.size()); }

    void BuildControls() {
        auto* layout = new QGridLayout(this);
        auto* tagLabel = new QLabel(DialogWords(Text::ChooserTagLabel), this);
        tagBox_ = new QComboBox(this);
        tagBox_->setObjectName(QStringLiteral("formatTag"));
        tagBox_->setSizeAdjustPolicy(QComboBox::AdjustToContents);
        tagLabel->setBuddy(tagBox_);
        auto* formatLabel = new QLabel(DialogWords(Text::ChooserFormatLabel), this);
        formatBox_ = new QComboBox(this);
        formatBox_->setObjectName(QStringLiteral("format"));
        formatBox_->setSizeAdjustPolicy(QComboBox::AdjustToContents);
        formatBox_->setMinimumContentsLength(28);
        formatBox_->setItemDelegate(new FormatItemDelegate(formatBox_));
        formatLabel->setBuddy(formatBox_);
        // A list of a screen's height is hard to read; scroll a shorter one instead.
        formatBox_->setStyleSheet(QStringLiteral("QComboBox { combobox-popup: 0; }"));
        formatBox_->setMaxVisibleItems(16);
        auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
        ok_ = buttons->button(QDialogButtonBox::Ok);
        ok_->setText(DialogWords(Text::ChooserOk));
        buttons->button(QDialogButtonBox::Cancel)->setText(DialogWords(Text::CancelButton));
        connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
        connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
        layout->addWidget(tagLabel, 0, 0);
        layout->addWidget(tagBox_, 0, 1);
        layout->addWidget(formatLabel, 1, 0);
        layout->addWidget(formatBox_, 1, 1);
        layout->addWidget(buttons, 2, 0, 1, 2);
        layout->setSizeConstraint(QLayout::SetFixedSize);
    }

    // Lists the tags and makes the format list wide enough for the formats of
    // every tag, so the window keeps its size when the tag changes.
    void FillTags() {
        int widest = 0;
        for (const FormatChooserModel::Tag& tag : model_.tags) {
            tagBox_->addItem(Utf8(tag.name));
            FillFormats(*formatBox_, tag);
            widest = std::max(widest, formatBox_->sizeHint().width());
        }
        formatBox_->setMinimumWidth(widest);
    }

    void ShowFormatsOfTag() {
        const int tag = tagBox_->currentIndex();
        if (ValidTag(tag)) FillFormats(*formatBox_, model_.tags[tag]);
        else formatBox_->clear();
        ok_->setEnabled(formatBox_->count() > 0);
    }

    void OpenOnDefault() {
        if (!model_.tags.empty()) {
            const QSignalBlocker block(tagBox_);
            tagBox_->setCurrentIndex(std::clamp(model_.defaultTag, 0, static_cast<int>(model_.tags.size()) - 1));
        }
        ShowFormatsOfTag();
        if (formatBox_->count() > 0)
            formatBox_->setCurrentIndex(
                RowOfIndex(*formatBox_, std::clamp(model_.defaultFormat, 0, formatBox_->count() - 1)));
    }

    // A new tag keeps the rate and channels of the format the user picked last
    // (or opened on), where it offers them: stepping through a tag that has
    // not got them, such as an 8,000 Hz mono one, does not lose them.
    void TagChanged() {
        choosing_ = true;
        ShowFormatsOfTag();
        const int tag = tagBox_->currentIndex();
        if (formatBox_->count() > 0)
            formatBox_->setCurrentIndex(RowOfIndex(*formatBox_, ClosestFormat(model_.tags[tag], wanted_)));
        choosing_ = false;
    }

    void FormatChanged() {
        const int tag = tagBox_->currentIndex(), format = IndexOfRow(*formatBox_, formatBox_->currentIndex());
        ok_->setEnabled(format >= 0);
        if (!choosing_ && format >= 0 && ValidTag(tag)) wanted_ = model_.tags[tag].formats[format];
    }

    const FormatChooserModel& model_;
    QComboBox* tagBox_ = nullptr;
    QComboBox* formatBox_ = nullptr;
    QPushButton* ok_ = nullptr;
    FormatChooserModel::Format wanted_;
    bool choosing_ = false;  // the chooser itself is setting the format
};

}  // namespace

QString FormatRateText(DWORD avgBytesPerSec) {
    const qulonglong kilobytes = (qulonglong(avgBytesPerSec) + 512) / 1024;
    const QByteArray number = QLocale(QLocale::English).toString(kilobytes).toUtf8();
    char text[64];
    std::snprintf(text, sizeof text, DialogText(Text::ChooserDataRate), number.constData());
    return QString::fromUtf8(text);
}

std::optional<FormatChoice> RunFormatChooser(QWidget* owner, const FormatChooserModel& model) {
    FormatChooserDialog dialog(owner, model);
    ShowCentred(dialog);
    if (dialog.exec() != QDialog::Accepted) return std::nullopt;
    return dialog.Choice();
}
