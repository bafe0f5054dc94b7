// Every text the program shows, in one table keyed by id: the dialog's text
// (Japanese where the dialog speaks Japanese, exactly as the user sees it) and
// the plain English words the command line prints for the same event. A text
// that is a printf format declares what it takes; the table's build checks
// both words against it.
#pragma once

enum class Text {
    // The dialog
    Success,
    FilterList,            // picker filters: pairs of terminated texts, ended by an empty one
    SourcePickerTitle,
    DestinationPickerTitle,
    PathTooLong,           // %lu: the longest path in bytes
    NoFormatBlock,
    Cancelled,
    // The progress window of a long conversion
    ProgressCaption,
    ProgressCancel,
    TimeLeftUnknown,
    TimeLeftSeconds,       // %lu: seconds
    TimeLeftMinutes,       // %lu: minutes, %lu: seconds
    // The format chooser
    ChooserCaption,
    ChooserTagLabel,
    ChooserFormatLabel,
    ChooserOk,
    ChooserDataRate,       // %s: kilobytes a second
    // System-error reports (%s: the context, %ld: the code)
    FileNotFound,
    PathNotFound,
    SharingViolation,
    OtherError,
    FailedCheck,           // %s expression, %s file, %d line
    // Source description
    Unknown,
    // The words of a format's name: "44,100 Hz, 16 ビット, ステレオ" and its English
    NameRate,              // %s: the rate, thousands grouped
    NameBits,              // %lu: bits per sample
    NameFloatBits,         // %lu: bits per sample
    NameBitRate,           // %s: kbit/s
    NameMono,
    NameStereo,
    NameSurround51,
    NameSurround71,
    NameChannels,          // %lu: how many
    // Failed checks, in the command line's words (%s: the path)
    CannotOpenSource,
    NotRiffWave,
    NoFormatChunk,
    FormatChunkTooLarge,
    NoDataChunk,
    NoDestinationFormat,
    CannotCreateDestination,
    NotRegularFile,        // why a pipe or a socket is refused as a file of chunks
    TemporaryReplaced,     // why a finished temporary file is not put in the destination's place
    // Conversion
    DiskFull,
    ReadError,
    TooLarge,
    StreamOpenFailed,      // %lu: the codec service's result code
    CodecFailed,           // %lu: the codec service's result code
    NoBufferSize,
    OutOfMemory,
    WriteContext,
    ReplaceContext,
    ReadContext,
    InvalidHandle,         // the five codec-service failures the conversion names
    NoMemory,
    InvalidFlag,
    InvalidParam,
    NotPossible,
    CodecDetail,           // %s: FFmpeg's reason, its call and the codec, for --verbose
    DamagedBlocks,         // %lu: how many
    ClippedSamples,        // %lu: how many
    // Metadata the conversion could not carry over (warnings) or carried unchanged (a note)
    MetadataChunkTooLarge, // %lu: the chunk's size
    MetadataTooMuch,       // %lu: chunks left out
    MetadataTooMany,       // %lu: chunks carried
    MetadataUnread,        // %lu: bytes
    MetadataBigEndian,
    MetadataLayoutBroken,  // %s: the chunk's identifier
    // wavtrn-cli info: what a source's metadata chunks say
    MetadataNotCarried,
    MetadataNotCarriedTotal,
    FieldTitle,
    FieldArtist,
    FieldAlbum,
    FieldTrack,
    FieldGenre,
    FieldDate,
    FieldComment,
    FieldCopyright,
    FieldEngineer,
    FieldTechnician,
    FieldSoftware,
    FieldSubject,
    FieldKeywords,
    FieldSource,
    FieldDescription,
    FieldOriginator,
    FieldOriginatorReference,
    FieldOriginationDate,
    FieldOriginationTime,
    FieldTimeReference,
    FieldVersion,
    FieldCodingHistory,
    // TEST, COPY, CPY2
    Different,
    Same,
    CopyContext,
    CannotRead,
    CannotWrite,
    SameFile,
    // TEST's boxes: the two handles, the calls that failed, the records' fields
    TestHandle1,           // %ld
    TestHandle2,           // %ld
    TestCreate1,
    TestInfo1,
    TestCreate2,
    TestInfo2,
    TestAttributes,        // %lu %lu: the two files' values, as the next six
    TestVolume,
    TestSizeHigh,
    TestSizeLow,
    TestLinks,
    TestIndexHigh,
    TestIndexLow,
    // The dialog's plain paragraph after a failed check or a codec failure:
    // what is wrong and what to do, one sentence each
    PlainSourceMissing,
    PlainSourceIsFolder,
    PlainSourceDenied,
    PlainSourceUnreadable,
    PlainNotWave,
    PlainNoFormatChunk,
    PlainDamagedFormat,
    PlainNoData,
    PlainChooseFormat,
    PlainNoDestination,
    PlainDestinationFolderMissing,
    PlainDestinationIsFolder,
    PlainDestinationDenied,
    PlainDestinationDiskFull,
    PlainDestinationUncreatable,
    PlainNotPossible,
    PlainCodecFault,
    PlainNoMemory,
    // The progress window's names of the two files (%s source, %s destination)
    ProgressFiles,
    // Several files converted into a folder
    FolderPickerTitle,
    ProgressFileOf,        // %lu: this file's number, %lu: how many; then a line feed
    ExistingNames,         // %lu: how many; the names follow, one a line
    ReplaceAll,
    SkipExisting,
    CancelButton,
    BatchConverted,        // %lu: how many; the names follow
    BatchSkipped,          // %lu: how many; the names follow
    BatchFailed,           // %lu: how many; "name: reason" lines follow
    BatchCancelled,        // the reason of the file a cancel stopped
    BatchSameName,         // the reason a second source of the same name is left alone
    Count
};

// The dialog's text; "" for an id out of range.
const char* DialogText(Text id);
// The command line's words for the same event; the dialog's text where the two agree.
const char* PlainText(Text id);
