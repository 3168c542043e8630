// The live stream server's controller, created by the host through
// CreateKRStreamInstance and driven by messages into its queue; it answers
// into the host's queue named in the session record.
#pragma once

#include <winsock2.h>  // before windows.h, for whoever includes both
#include <windows.h>

#include "flumera/athread.h"
#include "flumera/flumera_api.h"
#include "flumera/msg_data_list.h"

// Host-owned records.
struct _tagPRODUCTCONFIGINFO {
  unsigned long maxClientsPerListener;  // SETUP beyond it gets 503
  unsigned long listenerPorts;          // one listener thread per port
  unsigned long maxFramedClients;       // kind-1 clients served at once
  unsigned long clientKinds;            // bit 0 kind 1, bit 1 kind 2 (device)
  unsigned long admissionFlags;         // low byte: hold kind-1 SETUPs; second byte: ask the host for kind 2
};
static_assert(sizeof(_tagPRODUCTCONFIGINFO) == 20, "shared with the host");

struct _tagSYSTEMPARAMETERS {
  unsigned long winsockMajor, winsockMinor;
  unsigned long silenceMs;  // a client that is not playing may stay silent this long
  unsigned long monitorInterval, monitorCount;
};
static_assert(sizeof(_tagSYSTEMPARAMETERS) == 20, "shared with the host");

constexpr int kMaxListenerPorts = 8;
constexpr unsigned long kMaxTracks = 8;  // packetizer slots, one per track

struct KRTrackRecord {
  unsigned long kind;  // 1, 2 video base and second layer; 3 AMR; 4 EVRC; 5 AAC
  unsigned char randomAccess;
  unsigned char pad0[3];
  unsigned long bitRate;
  unsigned long audioTimeScale;
  unsigned char versionMinor, versionMajor;
  unsigned short configLength;
  unsigned char config[64];
  unsigned long payloadNumber;
  unsigned long trackId;
  unsigned long reserved;
};
static_assert(sizeof(KRTrackRecord) == 96, "shared with the host");

struct KRTrackTable {
  KRTrackRecord* tracks;
  unsigned long count;
};

struct _tagSESSIONINFO {
  unsigned long rtspPorts[kMaxListenerPorts];
  unsigned long udpPort1;  // registration channel
  unsigned long udpPort2;  // keep-alive channel
  MsgDataList* appQueue;   // the host's reply queue
  HANDLE appEvent;         // set after queuing into it
  wchar_t outputFileName[MAX_PATH];
  wchar_t archiveName[MAX_PATH];
  unsigned long sessionNumber;  // written at Prime
  wchar_t version[256], title[256], information[256], author[256], copyright[256], rating[256];
  long frameWidth, frameHeight;
  float frameRateBase, frameRateSecond;
  unsigned long outputMask;  // bit 0 UDP/RTP sender, bit 1 TCP sender, bit 2 archive
  unsigned long mediaMask;   // bit 0 audio, bit 1 MPEG-4 video, bit 2 still image
  unsigned long secondLayer;
  unsigned long totalBitRate;
  unsigned char* stillImage;
  unsigned char stillHeader[64];
  unsigned long stillHeaderLength, stillImageLength, stillTrackId;
  unsigned char downloadFlag, randomAccessFlag, videoOnlyAllowed, requirements2;
  unsigned short iFrameInterval;
  unsigned long decodeBufferSize;
  unsigned char versionMinor, versionMajor;
  KRTrackTable* trackTable;
};

enum KRStreamStates {
  KRS_ERROR = 0,
  KRS_CONFIG = 1,
  KRS_PRIME = 2,
  KRS_PLAY = 3,
  KRS_PAUSE = 4,
  KRS_STOPALL = 5,
};

enum StreamReplyCode {
  KR_RESULT_OK = 0,
  KR_RESULT_WRONG_STATE = 100,
  KR_RESULT_EXCEPTION = 102,
};

// Media buffer tags: the last byte inside the buffer's counted length.
constexpr unsigned char kVideoBufferTag = 255;
constexpr unsigned char kAudioBufferTag = 238;

struct KRStreamException {
  long error;  // Winsock or socket error code
  char file[MAX_PATH];
  long line;   // 903 a listener port, 923 the first UDP port, 932 the second
};

class ServerParts;  // listeners, UDP channels, monitor, outputs
class KRFlumera;
struct DESTLISTITEM;

extern "C" {
// 0 created; 1 Winsock could not start; 2 Winsock version mismatch;
// 3 the product record asks for more listener ports than the session record holds.
FLUMERA_API int __stdcall CreateKRStreamInstance(const _tagPRODUCTCONFIGINFO* product,
                                                 const _tagSYSTEMPARAMETERS* system, KRFlumera** out);
FLUMERA_API int __stdcall ReleaseKRStream(KRFlumera* controller);
}

class FLUMERA_API KRFlumera : public AThread {
 public:
  ~KRFlumera() override;

  // Queues a message for the controller thread (media are dropped while
  // stopping).
  long SendMsgToMe(KRStreamMsgTypes type, MsgPriority priority, unsigned char* data, int length,
                   unsigned long extra);

  unsigned char* GetVideoMem(unsigned long size);
  unsigned char* GetAudioMem(int size);
  void FreeVideoMem(unsigned char* p);
  void FreeAudioMem(unsigned char* p);

  KRStreamStates GetCurState();
  void SetCurState(KRStreamStates state);
  const _tagPRODUCTCONFIGINFO* GetProdConfigInfo() const { return &product_; }
  const _tagSYSTEMPARAMETERS* GetSystemParameters() const { return &system_; }
  _tagSESSIONINFO* GetSessionInfo() const { return session_; }
  const KRStreamException* GetException() const { return hasException_ ? &exception_ : nullptr; }
  long GetInstanceNumber() const { return instance_; }

  // Used inside the server.
  void SendMsgToApp(KRStreamMsgTypes type, unsigned char* data, int length, unsigned long extra);
  // Client identifiers: a counter, never a record's address.
  unsigned long NextClientId();
  // Frees a media buffer to the heap its tag names; false (not freed) when the
  // tag names neither heap or the length leaves no tag.
  bool FreeMediaBuffer(unsigned char* data, int length);
  // The deferred SETUP answer after the host's verdict.
  void ReplyThisClient(DESTLISTITEM* client, bool admit);
  ServerParts* Parts() const { return parts_; }
  // Moves the state unless the controller is stopping, in error or in
  // Config (the server's own moves between Prime, Play and Pause).
  bool MoveState(KRStreamStates to);
  // A client's PLAY after its PAUSE: Play again, the sender running.
  void ResumeByClient();
  // The first admitted client starts the outputs that wait for one.
  void StartOutputsOnAdmission(bool device);

 private:
  friend class KRFlumeraFactory;  // CreateKRStreamInstance's maker
  KRFlumera(const _tagPRODUCTCONFIGINFO* product, const _tagSYSTEMPARAMETERS* system);
  bool Start();

  bool AppMsgDataHandler();
  void Mpeg4Handler(MsgItem* item);
  void PrimeHandler(MsgItem* item);
  void PlayHandler(MsgItem* item);
  void StopHandler(MsgItem* item);
  void PauseHandler(MsgItem* item);
  void SecurityHandler(MsgItem* item);
  void Reply(MsgItem* item, unsigned long result);
  void ConfigToPrime();
  void PrimeToPlay();
  void StopAll();
  void DiscardItem(MsgItem* item);
  MsgItem* CopyMediaItem(const MsgItem* item);

  KRStreamStates state_ = KRS_CONFIG;
  CRITICAL_SECTION stateLock_;
  _tagPRODUCTCONFIGINFO product_;
  _tagSYSTEMPARAMETERS system_ = {};
  _tagSESSIONINFO* session_ = nullptr;
  unsigned long sessionCounter_ = 0;
  MsgDataList queue_;
  HANDLE queueEvent_ = nullptr;
  ServerParts* parts_ = nullptr;
  KRStreamException exception_ = {};
  bool hasException_ = false;
  HANDLE videoHeap_ = nullptr;
  HANDLE audioHeap_ = nullptr;
  long instance_ = 0;
  volatile long nextClientId_ = 0;
};
