#include "app/several.h"

#include "app/message_boxes.h"
#include "platform/window/window.h"
#include "res/strings.h"
#include "wave/convert.h"

#include <sys/stat.h>

#include <cstdio>
#include <cstring>
#include <set>

namespace {

// One source of the batch and where it goes.
struct Planned {
    std::string szSrc;
    std::string szDst;
    std::uint64_t cb = 1;    // its weight in the progress: the source's size
    bool fExists = false;    // a file (or link) of the destination's name is there
    bool fSameName = false;  // an earlier source has the same name
};

std::vector<Planned> Plan(const std::vector<std::string>& vSources, const char* szFolder) {
    std::vector<Planned> plan;
    std::set<std::string> names;
    const std::string folder = std::string(szFolder) + (std::strcmp(szFolder, "/") == 0 ? "" : "/");
    for (const std::string& src : vSources) {
        Planned p;
        p.szSrc = src;
        p.szDst = folder + BaseName(src.c_str());
        struct stat st;
        if (::stat(src.c_str(), &st) == 0 && S_ISREG(st.st_mode) && st.st_size > 0)
            p.cb = static_cast<std::uint64_t>(st.st_size);
        p.fExists = ::lstat(p.szDst.c_str(), &st) == 0;
        p.fSameName = !names.insert(BaseName(src.c_str())).second;
        plan.push_back(std::move(p));
    }
    return plan;
}

// The one question about existing names: 0 replace them all, 1 skip them,
// 2 convert nothing. No question (0) when no name exists.
int AskAboutExisting(HWND hDlg, const std::vector<Planned>& plan) {
    std::string names;
    unsigned long cExisting = 0;
    for (const Planned& p : plan) {
        if (!p.fExists || p.fSameName) continue;
        // The first ten names, then an ellipsis: a box is no place for a long list.
        if (++cExisting <= 10) names += std::string("\n  ") + BaseName(p.szDst.c_str());
        else if (cExisting == 11) names += "\n  ...";
    }
    if (cExisting == 0) return 0;
    char szText[kMessageSize];
    std::snprintf(szText, sizeof szText, DialogText(Text::ExistingNames), cExisting);
    const std::string text = szText + names;
    const char* buttons[] = {DialogText(Text::ReplaceAll), DialogText(Text::SkipExisting),
                             DialogText(Text::CancelButton)};
    return QuestionBoxA(hDlg, text.c_str(), nullptr, buttons, 3);
}

// What became of each source, for the closing box.
struct Outcome {
    std::vector<std::string> converted, skipped, failed;
};

void ShowProgressText(std::size_t n, std::size_t cFiles, const Planned& p) {
    char szText[3 * kMessageSize];
    int at = std::snprintf(szText, sizeof szText, DialogText(Text::ProgressFileOf), static_cast<unsigned long>(n),
                           static_cast<unsigned long>(cFiles));
    if (at < 0) at = 0;
    std::snprintf(szText + at, sizeof szText - static_cast<std::size_t>(at), DialogText(Text::ProgressFiles),
                  BaseName(p.szSrc.c_str()), p.szDst.c_str());
    SetProgressText(szText);
}

// Converts the planned files in order, until the user cancels.
void ConvertPlanned(HWND hDlg, const std::vector<Planned>& plan, bool fSkipExisting, const WAVEFORMATEX* pwfxDst,
                    Outcome& outcome) {
    std::uint64_t cbAll = 0, cbBefore = 0;
    for (const Planned& p : plan) cbAll += p.cb;
    for (std::size_t i = 0; i < plan.size(); cbBefore += plan[i].cb, ++i) {
        const Planned& p = plan[i];
        const std::string name = BaseName(p.szSrc.c_str());
        if (p.fSameName) {
            outcome.failed.push_back(name + ": " + DialogText(Text::BatchSameName));
            continue;
        }
        if (p.fExists && fSkipExisting) {
            outcome.skipped.push_back(name);
            continue;
        }
        ShowProgressText(i + 1, plan.size(), p);
        SeveralReporter reporter(hDlg, p.szSrc.c_str(), p.szDst.c_str(), cbBefore, p.cb, cbAll);
        if (ConvertWave(p.szSrc.c_str(), p.szDst.c_str(), pwfxDst, reporter) == 0) {
            outcome.converted.push_back(name);
            continue;
        }
        outcome.failed.push_back(name + ": " + reporter.Reason());
        if (reporter.Cancelled()) return;
    }
}

void AppendSection(std::string& text, Text heading, const std::vector<std::string>& lines) {
    if (lines.empty()) return;
    char szHeading[128];
    std::snprintf(szHeading, sizeof szHeading, DialogText(heading), static_cast<unsigned long>(lines.size()));
    if (!text.empty()) text += "\n";
    text += szHeading;
    for (const std::string& line : lines) text += "  " + line + "\n";
}

}  // namespace

bool PickFolderFor(HWND hDlg, const std::vector<std::string>& vSources, char* szFolder) {
    std::string initial = vSources.empty() ? std::string() : vSources.front();
    const auto slash = initial.find_last_of('/');
    initial = slash == std::string::npos ? "." : initial.substr(0, slash == 0 ? 1 : slash);
    return BrowseForFolderA(hDlg, DialogText(Text::FolderPickerTitle), initial.c_str(), szFolder, kPathChars) != FALSE;
}

void ConvertSeveral(HWND hDlg, const std::vector<std::string>& vSources, const char* szFolder,
                    const WAVEFORMATEX* pwfxDst) {
    const std::vector<Planned> plan = Plan(vSources, szFolder);
    const int answer = AskAboutExisting(hDlg, plan);
    if (answer != 0 && answer != 1) return;
    Outcome outcome;
    BeginProgress(hDlg, "");
    ConvertPlanned(hDlg, plan, answer == 1, pwfxDst, outcome);
    EndProgress();
    std::string text;
    AppendSection(text, Text::BatchConverted, outcome.converted);
    AppendSection(text, Text::BatchSkipped, outcome.skipped);
    AppendSection(text, Text::BatchFailed, outcome.failed);
    while (!text.empty() && text.back() == '\n') text.pop_back();
    MessageBoxA(hDlg, text.c_str(), nullptr, MB_OK);
}
