#include "support/flow.h"

#include "app/dialog.h"
#include "support/scripted.h"

#include <sstream>

namespace flow {

namespace {

std::string Trim(const std::string& s) {
    const auto b = s.find_first_not_of(" \t\r");
    if (b == std::string::npos) return {};
    const auto e = s.find_last_not_of(" \t\r");
    return s.substr(b, e - b + 1);
}

bool ParseId(const std::string& word, int& id) {
    try {
        std::size_t used = 0;
        id = std::stoi(word, &used);
        return used == word.size();
    } catch (...) {
        return false;
    }
}

// Parses one line into the backend; returns an error text or "".
std::string ParseLine(const std::string& raw, ScriptedBackend& backend) {
    std::string line = raw;
    if (!line.empty() && line.back() == '\r') line.pop_back();
    const std::string trimmed = Trim(line);
    if (trimmed.empty() || trimmed[0] == '#') return {};
    std::istringstream words(trimmed);
    std::string verb;
    words >> verb;
    using Kind = ScriptedBackend::Action::Kind;

    if (verb == "text") {
        // Everything after the second blank is the text, kept exactly (may be empty).
        const auto first = line.find(' ');
        const auto second = first == std::string::npos ? std::string::npos : line.find(' ', first + 1);
        const std::string idWord = line.substr(first + 1, second == std::string::npos ? std::string::npos : second - first - 1);
        int id = 0;
        if (first == std::string::npos || !ParseId(idWord, id)) return "text needs a control id";
        backend.QueueAction({Kind::Text, id, second == std::string::npos ? std::string() : line.substr(second + 1)});
        return {};
    }
    if (verb == "focus" || verb == "click") {
        std::string idWord, extra;
        int id = 0;
        words >> idWord;
        if (!ParseId(idWord, id) || (words >> extra)) return verb + " needs one control id";
        backend.QueueAction({verb == "focus" ? Kind::Focus : Kind::Click, id, {}});
        return {};
    }
    if (verb == "enter" || verb == "escape") {
        std::string extra;
        if (words >> extra) return verb + " takes no argument";
        backend.QueueAction({verb == "enter" ? Kind::Enter : Kind::Escape, 0, {}});
        return {};
    }
    if (verb == "open" || verb == "save") {
        const std::string rest = Trim(trimmed.substr(verb.size()));
        if (rest.empty()) return verb + " needs a path or cancel";
        std::optional<std::string> answer;
        if (rest != "cancel") answer = rest;
        if (verb == "open") backend.QueueOpenAnswer(answer);
        else backend.QueueSaveAnswer(answer);
        return {};
    }
    if (verb == "choose") {
        const std::string rest = Trim(trimmed.substr(verb.size()));
        if (rest == "cancel") {
            backend.QueueChooserAnswer(std::nullopt);
            return {};
        }
        const auto bar = rest.find('|');
        if (bar == std::string::npos) return "choose needs TAG | FORMAT or cancel";
        backend.QueueChooserAnswer(std::make_pair(Trim(rest.substr(0, bar)), Trim(rest.substr(bar + 1))));
        return {};
    }
    if (verb == "cancel-progress") {
        std::string extra;
        if (words >> extra) return verb + " takes no argument";
        backend.QueueProgressCancel();
        return {};
    }
    return "unknown action \"" + verb + "\"";
}

}  // namespace

Result RunScript(const std::string& script) {
    Result result;
    ScriptedBackend backend;
    std::istringstream in(script);
    std::string line;
    int number = 0;
    std::ostringstream errors;
    bool bad = false;
    while (std::getline(in, line)) {
        ++number;
        const std::string error = ParseLine(line, backend);
        if (!error.empty()) {
            errors << "line " << number << ": " << error << '\n';
            bad = true;
        }
    }
    if (bad) {
        result.exitStatus = 2;
        result.errors = errors.str();
        return result;
    }

    SetWindowBackend(&backend);
    const int status = WavtrnMain();
    SetWindowBackend(nullptr);
    backend.Finish();

    std::ostringstream transcript;
    for (const std::string& event : backend.Transcript()) transcript << event << '\n';
    result.transcript = transcript.str();
    for (const std::string& error : backend.Errors()) errors << error << '\n';
    result.errors = errors.str();
    result.exitStatus = backend.Errors().empty() ? status : 2;
    return result;
}

}  // namespace flow
