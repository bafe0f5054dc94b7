// Every text the conversion shows besides the codec-service failure names,
// in one table keyed by id.
#pragma once

enum class WaveMessage {
    DiskFull,          // a write to the destination came up short
    ReadError,         // the source could not be read mid-conversion
    TooLarge,          // the output would not fit a RIFF form
    StreamOpenFailed,  // format string: the codec service's result code
    CodecFailed,       // format string: the codec service's result code
    NoBufferSize,      // the size query gave no usable source buffer
    OutOfMemory,       // the conversion buffers could not be allocated
    WriteContext,      // context of a system-error report on the destination
    ReplaceContext,    // context of a system-error report on the final rename
    Count
};

const char* WaveMessageText(WaveMessage id);
