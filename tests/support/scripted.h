// A window backend without a screen, for tests: the test drives control texts,
// focus and key presses; message boxes and label changes are recorded in order;
// pickers and the format chooser are answered from queued answers, and so is
// the progress window of a conversion (it goes on unless a cancel is queued).
#pragma once

#include "platform/window/window.h"

#include <deque>
#include <memory>
#include <optional>
#include <string>
#include <vector>

class ScriptedBackend final : public WindowBackend {
public:
    struct Action {
        enum class Kind { Text, Focus, Click, Enter, Escape };
        Kind kind;
        int id = 0;
        std::string text;
    };

    ScriptedBackend();
    ~ScriptedBackend() override;

    // What happens once the dialog has been initialised, in order.
    void QueueAction(Action action);
    // The answers of the next open-file or save-file picker (nullopt: cancel).
    void QueueOpenAnswer(std::optional<std::string> path);
    void QueueSaveAnswer(std::optional<std::string> path);
    // The answer of the next format chooser, by tag name and format name (nullopt: cancel).
    void QueueChooserAnswer(std::optional<std::pair<std::string, std::string>> names);
    // The next progress update is answered with cancel, as the user's cancel button.
    void QueueProgressCancel();
    // The answer of the next question box: the index of the button pressed.
    void QueueQuestionAnswer(int button);

    // What each picker was asked, and the tag and format each chooser opened
    // on, in order.
    const std::vector<FilePickerRequest>& Pickers() const { return pickers_; }
    const std::vector<std::pair<std::string, std::string>>& ChooserDefaults() const { return chooserDefaults_; }

    // One line per event: box ..., question "TEXT" -> BUTTON, label ID "...",
    // progress "TEXT" cancelled, end RESULT. A folder picker takes the next
    // open answer.
    const std::vector<std::string>& Transcript() const { return transcript_; }
    // Faults of the script itself: a picker or chooser with no answer, an answer
    // naming nothing, answers or actions left over, a click on a non-button; and
    // progress calls out of order.
    const std::vector<std::string>& Errors() const { return errors_; }
    // Records leftover answers and actions as errors; call after the run.
    void Finish();

    // Writes text with line feeds as \n, quotes as \" and backslashes as \\.
    static std::string Escape(std::string_view text);

    INT_PTR RunDialog(const DialogTemplate& tmpl, DLGPROC proc, LPARAM param) override;
    HWND ControlHandle(HWND dialog, int id) override;
    std::string ControlText(HWND control) override;
    bool SetControlText(HWND control, std::string_view text) override;
    HWND SetFocus(HWND control) override;
    void EndDialog(HWND dialog, INT_PTR result) override;
    void MessageBox(HWND owner, std::string_view text, std::string_view caption, UINT type) override;
    int Ask(HWND owner, std::string_view text, std::string_view caption,
            const std::vector<std::string>& buttons) override;
    std::optional<std::string> PickFile(const FilePickerRequest& request) override;
    std::optional<FormatChoice> ChooseFormat(HWND owner, const FormatChooserModel& model) override;
    void BeginProgress(HWND owner, std::string_view text) override;
    bool UpdateProgress(std::uint64_t done, std::uint64_t total) override;
    void EndProgress() override;
    void SetProgressText(std::string_view text) override;
    bool PostDrop(HWND dialog, const std::vector<std::string>& files) override;

    struct Dialog;

private:
    void Run(const Action& action);
    void MoveFocus(int id);
    void SendCommand(int id, WORD notification);

    std::unique_ptr<Dialog> dialog_;
    std::deque<Action> actions_;
    std::deque<std::optional<std::string>> openAnswers_;
    std::deque<std::optional<std::string>> saveAnswers_;
    std::deque<std::optional<std::pair<std::string, std::string>>> chooserAnswers_;
    int progressCancels_ = 0;
    std::deque<int> questionAnswers_;
    std::vector<std::vector<std::string>> postedDrops_;  // delivered once the dialog is initialised
    std::optional<std::string> progress_;  // the text of the open progress record
    std::vector<FilePickerRequest> pickers_;
    std::vector<std::pair<std::string, std::string>> chooserDefaults_;
    std::vector<std::string> transcript_;
    std::vector<std::string> errors_;
};
