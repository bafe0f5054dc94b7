// The progress window of a long conversion: the file's name, a bar with the
// share done, the time left and a cancel button, over the dialog that runs it.
#pragma once

#include <QDialog>
#include <QGridLayout>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QString>

#include <cstdint>

// "残り時間: 約 1 分 20 秒": the time left when done of total bytes took
// elapsedMs; the "calculating" text while there is too little to go by.
QString TimeLeftText(std::uint64_t done, std::uint64_t total, qint64 elapsedMs);

class ProgressWindow final : public QDialog {
public:
    ProgressWindow(QWidget* owner, const QString& text);
    ProgressWindow(const ProgressWindow&) = delete;
    ProgressWindow& operator=(const ProgressWindow&) = delete;

    void SetProgress(std::uint64_t done, std::uint64_t total, qint64 elapsedMs);
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
    bool cancelled_ = false;
};
