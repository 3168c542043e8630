// The audio encoder filter's two custom interfaces and its HRESULT family,
// as the media engine sees them. The method tables, argument types and codes
// are shared with the engine's binaries: never reorder or retype an entry.
#pragma once

#include <windows.h>
#include <unknwn.h>

#include "audioencfilter/guids.h"

// AudioEncoderError: severity error, FACILITY_CONTROL, codes 3001 upward.
enum AudioEncoderError : HRESULT {
  KRM_E_INVALID_CODEC_ID = static_cast<HRESULT>(0x800A0BB9),       // codec type not 0, 1 or 2
  KRM_E_INVALID_INSTANCE = static_cast<HRESULT>(0x800A0BBA),       // slot index out of range for the codec
  KRM_E_INVALID_AUDIO_BITRATE = static_cast<HRESULT>(0x800A0BBB),  // bitrate not offered for the codec
  AUDENC_E_AAC_BUSY = static_cast<HRESULT>(0x800A0BBC),            // SetAAC while the AAC stream is active
  AUDENC_E_OUTPUT_FULL = static_cast<HRESULT>(0x800A0BCC),         // event: packet does not fit the sample
  AUDENC_E_AMR_INIT = static_cast<HRESULT>(0x800A0BCD),            // event
  AUDENC_E_EVRC_INIT = static_cast<HRESULT>(0x800A0BCE),           // event
  AUDENC_E_AAC_INIT = static_cast<HRESULT>(0x800A0BCF),            // event, and the answer of SetAAC
  AUDENC_E_INPUT_SAMPLE = static_cast<HRESULT>(0x800A0BD0),        // event: no buffer or no time stamps
  AUDENC_E_EMPTY_INPUT = static_cast<HRESULT>(0x800A0BD1),         // event: no data, negative time stamp
  AUDENC_E_OUTPUT_SAMPLE = static_cast<HRESULT>(0x800A0BD3),       // event: no output buffer
  AUDENC_E_ENCODE = static_cast<HRESULT>(0x800A0BD4),              // event: an AMR stream failed to encode
  AUDENC_E_INVALID_STREAM_ID = static_cast<HRESULT>(0x800A0BD6),   // identifier outside 0..255
  KRM_E_USE_DEFAULT_CODEC = static_cast<HRESULT>(0x800A0BDB),      // event: no stream configured, AMR 0 used
};

// Codec types, as in the packets and in the statistics calls.
enum AudioCodecType : short { AUDIO_CODEC_AMR = 0, AUDIO_CODEC_EVRC = 1, AUDIO_CODEC_AAC = 2 };

// Configuration: the Set calls work only while the filter is stopped
// (E_UNEXPECTED otherwise); Reset and the getters work at any time.
struct IAudEncCfg : public IUnknown {
  // Disables every stream; rates, identifiers and bitrates stay.
  virtual HRESULT STDMETHODCALLTYPE Reset() = 0;
  // index 0..1; bitrate 4750 or 12200.
  virtual HRESULT STDMETHODCALLTYPE SetAMR(short index, BOOL enable, short streamId, int notUsed, int bitrate) = 0;
  virtual HRESULT STDMETHODCALLTYPE GetAMR(short index, BOOL* enable, short* streamId, int* sampleRate,
                                           int* bitrate) = 0;
  // index 0; bitrate 9200.
  virtual HRESULT STDMETHODCALLTYPE SetEVRC(short index, BOOL enable, short streamId, int notUsed, int bitrate) = 0;
  virtual HRESULT STDMETHODCALLTYPE GetEVRC(short index, BOOL* enable, short* streamId, int* sampleRate,
                                            int* bitrate) = 0;
  // index 0; *bitrate 16000..128000; answers the codec's rate and channels.
  // Enabling creates the AAC encoder at once (AUDENC_E_AAC_INIT when it
  // cannot be made).
  virtual HRESULT STDMETHODCALLTYPE SetAAC(short index, BOOL enable, short streamId, int* sampleRate, int* bitrate,
                                           short* channels) = 0;
  // Keeps the table positions of the two entries after it; answers E_NOTIMPL.
  virtual HRESULT STDMETHODCALLTYPE Unused() = 0;
  virtual HRESULT STDMETHODCALLTYPE Reserved(int value, void* pointer) = 0;
  // The AAC AudioSpecificConfig: *length bytes (at most 64) into buffer.
  virtual HRESULT STDMETHODCALLTYPE GetAACConfig(short index, BYTE* buffer, int* length) = 0;
};

// Statistics: counters of the encoding loop, readable while streaming. Byte
// counts are KBytes * 1024 + Bytes; encoded bytes count frames only.
struct IAudEncStats : public IUnknown {
  // *codecType in: the type wanted; out: the type found. E_FAIL, index -2: none.
  virtual HRESULT STDMETHODCALLTYPE GetActiveStream(short* index, short* codecType) = 0;
  virtual HRESULT STDMETHODCALLTYPE GetAMRBytes(short index, int* kbytes, int* bytes) = 0;
  virtual HRESULT STDMETHODCALLTYPE GetEVRCBytes(short index, int* kbytes, int* bytes) = 0;
  virtual HRESULT STDMETHODCALLTYPE GetAACBytes(short index, int* kbytes, int* bytes) = 0;
  virtual HRESULT STDMETHODCALLTYPE GetAMRSamples(short index, int* count) = 0;
  virtual HRESULT STDMETHODCALLTYPE GetEVRCSamples(short index, int* count) = 0;
  virtual HRESULT STDMETHODCALLTYPE GetAACSamples(short index, int* count) = 0;
  virtual HRESULT STDMETHODCALLTYPE GetSkipped(short codecType, short index, int* count) = 0;
  // Input samples dropped (bad input, no output buffer, or nothing encoded).
  virtual HRESULT STDMETHODCALLTYPE GetEmptyInputs(int* count) = 0;
  virtual HRESULT STDMETHODCALLTYPE GetInputBytes(int* kbytes, int* bytes) = 0;
  virtual HRESULT STDMETHODCALLTYPE GetInputSamples(int* count) = 0;
  // Stop time of the last input sample, milliseconds.
  virtual HRESULT STDMETHODCALLTYPE GetInputTime(int* milliseconds) = 0;
  // End of the stream's last packet, milliseconds.
  virtual HRESULT STDMETHODCALLTYPE GetStreamTime(short codecType, short index, int* milliseconds) = 0;
};
