#include "platform/window/qt/progress_window.h"

#include "res/strings.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace {

// The bar counts in thousandths: a total of bytes does not fit its int range.
constexpr int kBarSteps = 1000;
// Too early an estimate jumps about; it is shown after this much time of
// reports, taken afresh at most this often, from the speed over this window.
constexpr qint64 kFirstEstimateMs = 500;
constexpr qint64 kEstimateEveryMs = 250;
constexpr qint64 kSpeedWindowMs = 3000;

}  // namespace

QString TimeLeftText(double seconds) {
    if (seconds < 0) return QString::fromUtf8(DialogText(Text::TimeLeftUnknown));
    const auto whole = static_cast<unsigned long>(std::ceil(seconds));
    char text[128];
    if (whole < 60) std::snprintf(text, sizeof text, DialogText(Text::TimeLeftSeconds), whole);
    else std::snprintf(text, sizeof text, DialogText(Text::TimeLeftMinutes), whole / 60, whole % 60);
    return QString::fromUtf8(text);
}

double TimeLeftEstimate::Update(std::uint64_t done, std::uint64_t total, qint64 elapsedMs) {
    if (done > total) return shown_;
    if (firstMs_ < 0) firstMs_ = elapsedMs;
    samples_.emplace_back(elapsedMs, done);
    while (samples_.size() > 2 && samples_[1].first <= elapsedMs - kSpeedWindowMs) samples_.pop_front();
    if (elapsedMs - firstMs_ < kFirstEstimateMs || elapsedMs - lastEstimateMs_ < kEstimateEveryMs) return shown_;
    const auto [fromMs, fromDone] = samples_.front();
    if (elapsedMs <= fromMs || done <= fromDone) return shown_;
    lastEstimateMs_ = elapsedMs;
    const double bytesPerMs = double(done - fromDone) / double(elapsedMs - fromMs);
    const double estimate = double(total - done) / bytesPerMs / 1000;
    // The shown value moves a third of the way to each new estimate.
    shown_ = shown_ < 0 ? estimate : shown_ + (estimate - shown_) / 3;
    return shown_;
}

ProgressWindow::ProgressWindow(QWidget* owner, const QString& text)
    : QDialog(owner, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowCloseButtonHint),
      layout_(this),
      name_(this),
      bar_(this),
      timeLeft_(this),
      cancel_(QString::fromUtf8(DialogText(Text::ProgressCancel)), this) {
    setObjectName(QStringLiteral("progressWindow"));
    setWindowTitle(QString::fromUtf8(DialogText(Text::ProgressCaption)));
    // It holds the dialog as a modal box does, though the conversion runs the loop.
    setWindowModality(Qt::ApplicationModal);

    // About as wide as the dialog it stands over, never wider.
    const int width = owner != nullptr ? owner->window()->width() * 3 / 4 : fontMetrics().horizontalAdvance(u'x') * 48;
    name_.setObjectName(QStringLiteral("name"));
    name_.setTextFormat(Qt::PlainText);
    textWidth_ = width;
    SetText(text);
    bar_.setRange(0, kBarSteps);
    bar_.setValue(0);
    bar_.setMinimumWidth(width);
    timeLeft_.setTextFormat(Qt::PlainText);
    timeLeft_.setText(QString::fromUtf8(DialogText(Text::TimeLeftUnknown)));
    cancel_.setObjectName(QStringLiteral("cancel"));
    cancel_.setAutoDefault(true);
    cancel_.setDefault(true);
    connect(&cancel_, &QPushButton::clicked, this, &ProgressWindow::reject);

    layout_.addWidget(&name_, 0, 0, 1, 2);
    layout_.addWidget(&bar_, 1, 0, 1, 2);
    layout_.addWidget(&timeLeft_, 2, 0);
    layout_.addWidget(&cancel_, 2, 1, Qt::AlignRight);
    layout_.setSizeConstraint(QLayout::SetFixedSize);
    cancel_.setFocus(Qt::OtherFocusReason);
}

void ProgressWindow::SetProgress(std::uint64_t done, std::uint64_t total, qint64 elapsedMs) {
    const std::uint64_t shown = std::min(done, total);
    bar_.setValue(total == 0 ? 0 : static_cast<int>(shown * kBarSteps / total));
    const QString left = TimeLeftText(estimate_.Update(done, total, elapsedMs));
    if (left != timeLeft_.text()) timeLeft_.setText(left);
}

void ProgressWindow::SetText(const QString& text) {
    QStringList lines;
    for (const QString& line : text.split(u'\n')) lines << fontMetrics().elidedText(line, Qt::ElideMiddle, textWidth_);
    name_.setText(lines.join(u'\n'));
    name_.setToolTip(text);
}

void ProgressWindow::reject() {
    cancelled_ = true;
    cancel_.setEnabled(false);
}
