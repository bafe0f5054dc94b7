#include "res/strings.h"

#include "res/printf_check.h"

#include <array>

namespace {

struct Row {
    Text id;
    const char* dialog;  // null where the dialog shows a failed condition instead
    const char* plain;   // null where the command line says what the dialog says
    const char* takes = "";  // the printf conversions both texts hold, in order
};

constexpr Row kRows[] = {
    {Text::Success, "success", nullptr},
    {Text::FilterList, "ｻｳﾝﾄﾞ(*.WAV)\0*.WAV\0全ファイル(*.*)\0*.*\0", nullptr},
    {Text::SourcePickerTitle, "変換元ファイル", nullptr},
    {Text::DestinationPickerTitle, "変換先ファイル", nullptr},
    {Text::PathTooLong, "パスが長すぎます（%lu バイトまで）。", "path too long (at most %lu bytes)", "lu"},
    {Text::NoFormatBlock, "変換先フォーマットを用意できません。", "no memory for the destination format"},
    {Text::Cancelled, "変換を中止しました。", "cancelled"},
    {Text::ProgressCaption, "変換中", nullptr},
    {Text::ProgressCancel, "中止", nullptr},
    {Text::TimeLeftUnknown, "残り時間: 計算中", nullptr},
    {Text::TimeLeftSeconds, "残り時間: 約 %lu 秒", nullptr, "lu"},
    {Text::TimeLeftMinutes, "残り時間: 約 %lu 分 %lu 秒", nullptr, "lu lu"},
    {Text::ChooserCaption, "フォーマットの選択", nullptr},
    {Text::ChooserTagLabel, "形式(&T):", nullptr},
    {Text::ChooserFormatLabel, "属性(&A):", nullptr},
    {Text::ChooserOk, "OK", nullptr},
    {Text::ChooserDataRate, "%s KB/秒", nullptr, "s"},
    {Text::FileNotFound, "%s: file not found", nullptr, "s"},
    {Text::PathNotFound, "%s: path not found", nullptr, "s"},
    {Text::SharingViolation, "%s: shareing violation", nullptr, "s"},
    {Text::OtherError, "%s: error=%ld", nullptr, "s ld"},
    {Text::FailedCheck, "Assertion failed: %s, file %s, line %d", nullptr, "s s d"},
    {Text::Unknown, "unknown", nullptr},
    {Text::NameRate, "%s Hz, ", nullptr, "s"},
    {Text::NameBits, "%lu ビット, ", "%lu bits, ", "lu"},
    {Text::NameFloatBits, "%lu ビット浮動小数点, ", "%lu bits float, ", "lu"},
    {Text::NameBitRate, "%s kbit/s, ", nullptr, "s"},
    {Text::NameMono, "モノラル", "mono"},
    {Text::NameStereo, "ステレオ", "stereo"},
    {Text::NameSurround51, "5.1 チャンネル", "5.1 channels"},
    {Text::NameSurround71, "7.1 チャンネル", "7.1 channels"},
    {Text::NameChannels, "%lu チャンネル", "%lu channels", "lu"},
    {Text::CannotOpenSource, nullptr, "cannot open '%s': %s", "s s"},
    {Text::NotRiffWave, nullptr, "not a RIFF WAVE file"},
    {Text::NoFormatChunk, nullptr, "no \"fmt \" chunk"},
    {Text::FormatChunkTooLarge, nullptr, "\"fmt \" chunk larger than any format block"},
    {Text::NoDataChunk, nullptr, "no \"data\" chunk"},
    {Text::NoDestinationFormat, nullptr, "no destination format"},
    {Text::CannotCreateDestination, nullptr, "cannot create '%s': %s", "s s"},
    {Text::NotRegularFile, nullptr, "not a regular file"},
    {Text::TemporaryReplaced, nullptr, "another file was put under the temporary file's name"},
    {Text::DiskFull, "disk full", nullptr},
    {Text::ReadError, "入力ファイルを読み込めないため、変換を中止しました。", "read error in the source; conversion stopped"},
    {Text::TooLarge, "出力ファイルが 4 GiB を超えるため、変換を中止しました。", "output would pass 4 GiB; conversion stopped"},
    {Text::StreamOpenFailed, "この形式には変換できません。(エラー %lu)", "cannot convert into this format (error %lu)", "lu"},
    {Text::CodecFailed, "変換に失敗したため、変換を中止しました。(エラー %lu)", "conversion failed (error %lu)", "lu"},
    {Text::NoBufferSize, "変換バッファの大きさを決められないため、変換を中止しました。",
     "no conversion buffer size; conversion stopped"},
    {Text::OutOfMemory, "メモリが足りないため、変換を中止しました。", "out of memory; conversion stopped"},
    {Text::WriteContext, "出力ファイルの書き込み", "writing the destination"},
    {Text::ReplaceContext, "出力ファイルの置き換え", "replacing the destination"},
    {Text::ReadContext, "入力ファイルの読み込み", "reading the source"},
    {Text::InvalidHandle, "MMSYSERR_INVALHANDLE", "codec service: invalid handle (MMSYSERR_INVALHANDLE)"},
    {Text::NoMemory, "MMSYSERR_NOMEM", "codec service: out of memory (MMSYSERR_NOMEM)"},
    {Text::InvalidFlag, "MMSYSERR_INVALFLAG", "codec service: invalid flag (MMSYSERR_INVALFLAG)"},
    {Text::InvalidParam, "MMSYSERR_INVALPARAM", "codec service: invalid format (MMSYSERR_INVALPARAM)"},
    {Text::NotPossible, "ACMERR_NOTPOSSIBLE", "this conversion is not possible (ACMERR_NOTPOSSIBLE)"},
    {Text::CodecDetail, nullptr, "note: FFmpeg: %s", "s"},
    {Text::DamagedBlocks, nullptr, "%lu damaged blocks of the source were skipped", "lu"},
    {Text::ClippedSamples, nullptr, "clipped %lu samples", "lu"},
    {Text::MetadataChunkTooLarge, nullptr, "a metadata chunk of %lu bytes was not carried over: larger than 64 MiB", "lu"},
    {Text::MetadataTooMuch, nullptr, "%lu metadata chunks were not carried over: more than 64 MiB of metadata in all", "lu"},
    {Text::MetadataTooMany, nullptr, "metadata chunks after the first %lu were not carried over", "lu"},
    {Text::MetadataUnread, nullptr, "%lu bytes at the end of the source are no whole chunk and were not carried over", "lu"},
    {Text::MetadataBigEndian, nullptr, "the metadata of a big-endian (RIFX) file is not carried over"},
    {Text::MetadataLayoutBroken, nullptr, "\"%s\" chunk's layout is broken: copied unchanged, its positions not rescaled", "s"},
    {Text::MetadataNotCarried, nullptr, "not carried over: larger than 64 MiB"},
    {Text::MetadataNotCarriedTotal, nullptr, "not carried over: past 64 MiB of metadata in all"},
    {Text::FieldTitle, nullptr, "title"},
    {Text::FieldArtist, nullptr, "artist"},
    {Text::FieldAlbum, nullptr, "album"},
    {Text::FieldTrack, nullptr, "track"},
    {Text::FieldGenre, nullptr, "genre"},
    {Text::FieldDate, nullptr, "date"},
    {Text::FieldComment, nullptr, "comment"},
    {Text::FieldCopyright, nullptr, "copyright"},
    {Text::FieldEngineer, nullptr, "engineer"},
    {Text::FieldTechnician, nullptr, "technician"},
    {Text::FieldSoftware, nullptr, "software"},
    {Text::FieldSubject, nullptr, "subject"},
    {Text::FieldKeywords, nullptr, "keywords"},
    {Text::FieldSource, nullptr, "source"},
    {Text::FieldDescription, nullptr, "description"},
    {Text::FieldOriginator, nullptr, "originator"},
    {Text::FieldOriginatorReference, nullptr, "originator reference"},
    {Text::FieldOriginationDate, nullptr, "origination date"},
    {Text::FieldOriginationTime, nullptr, "origination time"},
    {Text::FieldTimeReference, nullptr, "time reference (samples)"},
    {Text::FieldVersion, nullptr, "version"},
    {Text::FieldCodingHistory, nullptr, "coding history"},
    {Text::Different, "違う\n", nullptr},
    {Text::Same, "同一\n", nullptr},
    {Text::CopyContext, "copyfile", nullptr},
    {Text::CannotRead, "読み込み不可", "cannot read"},
    {Text::CannotWrite, "書き込み不可", "cannot write"},
    {Text::SameFile, "同じファイルにはコピーできません", "source and destination are the same file"},
    {Text::TestHandle1, "hFile1=%ld", nullptr, "ld"},
    {Text::TestHandle2, "hFile2=%ld", nullptr, "ld"},
    {Text::TestCreate1, "CreateFile 1", nullptr},
    {Text::TestInfo1, "GetFileInfo 1", nullptr},
    {Text::TestCreate2, "CreateFile 2", nullptr},
    {Text::TestInfo2, "GetFileInfo 2", nullptr},
    {Text::TestAttributes, "attr =%lu %lu", nullptr, "lu lu"},
    {Text::TestVolume, "volno=%lu %lu", nullptr, "lu lu"},
    {Text::TestSizeHigh, "sizhi=%lu %lu", nullptr, "lu lu"},
    {Text::TestSizeLow, "sizlo=%lu %lu", nullptr, "lu lu"},
    {Text::TestLinks, "links=%lu %lu", nullptr, "lu lu"},
    {Text::TestIndexHigh, "idx 1=%lu %lu", nullptr, "lu lu"},
    {Text::TestIndexLow, "idx 2=%lu %lu", nullptr, "lu lu"},
    {Text::PlainSourceMissing, "変換元ファイルが見つかりません。パスを確かめて、もう一度指定してください。", nullptr},
    {Text::PlainSourceIsFolder, "変換元に指定したのはフォルダです。WAVE ファイルを指定してください。", nullptr},
    {Text::PlainSourceDenied, "変換元ファイルを読む権限がありません。読めるファイルを指定してください。", nullptr},
    {Text::PlainSourceUnreadable, "変換元ファイルを開けません。パスを確かめて、もう一度指定してください。", nullptr},
    {Text::PlainNotWave, "このファイルは WAVE ファイルではありません。WAVE ファイル (.wav) を指定してください。", nullptr},
    {Text::PlainNoFormatChunk, "この WAVE ファイルには形式の情報がないため、読めません。別のファイルを指定してください。",
     nullptr},
    {Text::PlainDamagedFormat, "この WAVE ファイルの形式の情報が壊れています。別のファイルを指定してください。", nullptr},
    {Text::PlainNoData, "この WAVE ファイルには音のデータがありません。別のファイルを指定してください。", nullptr},
    {Text::PlainChooseFormat, "変換先のフォーマットが選ばれていません。「フォーマット選択」で選んでから実行してください。",
     nullptr},
    {Text::PlainNoDestination, "変換先ファイルが指定されていません。変換先ﾌｧｲﾙの欄に名前を入力してください。", nullptr},
    {Text::PlainDestinationFolderMissing, "変換先のフォルダがありません。あるフォルダを指定するか、先にフォルダを作ってください。", nullptr},
    {Text::PlainDestinationIsFolder, "変換先に指定したのはフォルダです。フォルダの中のファイル名まで指定してください。",
     nullptr},
    {Text::PlainDestinationDenied, "変換先のフォルダに書き込む権限がありません。書き込めるフォルダを指定してください。",
     nullptr},
    {Text::PlainDestinationDiskFull, "変換先のディスクがいっぱいです。空きを作るか、別のディスクを指定してください。", nullptr},
    {Text::PlainDestinationUncreatable, "変換先ファイルを作れません。変換先のパスを確かめてください。", nullptr},
    {Text::PlainNotPossible, "この組み合わせには変換できません。別のフォーマットを選んでください。", nullptr},
    {Text::PlainCodecFault, "変換の途中で失敗しました。もう一度実行してください。", nullptr},
    {Text::PlainNoMemory, "メモリが足りません。ほかのプログラムを閉じてから、もう一度実行してください。", nullptr},
    {Text::ProgressFiles, "変換元: %s\n変換先: %s", nullptr, "s s"},
    {Text::FolderPickerTitle, "変換先フォルダ", nullptr},
    {Text::ProgressFileOf, "ファイル %lu / %lu\n", nullptr, "lu lu"},
    {Text::ExistingNames, "変換先フォルダには同じ名前のファイルが %lu 個あります。置き換えますか?\n", nullptr, "lu"},
    {Text::ReplaceAll, "すべて置き換える", nullptr},
    {Text::SkipExisting, "スキップする", nullptr},
    {Text::CancelButton, "キャンセル", nullptr},
    {Text::BatchConverted, "変換したファイル: %lu\n", nullptr, "lu"},
    {Text::BatchSkipped, "スキップしたファイル: %lu\n", nullptr, "lu"},
    {Text::BatchFailed, "変換できなかったファイル: %lu\n", nullptr, "lu"},
    {Text::BatchCancelled, "中止しました。", nullptr},
    {Text::BatchSameName, "同じ名前の変換元がほかにもあるため、変換しませんでした。別々に変換してください。", nullptr},
};

constexpr int kCount = static_cast<int>(Text::Count);
static_assert(std::size(kRows) == kCount, "every text id has its row");

constexpr bool RowsInIdOrder() {
    for (int i = 0; i < kCount; ++i)
        if (static_cast<int>(kRows[i].id) != i) return false;
    return true;
}
static_assert(RowsInIdOrder(), "rows stand in the order of their ids");

constexpr bool EveryRowTakesWhatItDeclares() {
    for (const Row& row : kRows)
        if (!textcheck::ConversionsMatch(row.dialog, row.takes) || !textcheck::ConversionsMatch(row.plain, row.takes))
            return false;
    return true;
}
static_assert(EveryRowTakesWhatItDeclares(), "a text's printf conversions are those its row declares");

const Row* Find(Text id) {
    const int index = static_cast<int>(id);
    return index >= 0 && index < kCount ? &kRows[index] : nullptr;
}

}  // namespace

const char* DialogText(Text id) {
    const Row* row = Find(id);
    return row != nullptr && row->dialog != nullptr ? row->dialog : "";
}

const char* PlainText(Text id) {
    const Row* row = Find(id);
    if (row == nullptr) return "";
    return row->plain != nullptr ? row->plain : DialogText(id);
}
