// The favourites and history stores on their files, and the same files
// through an independent python reader and writer (tests/clip_list.py).
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "shell/clip_lists.h"
#include "shell/messages.h"
#include "shell/portable/settings_values.h"
#include "shell/settings_store.h"
#include "shell/win_api_table.h"
#include "shell_test_support.h"

namespace {

struct BoxCall {
  std::wstring text, caption;
  UINT style;
};
std::vector<BoxCall> g_boxes;
int g_answer = IDNO;

int WINAPI RecordBox(HWND, LPCWSTR text, LPCWSTR caption, UINT style) {
  g_boxes.push_back({text ? text : L"", caption ? caption : L"", style});
  return g_answer;
}

struct Clip {
  uint32_t kind;
  std::wstring title, address;
  bool operator==(const Clip& o) const { return kind == o.kind && title == o.title && address == o.address; }
};

std::ostream& operator<<(std::ostream& os, const Clip& c) {
  os << "{" << c.kind << ", ";
  for (wchar_t ch : c.title) os << (ch < 128 ? char(ch) : '?');
  os << ", ";
  for (wchar_t ch : c.address) os << (ch < 128 ? char(ch) : '?');
  return os << "}";
}

std::vector<Clip> Clips(const ClipRecord* records, int count) {
  std::vector<Clip> out;
  for (int i = 0; i < count; ++i) out.push_back({records[i].kind, records[i].title, records[i].address});
  return out;
}

// JSON as python's json.dumps(ensure_ascii=True) writes it.
std::string JsonText(const std::wstring& text) {
  std::string out = "\"";
  for (wchar_t c : text) {
    if (c == L'"' || c == L'\\') {
      out += '\\';
      out += char(c);
    } else if (c >= 0x20 && c < 0x7F) {
      out += char(c);
    } else {
      char u[8];
      std::snprintf(u, sizeof(u), "\\u%04x", unsigned(c));
      out += u;
    }
  }
  return out + "\"";
}

std::string JsonRecords(const std::vector<Clip>& clips, bool withReserved, int tail = -1) {
  std::string out = withReserved ? "{\"records\": [" : "[";
  for (size_t i = 0; i < clips.size(); ++i) {
    if (i) out += ", ";
    out += "{\"kind\": " + std::to_string(clips[i].kind) + (withReserved ? ", \"reserved\": 0" : "") +
           ", \"title\": " + JsonText(clips[i].title) + ", \"address\": " + JsonText(clips[i].address) + "}";
  }
  out += "]";
  if (withReserved) out += ", \"tail\": " + std::to_string(tail) + "}";
  return out;
}

class ClipLists : public ::testing::Test {
 protected:
  void SetUp() override {
    DeletePlayerKeys();
    folder_ = BesideTest("clip_lists_data\\");
    CreateDirectoryW(folder_.c_str(), nullptr);
    DeleteFileW(Favorites().c_str());
    DeleteFileW(History().c_str());
    ASSERT_TRUE(WriteSettingStringById(GetModuleHandleW(nullptr), shell::kKRData, folder_.c_str()));
    g_boxes.clear();
    g_answer = IDNO;
    SetMessageBoxForTesting(&RecordBox);
  }
  void TearDown() override {
    SetMessageBoxForTesting(nullptr);
    DeleteFileW(Favorites().c_str());
    DeleteFileW(History().c_str());
    DeletePlayerKeys();
  }

  std::wstring Favorites() const { return folder_ + L"Favorites.dat"; }
  std::wstring History() const { return folder_ + L"History.dat"; }

  // Python writes the file from the clips (reserved byte as given).
  void PythonWrites(const std::wstring& file, const std::vector<Clip>& clips, int reserved = 0) {
    std::string json = JsonRecords(clips, false);
    if (reserved) {
      const std::string from = "{\"kind\": ";
      std::string with;
      size_t at = 0, next;
      while ((next = json.find(from, at)) != std::string::npos) {
        with += json.substr(at, next - at) + "{\"reserved\": " + std::to_string(reserved) + ", \"kind\": ";
        at = next + from.size();
      }
      json = with + json.substr(at);
    }
    const std::wstring input = file + L".json";
    FILE* f = _wfopen(input.c_str(), L"wb");
    ASSERT_NE(f, nullptr);
    std::fwrite(json.data(), 1, json.size(), f);
    std::fclose(f);
    const ProcessResult r = RunHostCommand(folder_, "/usr/bin/python3 '" + UnixPath(Widen(CLIP_LIST_PY)) +
                                                         "' write '" + UnixPath(file) + "' '" + UnixPath(input) + "'");
    DeleteFileW(input.c_str());
    ASSERT_EQ(r.exitCode, 0u) << r.output;
  }
  // Python's reading of the file, as JSON.
  std::string PythonReads(const std::wstring& file) {
    ProcessResult r =
        RunHostCommand(folder_, "/usr/bin/python3 '" + UnixPath(Widen(CLIP_LIST_PY)) + "' read '" + UnixPath(file) + "'");
    EXPECT_EQ(r.exitCode, 0u) << r.output;
    while (!r.output.empty() && (r.output.back() == '\n' || r.output.back() == '\r')) r.output.pop_back();
    return r.output;
  }

  std::vector<Clip> ReadFavorites() {
    FavoritesStore store;
    const int n = store.Read();
    return Clips(store.Records(), n);
  }

  std::wstring folder_;
};

// Texts beyond Latin, and beyond the basic plane (surrogate pairs).
const std::vector<Clip> kWorldClips = {
    {1, L"Gr\u00fc\u00dfe aus K\u00f6ln", L"FILE://C:/clips/k\u00f6ln.mp4"},
    {0, L"\u6771\u4eac\u306e\u591c \U0001F3B5", L"rtsp://127.0.0.1/\u6771\u4eac.mp4"},
    {2, L"\u0395\u03bb\u03bb\u03b7\u03bd\u03b9\u03ba\u03ac \U0001D11E", L"http://127.0.0.1/a \"b\".mp4"},
    {1, L"\u0645\u0631\u062d\u0628\u0627", L"C:\\clips\\\u0645.mp4"},
};

TEST_F(ClipLists, PythonsFilesReadBackInBothStores) {
  PythonWrites(Favorites(), kWorldClips, 0x5A);
  EXPECT_EQ(ReadFavorites(), kWorldClips);
  PythonWrites(History(), kWorldClips, 0x5A);
  HistoryStore history;
  EXPECT_EQ(Clips(history.Records(), history.Count()), kWorldClips);
  EXPECT_FALSE(history.Modified());
}

TEST_F(ClipLists, OurFilesReadBackInPython) {
  {
    FavoritesStore store;
    for (const Clip& c : kWorldClips) ASSERT_EQ(store.Add(c.kind, c.address.c_str(), c.title.c_str()), 1);
  }
  EXPECT_EQ(PythonReads(Favorites()), JsonRecords(kWorldClips, true, 0));
  {
    HistoryStore history;
    for (auto c = kWorldClips.rbegin(); c != kWorldClips.rend(); ++c)
      history.Add(c->kind, c->address.c_str(), c->title.c_str());
  }
  // Most recent first: the last added leads.
  EXPECT_EQ(PythonReads(History()), JsonRecords(kWorldClips, true, 0));
}

TEST_F(ClipLists, LongTextsAreCutTo255AndNeverSplitAPair) {
  std::wstring longTitle(253, L't');
  longTitle += L"\U0001F3B5";  // a pair at units 253-254
  longTitle += std::wstring(44, L'u');
  const std::wstring longAddress(256, L'a');
  PythonWrites(Favorites(), {{1, longTitle, longAddress}, {2, L"after", L"b"}});
  EXPECT_EQ(ReadFavorites(), (std::vector<Clip>{{1, longTitle.substr(0, 255), longAddress.substr(0, 255)},
                                                {2, L"after", L"b"}}));

  std::wstring splitTitle(254, L't');
  splitTitle += L"\U0001F3B5";  // the pair would straddle the cut
  DeleteFileW(Favorites().c_str());
  {
    FavoritesStore store;
    ASSERT_EQ(store.Add(1, longAddress.c_str(), splitTitle.c_str()), 1);
  }
  EXPECT_EQ(PythonReads(Favorites()), JsonRecords({{1, splitTitle.substr(0, 254), longAddress.substr(0, 255)}}, true, 0));
}

TEST_F(ClipLists, FavoritesAddReplaceAndUntitled) {
  FavoritesStore store;
  ASSERT_EQ(store.Add(1, L"C:\\a.mp4", L""), 1);
  ASSERT_EQ(store.Add(0, L"rtsp://127.0.0.1/b", L"B"), 1);
  ASSERT_EQ(store.Add(1, L"C:\\c.mp4", L"C"), 1);
  const std::vector<Clip> three = {{1, L"Untitled", L"C:\\a.mp4"}, {0, L"B", L"rtsp://127.0.0.1/b"}, {1, L"C", L"C:\\c.mp4"}};
  EXPECT_EQ(ReadFavorites(), three);
  EXPECT_TRUE(g_boxes.empty());

  struct Case {
    int answer;
    std::vector<Clip> expected;
  } cases[] = {
      {IDNO, three},
      {IDCANCEL, three},
      {IDYES, {{1, L"Untitled", L"C:\\a.mp4"}, {1, L"C", L"C:\\c.mp4"}, {2, L"B", L"http://127.0.0.1/new"}}},
  };
  for (const Case& c : cases) {
    const std::string before = ReadFileBytes(Favorites());
    g_boxes.clear();
    g_answer = c.answer;
    EXPECT_EQ(store.Add(2, L"http://127.0.0.1/new", L"B"), c.answer == IDYES ? 1 : 0);
    ASSERT_EQ(g_boxes.size(), 1u);
    EXPECT_EQ(g_boxes[0].text, L"An item with the name \"B\" already exists. \rDo you want to replace it?");
    EXPECT_EQ(g_boxes[0].caption, L"Replace Favorite");
    EXPECT_EQ(g_boxes[0].style, UINT(MB_YESNO | MB_ICONWARNING | MB_DEFBUTTON2));
    EXPECT_EQ(ReadFavorites(), c.expected) << c.answer;
    if (c.answer != IDYES) {
      EXPECT_EQ(ReadFileBytes(Favorites()), before);
    }
  }
}

TEST_F(ClipLists, FavoritesDelete) {
  FavoritesStore store;
  store.Delete(L"x");  // no file yet
  ASSERT_EQ(g_boxes.size(), 1u);
  EXPECT_EQ(g_boxes[0].text, L"Favorites file does not exist.  Please reinstall Orlomer.");

  // Records larger than a move chunk, so the rest moves in several steps.
  const std::wstring big(120, L'z');
  std::vector<Clip> clips = {{1, L"one", big + L"1"}, {0, L"two", big + L"2"}, {1, L"three", big + L"3"},
                             {2, L"four", L"4"}};
  for (const Clip& c : clips) ASSERT_EQ(store.Add(c.kind, c.address.c_str(), c.title.c_str()), 1);
  g_boxes.clear();
  store.Delete(L"two");
  clips.erase(clips.begin() + 1);
  EXPECT_EQ(ReadFavorites(), clips);
  store.Delete(L"four");
  clips.pop_back();
  EXPECT_EQ(ReadFavorites(), clips);
  store.Delete(L"one");
  clips.erase(clips.begin());
  EXPECT_EQ(ReadFavorites(), clips);
  EXPECT_TRUE(g_boxes.empty());

  store.Delete(L"nobody");
  ASSERT_EQ(g_boxes.size(), 1u);
  EXPECT_EQ(g_boxes[0].text, L"Could not find clip in remote clip file.");
  EXPECT_EQ(ReadFavorites(), clips);

  store.Delete(L"three");  // the only one left
  EXPECT_EQ(ReadFileBytes(Favorites()).size(), 0u);
  EXPECT_EQ(store.Read(), 0);
}

TEST_F(ClipLists, FavoritesRename) {
  FavoritesStore store;
  ASSERT_EQ(store.Add(1, L"C:\\a.mp4", L"A"), 1);
  ASSERT_EQ(store.Add(0, L"rtsp://127.0.0.1/b", L"B"), 1);
  ASSERT_EQ(store.Add(1, L"C:\\c.mp4", L"C"), 1);
  const std::string before = ReadFileBytes(Favorites());

  struct Case {
    const wchar_t *from, *to;
    int result;
    size_t boxes;
  } unchanged[] = {
      {L"A", L"B", 0, 1},        // the new title exists
      {L"missing", L"Z", 1, 0},  // nothing to rename
      {L"A", L"A", 1, 0},        // the same title
      {L"A", L"", 0, 0},         // an empty title is refused
  };
  for (const Case& c : unchanged) {
    g_boxes.clear();
    EXPECT_EQ(store.Rename(c.from, c.to), c.result) << c.from << " " << c.to;
    EXPECT_EQ(g_boxes.size(), c.boxes);
    EXPECT_EQ(ReadFileBytes(Favorites()), before);
  }
  g_boxes.clear();
  store.Rename(L"A", L"B");
  ASSERT_EQ(g_boxes.size(), 1u);
  EXPECT_EQ(g_boxes[0].text, L"A clip with this name already exists.  Please try a different name.");
  EXPECT_EQ(g_boxes[0].caption, L"Rename");
  EXPECT_EQ(g_boxes[0].style, UINT(MB_OK | MB_ICONWARNING));

  g_boxes.clear();
  EXPECT_EQ(store.Rename(L"B", L"\u00c9t\u00e9 \U0001F3B5"), 1);
  EXPECT_TRUE(g_boxes.empty());
  EXPECT_EQ(ReadFavorites(), (std::vector<Clip>{{1, L"A", L"C:\\a.mp4"},
                                                {1, L"C", L"C:\\c.mp4"},
                                                {0, L"\u00c9t\u00e9 \U0001F3B5", L"rtsp://127.0.0.1/b"}}));
}

std::wstring Nth(const wchar_t* stem, int i) { return stem + std::to_wstring(i); }

TEST_F(ClipLists, HistoryKeepsTenMostRecentFirst) {
  {
    HistoryStore history;
    EXPECT_EQ(history.Count(), 0);
    history.Add(1, L"C:\\empty.mp4", L"");  // an empty title adds nothing
    EXPECT_EQ(history.Count(), 0);
    EXPECT_FALSE(history.Modified());
    for (int i = 1; i <= 11; ++i) history.Add(2, Nth(L"rtsp://127.0.0.1/", i).c_str(), Nth(L"clip ", i).c_str());
    ASSERT_EQ(history.Count(), 10);
    for (int i = 0; i < 10; ++i) EXPECT_EQ(history.Records()[i].address, Nth(L"rtsp://127.0.0.1/", 11 - i));
  }
  {
    HistoryStore history;  // the eleventh dropped the first
    ASSERT_EQ(history.Count(), 10);
    EXPECT_EQ(std::wstring(history.Records()[9].title), L"clip 2");
    // Replaying index 3 (clip 8) moves it to the front, count unchanged; a
    // kind-2 clip takes its new title.
    history.Add(2, L"rtsp://127.0.0.1/8", L"clip eight");
    EXPECT_TRUE(history.Modified());
    ASSERT_EQ(history.Count(), 10);
    const wchar_t* expected[] = {L"clip eight", L"clip 11", L"clip 10", L"clip 9", L"clip 7",
                                 L"clip 6",     L"clip 5",  L"clip 4",  L"clip 3", L"clip 2"};
    for (int i = 0; i < 10; ++i) EXPECT_EQ(std::wstring(history.Records()[i].title), expected[i]) << i;
    // A kind-1 clip keeps its old title.
    history.Add(1, L"rtsp://127.0.0.1/4", L"ignored");
    EXPECT_EQ(std::wstring(history.Records()[0].title), L"clip 4");
  }
  HistoryStore history;
  EXPECT_EQ(std::wstring(history.Records()[0].title), L"clip 4");
  EXPECT_EQ(std::wstring(history.Records()[1].title), L"clip eight");
}

TEST_F(ClipLists, ReplayingTheFirstClipDoesNotRewriteTheFile) {
  // Python's reserved bytes (0x5A) would turn to 0 on any rewrite.
  PythonWrites(History(), kWorldClips, 0x5A);
  const std::string before = ReadFileBytes(History());
  {
    HistoryStore history;
    history.Add(kWorldClips[0].kind, kWorldClips[0].address.c_str(), L"another title");
    EXPECT_FALSE(history.Modified());
  }
  EXPECT_EQ(ReadFileBytes(History()), before);
}

TEST_F(ClipLists, AShorterHistoryReadsBackExactly) {
  const std::wstring longTitle(200, L'L');
  PythonWrites(History(), {{2, longTitle + L"0", L"rtsp://127.0.0.1/0"},
                           {2, longTitle + L"1", L"rtsp://127.0.0.1/1"},
                           {2, longTitle + L"2", L"rtsp://127.0.0.1/2"}});
  {
    HistoryStore history;
    ASSERT_EQ(history.Count(), 3);
    history.Add(2, L"rtsp://127.0.0.1/2", L"short");
  }
  const std::vector<Clip> expected = {{2, L"short", L"rtsp://127.0.0.1/2"},
                                      {2, longTitle + L"0", L"rtsp://127.0.0.1/0"},
                                      {2, longTitle + L"1", L"rtsp://127.0.0.1/1"}};
  EXPECT_EQ(PythonReads(History()), JsonRecords(expected, true, 0));
  HistoryStore history;
  EXPECT_EQ(Clips(history.Records(), history.Count()), expected);
}

TEST_F(ClipLists, AnEmptyTitleEndsTheHistory) {
  PythonWrites(History(), {{1, L"a", L"A"}, {1, L"", L"B"}, {1, L"c", L"C"}});
  HistoryStore history;
  EXPECT_EQ(Clips(history.Records(), history.Count()), (std::vector<Clip>{{1, L"a", L"A"}}));
}

// In the Windows 9x mode the files, the setting and the strings go through
// the ANSI functions; the records stay UTF-16.
TEST_F(ClipLists, StoresWorkInTheWindows9xMode) {
  ScopedApiMode mode(true);
  ASSERT_TRUE(IsWin9xMode());
  {
    FavoritesStore store;
    for (const Clip& c : kWorldClips) ASSERT_EQ(store.Add(c.kind, c.address.c_str(), c.title.c_str()), 1);
    EXPECT_EQ(store.Rename(kWorldClips[0].title.c_str(), L"\u00c9t\u00e9"), 1);
    store.Delete(kWorldClips[2].title.c_str());
    EXPECT_TRUE(g_boxes.empty());
  }
  EXPECT_EQ(ReadFavorites(), (std::vector<Clip>{kWorldClips[1], kWorldClips[3],
                                                {kWorldClips[0].kind, L"\u00c9t\u00e9", kWorldClips[0].address}}));
  {
    HistoryStore history;
    for (const Clip& c : kWorldClips) history.Add(c.kind, c.address.c_str(), c.title.c_str());
  }
  HistoryStore history;
  EXPECT_EQ(Clips(history.Records(), history.Count()),
            (std::vector<Clip>{kWorldClips[3], kWorldClips[2], kWorldClips[1], kWorldClips[0]}));
}

TEST_F(ClipLists, NoDataFolderMeansEmptyListsAndMessages) {
  DeletePlayerKeys();
  FavoritesStore store;
  EXPECT_EQ(store.Read(), 0);
  EXPECT_EQ(store.Add(1, L"a", L"b"), 0);
  ASSERT_EQ(g_boxes.size(), 1u);
  EXPECT_EQ(g_boxes[0].text, L"Unable to create the Favorites file.  Please reinstall Orlomer.");
  HistoryStore history;
  EXPECT_EQ(history.Count(), 0);
  g_boxes.clear();
  history.Write();
  ASSERT_EQ(g_boxes.size(), 1u);
  EXPECT_EQ(g_boxes[0].text, L"Unable to create \"Recent\" file.  Please reinstall Orlomer.");
}

}  // namespace
