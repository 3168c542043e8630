// The engine's numbered parameters mapped onto the live server's records
// (product, system, session, track table); the table is in the README.
#pragma once

#include <string>
#include <vector>

#include "flumera/kr_flumera.h"

constexpr int kMaxStreamerTracks = 8;

// The records handed to the server; they stay where they are while it uses
// them (the session and its track table point into this object).
struct SessionRecords {
  _tagPRODUCTCONFIGINFO product;
  _tagSYSTEMPARAMETERS system;
  _tagSESSIONINFO session;
  KRTrackRecord tracks[kMaxStreamerTracks];
  KRTrackTable table;
  std::vector<unsigned char> still;
};

class SessionBuilder {
 public:
  SessionBuilder();
  // S_OK taken, S_FALSE an unknown id (ignored), E_POINTER a pointer
  // parameter without its pointer.
  HRESULT SetParam(ULONG id, LONG_PTR value, ULONG size);
  // Fills out (which must not move afterwards).
  void Build(SessionRecords* out) const;
  // The last line describing a parameter, for the log.
  const std::string& LastDescription() const { return description_; }

 private:
  void Text(wchar_t* field, size_t capacity, LONG_PTR value, ULONG size);
  void SetAdmissionByte(int shift, bool on);
  void Tracks(LONG_PTR value);
  void Layers(LONG_PTR value);

  SessionRecords r_;  // pointers not set
  int trackCount_ = 0;
  unsigned char layerConfig_[2][64] = {};
  unsigned short layerConfigLength_[2] = {};
  bool haveLayers_ = false;
  unsigned short version_ = 0;
  std::string description_;
};
