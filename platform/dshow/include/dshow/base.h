// Our own DirectShow base classes: the COM object and non-delegating
// unknown, locks, media types, base filter and pins, the transform filter,
// the memory allocator and sample, the class factory and the DLL entry points
// with registration through IFilterMapper2. Written from what our filters
// need; the class names are the ones DirectShow filters are written against.
#pragma once

#include <windows.h>
#include <objbase.h>
#include <strmif.h>
#include <uuids.h>
#include <vfwmsgs.h>
#include <mmreg.h>

#include <vector>

// ---- locks -------------------------------------------------------------

class CCritSec {
 public:
  CCritSec() { InitializeCriticalSection(&cs_); }
  ~CCritSec() { DeleteCriticalSection(&cs_); }
  CCritSec(const CCritSec&) = delete;
  CCritSec& operator=(const CCritSec&) = delete;
  void Lock() { EnterCriticalSection(&cs_); }
  void Unlock() { LeaveCriticalSection(&cs_); }

 private:
  CRITICAL_SECTION cs_;
};

class CAutoLock {
 public:
  explicit CAutoLock(CCritSec* lock) : lock_(lock) { lock_->Lock(); }
  ~CAutoLock() { lock_->Unlock(); }
  CAutoLock(const CAutoLock&) = delete;
  CAutoLock& operator=(const CAutoLock&) = delete;

 private:
  CCritSec* lock_;
};

// ---- COM object base ---------------------------------------------------

struct INonDelegatingUnknown {
  virtual HRESULT STDMETHODCALLTYPE NonDelegatingQueryInterface(REFIID riid, void** ppv) = 0;
  virtual ULONG STDMETHODCALLTYPE NonDelegatingAddRef() = 0;
  virtual ULONG STDMETHODCALLTYPE NonDelegatingRelease() = 0;
};

// Counts every live object of the module, for DllCanUnloadNow.
class CBaseObject {
 public:
  explicit CBaseObject(const char* name);
  virtual ~CBaseObject();
  CBaseObject(const CBaseObject&) = delete;
  CBaseObject& operator=(const CBaseObject&) = delete;
  static LONG ObjectsActive();

 protected:
  const char* m_pName;
};

// A COM object that can be aggregated: the outer unknown receives the
// delegating calls; NonDelegating* are the object's own.
class CUnknown : public INonDelegatingUnknown, public CBaseObject {
 public:
  CUnknown(const char* name, LPUNKNOWN outer);
  ~CUnknown() override = default;
  HRESULT STDMETHODCALLTYPE NonDelegatingQueryInterface(REFIID riid, void** ppv) override;
  ULONG STDMETHODCALLTYPE NonDelegatingAddRef() override;
  ULONG STDMETHODCALLTYPE NonDelegatingRelease() override;
  LPUNKNOWN GetOwner() const { return m_pUnknown; }

 protected:
  volatile LONG m_cRef;

 private:
  LPUNKNOWN m_pUnknown;
};

// Hands out an interface with a reference added.
HRESULT GetInterface(LPUNKNOWN unk, void** ppv);

// A counted object that implements one interface (enumerators, the class
// factory): IUnknown for it, deleted on its last release.
template <class I, const IID* Iid>
class CSingleInterface : public I, public CBaseObject {
 public:
  explicit CSingleInterface(const char* name) : CBaseObject(name), m_cRef(1) {}
  STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override {
    if (!ppv) return E_POINTER;
    if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, *Iid)) return GetInterface(this, ppv);
    *ppv = nullptr;
    return E_NOINTERFACE;
  }
  STDMETHODIMP_(ULONG) AddRef() override { return static_cast<ULONG>(InterlockedIncrement(&m_cRef)); }
  STDMETHODIMP_(ULONG) Release() override {
    LONG n = InterlockedDecrement(&m_cRef);
    if (n == 0) delete this;
    return static_cast<ULONG>(n);
  }

 private:
  volatile LONG m_cRef;
};

// A new[]-allocated copy of a wide string (empty for null).
WCHAR* CopyWideString(LPCWSTR text);

#define DECLARE_IUNKNOWN                                                                   \
  STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override {                         \
    return GetOwner()->QueryInterface(riid, ppv);                                          \
  }                                                                                        \
  STDMETHODIMP_(ULONG) AddRef() override { return GetOwner()->AddRef(); }                 \
  STDMETHODIMP_(ULONG) Release() override { return GetOwner()->Release(); }

// ---- media types -------------------------------------------------------

void FreeMediaType(AM_MEDIA_TYPE& mt);
void DeleteMediaType(AM_MEDIA_TYPE* mt);
HRESULT CopyMediaType(AM_MEDIA_TYPE* target, const AM_MEDIA_TYPE* source);
AM_MEDIA_TYPE* CreateMediaType(const AM_MEDIA_TYPE* source);

// An AM_MEDIA_TYPE that owns its format block.
class CMediaType : public AM_MEDIA_TYPE {
 public:
  CMediaType();
  CMediaType(const AM_MEDIA_TYPE& other);
  CMediaType(const CMediaType& other);
  ~CMediaType();
  CMediaType& operator=(const AM_MEDIA_TYPE& other);
  CMediaType& operator=(const CMediaType& other);
  bool operator==(const CMediaType& other) const;
  bool operator!=(const CMediaType& other) const { return !(*this == other); }
  bool IsValid() const { return !IsEqualGUID(majortype, GUID_NULL); }
  const GUID* Type() const { return &majortype; }
  const GUID* Subtype() const { return &subtype; }
  const GUID* FormatType() const { return &formattype; }
  BYTE* Format() const { return pbFormat; }
  ULONG FormatLength() const { return cbFormat; }
  void SetType(const GUID* t) { majortype = *t; }
  void SetSubtype(const GUID* t) { subtype = *t; }
  void SetFormatType(const GUID* t) { formattype = *t; }
  void SetSampleSize(ULONG size);
  void SetVariableSize() { bFixedSizeSamples = FALSE; }
  void SetTemporalCompression(BOOL on) { bTemporalCompression = on; }
  // Allocates (or resizes) the format block; null when out of memory.
  BYTE* AllocFormatBuffer(ULONG length);
  bool SetFormat(const BYTE* format, ULONG length);
  void InitMediaType();
  bool MatchesPartial(const CMediaType* partial) const;
  bool IsPartiallySpecified() const;
};

// ---- registration data -------------------------------------------------

typedef REGPINTYPES AMOVIESETUP_MEDIATYPE;
typedef REGFILTERPINS AMOVIESETUP_PIN;
struct AMOVIESETUP_FILTER {
  const CLSID* clsID;
  const WCHAR* strName;
  DWORD dwMerit;
  UINT nPins;
  const AMOVIESETUP_PIN* lpPin;
};

// ---- filter and pins ---------------------------------------------------

class CBasePin;

class CBaseFilter : public CUnknown, public IBaseFilter, public IAMovieSetup {
 public:
  CBaseFilter(const char* name, LPUNKNOWN outer, CCritSec* lock, REFCLSID clsid);
  ~CBaseFilter() override;
  DECLARE_IUNKNOWN
  STDMETHODIMP NonDelegatingQueryInterface(REFIID riid, void** ppv) override;

  // IPersist
  STDMETHODIMP GetClassID(CLSID* clsid) override;
  // IMediaFilter
  STDMETHODIMP Stop() override;
  STDMETHODIMP Pause() override;
  STDMETHODIMP Run(REFERENCE_TIME start) override;
  STDMETHODIMP GetState(DWORD timeoutMs, FILTER_STATE* state) override;
  STDMETHODIMP SetSyncSource(IReferenceClock* clock) override;
  STDMETHODIMP GetSyncSource(IReferenceClock** clock) override;
  // IBaseFilter
  STDMETHODIMP EnumPins(IEnumPins** e) override;
  STDMETHODIMP FindPin(LPCWSTR id, IPin** pin) override;
  STDMETHODIMP QueryFilterInfo(FILTER_INFO* info) override;
  STDMETHODIMP JoinFilterGraph(IFilterGraph* graph, LPCWSTR name) override;
  STDMETHODIMP QueryVendorInfo(LPWSTR* info) override;
  // IAMovieSetup
  STDMETHODIMP Register() override;
  STDMETHODIMP Unregister() override;

  virtual int GetPinCount() = 0;
  virtual CBasePin* GetPin(int n) = 0;
  virtual const AMOVIESETUP_FILTER* GetSetupData() { return nullptr; }
  HRESULT NotifyEvent(long code, LONG_PTR p1, LONG_PTR p2);
  bool IsStopped() const { return m_State == State_Stopped; }
  bool IsActive() const { return m_State != State_Stopped; }
  IFilterGraph* GetFilterGraph() const { return m_pGraph; }
  LONG IncrementPinVersion() { return InterlockedIncrement(&m_PinVersion); }
  LONG GetPinVersion() const { return m_PinVersion; }

 protected:
  FILTER_STATE m_State;
  IReferenceClock* m_pClock;
  REFERENCE_TIME m_tStart;
  CLSID m_clsid;
  CCritSec* m_pLock;
  WCHAR* m_pName;
  IFilterGraph* m_pGraph;      // not referenced: the graph owns us
  IMediaEventSink* m_pSink;    // not referenced, as the graph
  volatile LONG m_PinVersion;
};

class CBasePin : public CUnknown, public IPin, public IQualityControl {
 public:
  CBasePin(const char* objectName, CBaseFilter* filter, CCritSec* lock, HRESULT* hr, LPCWSTR name,
           PIN_DIRECTION dir);
  ~CBasePin() override;
  // Pins live as long as their filter: references go to the filter.
  STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override { return NonDelegatingQueryInterface(riid, ppv); }
  STDMETHODIMP_(ULONG) AddRef() override;
  STDMETHODIMP_(ULONG) Release() override;
  STDMETHODIMP NonDelegatingQueryInterface(REFIID riid, void** ppv) override;

  // IPin
  STDMETHODIMP Connect(IPin* receive, const AM_MEDIA_TYPE* mt) override;
  STDMETHODIMP ReceiveConnection(IPin* connector, const AM_MEDIA_TYPE* mt) override;
  STDMETHODIMP Disconnect() override;
  STDMETHODIMP ConnectedTo(IPin** pin) override;
  STDMETHODIMP ConnectionMediaType(AM_MEDIA_TYPE* mt) override;
  STDMETHODIMP QueryPinInfo(PIN_INFO* info) override;
  STDMETHODIMP QueryDirection(PIN_DIRECTION* dir) override;
  STDMETHODIMP QueryId(LPWSTR* id) override;
  STDMETHODIMP QueryAccept(const AM_MEDIA_TYPE* mt) override;
  STDMETHODIMP EnumMediaTypes(IEnumMediaTypes** e) override;
  STDMETHODIMP QueryInternalConnections(IPin** pins, ULONG* n) override;
  STDMETHODIMP EndOfStream() override { return S_OK; }
  STDMETHODIMP BeginFlush() override = 0;
  STDMETHODIMP EndFlush() override = 0;
  STDMETHODIMP NewSegment(REFERENCE_TIME start, REFERENCE_TIME stop, double rate) override;
  // IQualityControl
  STDMETHODIMP Notify(IBaseFilter*, Quality) override { return E_NOTIMPL; }
  STDMETHODIMP SetSink(IQualityControl*) override { return S_OK; }

  virtual HRESULT CheckMediaType(const CMediaType* mt) = 0;
  virtual HRESULT SetMediaType(const CMediaType* mt);
  virtual HRESULT GetMediaType(int position, CMediaType* mt);
  virtual HRESULT CheckConnect(IPin* pin);
  virtual HRESULT BreakConnect() { return S_OK; }
  virtual HRESULT CompleteConnect(IPin*) { return S_OK; }
  virtual HRESULT Active() { return S_OK; }
  virtual HRESULT Inactive() { return S_OK; }

  bool IsConnected() const { return m_Connected != nullptr; }
  IPin* GetConnected() const { return m_Connected; }
  const CMediaType& CurrentMediaType() const { return m_mt; }
  LPCWSTR Name() const { return m_pName; }
  CBaseFilter* Filter() const { return m_pFilter; }

 protected:
  HRESULT AttemptConnection(IPin* receive, const CMediaType* mt);
  HRESULT TryMediaTypes(IPin* receive, const CMediaType* partial, IEnumMediaTypes* e);
  HRESULT AgreeMediaType(IPin* receive, const CMediaType* partial);
  void ClearConnection();

  WCHAR* m_pName;
  IPin* m_Connected;
  PIN_DIRECTION m_dir;
  CCritSec* m_pLock;
  CBaseFilter* m_pFilter;
  CMediaType m_mt;
  REFERENCE_TIME m_tStart, m_tStop;
  double m_dRate;
};

class CBaseInputPin : public CBasePin, public IMemInputPin {
 public:
  CBaseInputPin(const char* objectName, CBaseFilter* filter, CCritSec* lock, HRESULT* hr, LPCWSTR name);
  ~CBaseInputPin() override;
  STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override { return NonDelegatingQueryInterface(riid, ppv); }
  STDMETHODIMP_(ULONG) AddRef() override { return CBasePin::AddRef(); }
  STDMETHODIMP_(ULONG) Release() override { return CBasePin::Release(); }
  STDMETHODIMP NonDelegatingQueryInterface(REFIID riid, void** ppv) override;

  // IMemInputPin
  STDMETHODIMP GetAllocator(IMemAllocator** allocator) override;
  STDMETHODIMP NotifyAllocator(IMemAllocator* allocator, BOOL readOnly) override;
  STDMETHODIMP GetAllocatorRequirements(ALLOCATOR_PROPERTIES* props) override;
  STDMETHODIMP Receive(IMediaSample* sample) override;
  STDMETHODIMP ReceiveMultiple(IMediaSample** samples, long n, long* processed) override;
  STDMETHODIMP ReceiveCanBlock() override { return S_OK; }

  STDMETHODIMP BeginFlush() override;
  STDMETHODIMP EndFlush() override;
  STDMETHODIMP EndOfStream() override;
  HRESULT BreakConnect() override;
  HRESULT Inactive() override;
  // S_OK when a sample may be received now.
  virtual HRESULT CheckStreaming();
  bool IsFlushing() const { return m_bFlushing; }

 protected:
  IMemAllocator* m_pAllocator;
  BOOL m_bReadOnly;
  volatile BOOL m_bFlushing;
  BOOL m_bRunTimeError;
  AM_SAMPLE2_PROPERTIES m_SampleProps;
};

class CBaseOutputPin : public CBasePin {
 public:
  CBaseOutputPin(const char* objectName, CBaseFilter* filter, CCritSec* lock, HRESULT* hr, LPCWSTR name);
  ~CBaseOutputPin() override;
  HRESULT CompleteConnect(IPin* receive) override;
  HRESULT CheckConnect(IPin* pin) override;
  HRESULT BreakConnect() override;
  HRESULT Active() override;
  HRESULT Inactive() override;
  STDMETHODIMP BeginFlush() override { return E_UNEXPECTED; }
  STDMETHODIMP EndFlush() override { return E_UNEXPECTED; }
  STDMETHODIMP EndOfStream() override { return E_UNEXPECTED; }

  virtual HRESULT DecideAllocator(IMemInputPin* pin, IMemAllocator** allocator);
  virtual HRESULT DecideBufferSize(IMemAllocator* allocator, ALLOCATOR_PROPERTIES* request) = 0;
  virtual HRESULT InitAllocator(IMemAllocator** allocator);
  virtual HRESULT GetDeliveryBuffer(IMediaSample** sample, REFERENCE_TIME* start, REFERENCE_TIME* stop,
                                    DWORD flags);
  virtual HRESULT Deliver(IMediaSample* sample);
  virtual HRESULT DeliverEndOfStream();
  virtual HRESULT DeliverBeginFlush();
  virtual HRESULT DeliverEndFlush();
  virtual HRESULT DeliverNewSegment(REFERENCE_TIME start, REFERENCE_TIME stop, double rate);

 protected:
  IMemAllocator* m_pAllocator;
  IMemInputPin* m_pInputPin;
};

// ---- transform filter --------------------------------------------------

class CTransformFilter;

class CTransformInputPin : public CBaseInputPin {
 public:
  CTransformInputPin(const char* objectName, CTransformFilter* filter, HRESULT* hr, LPCWSTR name);
  STDMETHODIMP QueryId(LPWSTR* id) override;
  HRESULT CheckConnect(IPin* pin) override;
  HRESULT BreakConnect() override;
  HRESULT CompleteConnect(IPin* receive) override;
  HRESULT CheckMediaType(const CMediaType* mt) override;
  HRESULT SetMediaType(const CMediaType* mt) override;
  STDMETHODIMP Receive(IMediaSample* sample) override;
  STDMETHODIMP EndOfStream() override;
  STDMETHODIMP BeginFlush() override;
  STDMETHODIMP EndFlush() override;
  STDMETHODIMP NewSegment(REFERENCE_TIME start, REFERENCE_TIME stop, double rate) override;
  HRESULT CheckStreaming() override;

 protected:
  CTransformFilter* m_pTransformFilter;
};

class CTransformOutputPin : public CBaseOutputPin {
 public:
  CTransformOutputPin(const char* objectName, CTransformFilter* filter, HRESULT* hr, LPCWSTR name);
  STDMETHODIMP QueryId(LPWSTR* id) override;
  HRESULT CheckConnect(IPin* pin) override;
  HRESULT BreakConnect() override;
  HRESULT CompleteConnect(IPin* receive) override;
  HRESULT DecideBufferSize(IMemAllocator* allocator, ALLOCATOR_PROPERTIES* request) override;
  HRESULT CheckMediaType(const CMediaType* mt) override;
  HRESULT SetMediaType(const CMediaType* mt) override;
  HRESULT GetMediaType(int position, CMediaType* mt) override;
  IMemAllocator* Allocator() const { return m_pAllocator; }

 protected:
  CTransformFilter* m_pTransformFilter;
};

class CTransformFilter : public CBaseFilter {
 public:
  CTransformFilter(const char* name, LPUNKNOWN outer, REFCLSID clsid);
  ~CTransformFilter() override;

  int GetPinCount() override { return 2; }
  CBasePin* GetPin(int n) override;
  STDMETHODIMP FindPin(LPCWSTR id, IPin** pin) override;
  STDMETHODIMP Stop() override;
  STDMETHODIMP Pause() override;

  // What a transform filter decides.
  virtual HRESULT Transform(IMediaSample* in, IMediaSample* out);
  virtual HRESULT CheckInputType(const CMediaType* in) = 0;
  virtual HRESULT CheckTransform(const CMediaType* in, const CMediaType* out) = 0;
  virtual HRESULT DecideBufferSize(IMemAllocator* allocator, ALLOCATOR_PROPERTIES* request) = 0;
  virtual HRESULT GetMediaType(int position, CMediaType* mt) = 0;
  virtual HRESULT StartStreaming() { return S_OK; }
  virtual HRESULT StopStreaming() { return S_OK; }
  virtual HRESULT CheckConnect(PIN_DIRECTION, IPin*) { return S_OK; }
  virtual HRESULT BreakConnect(PIN_DIRECTION) { return S_OK; }
  virtual HRESULT CompleteConnect(PIN_DIRECTION, IPin*) { return S_OK; }
  virtual HRESULT SetMediaType(PIN_DIRECTION, const CMediaType*) { return S_OK; }
  virtual HRESULT Receive(IMediaSample* sample);
  virtual HRESULT EndOfStream();
  virtual HRESULT BeginFlush();
  virtual HRESULT EndFlush();
  virtual HRESULT NewSegment(REFERENCE_TIME start, REFERENCE_TIME stop, double rate);

  CCritSec* pStateLock() { return &m_csFilter; }

 protected:
  HRESULT InitializeOutputSample(IMediaSample* in, IMediaSample** out);

  BOOL m_bEOSDelivered;
  BOOL m_bSampleSkipped;
  BOOL m_bQualityChanged;
  CCritSec m_csFilter;   // the filter lock: state changes and connections
  CCritSec m_csReceive;  // the streaming lock: one sample at a time, and Stop
  CTransformInputPin* m_pInput;
  CTransformOutputPin* m_pOutput;

  friend class CTransformInputPin;
  friend class CTransformOutputPin;
};

// ---- allocator and sample ----------------------------------------------

class CMemAllocator;

class CMediaSample : public IMediaSample2 {
 public:
  CMediaSample(CMemAllocator* allocator, BYTE* buffer, LONG size);
  virtual ~CMediaSample();
  CMediaSample(const CMediaSample&) = delete;
  CMediaSample& operator=(const CMediaSample&) = delete;

  STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override;
  STDMETHODIMP_(ULONG) AddRef() override;
  STDMETHODIMP_(ULONG) Release() override;
  STDMETHODIMP GetPointer(BYTE** buffer) override;
  STDMETHODIMP_(long) GetSize() override { return m_cbBuffer; }
  STDMETHODIMP GetTime(REFERENCE_TIME* start, REFERENCE_TIME* end) override;
  STDMETHODIMP SetTime(REFERENCE_TIME* start, REFERENCE_TIME* end) override;
  STDMETHODIMP IsSyncPoint() override;
  STDMETHODIMP SetSyncPoint(BOOL on) override;
  STDMETHODIMP IsPreroll() override;
  STDMETHODIMP SetPreroll(BOOL on) override;
  STDMETHODIMP_(long) GetActualDataLength() override { return m_lActual; }
  STDMETHODIMP SetActualDataLength(long length) override;
  STDMETHODIMP GetMediaType(AM_MEDIA_TYPE** mt) override;
  STDMETHODIMP SetMediaType(AM_MEDIA_TYPE* mt) override;
  STDMETHODIMP IsDiscontinuity() override;
  STDMETHODIMP SetDiscontinuity(BOOL on) override;
  STDMETHODIMP GetMediaTime(LONGLONG* start, LONGLONG* end) override;
  STDMETHODIMP SetMediaTime(LONGLONG* start, LONGLONG* end) override;
  STDMETHODIMP GetProperties(DWORD size, BYTE* props) override;
  STDMETHODIMP SetProperties(DWORD size, const BYTE* props) override;

  void Reset();

 private:
  friend class CMemAllocator;
  CMemAllocator* m_pAllocator;
  volatile LONG m_cRef;
  BYTE* m_pBuffer;
  LONG m_cbBuffer;
  LONG m_lActual;
  DWORD m_dwFlags;      // AM_SAMPLE_* flags
  DWORD m_dwTypeSpecificFlags;
  DWORD m_dwStreamId;
  REFERENCE_TIME m_Start, m_End;
  LONGLONG m_MediaStart, m_MediaEnd;
  BOOL m_bMediaTimeValid;
  AM_MEDIA_TYPE* m_pMediaType;
};

class CMemAllocator : public CUnknown, public IMemAllocator {
 public:
  CMemAllocator(const char* name, LPUNKNOWN outer, HRESULT* hr);
  ~CMemAllocator() override;
  DECLARE_IUNKNOWN
  STDMETHODIMP NonDelegatingQueryInterface(REFIID riid, void** ppv) override;
  STDMETHODIMP SetProperties(ALLOCATOR_PROPERTIES* request, ALLOCATOR_PROPERTIES* actual) override;
  STDMETHODIMP GetProperties(ALLOCATOR_PROPERTIES* props) override;
  STDMETHODIMP Commit() override;
  STDMETHODIMP Decommit() override;
  STDMETHODIMP GetBuffer(IMediaSample** sample, REFERENCE_TIME* start, REFERENCE_TIME* end, DWORD flags) override;
  STDMETHODIMP ReleaseBuffer(IMediaSample* sample) override;

 private:
  void FreeSamples();
  CCritSec m_Lock;
  HANDLE m_hFree;  // signalled while a sample is free or the allocator is decommitted
  std::vector<CMediaSample*> m_free;
  std::vector<CMediaSample*> m_all;
  BYTE* m_pBuffer;
  ALLOCATOR_PROPERTIES m_props;
  BOOL m_bCommitted;
  BOOL m_bDecommitPending;
  LONG m_lOutstanding;
};

// ---- class factory and DLL entry points --------------------------------

typedef CUnknown* (WINAPI* LPFNNewCOMObject)(LPUNKNOWN outer, HRESULT* hr);
typedef void (*LPFNInitRoutine)(BOOL loading, const CLSID* clsid);

struct CFactoryTemplate {
  const WCHAR* m_Name;
  const CLSID* m_ClsID;
  LPFNNewCOMObject m_lpfnNew;
  LPFNInitRoutine m_lpfnInit;
  const AMOVIESETUP_FILTER* m_pAMovieSetup_Filter;
};

// Each DLL built on this layer defines its templates.
extern CFactoryTemplate g_Templates[];
extern int g_cTemplates;

// Registers (TRUE) or unregisters (FALSE) every template of the module: the
// COM class keys and, for templates with setup data, the filter mapper entry.
STDAPI AMovieDllRegisterServer2(BOOL doRegister);
