// The progress window of a long conversion: the files' names (one a line), a
// bar with the share done, the time left and a cancel button, beside the
// dialog that runs it.
#pragma once

#include <QDialog>
#include <QGridLayout>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QString>

#include <cstdint>
#include <deque>
#include <utility>

// "残り時間: 約 1 分 20 秒" for a number of seconds; the "calculating" text for
// a negative one.
QString TimeLeftText(double seconds);

// The time left of an operation from its progress reports. The speed is
// measured over the last few seconds from the first report on, so the time
// spent opening files and codecs before it does not inflate the first
// estimate, and the shown value moves smoothly towards each new estimate.
class TimeLeftEstimate {
public:
    // Seconds left, or -1 while there is too little to go by.
    double Update(std::uint64_t done, std::uint64_t total, qint64 elapsedMs);

private:
    std::deque<std::pair<qint64, std::uint64_t>> samples_;  // (ms, done), oldest first
    qint64 firstMs_ = -1;
    qint64 lastEstimateMs_ = 0;
    double shown_ = -1;
};

class ProgressWindow final : public QDialog {
public:
    ProgressWindow(QWidget* owner, const QString& text);
    ProgressWindow(const ProgressWindow&) = delete;
    ProgressWindow& operator=(const ProgressWindow&) = delete;

    void SetProgress(std::uint64_t done, std::uint64_t total, qint64 elapsedMs);
    // The names shown, one a line, each cut in the middle to the window's width.
    void SetText(const QString& text);
    // The cancel button, Escape or the window's close button was pressed.
    bool Cancelled() const { return cancelled_; }

protected:
    // Only marks the request: the conversion stops at its next pass and closes
    // the window then.
    void reject() override;

private:
    // Children after their layout, so they go first.
    QGridLayout layout_;
    QLabel name_;
    QProgressBar bar_;
    QLabel timeLeft_;
    QPushButton cancel_;
    TimeLeftEstimate estimate_;
    int textWidth_ = 0;
    bool cancelled_ = false;
};
