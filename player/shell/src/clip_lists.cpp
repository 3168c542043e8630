#include "shell/clip_lists.h"

#include <cwchar>
#include <string>
#include <vector>

#include "dialog_support.h"
#include "shell/messages.h"
#include "shell/portable/message_text.h"
#include "shell/portable/settings_values.h"
#include "shell/settings_store.h"
#include "shell/win_api_table.h"

namespace {

constexpr UINT kFavoritesFileId = 60168;
constexpr UINT kHistoryFileId = 60167;
constexpr UINT kUntitledId = 60110;

// One clip list file of the data folder, opened without sharing and closed
// with the object.
class ListFile {
 public:
  ListFile(HINSTANCE instance, UINT fileNameId, DWORD access, DWORD disposition) {
    wchar_t path[MAX_PATH];
    handle_ = ClipListPath(instance, fileNameId, path, MAX_PATH)
                  ? WinApi().CreateFileW(path, access, 0, nullptr, disposition, FILE_ATTRIBUTE_NORMAL, nullptr)
                  : INVALID_HANDLE_VALUE;
  }
  ~ListFile() {
    if (Open()) CloseHandle(handle_);
  }
  ListFile(const ListFile&) = delete;
  ListFile& operator=(const ListFile&) = delete;

  bool Open() const { return handle_ != INVALID_HANDLE_VALUE; }

  // Bytes read (fewer at the end of the file).
  DWORD Read(void* out, DWORD bytes) {
    DWORD got = 0;
    if (bytes == 0 || !ReadFile(handle_, out, bytes, &got, nullptr)) return 0;
    return got;
  }
  bool Write(const void* data, DWORD bytes) {
    DWORD put = 0;
    return bytes == 0 || (WriteFile(handle_, data, bytes, &put, nullptr) && put == bytes);
  }
  void Seek(int64_t distance, DWORD from = FILE_CURRENT) {
    LARGE_INTEGER d;
    d.QuadPart = distance;
    SetFilePointerEx(handle_, d, nullptr, from);
  }
  void Truncate() { SetEndOfFile(handle_); }

  bool ReadHeader(shell::ClipHeader* header) {
    uint8_t raw[shell::kClipHeaderSize];
    if (Read(raw, sizeof(raw)) != sizeof(raw)) return false;
    *header = shell::DecodeClipHeader(raw);
    return true;
  }
  // A title or address of `units` units as the file holds it (shorter when
  // the file ends early).
  std::vector<wchar_t> ReadText(uint16_t units) {
    std::vector<wchar_t> text(units);
    const DWORD got = Read(text.data(), units * 2u);
    text.resize(got / 2);
    return text;
  }

  // Moves everything behind the record that ends at the current position
  // back over it, in chunks no larger than the record, and cuts the file.
  void RemoveRecordBefore(uint32_t recordBytes) {
    const DWORD chunk = recordBytes < shell::kClipMoveChunk ? recordBytes : shell::kClipMoveChunk;
    uint8_t buffer[shell::kClipMoveChunk];
    DWORD got = 0;
    do {
      got = Read(buffer, chunk);
      Seek(-static_cast<int64_t>(recordBytes + got));
      Write(buffer, got);
      Seek(recordBytes);
    } while (got == chunk);
    Seek(-static_cast<int64_t>(recordBytes));
    Truncate();
  }

  bool WriteRecord(uint32_t kind, const wchar_t* title, size_t titleUnits, const wchar_t* address,
                   size_t addressUnits) {
    const auto* t16 = reinterpret_cast<const char16_t*>(title);
    const auto* a16 = reinterpret_cast<const char16_t*>(address);
    shell::ClipHeader h;
    h.kind = static_cast<uint8_t>(kind);
    h.titleUnits = static_cast<uint16_t>(shell::KeptClipUnits(t16, titleUnits));
    h.addressUnits = static_cast<uint16_t>(shell::KeptClipUnits(a16, addressUnits));
    uint8_t raw[shell::kClipHeaderSize];
    shell::EncodeClipHeader(h, raw);
    return Write(raw, sizeof(raw)) && Write(title, h.titleUnits * 2u) && Write(address, h.addressUnits * 2u);
  }
  bool WriteRecord(uint32_t kind, const wchar_t* title, const wchar_t* address) {
    return WriteRecord(kind, title, wcslen(title), address, wcslen(address));
  }

 private:
  HANDLE handle_;
};

// Copies a text into a record's field, cut to what it holds.
void StoreText(const wchar_t* text, size_t units, wchar_t* field) {
  const size_t kept = shell::KeptClipUnits(reinterpret_cast<const char16_t*>(text), units);
  wmemcpy(field, text, kept);
  field[kept] = 0;
}
void StoreText(const std::vector<wchar_t>& text, wchar_t* field) { StoreText(text.data(), text.size(), field); }
void StoreText(const wchar_t* text, wchar_t* field) { StoreText(text, wcslen(text), field); }

bool SameText(const std::vector<wchar_t>& a, const wchar_t* b) {
  return wcslen(b) == a.size() && wmemcmp(a.data(), b, a.size()) == 0;
}

HINSTANCE ProgramInstance() { return WinApi().GetModuleHandleW(nullptr); }

}  // namespace

bool ClipListPath(HINSTANCE instance, UINT fileNameId, wchar_t* path, size_t capacity) {
  wchar_t folder[kSettingStringCapacity] = {};
  if (!ReadSettingStringById(instance, shell::kKRData, folder)) return false;
  const std::wstring name = LoadShellText(instance, fileNameId);
  if (name.empty()) return false;
  const std::wstring whole = std::wstring(folder) + name;
  if (whole.size() + 1 > capacity) return false;
  wmemcpy(path, whole.c_str(), whole.size() + 1);
  return true;
}

// ---- FavoritesStore ----

FavoritesStore::FavoritesStore()
    : owner_(PlayerMainWindow(ProgramInstance())), instance_(ProgramInstance()) {}

FavoritesStore::~FavoritesStore() { delete[] records_; }

int FavoritesStore::Read() {
  delete[] records_;
  records_ = nullptr;
  count_ = 0;
  ListFile file(instance_, kFavoritesFileId, GENERIC_READ, OPEN_EXISTING);
  if (!file.Open()) return 0;

  int count = 0;
  shell::ClipHeader h;
  while (file.ReadHeader(&h)) {
    ++count;
    file.Seek(2 * int64_t(h.titleUnits) + 2 * int64_t(h.addressUnits));
  }
  records_ = new ClipRecord[count + 1]();
  file.Seek(0, FILE_BEGIN);
  for (int i = 0; i < count && file.ReadHeader(&h); ++i) {
    records_[i].kind = h.kind;
    StoreText(file.ReadText(h.titleUnits), records_[i].title);
    StoreText(file.ReadText(h.addressUnits), records_[i].address);
  }
  count_ = count;
  return count;
}

int FavoritesStore::Add(uint32_t kind, const wchar_t* address, const wchar_t* title) {
  ListFile file(instance_, kFavoritesFileId, GENERIC_READ | GENERIC_WRITE, OPEN_ALWAYS);
  if (!file.Open()) {
    ShowMessage(instance_, 50001, nullptr, MB_ICONEXCLAMATION);
    return 0;
  }
  std::wstring name = title ? title : L"";
  if (name.empty()) name = LoadShellText(instance_, kUntitledId);
  wchar_t kept[shell::kClipTextCapacity];
  StoreText(name.c_str(), kept);

  shell::ClipHeader h;
  while (file.ReadHeader(&h)) {
    const std::vector<wchar_t> existing = file.ReadText(h.titleUnits);
    file.Seek(2 * int64_t(h.addressUnits));
    if (!SameText(existing, kept)) continue;
    const int answer = AskWithStrings(owner_, instance_, 60116, kept, 60006, MB_YESNO | MB_ICONWARNING | MB_DEFBUTTON2);
    if (answer != IDYES) return 0;
    file.RemoveRecordBefore(shell::ClipRecordBytes(h));
    break;
  }
  file.Seek(0, FILE_END);
  return file.WriteRecord(kind, kept, address ? address : L"") ? 1 : 0;
}

void FavoritesStore::Delete(const wchar_t* title) {
  ListFile file(instance_, kFavoritesFileId, GENERIC_READ | GENERIC_WRITE, OPEN_EXISTING);
  if (!file.Open()) {
    ShowMessage(instance_, 50031, nullptr, MB_ICONEXCLAMATION);
    return;
  }
  shell::ClipHeader h;
  while (title && file.ReadHeader(&h)) {
    const std::vector<wchar_t> existing = file.ReadText(h.titleUnits);
    file.Seek(2 * int64_t(h.addressUnits));
    if (SameText(existing, title)) {
      file.RemoveRecordBefore(shell::ClipRecordBytes(h));
      return;
    }
  }
  ShowMessage(instance_, 50030, nullptr, MB_ICONEXCLAMATION);
}

int FavoritesStore::Rename(const wchar_t* oldTitle, const wchar_t* newTitle) {
  if (!oldTitle || !newTitle) return 0;
  if (wcscmp(oldTitle, newTitle) == 0) return 1;
  // An empty title would make a favourite nobody can tell apart.
  if (newTitle[0] == 0) return 0;
  ListFile file(instance_, kFavoritesFileId, GENERIC_READ | GENERIC_WRITE, OPEN_ALWAYS);
  if (!file.Open()) {
    ShowMessage(instance_, 50001, nullptr, MB_ICONEXCLAMATION);
    return 0;
  }
  wchar_t kept[shell::kClipTextCapacity];
  StoreText(newTitle, kept);

  // One pass finds both: a favourite already called the new name, and the
  // first one of the old name (its end, kind and address).
  bool found = false;
  int64_t foundEnd = 0;
  shell::ClipHeader foundHeader = {};
  std::vector<wchar_t> foundAddress;
  int64_t position = 0;
  shell::ClipHeader h;
  while (file.ReadHeader(&h)) {
    const std::vector<wchar_t> existing = file.ReadText(h.titleUnits);
    const std::vector<wchar_t> address = file.ReadText(h.addressUnits);
    position += shell::ClipRecordBytes(h);
    if (SameText(existing, kept)) {
      AskWithStrings(owner_, instance_, 60125, kept, 60009, MB_OK | MB_ICONWARNING);
      return 0;
    }
    if (!found && SameText(existing, oldTitle)) {
      found = true;
      foundEnd = position;
      foundHeader = h;
      foundAddress = address;
    }
  }
  if (!found) return 1;
  file.Seek(foundEnd, FILE_BEGIN);
  file.RemoveRecordBefore(shell::ClipRecordBytes(foundHeader));
  file.Seek(0, FILE_END);
  foundAddress.push_back(0);
  file.WriteRecord(foundHeader.kind, kept, wcslen(kept), foundAddress.data(), foundAddress.size() - 1);
  return 1;
}

// ---- HistoryStore ----

HistoryStore::HistoryStore() : owner_(PlayerMainWindow(ProgramInstance())), instance_(ProgramInstance()) {
  Read();
}

HistoryStore::~HistoryStore() {
  if (modified_) Write();
}

int HistoryStore::Read() {
  count_ = 0;
  ListFile file(instance_, kHistoryFileId, GENERIC_READ, OPEN_ALWAYS);
  if (!file.Open()) return 0;
  shell::ClipHeader h;
  while (count_ < kCapacity && file.ReadHeader(&h)) {
    const std::vector<wchar_t> title = file.ReadText(h.titleUnits);
    if (title.empty()) break;
    ClipRecord& r = records_[count_];
    r.kind = h.kind;
    StoreText(title, r.title);
    StoreText(file.ReadText(h.addressUnits), r.address);
    ++count_;
  }
  return count_;
}

void HistoryStore::Write() {
  ListFile file(instance_, kHistoryFileId, GENERIC_WRITE, OPEN_ALWAYS);
  if (!file.Open()) {
    ShowMessage(instance_, 50044, nullptr, MB_ICONEXCLAMATION);
    return;
  }
  for (int i = 0; i < count_; ++i) file.WriteRecord(records_[i].kind, records_[i].title, records_[i].address);
  // Whatever a longer list left behind goes, so it can never read back.
  file.Truncate();
}

void HistoryStore::Add(uint32_t kind, const wchar_t* address, const wchar_t* title) {
  if (!title || title[0] == 0) return;
  // Compared as the list keeps it, so a long address finds itself again.
  wchar_t kept[shell::kClipTextCapacity];
  StoreText(address ? address : L"", kept);
  for (int i = 0; i < count_; ++i) {
    if (wcscmp(records_[i].address, kept) != 0) continue;
    if (i == 0) return;
    modified_ = true;
    if (kind == 2) StoreText(title, records_[i].title);
    shell::MoveClipToFront(records_, i);
    return;
  }
  if (count_ < kCapacity) ++count_;
  ClipRecord& r = records_[count_ - 1];
  r.kind = kind;
  StoreText(title, r.title);
  wmemcpy(r.address, kept, shell::kClipTextCapacity);
  modified_ = true;
  shell::MoveClipToFront(records_, count_ - 1);
}
