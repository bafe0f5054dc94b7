#include "support/scripted.h"

#include "res/dialog_template.h"

#include <algorithm>
#include <utility>

struct ScriptedBackend::Dialog {
    struct Control {
        int id;
        ControlKind kind;
        std::string text;
    };
    const DialogTemplate* tmpl = nullptr;
    DLGPROC proc = nullptr;
    std::vector<Control> controls;
    int focus = 0;  // id of the focused control; 0 while nothing has the focus
    bool ended = false;
    INT_PTR result = 0;

    HWND Handle() { return reinterpret_cast<HWND>(this); }
    Control* Find(int id) {
        for (auto& c : controls)
            if (c.id == id && id != -1) return &c;
        return nullptr;
    }
    Control* FromHandle(HWND h) {
        for (auto& c : controls)
            if (reinterpret_cast<HWND>(&c) == h) return &c;
        return nullptr;
    }
};

ScriptedBackend::ScriptedBackend() = default;
ScriptedBackend::~ScriptedBackend() = default;

void ScriptedBackend::QueueAction(Action action) { actions_.push_back(std::move(action)); }
void ScriptedBackend::QueueOpenAnswer(std::optional<std::string> path) { openAnswers_.push_back(std::move(path)); }
void ScriptedBackend::QueueSaveAnswer(std::optional<std::string> path) { saveAnswers_.push_back(std::move(path)); }
void ScriptedBackend::QueueChooserAnswer(std::optional<std::pair<std::string, std::string>> names) {
    chooserAnswers_.push_back(std::move(names));
}

void ScriptedBackend::QueueProgressCancel() { ++progressCancels_; }
void ScriptedBackend::QueueQuestionAnswer(int button) { questionAnswers_.push_back(button); }

int ScriptedBackend::Ask(HWND, std::string_view text, std::string_view, const std::vector<std::string>& buttons) {
    const int last = static_cast<int>(buttons.size()) - 1;
    int answer = last;
    if (questionAnswers_.empty()) {
        errors_.push_back("question asked with no queued answer");
    } else {
        answer = std::clamp(questionAnswers_.front(), 0, last);
        questionAnswers_.pop_front();
    }
    transcript_.push_back("question \"" + Escape(text) + "\" -> " + Escape(buttons[static_cast<std::size_t>(answer)]));
    return answer;
}

std::string ScriptedBackend::Escape(std::string_view text) {
    std::string out;
    for (char c : text) {
        switch (c) {
        case '\n': out += "\\n"; break;
        case '"': out += "\\\""; break;
        case '\\': out += "\\\\"; break;
        default: out += c;
        }
    }
    return out;
}

INT_PTR ScriptedBackend::RunDialog(const DialogTemplate& tmpl, DLGPROC proc, LPARAM param) {
    if (dialog_) return -1;  // one dialog at a time
    dialog_ = std::make_unique<Dialog>();
    Dialog& d = *dialog_;
    d.tmpl = &tmpl;
    d.proc = proc;
    for (const ControlTemplate& c : tmpl.controls) d.controls.push_back({c.id, c.kind, c.text});

    if (proc(d.Handle(), WM_INITDIALOG, 0, param) != FALSE) {
        // The procedure left the focus to us: the first control with a tab stop.
        for (const ControlTemplate& c : tmpl.controls) {
            if (c.style & WS_TABSTOP) {
                d.focus = c.id;
                break;
            }
        }
    }
    for (const std::vector<std::string>& files : std::exchange(postedDrops_, {})) {
        DropFiles drop{files};
        if (!d.ended) proc(d.Handle(), WM_DROPFILES, reinterpret_cast<WPARAM>(&drop), 0);
    }
    while (!d.ended && !actions_.empty()) {
        const Action action = actions_.front();
        actions_.pop_front();
        Run(action);
    }
    if (!d.ended) SendCommand(IDCANCEL, 0);  // the script ran out: close with Escape
    if (!d.ended) {
        errors_.push_back("the dialog did not end on Escape");
        d.result = -1;
    }
    const INT_PTR result = d.result;
    dialog_.reset();
    return result;
}

void ScriptedBackend::Run(const Action& action) {
    Dialog& d = *dialog_;
    switch (action.kind) {
    case Action::Kind::Text:
        if (Dialog::Control* c = d.Find(action.id)) c->text = action.text;
        else errors_.push_back("text: no control " + std::to_string(action.id));
        break;
    case Action::Kind::Focus:
        if (Dialog::Control* c = d.Find(action.id); c != nullptr && c->kind != ControlKind::Static) MoveFocus(action.id);
        else errors_.push_back("focus: control " + std::to_string(action.id) + " cannot take the focus");
        break;
    case Action::Kind::Click: {
        Dialog::Control* c = d.Find(action.id);
        if (c == nullptr || c->kind != ControlKind::Button) {
            errors_.push_back("click: control " + std::to_string(action.id) + " is not a push button");
            break;
        }
        MoveFocus(action.id);
        if (!d.ended) SendCommand(action.id, BN_CLICKED);
        break;
    }
    case Action::Kind::Enter: {
        const Dialog::Control* c = d.Find(d.focus);
        // A focused push button is pressed; anywhere else Enter means execute.
        SendCommand(c != nullptr && c->kind == ControlKind::Button ? c->id : IDOK, BN_CLICKED);
        break;
    }
    case Action::Kind::Escape: SendCommand(IDCANCEL, 0); break;
    }
}

void ScriptedBackend::MoveFocus(int id) {
    Dialog& d = *dialog_;
    const int previous = d.focus;
    if (previous == id) return;
    d.focus = id;
    const Dialog::Control* lost = d.Find(previous);
    if (lost != nullptr && lost->kind == ControlKind::Edit) SendCommand(previous, EN_KILLFOCUS);
}

void ScriptedBackend::SendCommand(int id, WORD notification) {
    Dialog& d = *dialog_;
    if (d.ended) return;
    Dialog::Control* c = d.Find(id);
    const LPARAM control = c != nullptr ? reinterpret_cast<LPARAM>(c) : 0;
    d.proc(d.Handle(), WM_COMMAND, MAKEWPARAM(static_cast<WORD>(id), notification), control);
}

HWND ScriptedBackend::ControlHandle(HWND dialog, int id) {
    if (!dialog_ || dialog != dialog_->Handle()) return nullptr;
    return reinterpret_cast<HWND>(dialog_->Find(id));
}

std::string ScriptedBackend::ControlText(HWND control) {
    if (!dialog_) return {};
    const Dialog::Control* c = dialog_->FromHandle(control);
    return c != nullptr ? c->text : std::string();
}

bool ScriptedBackend::SetControlText(HWND control, std::string_view text) {
    if (!dialog_) return false;
    Dialog::Control* c = dialog_->FromHandle(control);
    if (c == nullptr) return false;
    c->text = text;
    if (c->kind == ControlKind::Static)
        transcript_.push_back("label " + std::to_string(c->id) + " \"" + Escape(text) + "\"");
    return true;
}

HWND ScriptedBackend::SetFocus(HWND control) {
    if (!dialog_) return nullptr;
    HWND previous = reinterpret_cast<HWND>(dialog_->Find(dialog_->focus));
    if (const Dialog::Control* c = dialog_->FromHandle(control)) MoveFocus(c->id);
    return previous;
}

void ScriptedBackend::EndDialog(HWND dialog, INT_PTR result) {
    if (!dialog_ || dialog != dialog_->Handle() || dialog_->ended) return;
    dialog_->ended = true;
    dialog_->result = result;
    transcript_.push_back("end " + std::to_string(result));
}

void ScriptedBackend::MessageBox(HWND, std::string_view text, std::string_view caption, UINT type) {
    const bool stop = (type & MB_ICONMASK) == MB_ICONSTOP;
    transcript_.push_back(std::string("box icon=") + (stop ? "stop" : "none") + " caption=\"" + Escape(caption) +
                          "\" text=\"" + Escape(text) + "\"");
}

std::optional<std::string> ScriptedBackend::PickFile(const FilePickerRequest& request) {
    pickers_.push_back(request);
    auto& answers = request.save ? saveAnswers_ : openAnswers_;
    if (answers.empty()) {
        errors_.push_back(std::string(request.save ? "save" : "open") + " picker shown with no queued answer");
        return std::nullopt;
    }
    std::optional<std::string> answer = std::move(answers.front());
    answers.pop_front();
    return answer;
}

std::optional<FormatChoice> ScriptedBackend::ChooseFormat(HWND, const FormatChooserModel& model) {
    std::pair<std::string, std::string> opened;
    if (model.defaultTag >= 0 && static_cast<std::size_t>(model.defaultTag) < model.tags.size()) {
        const FormatChooserModel::Tag& tag = model.tags[static_cast<std::size_t>(model.defaultTag)];
        opened.first = tag.name;
        if (model.defaultFormat >= 0 && static_cast<std::size_t>(model.defaultFormat) < tag.formats.size())
            opened.second = tag.formats[static_cast<std::size_t>(model.defaultFormat)].name;
    }
    chooserDefaults_.push_back(std::move(opened));
    if (chooserAnswers_.empty()) {
        errors_.push_back("format chooser shown with no queued answer");
        return std::nullopt;
    }
    const auto answer = std::move(chooserAnswers_.front());
    chooserAnswers_.pop_front();
    if (!answer) return std::nullopt;
    for (std::size_t t = 0; t < model.tags.size(); ++t) {
        if (model.tags[t].name != answer->first) continue;
        const auto& formats = model.tags[t].formats;
        for (std::size_t f = 0; f < formats.size(); ++f) {
            if (formats[f].name == answer->second) return FormatChoice{static_cast<int>(t), static_cast<int>(f)};
        }
        errors_.push_back("chooser: tag \"" + answer->first + "\" has no format \"" + answer->second + "\"");
        return std::nullopt;
    }
    errors_.push_back("chooser: no tag \"" + answer->first + "\"");
    return std::nullopt;
}

void ScriptedBackend::BeginProgress(HWND, std::string_view text) {
    if (progress_) errors_.push_back("progress begun while another is open");
    progress_ = std::string(text);
}

bool ScriptedBackend::UpdateProgress(std::uint64_t done, std::uint64_t total) {
    if (!progress_) {
        errors_.push_back("progress updated while none is open");
        return true;
    }
    if (done > total) errors_.push_back("progress past its total");
    if (progressCancels_ == 0) return true;
    --progressCancels_;
    transcript_.push_back("progress \"" + Escape(*progress_) + "\" cancelled");
    return false;
}

void ScriptedBackend::EndProgress() { progress_.reset(); }

bool ScriptedBackend::PostDrop(HWND dialog, const std::vector<std::string>& files) {
    if (!dialog_ || dialog != dialog_->Handle()) return false;
    postedDrops_.push_back(files);
    return true;
}

void ScriptedBackend::SetProgressText(std::string_view text) {
    if (!progress_) errors_.push_back("progress text set while none is open");
    else progress_ = std::string(text);
}

void ScriptedBackend::Finish() {
    if (!actions_.empty()) errors_.push_back(std::to_string(actions_.size()) + " action(s) left after the dialog ended");
    if (!openAnswers_.empty()) errors_.push_back("unused open answer(s)");
    if (!saveAnswers_.empty()) errors_.push_back("unused save answer(s)");
    if (!chooserAnswers_.empty()) errors_.push_back("unused chooser answer(s)");
    if (progressCancels_ != 0) errors_.push_back("unused progress cancel(s)");
    if (!questionAnswers_.empty()) errors_.push_back("unused question answer(s)");
    if (progress_) errors_.push_back("progress left open");
    actions_.clear();
    openAnswers_.clear();
    saveAnswers_.clear();
    chooserAnswers_.clear();
    progressCancels_ = 0;
    questionAnswers_.clear();
    progress_.reset();
}
