// The audio codec service: format catalogue and names, the format chooser and
// conversion streams, built on FFmpeg.
//
// Every call returns 0 or one of MMSYSERR_INVALHANDLE, MMSYSERR_NOMEM,
// MMSYSERR_INVALFLAG, MMSYSERR_INVALPARAM, ACMERR_NOTPOSSIBLE. Record sizes
// (cbStruct) are the sizes of the structures below on this platform.
#pragma once

#include "platform/wintypes.h"

#include <cstddef>
#include <cstdint>

struct HACMDRIVER__;
using HACMDRIVER = HACMDRIVER__*;
struct HACMSTREAM__;
using HACMSTREAM = HACMSTREAM__*;
struct HACMOBJ__;
using HACMOBJ = HACMOBJ__*;

constexpr MMRESULT MMSYSERR_NOERROR = 0;
constexpr MMRESULT MMSYSERR_INVALHANDLE = 5;
constexpr MMRESULT MMSYSERR_NOMEM = 7;
constexpr MMRESULT MMSYSERR_INVALFLAG = 10;
constexpr MMRESULT MMSYSERR_INVALPARAM = 11;
constexpr MMRESULT ACMERR_NOTPOSSIBLE = 512;
constexpr MMRESULT ACMERR_CANCELED = 515;  // the chooser was cancelled

constexpr WORD WAVE_FORMAT_UNKNOWN = 0x0000;
constexpr WORD WAVE_FORMAT_PCM = 0x0001;
constexpr WORD WAVE_FORMAT_ADPCM = 0x0002;
constexpr WORD WAVE_FORMAT_IEEE_FLOAT = 0x0003;
constexpr WORD WAVE_FORMAT_ALAW = 0x0006;
constexpr WORD WAVE_FORMAT_MULAW = 0x0007;
constexpr WORD WAVE_FORMAT_IMA_ADPCM = 0x0011;
constexpr WORD WAVE_FORMAT_GSM610 = 0x0031;
constexpr WORD WAVE_FORMAT_MPEGLAYER3 = 0x0055;
constexpr WORD WAVE_FORMAT_EXTENSIBLE = 0xFFFE;

#pragma pack(push, 1)
struct WAVEFORMATEX {
    WORD wFormatTag;
    WORD nChannels;
    DWORD nSamplesPerSec;
    DWORD nAvgBytesPerSec;
    WORD nBlockAlign;
    WORD wBitsPerSample;
    WORD cbSize;  // number of extra bytes that follow
};
#pragma pack(pop)
static_assert(sizeof(WAVEFORMATEX) == 18);

// acmMetrics
constexpr UINT ACM_METRIC_MAX_SIZE_FORMAT = 50;
// Writes a DWORD: the largest format block the chooser can return (at least 18).
MMRESULT acmMetrics(HACMOBJ hao, UINT uMetric, void* pMetric);

// acmFormatChooseA
constexpr std::size_t ACMFORMATTAGDETAILS_FORMATTAG_CHARS = 48;
constexpr std::size_t ACMFORMATDETAILS_FORMAT_CHARS = 128;
// fdwStyle: the chooser opens on the format pwfx holds instead of its own default.
constexpr DWORD ACMFORMATCHOOSE_STYLEF_INITTOWFXSTRUCT = 0x40;
// fdwEnum: pwfxEnum is the source the chosen format is converted from; the
// chooser lists PCM and float also at the source's rate and channel count.
constexpr DWORD ACM_FORMATENUMF_CONVERT = 0x00100000;

struct ACMFORMATCHOOSEA {
    DWORD cbStruct;
    DWORD fdwStyle;
    HWND hwndOwner;
    WAVEFORMATEX* pwfx;
    DWORD cbwfx;
    const char* pszTitle;
    char szFormatTag[ACMFORMATTAGDETAILS_FORMATTAG_CHARS];
    char szFormat[ACMFORMATDETAILS_FORMAT_CHARS];
    char* pszName;
    DWORD cchName;
    DWORD fdwEnum;
    WAVEFORMATEX* pwfxEnum;
    HINSTANCE hInstance;
    const char* pszTemplateName;
    LPARAM lCustData;
    void* pfnHook;
};
// Shows the chooser through the window backend. 0: pwfx holds the chosen block and
// szFormatTag / szFormat its names. ACMERR_CANCELED: the user cancelled.
// ACMERR_NOTPOSSIBLE: cbwfx is too small for the chosen block (nothing written).
MMRESULT acmFormatChooseA(ACMFORMATCHOOSEA* pafmtc);

// acmFormatTagDetailsA
constexpr DWORD ACM_FORMATTAGDETAILSF_FORMATTAG = 1;
constexpr DWORD ACMDRIVERDETAILS_SUPPORTF_CODEC = 0x1;
constexpr DWORD ACMDRIVERDETAILS_SUPPORTF_CONVERTER = 0x2;

struct ACMFORMATTAGDETAILSA {
    DWORD cbStruct;
    DWORD dwFormatTagIndex;
    DWORD dwFormatTag;
    DWORD cbFormatSize;
    DWORD fdwSupport;
    DWORD cStandardFormats;
    char szFormatTag[ACMFORMATTAGDETAILS_FORMATTAG_CHARS];
};
MMRESULT acmFormatTagDetailsA(HACMDRIVER had, ACMFORMATTAGDETAILSA* paftd, DWORD fdwDetails);

// acmFormatDetailsA
constexpr DWORD ACM_FORMATDETAILSF_FORMAT = 1;

struct ACMFORMATDETAILSA {
    DWORD cbStruct;
    DWORD dwFormatIndex;
    DWORD dwFormatTag;
    DWORD fdwSupport;
    WAVEFORMATEX* pwfx;
    DWORD cbwfx;  // bytes readable at pwfx
    char szFormat[ACMFORMATDETAILS_FORMAT_CHARS];
};
MMRESULT acmFormatDetailsA(HACMDRIVER had, ACMFORMATDETAILSA* pafd, DWORD fdwDetails);

// Streams
constexpr DWORD ACM_STREAMOPENF_QUERY = 0x1;
constexpr DWORD ACM_STREAMOPENF_NONREALTIME = 0x4;
constexpr DWORD ACM_STREAMSIZEF_SOURCE = 0x0;
constexpr DWORD ACM_STREAMSIZEF_DESTINATION = 0x1;
constexpr DWORD ACM_STREAMCONVERTF_END = 0x20;
constexpr DWORD ACMSTREAMHEADER_STATUSF_PREPARED = 0x00020000;

struct WAVEFILTER;

struct ACMSTREAMHEADER {
    DWORD cbStruct;
    DWORD fdwStatus;
    DWORD_PTR dwUser;
    BYTE* pbSrc;
    DWORD cbSrcLength;
    DWORD cbSrcLengthUsed;
    DWORD_PTR dwSrcUser;
    BYTE* pbDst;
    DWORD cbDstLength;
    DWORD cbDstLengthUsed;
    DWORD_PTR dwDstUser;
    DWORD dwReservedDriver[10];
};

// Opens a stream from pwfxSrc to pwfxDst. Each block is read as 18 bytes plus its
// cbSize extra bytes.
MMRESULT acmStreamOpen(HACMSTREAM* phas, HACMDRIVER had, const WAVEFORMATEX* pwfxSrc, const WAVEFORMATEX* pwfxDst,
                       WAVEFILTER* pwfltr, DWORD_PTR dwCallback, DWORD_PTR dwInstance, DWORD fdwOpen);
// By destination: the largest whole number of source blocks whose conversion fits
// cbInput destination bytes (at least one block). By source: an upper bound of the
// destination bytes that cbInput source bytes give.
MMRESULT acmStreamSize(HACMSTREAM has, DWORD cbInput, DWORD* pdwOutputBytes, DWORD fdwSize);
MMRESULT acmStreamPrepareHeader(HACMSTREAM has, ACMSTREAMHEADER* pash, DWORD fdwPrepare);
// Converts all cbSrcLength source bytes (cbSrcLengthUsed = cbSrcLength), writing at
// most cbDstLength bytes; output that does not fit is kept for the next pass. With
// ACM_STREAMCONVERTF_END the stream is drained: call again with no source until
// cbDstLengthUsed is 0. pbSrc may be pbDst: a conversion that keeps the format
// then leaves the bytes where they are instead of copying them.
MMRESULT acmStreamConvert(HACMSTREAM has, ACMSTREAMHEADER* pash, DWORD fdwConvert);
MMRESULT acmStreamUnprepareHeader(HACMSTREAM has, ACMSTREAMHEADER* pash, DWORD fdwUnprepare);
MMRESULT acmStreamClose(HACMSTREAM has, DWORD fdwClose);
// Writes how many damaged source blocks the stream's decoder has skipped so far.
MMRESULT acmStreamDamagedBlocks(HACMSTREAM has, DWORD* pcDamaged);
// Writes how many sample frames the stream has handed to its sink so far: the
// destination's frames after resampling, before an encoder pads its last frame.
MMRESULT acmStreamFramesOut(HACMSTREAM has, std::uint64_t* pcFrames);
// Writes how many samples were clipped on the way into an integer destination.
MMRESULT acmStreamClippedSamples(HACMSTREAM has, std::uint64_t* pcClipped);
// Cuts the decoded source to cFrames sample frames, when that count is plausible for
// cbSourceData bytes of source data: it falls within the last block those bytes
// hold. 0 when the cut is set; ACMERR_NOTPOSSIBLE when the count is implausible, or
// the source is integer PCM, or its family has no exact frames-per-block rule (MPEG:
// the count there includes the encoder delay) -- nothing is cut then. Call before the
// first conversion.
MMRESULT acmStreamLimitFrames(HACMSTREAM has, std::uint64_t cFrames, std::uint64_t cbSourceData);
