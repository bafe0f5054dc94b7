// The main dialog's command dispatch, driven through the scripted backend.
#include "app/dialog.h"
#include "platform/acm/acm.h"
#include "platform/window/window.h"
#include "res/resource.h"
#include "res/strings.h"
#include "support/flow.h"
#include "support/scripted.h"
#include "support/testsupport.h"

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <tuple>

namespace {

using testsupport::TempDir;

// The description the codec service gives for a format: tag name and format name.
std::pair<std::string, std::string> Names(const WAVEFORMATEX& format) {
    ACMFORMATTAGDETAILSA tag{};
    tag.cbStruct = sizeof tag;
    tag.dwFormatTag = format.wFormatTag;
    EXPECT_EQ(acmFormatTagDetailsA(nullptr, &tag, ACM_FORMATTAGDETAILSF_FORMATTAG), 0u);
    WAVEFORMATEX copy = format;
    ACMFORMATDETAILSA details{};
    details.cbStruct = sizeof details;
    details.dwFormatTag = format.wFormatTag;
    details.pwfx = &copy;
    details.cbwfx = sizeof copy;
    EXPECT_EQ(acmFormatDetailsA(nullptr, &details, ACM_FORMATDETAILSF_FORMAT), 0u);
    return {tag.szFormatTag, details.szFormat};
}

std::string ChooseLine(const WAVEFORMATEX& format) {
    const auto [tag, name] = Names(format);
    return "choose " + tag + " | " + name + "\n";
}

int CountLines(const std::string& text, const std::string& needle) {
    int n = 0;
    for (std::size_t at = text.find(needle); at != std::string::npos; at = text.find(needle, at + 1)) ++n;
    return n;
}

TEST(DialogFlow, EscapeAndEndOfScriptCloseWithCancel) {
    for (const char* script : {"escape\n", "", "# nothing but a comment\n"}) {
        const flow::Result r = flow::RunScript(script);
        EXPECT_EQ(r.exitStatus, 0) << r.errors;
        EXPECT_EQ(r.transcript, "end 2\n") << script;
    }
}

TEST(DialogFlow, EmptySourceFieldLosingFocusDoesNothing) {
    const flow::Result r = flow::RunScript("focus 104\nfocus 101\nfocus 108\n");
    EXPECT_EQ(r.exitStatus, 0) << r.errors;
    EXPECT_EQ(r.transcript, "end 2\n");
}

TEST(DialogFlow, LeavingSourceFieldDescribesTheFile) {
    TempDir dir;
    const WAVEFORMATEX format = testsupport::PcmFormat(44100, 16, 2);
    const std::string src = testsupport::WriteTestWave(dir.file("a.wav"), format, 4410);
    const auto [tag, name] = Names(format);
    const flow::Result r = flow::RunScript("text 101 " + src + "\nfocus 104\n");
    EXPECT_EQ(r.exitStatus, 0) << r.errors;
    EXPECT_EQ(r.transcript, "label 103 \"" + tag + " " + name + "\"\nend 2\n");
}

TEST(DialogFlow, SourcePickerConfirmedAndCancelled) {
    TempDir dir;
    const WAVEFORMATEX format = testsupport::PcmFormat(8000, 8, 1);
    const std::string src = testsupport::WriteTestWave(dir.file("b.wav"), format, 800);
    const auto [tag, name] = Names(format);
    const std::string label = "label 103 \"" + tag + " " + name + "\"\n";

    flow::Result r = flow::RunScript("click 102\nopen cancel\nescape\n");
    EXPECT_EQ(r.exitStatus, 0) << r.errors;
    EXPECT_EQ(r.transcript, "end 2\n");

    // The picked path is described at once and stays in the field: leaving the
    // field later describes it again.
    r = flow::RunScript("click 102\nopen " + src + "\nfocus 101\nfocus 104\n");
    EXPECT_EQ(r.exitStatus, 0) << r.errors;
    EXPECT_EQ(r.transcript, label + label + "end 2\n");
}

TEST(DialogFlow, DestinationPickerFillsTheField) {
    TempDir dir;
    const std::string file = dir.file("same.bin");
    testsupport::WriteText(file, "x");
    // TEST on the same path twice: the picked destination reached the field.
    const flow::Result r = flow::RunScript("text 101 " + file + "\nclick 105\nsave " + file + "\nclick 108\n");
    EXPECT_EQ(r.exitStatus, 0) << r.errors;
    EXPECT_NE(r.transcript.find("text=\"同一\\n\""), std::string::npos) << r.transcript;

    const flow::Result cancelled = flow::RunScript("text 101 " + file + "\nclick 105\nsave cancel\nclick 108\n");
    EXPECT_NE(cancelled.transcript.find("text=\"違う\\n\""), std::string::npos) << cancelled.transcript;
}

TEST(DialogFlow, FormatChoiceSetsLabelAndCancelKeepsIt) {
    const WAVEFORMATEX format = testsupport::PcmFormat(44100, 16, 2);
    const auto [tag, name] = Names(format);
    const flow::Result r = flow::RunScript("click 107\n" + ChooseLine(format) + "click 107\nchoose cancel\n");
    EXPECT_EQ(r.exitStatus, 0) << r.errors;
    EXPECT_EQ(r.transcript, "label 106 \"" + tag + "(" + name + ")\"\nend 2\n");
}

// A described source adds its own rate and channel count to the chooser's
// list; without one the standard list has neither.
TEST(DialogFlow, ChooserOffersTheDescribedSourcesRateAndChannels) {
    TempDir dir;
    const WAVEFORMATEX own = testsupport::PcmFormat(11127, 16, 3);
    const std::string src = testsupport::WriteTestWave(dir.file("odd.wav"), own, 11127), dst = dir.file("out.wav");
    const std::string choose = ChooseLine(own);
    EXPECT_EQ(flow::RunScript("click 107\n" + choose).exitStatus, 2) << "offered without a source";

    const flow::Result r = flow::RunScript("text 101 " + src + "\nfocus 104\ntext 104 " + dst + "\nclick 107\n" +
                                           choose + "click 1\n");
    EXPECT_EQ(r.exitStatus, 0) << r.errors;
    EXPECT_NE(r.transcript.find("success"), std::string::npos) << r.transcript;
    const testsupport::ProbeResult probe = testsupport::Probe(dst);
    EXPECT_TRUE(probe.ok && probe.sampleRate == 11127 && probe.channels == 3) << probe.sampleRate;
}

TEST(DialogFlow, ExecuteBeforeAnyChoiceIsRefusedAndLeavesNoFile) {
    TempDir dir;
    const std::string src = testsupport::WriteTestWave(dir.file("c.wav"), testsupport::PcmFormat(22050, 16, 1), 2205);
    const std::string dst = dir.file("out.wav");
    const flow::Result r = flow::RunScript("text 101 " + src + "\ntext 104 " + dst + "\nclick 1\n");
    EXPECT_EQ(r.exitStatus, 0) << r.errors;
    EXPECT_EQ(r.transcript.find("success"), std::string::npos) << r.transcript;
    // The codec service's name, then what to do about it.
    const std::string plain = "\\n\\n" + std::string(DialogText(Text::PlainChooseFormat)) + "\"";
    const bool refused = r.transcript.find("text=\"ACMERR_NOTPOSSIBLE" + plain) != std::string::npos ||
                         r.transcript.find("text=\"MMSYSERR_INVALPARAM" + plain) != std::string::npos;
    EXPECT_TRUE(refused) << r.transcript;
    EXPECT_FALSE(std::filesystem::exists(dst));
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.path()), {}), 1) << "a temporary file was left";
}

// A failed check keeps its exact text as the first line and adds, after a blank
// line, the paragraph that says what is wrong; a source that cannot be
// described leaves the source label empty.
TEST(DialogFlow, FailedChecksSayWhatToDoAndClearTheLabel) {
    TempDir dir;
    const WAVEFORMATEX format = testsupport::PcmFormat(8000, 16, 1);
    const std::string src = testsupport::WriteTestWave(dir.file("g.wav"), format, 800);
    const std::string notWave = dir.file("text.wav");
    testsupport::WriteText(notWave, "this is not a RIFF file at all");
    const auto [tag, name] = Names(format);
    const std::string described = "text 101 " + src + "\nfocus 104\n";
    const std::string chosen = "click 107\n" + ChooseLine(format) + described;
    const std::string label = "label 103 \"" + tag + " " + name + "\"\n";
    struct Case {
        std::string script;
        std::string check;  // the box's first line, up to the file name
        Text plain;         // its paragraph; Count: no box, the label cleared
    } cases[] = {
        {described + "text 101 " + notWave + "\nfocus 101\nfocus 104\n",
         R"(MMIO_TOUPPER), file source.cpp)", Text::PlainNotWave},
        {described + "text 101 " + dir.file("missing.wav") + "\nfocus 101\nfocus 104\n", "", Text::Count},
        {described + "text 101 " + dir.path().string() + "\nfocus 101\nfocus 104\n", "", Text::Count},
        {chosen + "text 104 " + dir.file("no/such/folder.wav") + "\nclick 1\n", "hDstWaveFile, file convert.cpp",
         Text::PlainDestinationFolderMissing},
        {chosen + "text 104 " + dir.path().string() + "\nclick 1\n", "hDstWaveFile, file convert.cpp",
         Text::PlainDestinationIsFolder},
        {chosen + "text 104 \nclick 1\n", "hDstWaveFile, file convert.cpp", Text::PlainNoDestination},
        {chosen + "text 101 " + dir.file("missing.wav") + "\ntext 104 " + dir.file("o.wav") + "\nclick 1\n",
         "hSrcWaveFile, file convert.cpp", Text::PlainSourceMissing},
    };
    for (const Case& c : cases) {
        const flow::Result r = flow::RunScript(c.script);
        EXPECT_EQ(r.exitStatus, 0) << r.errors;
        if (c.plain == Text::Count) {
            EXPECT_EQ(r.transcript, label + "label 103 \"\"\nend 2\n") << c.script;
            continue;
        }
        // One stop box: "Assertion failed: <check>, line N\n\n<paragraph>".
        const std::string tail = "\\n\\n" + ScriptedBackend::Escape(DialogText(c.plain)) + "\"\n";
        const auto at = r.transcript.find(tail);
        ASSERT_NE(at, std::string::npos) << c.script << "\n" << r.transcript;
        const std::string box = r.transcript.substr(r.transcript.rfind("box ", at));
        EXPECT_EQ(box.rfind("box icon=stop ", 0), 0u) << box;
        EXPECT_NE(box.find(ScriptedBackend::Escape(c.check) + ", line "), std::string::npos) << box;
        EXPECT_LT(box.find(tail), box.find('\n')) << box;
    }
}

TEST(DialogFlow, EnterInPathFieldRunsExecute) {
    TempDir dir;
    const WAVEFORMATEX format = testsupport::PcmFormat(22050, 16, 1);
    const std::string src = testsupport::WriteTestWave(dir.file("d.wav"), format, 2205);
    const std::string dst = dir.file("out.wav");
    const flow::Result r = flow::RunScript("click 107\n" + ChooseLine(format) + "text 101 " + src + "\ntext 104 " + dst +
                                           "\nfocus 104\nenter\n");
    EXPECT_EQ(r.exitStatus, 0) << r.errors;
    EXPECT_EQ(CountLines(r.transcript, "text=\"success\""), 1) << r.transcript;
    ASSERT_TRUE(std::filesystem::exists(dst));
    // Same format in and out: the samples are unchanged.
    const auto in = testsupport::ReadBytes(src), out = testsupport::ReadBytes(dst);
    ASSERT_GE(out.size(), 46u);
    EXPECT_TRUE(std::equal(in.end() - 4410, in.end(), out.end() - 4410));
}

TEST(DialogFlow, EnterOnAFocusedButtonPressesIt) {
    // TEST with both fields empty: the first open fails.
    const flow::Result r = flow::RunScript("focus 108\nenter\n");
    EXPECT_EQ(r.exitStatus, 0) << r.errors;
    EXPECT_EQ(r.transcript.rfind("box icon=none caption=\"WAVTRN\" text=\"hFile1=-1\"\n", 0), 0u) << r.transcript;
}

TEST(DialogFlow, SourceFocusLossRunsBeforeTheClickedButton) {
    TempDir dir;
    const std::string notWave = dir.file("text.wav");
    testsupport::WriteText(notWave, "this is not a RIFF file at all");
    const flow::Result r = flow::RunScript("text 101 " + notWave + "\nclick 108\n");
    EXPECT_EQ(r.exitStatus, 0) << r.errors;
    const auto check = r.transcript.find("Assertion failed: SrcWaveFile.ckid==mmioStringToFOURCC(\\\"RIFF\\\",MMIO_TOUPPER)");
    const auto test = r.transcript.find("hFile1=");
    ASSERT_NE(check, std::string::npos) << r.transcript;
    ASSERT_NE(test, std::string::npos) << r.transcript;
    EXPECT_LT(check, test);
    EXPECT_NE(r.transcript.find("label 103 \"\"\n"), std::string::npos) << "a failed check clears the label";
}

TEST(DialogFlow, CancelledConversionKeepsTheDestinationAndTheDialog) {
    TempDir dir;
    const WAVEFORMATEX format = testsupport::PcmFormat(22050, 16, 1);
    const std::string src = testsupport::WriteTestWave(dir.file("f.wav"), format, 22050);
    const std::string dst = dir.file("out.wav");
    testsupport::WriteText(dst, "precious");
    const auto before = testsupport::ReadBytes(dst);
    const auto [tag, name] = Names(format);
    const flow::Result r = flow::RunScript("click 107\n" + ChooseLine(format) + "text 101 " + src + "\ntext 104 " +
                                           dst + "\ncancel-progress\nclick 1\nclick 108\n");
    EXPECT_EQ(r.exitStatus, 0) << r.errors;
    const std::string cancelled = "label 106 \"" + tag + "(" + name + ")\"\n"
                                  "progress \"変換元: f.wav\\n変換先: out.wav\" cancelled\n"
                                  "box icon=none caption=\"WAVTRN\" text=\"変換を中止しました。\"\n";
    EXPECT_EQ(r.transcript.substr(0, cancelled.size()), cancelled);
    EXPECT_EQ(r.transcript.find("success"), std::string::npos) << r.transcript;
    // The dialog goes on to the next command: TEST finds two different files.
    EXPECT_NE(r.transcript.find("text=\"違う\\n\"\nend 2\n"), std::string::npos) << r.transcript;
    EXPECT_EQ(testsupport::ReadBytes(dst), before);
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.path()), {}), 2) << "a temporary file was left";
}

// The source picker opens in its own field's folder, then in the other
// field's; the destination picker, with no folder in either field, is given
// none (the window service opens it in the last folder used). The chooser
// opens on its own default each time, also after a choice.
TEST(DialogFlow, PickersOpenInTheFieldsFoldersAndTheChooserOnItsDefault) {
    TempDir dir;
    for (const char* folder : {"own", "other", "picked"}) std::filesystem::create_directory(dir.file(folder));
    using Kind = ScriptedBackend::Action::Kind;
    ScriptedBackend backend;
    for (const auto& [kind, id, text] : std::vector<std::tuple<Kind, int, std::string>>{
             {Kind::Text, IDC_SRCFILE, dir.file("own/a.wav")}, {Kind::Text, IDC_DSTFILE, dir.file("other/b.wav")},
             {Kind::Click, IDC_SRCBROWSE, ""}, {Kind::Text, IDC_SRCFILE, ""}, {Kind::Click, IDC_SRCBROWSE, ""},
             {Kind::Text, IDC_SRCFILE, dir.file("gone/a.wav")}, {Kind::Text, IDC_DSTFILE, ""},
             {Kind::Click, IDC_DSTBROWSE, ""}, {Kind::Click, IDC_CHOOSEFORMAT, ""}, {Kind::Click, IDC_CHOOSEFORMAT, ""}})
        backend.QueueAction({kind, id, text});
    for (const auto& answer : {std::optional<std::string>{}, std::optional{dir.file("picked/c.wav")}}) backend.QueueOpenAnswer(answer);
    backend.QueueSaveAnswer(std::nullopt);
    backend.QueueChooserAnswer(Names(testsupport::PcmFormat(8000, 8, 1)));
    backend.QueueChooserAnswer(std::nullopt);
    SetWindowBackend(&backend);
    WavtrnMain();
    SetWindowBackend(nullptr);
    std::vector<std::string> folders;
    for (const FilePickerRequest& request : backend.Pickers()) folders.push_back(request.initialDir);
    EXPECT_EQ(folders, (std::vector<std::string>{dir.file("own"), dir.file("other"), ""}));
    const std::vector<std::pair<std::string, std::string>> opened = backend.ChooserDefaults();
    EXPECT_TRUE(opened.size() == 2 && opened[0] == opened[1] && opened[1] != Names(testsupport::PcmFormat(8000, 8, 1)));
}

// Several sources named to the program are taken as one drop: a folder, the
// chooser, and a closing box with each failure's reason in plain words.
TEST(DialogFlow, SeveralSourcesGoIntoAFolderWithOneClosingBox) {
    TempDir dir;
    std::filesystem::create_directory(dir.file("out"));
    const std::string good = testsupport::WriteTestWave(dir.file("a.wav"), testsupport::PcmFormat(8000, 16, 1), 800);
    const std::string bad = dir.file("b.wav");
    testsupport::WriteText(bad, "not a RIFF file");
    ScriptedBackend backend;
    backend.QueueOpenAnswer(dir.file("out"));
    backend.QueueChooserAnswer(Names(testsupport::PcmFormat(8000, 8, 1)));
    SetWindowBackend(&backend);
    WavtrnMain({good, bad});
    SetWindowBackend(nullptr);
    backend.Finish();
    EXPECT_TRUE(backend.Errors().empty()) << backend.Errors().front();
    ASSERT_EQ(backend.Pickers().size(), 1u);
    EXPECT_TRUE(backend.Pickers()[0].folder);
    EXPECT_EQ(backend.Pickers()[0].initialDir, dir.path().string());
    const std::string closing = "box icon=none caption=\"WAVTRN\" text=\"" +
                                ScriptedBackend::Escape(std::string("変換したファイル: 1\n  a.wav\n\n変換できなかったファイル: 1\n  b.wav: ") +
                                                        DialogText(Text::PlainNotWave)) + "\"";
    const auto [tag, name] = Names(testsupport::PcmFormat(8000, 8, 1));
    const std::string label = "label 106 \"" + tag + "(" + name + ")\"";
    EXPECT_EQ(backend.Transcript(), (std::vector<std::string>{label, closing, "end 2"}));
    EXPECT_EQ(testsupport::Probe(dir.file("out/a.wav")).sampleRate, 8000);
    EXPECT_FALSE(std::filesystem::exists(dir.file("out/b.wav")));

    // A cancel during the first file stops the batch with nothing left behind.
    std::filesystem::create_directory(dir.file("out2"));
    ScriptedBackend cancelling;
    cancelling.QueueOpenAnswer(dir.file("out2"));
    cancelling.QueueChooserAnswer(Names(testsupport::PcmFormat(8000, 8, 1)));
    cancelling.QueueProgressCancel();
    SetWindowBackend(&cancelling);
    WavtrnMain({good, bad});
    SetWindowBackend(nullptr);
    cancelling.Finish();
    EXPECT_TRUE(cancelling.Errors().empty()) << cancelling.Errors().front();
    ASSERT_EQ(cancelling.Transcript().size(), 4u);
    EXPECT_EQ(cancelling.Transcript()[2], "box icon=none caption=\"WAVTRN\" text=\"" +
                                              ScriptedBackend::Escape("変換できなかったファイル: 1\n  a.wav: 中止しました。") + "\"");
    EXPECT_TRUE(std::filesystem::is_empty(dir.file("out2")));
}

TEST(DialogFlow, OverlongPathIsRefusedNotCut) {
    TempDir dir;
    const WAVEFORMATEX format = testsupport::PcmFormat(8000, 16, 1);
    const std::string src = testsupport::WriteTestWave(dir.file("e.wav"), format, 800);
    // The same file reached through enough "./" to pass the path limit.
    std::string longPath = dir.path().string();
    while (longPath.size() < static_cast<std::size_t>(kPathChars) + 10) longPath += "/.";
    longPath += "/e.wav";
    const flow::Result r = flow::RunScript("text 101 " + longPath + "\nfocus 104\n");
    EXPECT_EQ(r.exitStatus, 0) << r.errors;
    EXPECT_NE(r.transcript.find("パスが長すぎます"), std::string::npos) << r.transcript;
    EXPECT_EQ(r.transcript.find("label 103"), std::string::npos);
}

TEST(DialogFlow, CommandsWithoutAHandlerReturnFalse) {
    EXPECT_EQ(MainDlgProc(nullptr, WM_COMMAND, MAKEWPARAM(IDC_DSTFORMAT, 0), 0), FALSE);
    EXPECT_EQ(MainDlgProc(nullptr, WM_COMMAND, MAKEWPARAM(999, 0), 0), FALSE);
    EXPECT_EQ(MainDlgProc(nullptr, 0x0200 /* a mouse move */, 0, 0), FALSE);
    // The source field's other notifications are handled and do nothing.
    EXPECT_EQ(MainDlgProc(nullptr, WM_COMMAND, MAKEWPARAM(IDC_SRCFILE, 0x0300), 0), TRUE);
}

TEST(DialogFlow, ScriptFaultsExitWithStatusTwo) {
    const char* scripts[] = {
        "click 102\n",               // a picker with no answer
        "open /tmp/x.wav\n",         // an answer never used
        "choose cancel\n",           // a chooser answer never used
        "jump 3\n",                  // no such action
        "click 101\n",               // not a push button
        "click 107\nchoose NoSuchTag | nothing\n",
        "cancel-progress\n",        // no conversion took the cancel
    };
    for (const char* script : scripts) {
        const flow::Result r = flow::RunScript(script);
        EXPECT_EQ(r.exitStatus, 2) << script;
        EXPECT_FALSE(r.errors.empty()) << script;
    }
}

TEST(DialogFlow, RunnerReadsStandardInputAndPrintsTranscript) {
    const char* runner = WAVTRN_FLOW_PATH;
    std::string out;
    EXPECT_EQ(testsupport::RunCommand("printf 'focus 104\\nescape\\n' | " + testsupport::ShellQuote(runner), &out), 0);
    EXPECT_EQ(out, "end 2\n");
    EXPECT_EQ(testsupport::RunCommand("printf 'click 105\\n' | " + testsupport::ShellQuote(runner) + " 2>/dev/null", &out), 2);
}

}  // namespace
