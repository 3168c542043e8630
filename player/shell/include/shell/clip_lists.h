// The player's two clip lists in its data folder ("KRData"): the favourites
// (Favorites.dat, string 60168), which the user adds, renames and deletes,
// and the recently played clips (History.dat, string 60167), at most 10,
// most recent first. Both files are a plain sequence of records (see
// shell/portable/clip_list.h). FavoritesStore works on its file for every
// operation; HistoryStore reads its file once, keeps the list in memory and
// writes it back, from its destructor, when it changed. User-interface
// thread; each call opens and closes its file without sharing it.
#pragma once

#include <windows.h>

#include <cstdint>

#include "shell/portable/clip_list.h"

// One clip as the stores and the Clips sheet keep it: the file record's kind
// byte, title and address, each terminated (so at most 255 units).
struct ClipRecord {
  uint32_t kind;
  wchar_t title[shell::kClipTextCapacity];
  wchar_t address[shell::kClipTextCapacity];
};
static_assert(sizeof(ClipRecord) == 1028, "one clip record is 1028 bytes");

// The data folder's file of string id (the "KRData" setting ends with a
// separator); false when the setting or the string is missing.
bool ClipListPath(HINSTANCE instance, UINT fileNameId, wchar_t* path, size_t capacity);

class FavoritesStore {
 public:
  FavoritesStore();
  virtual ~FavoritesStore();
  FavoritesStore(const FavoritesStore&) = delete;
  FavoritesStore& operator=(const FavoritesStore&) = delete;

  // Reads every record of the file into a new array (the previous one is
  // freed); the count, 0 when the file cannot be opened.
  int Read();
  // The array of the last Read (count + 1 records), or null.
  ClipRecord* Records() { return records_; }
  int Count() const { return count_; }

  // Appends a favourite; an empty title is stored as string 60110. A
  // favourite of the same title is replaced only when the user answers Yes
  // (string 60116). 1 added, 0 not.
  int Add(uint32_t kind, const wchar_t* address, const wchar_t* title);
  // Removes the first favourite of that title (messages 50031, 50030 when
  // the file or the title is missing).
  void Delete(const wchar_t* title);
  // Gives a favourite a new title: 0 when another favourite has it (message
  // 60125), the new title is empty, or the file cannot be opened; 1
  // otherwise, also when no favourite has the old title (nothing changes).
  int Rename(const wchar_t* oldTitle, const wchar_t* newTitle);

 private:
  ClipRecord* records_ = nullptr;
  int count_ = 0;
  HWND owner_;
  HINSTANCE instance_;
};

class HistoryStore {
 public:
  static constexpr int kCapacity = 10;

  // Reads History.dat.
  HistoryStore();
  // Writes History.dat when the list changed.
  virtual ~HistoryStore();
  HistoryStore(const HistoryStore&) = delete;
  HistoryStore& operator=(const HistoryStore&) = delete;

  // Loads up to 10 records; the count.
  int Read();
  // Writes the list and cuts the file behind its last record.
  void Write();
  // Puts a clip at the front (an address already listed moves there, and a
  // kind-2 clip takes the new title); an empty title adds nothing.
  void Add(uint32_t kind, const wchar_t* address, const wchar_t* title);

  ClipRecord* Records() { return records_; }
  int Count() const { return count_; }
  bool Modified() const { return modified_; }

 private:
  ClipRecord records_[kCapacity] = {};
  HWND owner_;
  HINSTANCE instance_;
  int count_ = 0;
  bool modified_ = false;
};
