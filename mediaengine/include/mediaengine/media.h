// COKRMedia: the media engine object, the one creatable class of Medlark.
// Its own IUnknown is the non-delegating one; six nested objects carry its
// interfaces and forward their IUnknown calls to the controlling unknown. The
// configuration object and the process-wide capture manager are companions
// whose interfaces it hands out by forwarding QueryInterface.
#pragma once

#include <windows.h>

#include <ctime>
#include <vector>

#include "mediaengine/customgraph.h"
#include "mediaengine/interfaces.h"

namespace mediaengine {

class COKRMedia;

// The common part of the nested interface objects: back pointer, controlling
// unknown and a count of their own (diagnostics only).
template <class Interface>
class CNestedInterface : public Interface {
 public:
  CNestedInterface(COKRMedia* engine, IUnknown* controlling) : engine_(engine), controlling_(controlling) {}
  virtual ~CNestedInterface() = default;
  STDMETHODIMP QueryInterface(REFIID iid, void** out) override { return controlling_->QueryInterface(iid, out); }
  STDMETHODIMP_(ULONG) AddRef() override {
    InterlockedIncrement(&refs_);
    return controlling_->AddRef();
  }
  STDMETHODIMP_(ULONG) Release() override {
    InterlockedDecrement(&refs_);
    return controlling_->Release();
  }
  LONG OwnReferences() const { return refs_; }

 protected:
  COKRMedia* engine_;
  IUnknown* controlling_;
  volatile LONG refs_ = 0;
};

class CImpIGenFromFile : public CNestedInterface<IGenFromFile> {
 public:
  using CNestedInterface::CNestedInterface;
  // Refused with KRM_E_WRONG_MODE while the engine is live.
  STDMETHODIMP GetDSEvent(LONG* code, LONG_PTR* param1, LONG_PTR* param2) override;
  STDMETHODIMP GetDSEventHandle(HANDLE* event) override;
  STDMETHODIMP FreeDSEvent(LONG code, LONG_PTR param1, LONG_PTR param2) override;
  // At most 255 characters (else KRM_E_STRING_TOO_LONG).
  STDMETHODIMP SetSourceFileName(LPCWSTR fileName) override;
  // On a probe graph of its own.
  STDMETHODIMP GetSourceFileInfo(LPCWSTR fileName, KRSourceFileInfo* info) override;
  STDMETHODIMP StartEncode(LONG run) override;
  STDMETHODIMP StartPreview(LONG run) override;
  STDMETHODIMP Stop() override;
  STDMETHODIMP SetPreviewType(LONG type) override;
  STDMETHODIMP GetStreamTime(double* seconds) override;
  // The header comes in CoTaskMemAlloc memory the caller frees.
  STDMETHODIMP GetImgInfo(LPCWSTR fileName, LONG* flag, BITMAPINFOHEADER** header, LONG* size) override;
  STDMETHODIMP GetDecodedImg(BITMAPINFOHEADER* header, BYTE** data) override;
  // The image: a 40-byte header followed by its padded bottom-up rows.
  STDMETHODIMP SaveImgFile(LPCWSTR fileName, LONG type, BYTE* image) override;

  const wchar_t* SourceFileName() const { return sourceFileName_; }

 private:
  HRESULT BuildFromFile(const KROutputConfig& output, const KRDestinationWindow& destination,
                        const KREventWindow& events, LONG run);
  LONG previewOnly_ = 1;
  wchar_t sourceFileName_[256] = {};
};

// Encoding from capture devices: the devices come from the process's
// capture manager, the capture format is committed to the camera's capture
// pin (with a fallback size when the device refuses it), and the graph is
// built by the engine's shared steps.
class CImpIGenFromLive : public CNestedInterface<IGenFromLive> {
 public:
  using CNestedInterface::CNestedInterface;
  ~CImpIGenFromLive() override;
  STDMETHODIMP ConfigVideoCapture(void* capture) override;
  STDMETHODIMP GetConfigVideoCapture(void* capture) override;
  STDMETHODIMP GetVideoCaptureCapabilities(void* capabilities) override;
  STDMETHODIMP DisplayVideoCaptureDlg(LONG dialogId, HWND parent) override;
  STDMETHODIMP DisplayVidCaptureDlg(LONG dialogId, HWND parent) override;
  STDMETHODIMP SelectDevice(LONG index, LONG kind) override;
  // names: room for five name pointers; third: the count.
  STDMETHODIMP GetDeviceNames(LONG kind, void* names, void* third) override;
  STDMETHODIMP StartEncode(LONG run) override;
  STDMETHODIMP StartPreview(LONG build, LONG run) override;
  STDMETHODIMP GetDSEvent(LONG* code, LONG_PTR* param1, LONG_PTR* param2) override;
  STDMETHODIMP GetDSEventHandle(HANDLE* event) override;
  STDMETHODIMP FreeDSEvent(LONG code, LONG_PTR param1, LONG_PTR param2) override;
  STDMETHODIMP Stop(SHORT mode) override;
  STDMETHODIMP SetPreviewType(LONG type) override;
  STDMETHODIMP GetCurrentMediaTime(double* seconds) override;
  // The block: a 40-byte bitmap header and the picture, from CoTaskMemAlloc.
  STDMETHODIMP GetCurrentImage(LONG* size, BYTE** block) override;
  STDMETHODIMP InitLive() override;

  // For the engine.
  IBaseFilter* VideoCapture() const { return videoCapture_; }
  IBaseFilter* AudioCapture() const { return audioCapture_; }
  HRESULT RemoveCaptureDevice(LONG kind);
  HRESULT ResetSrcFrameRate(const KROutputConfig& output);
  // The graph went: its per-graph marks with it.
  void ForgetGraph() { captureChecked_ = 0; }
  // Releases both devices to the manager (the engine is going).
  void ReleaseDevices();
  HRESULT CommitVideoCaptureSettings(KRVideoCaptureConfig* capture);
  HRESULT UpdateCaptureSrcFrameRate(float rate);
  HRESULT GetActualVideoCaptureSettings(KRVideoCaptureConfig* capture);

 private:
  HRESULT CheckCaptureGraph();
  HRESULT GetCaptureFilter(LONG kind);
  HRESULT AddCaptureFilter(LONG kind);
  HRESULT ApplyCaptureFormat(IAMStreamConfig* config, AM_MEDIA_TYPE* format, const KRVideoCaptureConfig& capture);
  HRESULT ShowPropertyPages(IUnknown* object, HWND parent);
  HRESULT SetCaptureClock();
  HRESULT PreviewCapture(const KRDestinationWindow& destination);
  ICapManager* CapManager();

  LONG previewOnly_ = 1;
  LONG sizeSearch_ = 0;
  IBaseFilter* videoCapture_ = nullptr;
  LONG videoIndex_ = -1;
  IBaseFilter* audioCapture_ = nullptr;
  LONG audioIndex_ = -1;
  KRVideoCaptureConfig capture_ = {160, 120, 24, 30.0f};
  LONG captureChecked_ = 0;
  LONG capturePrepared_ = 0;
  float savedFrameRate_ = 30.0f;
};

class CImpIKRStats : public CNestedInterface<IKRStats> {
 public:
  using CNestedInterface::CNestedInterface;
  STDMETHODIMP GetVideoCaptureStat(void* record) override;
  // Two words are differences against what the caller's record held.
  STDMETHODIMP GetVideoEncoderStat(void* record) override;
  STDMETHODIMP GetAudioCaptureStat(void* record) override;
  STDMETHODIMP GetAudioEncoderStat(void* record) override;
  STDMETHODIMP GetClientStatus(void*) override { return S_OK; }
  STDMETHODIMP GetOutputStat(LONG, void*) override { return S_OK; }
  STDMETHODIMP GetCurrentMediaTime(double* seconds) override;
};

class CImpIKRMediaGraph : public CNestedInterface<IKRMediaGraph> {
 public:
  using CNestedInterface::CNestedInterface;
  STDMETHODIMP GetFilterGraph(void** graph) override;
  STDMETHODIMP GetGraphState(LONG* state) override;
};

class CImpIGrantConnection : public CNestedInterface<IGrantConnection> {
 public:
  using CNestedInterface::CNestedInterface;
  // The verdict (1 admits, anything else refuses) to the streamer; no
  // streamer in the graph: KRM_E_INTERFACE_NOT_FOUND.
  STDMETHODIMP GrantConnection(LONG clientId, LONG grant) override;
};

// Feeds the host's own buffers to the encoders through one custom source
// filter per stream (0 video, 1 audio); a stream can also come from a file
// named through the embedded file source, whose operations it reuses.
class CImpIGenFromCustom : public CNestedInterface<IGenFromCustom> {
 public:
  CImpIGenFromCustom(COKRMedia* engine, IUnknown* controlling);
  ~CImpIGenFromCustom() override;
  // Option 1 the audio stream's source, 2 the video's, 3 both, 5 none;
  // values 0 the file, 1 (refused by StartEncode), 2 the custom filter.
  STDMETHODIMP SetSourceOption(LONG option, LONG value) override;
  STDMETHODIMP ConfigMediaSource(LONG stream, void* description, AM_MEDIA_TYPE* type) override;
  // Passed unchanged to the stream's filter; its full queue is reported as
  // 0x800A07D7 (offer the buffer again).
  STDMETHODIMP SetBuffer(LONG stream, LONG_PTR data, LONG length, LONG startMs, LONG stopMs) override;
  STDMETHODIMP StartEncode(LONG run) override;
  STDMETHODIMP StartPreview(LONG build, LONG run) override;
  STDMETHODIMP Stop(SHORT mode) override;
  STDMETHODIMP GetDSEvent(LONG* code, LONG_PTR* param1, LONG_PTR* param2) override;
  STDMETHODIMP GetDSEventHandle(HANDLE* event) override;
  STDMETHODIMP SetSourceFileName(LPCWSTR fileName) override;
  STDMETHODIMP GetSourceFileInfo(LPCWSTR fileName, KRSourceFileInfo* info) override;
  STDMETHODIMP InitCustom(LONG stream, LONG bufferCount, LONG bufferSize) override;
  STDMETHODIMP SetPreviewType(LONG type) override;

  LONG AudioOption() const { return audioOption_; }
  LONG VideoOption() const { return videoOption_; }

 private:
  struct Stream {
    IBaseFilter* filter = nullptr;  // kept for later runs
    BYTE description[540] = {};
    AM_MEDIA_TYPE type = {};  // its format block is ours
    LONG bufferCount = 10;
    LONG bufferSize = 307200;
  };
  HRESULT CommitCustomSourceSettings(LONG stream);
  // The stream's filter committed into the graph, with the traces and codes
  // of the builds.
  HRESULT AddCustomStream(LONG stream, const char* operation);
  HRESULT ConnectSourceToEncoder(LONG streamType);
  HRESULT RenderCustomStream(LONG stream);

  CImpIGenFromFile file_;
  Stream streams_[2];
  LONG previewOnly_ = 1;
  LONG audioOption_ = 0;
  LONG videoOption_ = 2;
};

class COKRMedia : public IUnknown {
 public:
  // Allocates an engine under the given controlling unknown (none: itself)
  // and initialises it; the object comes back with reference count 0.
  // *initResult is Init's result. No memory: KRM_E_OUT_OF_MEMORY.
  static HRESULT Create(IUnknown* outer, COKRMedia** engine, HRESULT* initResult);

  // The non-delegating unknown.
  STDMETHODIMP QueryInterface(REFIID iid, void** out) override;
  STDMETHODIMP_(ULONG) AddRef() override;
  STDMETHODIMP_(ULONG) Release() override;
  virtual ~COKRMedia();

  // Version of the suite from the registry, with defaults 300, 0, 113.
  static HRESULT ReadVersionInfo(DWORD* major, DWORD* minor, DWORD* build);
  // Trace lines "COKRMedia::op:text" and "COKRMedia::op: codeText".
  static void TraceText(const char* operation, const char* text);
  static void TraceError(const char* operation, HRESULT code);

  // Live engine objects of the process.
  static LONG LiveObjects();

  // The graph's life and its events. Modes of CreateGraph: 0 file or custom
  // source, 1 live; of StopGraph: 0 normal, 1 keep the streamer's clients,
  // -1 the graph only.
  HRESULT CreateGraph(LONG mode);
  HRESULT DestroyGraph();
  HRESULT StartGraph();
  HRESULT StopGraph(LONG mode);
  HRESULT FlushEvent(LONG* count);
  // The next event within 100 ms, else E_ABORT. The blocks of events 32774
  // to 32776 are delivered as copies that FreeDSEvent frees.
  HRESULT GetDSEvent(LONG* code, LONG_PTR* param1, LONG_PTR* param2);
  HRESULT FreeDSEvent(LONG code, LONG_PTR param1, LONG_PTR param2);
  HRESULT GetDSEventHandle(HANDLE* event);
  HRESULT GetCurrentMediaTime(double* seconds);

  // Output settings, clip texts and content version into the streamer's
  // parameter batch; the batch is applied here only for stream type 1.
  HRESULT CommitOutputSettings();

  // The authoring chain. Media: 1 audio, 2 video, 3 and 5 both; creates the
  // encoders, the streamer and the multiplexer, commits the audio and output
  // settings, and on failure leaves none of them behind.
  HRESULT CreateKRFilters(LONG media, LONG ignored);
  // The engine keeps the reference it hands out.
  HRESULT CreateGrabFilter(IBaseFilter** grabber);
  // The first audio pin of the filter behind the source to the audio
  // encoder; -2 when that filter has no audio pin.
  HRESULT ConnectSourceToAudioEnc(IBaseFilter* source);
  HRESULT ConnectToOutput(IBaseFilter* videoEncoder, IBaseFilter* audioEncoder);
  HRESULT RemoveVideoEncoder();
  HRESULT CommitAudioEncoderSettings();
  HRESULT CommitVideoEncoderSettings();
  // A source without sound: the stream table's audio entries leave the
  // open batch (an announced stream that never comes would be recorded as an
  // empty track that no reader opens).
  HRESULT LeaveOutAudioStreams();
  // The layers' decoder configurations to the streamer; applies the batch.
  HRESULT CommitEncodingParamToOutput();
  // Codes the still image once, hands it to the streamer and drops the
  // video encoder.
  HRESULT ConfigStillImage();

  // For the engine's other parts.
  CCustomGraph* Graph() const { return graph_; }
  bool Live() const { return live_ != 0; }
  bool RunPending() const { return runPending_ != 0; }
  // The streamer and audio encoder filters in the graph (one reference
  // held each), or none.
  void SetStreamer(IBaseFilter* streamer);
  void SetAudioEncoder(IBaseFilter* encoder);
  LONG GraphState() const { return graphState_; }
  void SetGraphState(LONG state) { graphState_ = state; }
  void SetPreviewMode(LONG mode) { previewMode_ = mode; }
  LONG PreviewMode() const { return previewMode_; }
  LONG PreviewType() const { return previewType_; }
  void SetPreviewType(LONG type) { previewType_ = type; }
  LONG InstanceNumber() const { return instance_; }
  IBaseFilter* VideoEncoder() const { return videoEncoder_; }
  IBaseFilter* AudioEncoder() const { return audioEncoder_; }
  IBaseFilter* Multiplexer() const { return multiplexer_; }
  IBaseFilter* Streamer() const { return streamer_; }
  float SourceFrameRate() const { return sourceFrameRate_; }
  void SetLive(bool live) { live_ = live ? 1 : 0; }
  void SetRunPending(bool pending) { runPending_ = pending ? 1 : 0; }
  // The still picture the last still-image commit made: a 24-bit DIB, or
  // none (empty).
  const BITMAPINFOHEADER& StillHeader() const { return stillHeader_; }
  const std::vector<BYTE>& StillPixels() const { return stillPixels_; }
  // The configuration interface (a reference), or null.
  IKRMediaConfig* MediaConfig();
  CImpIGenFromLive& LiveSource() { return genFromLive_; }
  IBaseFilter* Grabber() const { return grabber_; }
  // A copy of the output record; false without the configuration interface.
  bool ReadOutputConfig(KROutputConfig* output);

  // Steps the file and custom sources share. The records a build reads
  // (false: no configuration interface).
  bool ReadSourceRecords(KROutputConfig* output, KRDestinationWindow* destination, KREventWindow* events,
                         KRVideoEncoderConfig* video);
  // The encoder's "Video preview" pin rendered by preview type 2.
  HRESULT PreviewEncodedVideo(const KRDestinationWindow& destination, const char* operation, bool encoderRequired);
  // The encoders of the stream type to the multiplexer.
  HRESULT ConnectEncodersToOutput(LONG streamType, bool withAudio);
  // Events to the window, the graph built; a stream waits run-pending, a
  // file runs when asked. Answers the start's result or `pending`.
  HRESULT FinishBuild(const KROutputConfig& output, const KREventWindow& events, LONG run, HRESULT pending);
  HRESULT GetFileStreamTime(bool previewOnly, double* seconds);
  const DWORD* Version() const { return version_; }

 private:
  explicit COKRMedia(IUnknown* outer);
  HRESULT Init();
  // EC_KR_AUDIO_DRIFT: the drift (ms) into the capture clock.
  HRESULT AdjustCaptureClock(LONG_PTR driftMs);
  HRESULT SetStreamerPauseState(LONG keepClients);
  void ForgetFilters();
  void DropFilter(IBaseFilter*& filter);
  HRESULT AddNewFilter(REFCLSID clsid, LPCWSTR name, const char* createFailure, HRESULT failure,
                       IBaseFilter** slot);
  HRESULT ConnectOutputPin(IBaseFilter* from, IBaseFilter* to, LPCWSTR inputId, const char* traceName);
  void KeepStillPicture(const BYTE* yuv, int width, int height);

  // Nested interface objects, in the engine's order.
  CImpIGenFromFile genFromFile_;
  CImpIGenFromLive genFromLive_;
  CImpIKRStats stats_;
  CImpIKRMediaGraph mediaGraph_;
  CImpIGrantConnection grantConnection_;
  CImpIGenFromCustom genFromCustom_;

  LONG instance_;
  volatile LONG refs_ = 0;
  IUnknown* outer_;
  IUnknown* config_ = nullptr;      // the configuration object's own unknown
  IUnknown* capManager_ = nullptr;  // one reference on the process-wide manager

  CCustomGraph* graph_ = nullptr;
  LONG graphState_ = 0;  // 0 no graph run yet, 1 built or stopped, 3 running
  IBaseFilter* videoEncoder_ = nullptr;
  IBaseFilter* audioEncoder_ = nullptr;
  LONG videoEncoderPending_ = 0;
  IBaseFilter* grabber_ = nullptr;
  IBaseFilter* multiplexer_ = nullptr;
  IBaseFilter* streamer_ = nullptr;
  LONG live_ = 0;
  LONG runPending_ = 0;
  LONG previewMode_ = 0;
  LONG previewType_ = 2;
  DWORD version_[3] = {300, 0, 113};
  time_t startTime_ = 0;
  BITMAPINFOHEADER stillHeader_ = {};
  std::vector<BYTE> stillPixels_;
  float sourceFrameRate_ = 0.0f;
  // Room for the streamer's stream table: seven entries of 96 bytes.
  BYTE streamTable_[7 * 96] = {};
  struct StreamTableHeader {
    BYTE* first;
    LONG count;
  } streamTableHeader_ = {streamTable_, 0};

  friend class CImpIKRMediaGraph;
};

}  // namespace mediaengine
