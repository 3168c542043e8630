// Importane, the version-3 writer object and Convorn as their users see
// them under Wine: regsvr32 and reg, a C++ client of the import server, and
// Convorn's texts, names, exit codes and converted files, checked with
// ffmpeg and our mp4info.
#include <gtest/gtest.h>

#include <windows.h>

#include <algorithm>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "amr_fixture.h"
#include "atl/owners.h"
#include "com_client.h"
#include "command.h"
#include "importane.h"
#include "peers.h"

namespace {

using Bytes = std::vector<uint8_t>;

const std::string kClsid = "{DC18CA31-8C04-11D5-8034-00B0D082A349}";
const std::string kIid = "{DC18CA30-8C04-11D5-8034-00B0D082A349}";
const std::string kLibId = "{DC18CA23-8C04-11D5-8034-00B0D082A349}";
const std::string kWriterClsid = "{DC18CA41-8C04-11D5-8034-00B0D082A349}";

std::string Win(const std::string& unix) { return WindowsPath(unix); }

// A Wine tool with its output through a file: a service it starts may keep
// a pipe open long after the tool itself has ended.
CommandResult Tool(const std::string& exe, const std::string& args) {
  Ran r = RunWindows(exe, args, "tool", 60000);
  CommandResult c;
  c.exitCode = DWORD(r.exitCode);
  c.output = r.output;
  return c;
}
atl::Bstr Wide(const std::string& s) { return atl::Bstr(std::wstring(s.begin(), s.end()).c_str()); }

// "addTrack <handler> <kind> -> <id>" in the writer's log.
std::string TrackId(const std::string& log, const std::string& handler) {
  size_t at = log.find("addTrack " + handler + " 1 -> ");
  if (at == std::string::npos) return "?";
  at += handler.size() + 15;
  return log.substr(at, log.find('\n', at) - at);
}

DWORD Regsvr32(const char* dll, bool unregister) {
  return Tool("regsvr32.exe", std::string("/s ") + (unregister ? "/u " : "") + "\"" + Win(dll) + "\"").exitCode;
}
void RegisterBoth(bool unregister) {
  ASSERT_EQ(Regsvr32(IMPORTANE_DLL, unregister), 0u);
  ASSERT_EQ(Regsvr32(WRITER_DLL, unregister), 0u);
}

// Through a file, as Tool does: reg.exe may start a service that holds a pipe.
RegKeys ClassTree(const std::string& key) { return ParseRegQuery(Tool("reg.exe", "query \"" + key + "\" /s").output); }

std::string ExportClasses(const std::string& file) {
  std::string path = TestDir() + file;
  CommandResult r = Tool("reg.exe", "export HKCR \"" + path + "\" /y");
  EXPECT_EQ(r.exitCode, 0u) << r.output;
  std::string text = ReadWholeFile(path);
  DeleteFileA(path.c_str());
  return text;
}

TEST(Registration, BothServersRegisterTheirKeysAndUnregisterToTheSameExport) {
  RegisterBoth(true);
  std::string before = ExportClasses("hkcr-before.reg");
  ASSERT_GT(before.size(), 1000u);
  RegisterBoth(false);
  const std::string k = "CLSID\\" + kClsid;
  const std::string tlb = "TypeLib\\" + kLibId + "\\1.0";
  const std::string server = sizeof(void*) == 8 ? "win64" : "win32";
  const std::map<std::string, std::map<std::string, std::string>> expected = {
      {k, {{"(Default)", "IMpeg4FileV2 Class"}}},
      {k + "\\InprocServer32", {{"(Default)", Win(IMPORTANE_DLL)}, {"ThreadingModel", "Apartment"}}},
      {k + "\\ProgID", {{"(Default)", "Importane.IMpeg4FileV2.1"}}},
      {k + "\\VersionIndependentProgID", {{"(Default)", "Importane.IMpeg4FileV2"}}},
      {k + "\\Programmable", {}},
      {k + "\\TypeLib", {{"(Default)", kLibId}}},
      {"Importane.IMpeg4FileV2.1\\CLSID", {{"(Default)", kClsid}}},
      {"Importane.IMpeg4FileV2\\CLSID", {{"(Default)", kClsid}}},
      {"Importane.IMpeg4FileV2\\CurVer", {{"(Default)", "Importane.IMpeg4FileV2.1"}}},
      {tlb, {{"(Default)", "Importane 1.0 Type Library"}}},
      {tlb + "\\0\\" + server, {{"(Default)", Win(IMPORTANE_DLL)}}},
      {"Interface\\" + kIid + "\\TypeLib", {{"(Default)", kLibId}, {"Version", "1.0"}}},
  };
  std::map<std::string, std::map<std::string, std::string>> found;
  for (std::string key : {"CLSID\\" + kClsid, std::string("Importane.IMpeg4FileV2.1"),
                          std::string("Importane.IMpeg4FileV2"), "TypeLib\\" + kLibId, "Interface\\" + kIid})
    found.merge(ClassTree("HKCR\\" + key));
  for (const auto& [key, values] : expected) {
    auto it = found.find(key);
    ASSERT_NE(it, found.end()) << key;
    EXPECT_EQ(it->second, values) << key;
  }
  auto writer = ClassTree("HKCR\\CLSID\\" + kWriterClsid);
  EXPECT_EQ(writer["CLSID\\" + kWriterClsid + "\\InprocServer32"]["(Default)"], Win(WRITER_DLL));

  RegisterBoth(true);
  EXPECT_TRUE(before == ExportClasses("hkcr-after.reg")) << "HKCR differs after unregistering both servers";
}

// Inputs made once: ffmpeg's MPEG-4 video, our encoder's AMR, and version-2
// files from the generator, in a work folder beside the test program.
class Convert : public testing::Test {
 protected:
  static void SetUpTestSuite() {
    RegisterBoth(false);
    dir_ = UnixPath(TestDir()) + "work";
    CreateDirectoryA(Win(dir_).c_str(), nullptr);
    Sh("ffmpeg -v error -y -f lavfi -i testsrc=size=176x144:rate=15 -frames:v 30 -c:v mpeg4 -bf 0 -g 10 -f m4v " +
       dir_ + "/clip.m4v");
    Sh("ffmpeg -v error -y -f lavfi -i testsrc=size=176x144:rate=15 -frames:v 5 -c:v mpeg4 -bf 0 -flags +ildct "
       "-f m4v " + dir_ + "/interlaced.m4v");
    ASSERT_TRUE(convert_testing::WriteFile(Win(dir_ + "/clip.amr"), convert_testing::MakeAmr(40, 7)));
    Generate("a.mp4", "--video " + dir_ + "/clip.m4v --amr " + dir_ + "/clip.amr");
  }
  static void TearDownTestSuite() { RegisterBoth(true); }
  void SetUp() override { ASSERT_TRUE(SUCCEEDED(com_)); }
  void TearDown() override {
    if (SUCCEEDED(com_)) CoUninitialize();
  }

  static std::string Sh(const std::string& cmd) {
    Ran r = RunUnix(cmd, "sh", 120000);
    EXPECT_EQ(r.exitCode, 0) << cmd << "\n" << r.output;
    return r.output;
  }
  static void Generate(const std::string& name, const std::string& options) {
    Sh("python3 '" SUITE_SOURCE_DIR "/convert/testing/make_v2.py' " + dir_ + "/" + name + " " + options);
  }
  static std::string In(const std::string& name) { return Win(dir_ + "/" + name); }
  static Ran Convorn(const std::string& args) {
    Ran r = RunWindows(Win(CONVORN_EXE), args, "convorn");
    std::string out;
    for (char c : r.output)
      if (c != '\r') out += c;
    r.output = out;
    return r;
  }

  static inline std::string dir_;
  HRESULT com_ = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
};

atl::ComPtr<IIMpeg4FileV2> NewReader() {
  atl::ComPtr<IIMpeg4FileV2> r;
  EXPECT_EQ(CoCreateInstance(CLSID_IMpeg4FileV2, nullptr, CLSCTX_INPROC_SERVER, IID_IIMpeg4FileV2,
                             reinterpret_cast<void**>(r.Out())),
            S_OK);
  return r;
}

TEST_F(Convert, ImportServerAnswersThroughItsVtable) {
  atl::ComPtr<IIMpeg4FileV2> r = NewReader();
  ASSERT_TRUE(r.Get());
  // Closed: every answer is zero.
  ULONG scale = 7;
  EXPECT_EQ(r->getVideoStreamTimescale(0, &scale), S_OK);
  EXPECT_EQ(scale, 0u);
  EXPECT_EQ(r->readMP4File(atl::Bstr(L"Z:\\no\\such.mp4").Get()), HRESULT(0x800A03E9));

  ASSERT_EQ(r->readMP4File(Wide(In("a.mp4")).Get()), S_OK);
  atl::Bstr text(nullptr, 300);
  BSTR b = text.Get();
  EXPECT_EQ(r->getVersion(&b), S_OK);
  EXPECT_STREQ(b, L"Content V2.0");
  // A caller's string of four characters takes three and the terminator.
  atl::Bstr small(L"____");
  BSTR s = small.Get();
  EXPECT_EQ(r->getTitle(&s), S_OK);
  EXPECT_EQ(std::wstring(s, 4), std::wstring(L"A v\0", 4));
  EXPECT_EQ(SysStringLen(s), 4u);

  int type = 0, scalability = 9, volSize = 0;
  r->getFileType(&type);
  r->getScalability(&scalability);
  r->getMpegVOLHeaderSize(0, &volSize);
  EXPECT_EQ(type, 3);
  EXPECT_EQ(scalability, 0);
  ASSERT_GT(volSize, 10);
  // The header copy stops at the caller's size.
  Bytes vol(size_t(volSize) + 4, 0xEE);
  r->getMpegVOLHeader(0, vol.data(), 4);
  EXPECT_EQ(Bytes(vol.begin(), vol.begin() + 5), (Bytes{0, 0, 1, 0xB0, 0xEE}));
  r->getMpegVOLHeader(0, vol.data(), volSize + 4);
  EXPECT_EQ(vol[size_t(volSize)], 0xEE) << "no more than the header is copied";

  ULONG number = 9;
  r->getSampleNumberForCurrentVideoSample(&number);
  EXPECT_EQ(number, 0u);
  LONG contains = 0;
  r->containsVideoHintTrack(12345, 0, &contains);
  EXPECT_EQ(contains, 1);
  Bytes buf(64);
  int ret = 0;
  r->getNextVideoSample(buf.data(), 8, &ret);
  EXPECT_LT(ret, -8) << "a buffer too small gives minus the sample's size";
  buf.resize(size_t(-ret));
  r->getNextVideoSample(buf.data(), int(buf.size()), &ret);
  EXPECT_EQ(ret, int(buf.size()));
  EXPECT_EQ(r->Destroy(), S_OK);

  Generate("plain.mp4", "--amr " + dir_ + "/clip.amr --no-krmm");
  ASSERT_EQ(r->readMP4File(Wide(In("plain.mp4")).Get()), S_OK);
  b = text.Get();
  r->getVersion(&b);
  EXPECT_STREQ(b, L"Unknown");
  r->getTitle(&b);
  EXPECT_STREQ(b, L"");
  r->getTimestampForCurrentVideoSample(&number);
  EXPECT_EQ(number, 0xFFFFFFFFu);
}

TEST_F(Convert, HelpUsageAndErrorTableTexts) {
  const std::string usage =
      "\nConvorn -i InputFile [-o OutputFile] [-n] [-f] [-e] [-h] [-?]\n  (Build 122)\n\n";
  const std::string help =
      "\nConvorn will convert a version 2.0 MP4 file to a version 3.0 MP4 file\n\n" +
      usage.substr(1) +
      "  -i\t<InputFile> is the v2.0 MP4 file to convert.  Wildcards NOT supported.\n"
      "  -o\t<OutputFile> is the exported v3.0 MP4 file.  Wildcards NOT supported.\n\tIf <OutputFile> is not "
      "specified, the exported file will be\n\tnamed Input-3.mp4 and placed in the same directory as <InputFile>.\n"
      "  -n\tVideo Only playback is not allowed (not specifying \n\twill allow video only playback.)\n"
      "  -f\tForce overwrite of OutputFile if it already exists.\n"
      "  -e\tDisplay list of errorcodes that can be returned.\n"
      "  -h\tDisplay command line options and explanation of each\n"
      "  -?\tDisplay command line options only\n"
      "\nExamples:\n"
      "   Convorn -i d:\\old\\output.mpr -o d:\\new\\output.mp4\n"
      "   Convorn -i d:\\mp4s\\newsclip_07_26.mp4 -f\n"
      "   Convorn -i d:\\old\\blip.mp4 -o d:\\new\\blip.mp4 -f -n\n";
  const std::string table =
      "\nError Code Table\n\n\t1\tInvalid Syntax\n\t2\tUnable to open InputFile\n\t3\tUnable to create OutputFile\n"
      "\t4\tError while reading InputFile\n\t5\tError while writeing to OutputFile\n\t6\tOutputFile already exists\n"
      "\t7\tUnexpected input error\n\t8\tUnexpected Output Error\n\t9\tInvalid name for Inputfile\n"
      "\t10\tInvalid name for Outputfile\n\t11\tInvalid TEMP environment setting.\n\t90\tError with the Input DLL\n"
      "\t91\tError with the Output DLL\n\t92\tError while reading from the resource file\n\t93\tCOM Error\n";
  struct Case {
    const char* args;
    const std::string& text;
  } cases[] = {{"", usage}, {"-?", usage}, {"-h", help}, {"-e", table}, {"-h -e", help}, {"/? -e", usage},
               {"stray", usage}};
  for (const Case& c : cases) {
    Ran r = Convorn(c.args);
    EXPECT_EQ(r.exitCode, 0) << c.args;
    EXPECT_EQ(r.output, c.text) << c.args;
  }
}

// The AMR payloads of a storage-format file, in order.
Bytes AmrPayloads(const Bytes& file) {
  static const int kSize[16] = {13, 14, 16, 18, 20, 21, 27, 32, 6, 1, 1, 1, 1, 1, 1, 1};
  Bytes out;
  for (size_t pos = 6; pos < file.size();) {
    size_t n = size_t(kSize[(file[pos] >> 3) & 0x0F]);
    out.insert(out.end(), file.begin() + long(pos) + 1, file.begin() + long(std::min(pos + n, file.size())));
    pos += n;
  }
  return out;
}

TEST_F(Convert, ConvertsAVersionTwoFileThatPeersAccept) {
  std::string log = Win(dir_ + "/writer.log");
  DeleteFileA(log.c_str());
  DeleteFileA(In("a-3.mp4").c_str());
  SetEnvironmentVariableA("KR_V3WRITER_LOG", log.c_str());
  Ran r = Convorn("-i " + In("a.mp4"));
  SetEnvironmentVariableA("KR_V3WRITER_LOG", nullptr);
  ASSERT_EQ(r.exitCode, 0) << r.output;
  EXPECT_EQ(r.output, "Convorn Build 122\n-- Video...\n-- Audio...\n\nConversion is complete.\n");
  const std::string out = dir_ + "/a-3.mp4";

  Ran info = RunWindows(Win(MP4INFO_EXE), In("a-3.mp4"), "mp4info");
  EXPECT_EQ(info.exitCode, 0) << info.output;
  EXPECT_NE(info.output.find("content version 3.0"), std::string::npos) << info.output;
  EXPECT_NE(info.output.find("Content V2.0 converted to 3.0 by Convorn Version 3.0 Build 122"), std::string::npos)
      << info.output;
  EXPECT_NE(info.output.find("MP4V-ES, time scale 1000, media duration"), std::string::npos) << info.output;
  EXPECT_NE(info.output.find(", 30 samples"), std::string::npos) << info.output;
  EXPECT_NE(info.output.find("AMR, time scale 8000"), std::string::npos) << info.output;
  EXPECT_NE(info.output.find(", 40 samples"), std::string::npos) << info.output;

  // The video decodes without a complaint, to the pictures of the original stream.
  // (Sh fails the test on a non-zero exit: the scene and object-descriptor
  // tracks only draw notes from the probe.)
  Sh("ffmpeg -v error -xerror -i " + out + " -map 0:v -f null -");
  std::string converted = Sh("ffmpeg -v error -xerror -i " + out + " -map 0:v -f framemd5 - | grep -v '^#' | cut -d, -f5-");
  std::string original = Sh("ffmpeg -v error -f m4v -i " + dir_ + "/clip.m4v -f framemd5 - | grep -v '^#' | cut -d, -f5-");
  EXPECT_EQ(converted, original);
  // The decoder configuration is the rewritten header, not the old one.
  std::string file = ReadWholeFile(In("a-3.mp4"));
  EXPECT_NE(file.find(std::string("\0\0\x01\xB0\x02\0\0\x01\xB5\x09", 10)), std::string::npos);

  // The AMR payloads lie in the new file whole and in order.
  Bytes payloads = AmrPayloads(convert_testing::ReadFile(In("clip.amr")));
  ASSERT_EQ(payloads.size(), 40u * 31);
  EXPECT_NE(file.find(std::string(payloads.begin(), payloads.end())), std::string::npos);

  // What the writer was given: audio stamps in 8000 Hz ticks, video unchanged.
  std::string calls;
  for (char c : ReadWholeFile(log))
    if (c != '\r') calls += c;
  EXPECT_NE(calls.find("createMP4File 3 0 \""), std::string::npos) << calls;
  EXPECT_NE(calls.find("setFileMode 3 0"), std::string::npos);
  const std::string audio = TrackId(calls, "soun"), video = TrackId(calls, "vide");
  EXPECT_NE(calls.find("addSample " + audio + " 32 160 0\n"), std::string::npos) << "the second AMR frame at 20 ms";
  EXPECT_EQ(calls.find("addSample " + audio + " 32 20 0\n"), std::string::npos);
  size_t second = calls.find("addSample " + video + " ", calls.find("addSample " + video + " ") + 1);
  ASSERT_NE(second, std::string::npos) << calls;
  EXPECT_NE(calls.substr(second, calls.find('\n', second) - second).find(" 67 "), std::string::npos)
      << "the second picture keeps its 67 ms";
}

TEST_F(Convert, OutputNamesAndTheTemporaryFolder) {
  Generate("clip.mp4", "--amr " + dir_ + "/clip.amr");
  CopyFileA(In("a.mp4").c_str(), In("b.MP4").c_str(), FALSE);
  struct Case {
    std::string args, written;
  } cases[] = {
      {"-i " + In("clip"), "clip-3.mp4"},
      {"-i " + In("b.MP4"), "b-3.mp4"},
      {"-i " + In("clip.mp4") + " -o " + In("out"), "out.mp4"},
      {"-i " + In("clip.mp4") + " -o " + In("out.dat"), "out.dat"},
  };
  for (const Case& c : cases) {
    DeleteFileA(In(c.written).c_str());
    Ran r = Convorn(c.args);
    EXPECT_EQ(r.exitCode, 0) << c.args << r.output;
    EXPECT_NE(GetFileAttributesA(In(c.written).c_str()), INVALID_FILE_ATTRIBUTES) << c.args;
  }
  // Without TEMP the spool goes beside the output, named by its stem.
  std::string log = Win(dir_ + "/temp.log");
  DeleteFileA(log.c_str());
  char temp[MAX_PATH];
  DWORD n = GetEnvironmentVariableA("TEMP", temp, MAX_PATH);
  SetEnvironmentVariableA("TEMP", nullptr);
  SetEnvironmentVariableA("KR_V3WRITER_LOG", log.c_str());
  Ran r = Convorn("-i " + In("clip.mp4") + " -o " + In("blip.mp4") + " -f");
  SetEnvironmentVariableA("KR_V3WRITER_LOG", nullptr);
  SetEnvironmentVariableA("TEMP", n ? temp : nullptr);
  EXPECT_EQ(r.exitCode, 0) << r.output;
  EXPECT_NE(ReadWholeFile(log).find("createMP4File 1 -1 \"" + In("blip") + "\" \""), std::string::npos)
      << ReadWholeFile(log);
}

TEST_F(Convert, ExitCodes) {
  Generate("empty.mp4", "");
  Generate("interlaced.mp4", "--video " + dir_ + "/interlaced.m4v");
  CopyFileA(In("a.mp4").c_str(), In("exists.mp4").c_str(), FALSE);
  CopyFileA(In("a.mp4").c_str(), In("exists-3.mp4").c_str(), FALSE);
  const std::string longName = In(std::string(250, 'x') + ".mp4");
  char temp[MAX_PATH];
  DWORD tempLength = GetEnvironmentVariableA("TEMP", temp, MAX_PATH);
  struct Case {
    const char* name;
    std::string args;
    int code;
    std::string env = "";  // TEMP for the run, when set
    const char* unregister = nullptr;
  } cases[] = {
      {"success", "-i " + In("a.mp4") + " -o " + In("ok.mp4") + " -f", 0},
      {"-I", "-I " + In("a.mp4"), 1},
      {"missing input", "-i " + In("missing.mp4"), 2},
      {"-i without a value", "-f -i", 2},
      {"not version 2", "-i " + In("a-3.mp4") + " -o " + In("again.mp4") + " -f", 2},
      {"writer refuses", "-i " + In("empty.mp4") + " -f", 3},
      {"interlaced", "-i " + In("interlaced.mp4") + " -f", 4},
      {"spool cannot be written", "-i " + In("a.mp4") + " -o " + In("nospool.mp4") + " -f", 5,
       Win(dir_ + "/no/such/folder")},
      {"output exists", "-i " + In("exists.mp4"), 6},
      {"output is the input", "-i " + In("exists.mp4") + " -o " + In("EXISTS.mp4") + " -f", 6},
      {"reader not registered", "-i " + In("a.mp4") + " -f", 7, "", IMPORTANE_DLL},
      {"writer not registered", "-i " + In("a.mp4") + " -f", 8, "", WRITER_DLL},
      {"input too long", "-i " + longName, 9},
      {"output too long", "-i " + In("a.mp4") + " -o " + longName, 10},
      {"TEMP too long", "-i " + In("a.mp4") + " -o " + In("t.mp4") + " -f", 11, std::string(270, 't')},
  };
  // The 'not version 2' case needs a version-3 file.
  ASSERT_EQ(Convorn("-i " + In("a.mp4") + " -f").exitCode, 0);
  for (const Case& c : cases) {
    if (!c.env.empty()) SetEnvironmentVariableA("TEMP", c.env.c_str());
    if (c.unregister) Regsvr32(c.unregister, true);
    Ran r = Convorn(c.args);
    if (c.unregister) Regsvr32(c.unregister, false);
    SetEnvironmentVariableA("TEMP", tempLength ? temp : nullptr);
    EXPECT_EQ(r.exitCode, c.code) << c.name << "\n" << r.output;
    if (c.code) {
      EXPECT_NE(r.output.find("Error " + std::to_string(c.code) + ": "), std::string::npos) << c.name << r.output;
      EXPECT_NE(r.output.find("\nConversion Failed\n"), std::string::npos) << c.name;
    }
  }
  EXPECT_EQ(ReadWholeFile(In("exists.mp4")), ReadWholeFile(In("a.mp4"))) << "the input is kept";
  EXPECT_EQ(GetFileAttributesA(In("nospool.mp4").c_str()), INVALID_FILE_ATTRIBUTES) << "a failed run leaves no file";
}

}  // namespace
