// IAudEncCfg and IAudEncStats: every refusal code and edge, as one table,
// on the filter created by its CLSID.
#include <windows.h>
#include <objbase.h>

#include <gtest/gtest.h>

#include <functional>

#include "audioencfilter/iaudenc.h"
#include "encoder_graph.h"
#include "tonquill_fixture.h"

namespace {

class Interfaces : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { ASSERT_EQ(regsvr32(false), 0u); }
  void SetUp() override {
    ASSERT_TRUE(SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED)));
    filter_ = CreateRegisteredEncoder();
    ASSERT_NE(filter_, nullptr);
    ASSERT_EQ(filter_->QueryInterface(IID_IAudEncCfg, reinterpret_cast<void**>(&cfg_)), S_OK);
    ASSERT_EQ(filter_->QueryInterface(IID_IAudEncStats, reinterpret_cast<void**>(&stats_)), S_OK);
  }
  void TearDown() override {
    if (cfg_) cfg_->Release();
    if (stats_) stats_->Release();
    if (filter_) filter_->Release();
    CoUninitialize();
  }
  IBaseFilter* filter_ = nullptr;
  IAudEncCfg* cfg_ = nullptr;
  IAudEncStats* stats_ = nullptr;
};

}  // namespace

TEST(AudioEncoderError, CodesAreControlFacilityErrorsFrom3001) {
  struct Code {
    HRESULT value;
    int code;
  };
  const Code codes[] = {{KRM_E_INVALID_CODEC_ID, 3001},   {KRM_E_INVALID_INSTANCE, 3002},
                        {KRM_E_INVALID_AUDIO_BITRATE, 3003}, {AUDENC_E_AAC_BUSY, 3004},
                        {AUDENC_E_OUTPUT_FULL, 3020},     {AUDENC_E_AMR_INIT, 3021},
                        {AUDENC_E_EVRC_INIT, 3022},       {AUDENC_E_AAC_INIT, 3023},
                        {AUDENC_E_INPUT_SAMPLE, 3024},    {AUDENC_E_EMPTY_INPUT, 3025},
                        {AUDENC_E_OUTPUT_SAMPLE, 3027},   {AUDENC_E_ENCODE, 3028},
                        {AUDENC_E_INVALID_STREAM_ID, 3030}, {KRM_E_USE_DEFAULT_CODEC, 3035}};
  for (const Code& c : codes) {
    EXPECT_EQ(c.value, MAKE_HRESULT(SEVERITY_ERROR, FACILITY_CONTROL, c.code)) << c.code;
  }
}

TEST_F(Interfaces, EveryRefusalAndEdgeAnswersItsCode) {
  IAudEncCfg* c = cfg_;
  IAudEncStats* s = stats_;
  BOOL on = 0;
  short id = 0, type = 0, index = 0, channels = 2;
  int rate = 0, bitrate = 0, n = 0, k = 0, value = 0;
  BYTE buffer[64];
  struct Case {
    const char* call;
    std::function<HRESULT()> run;
    HRESULT expected;
  };
  const Case cases[] = {
      {"SetAMR id 300", [&] { return c->SetAMR(0, TRUE, 300, 0, 12200); }, AUDENC_E_INVALID_STREAM_ID},
      {"SetAMR index 2, id 300: the id first", [&] { return c->SetAMR(2, TRUE, 300, 0, 12200); },
       AUDENC_E_INVALID_STREAM_ID},
      {"SetAMR index 2", [&] { return c->SetAMR(2, TRUE, 1, 0, 12200); }, KRM_E_INVALID_INSTANCE},
      {"SetAMR id -1", [&] { return c->SetAMR(0, TRUE, -1, 0, 12200); }, AUDENC_E_INVALID_STREAM_ID},
      {"SetAMR 9200 bit/s", [&] { return c->SetAMR(0, TRUE, 1, 0, 9200); }, KRM_E_INVALID_AUDIO_BITRATE},
      {"SetEVRC index 1, id 300: the index first", [&] { return c->SetEVRC(1, TRUE, 300, 0, 9200); },
       KRM_E_INVALID_INSTANCE},
      {"SetEVRC id 256", [&] { return c->SetEVRC(0, TRUE, 256, 0, 9200); }, AUDENC_E_INVALID_STREAM_ID},
      {"SetEVRC 12200 bit/s", [&] { return c->SetEVRC(0, TRUE, 1, 0, 12200); }, KRM_E_INVALID_AUDIO_BITRATE},
      {"SetAAC null rate", [&] { return c->SetAAC(0, TRUE, 1, nullptr, &bitrate, &channels); }, E_INVALIDARG},
      {"SetAAC index 1", [&] { bitrate = 64000; return c->SetAAC(1, TRUE, 1, &rate, &bitrate, &channels); },
       KRM_E_INVALID_INSTANCE},
      {"SetAAC id 256", [&] { return c->SetAAC(0, TRUE, 256, &rate, &bitrate, &channels); },
       AUDENC_E_INVALID_STREAM_ID},
      {"SetAAC 20000 bit/s", [&] { bitrate = 20000; return c->SetAAC(0, TRUE, 1, &rate, &bitrate, &channels); },
       KRM_E_INVALID_AUDIO_BITRATE},
      {"SetAAC off on an inactive stream", [&] {
         bitrate = 64000, rate = -1, channels = 2;
         const HRESULT hr = c->SetAAC(0, FALSE, 1, &rate, &bitrate, &channels);
         return hr == S_OK && rate == 0 && channels == 0 ? S_OK : E_FAIL;
       },
       S_OK},
      {"GetAMR index 2 before its pointers", [&] { return c->GetAMR(2, nullptr, nullptr, nullptr, nullptr); },
       KRM_E_INVALID_INSTANCE},
      {"GetAMR null", [&] { return c->GetAMR(0, &on, nullptr, &rate, &bitrate); }, E_INVALIDARG},
      {"GetEVRC index 1", [&] { return c->GetEVRC(1, &on, &id, &rate, &bitrate); }, KRM_E_INVALID_INSTANCE},
      {"GetEVRC null", [&] { return c->GetEVRC(0, nullptr, &id, &rate, &bitrate); }, E_INVALIDARG},
      {"the seventh entry", [&] { return c->Unused(); }, E_NOTIMPL},
      {"Reserved null", [&] { return c->Reserved(1, nullptr); }, E_INVALIDARG},
      {"Reserved", [&] { return c->Reserved(1, &value); }, S_OK},
      {"GetAACConfig null buffer", [&] { return c->GetAACConfig(0, nullptr, &n); }, E_INVALIDARG},
      {"GetAACConfig index 1", [&] { return c->GetAACConfig(1, buffer, &n); }, KRM_E_INVALID_INSTANCE},
      {"GetAACConfig before SetAAC: length 0", [&] {
         n = -1;
         return c->GetAACConfig(0, buffer, &n) == S_OK && n == 0 ? S_OK : E_FAIL;
       },
       S_OK},
      {"GetActiveStream null", [&] { return s->GetActiveStream(nullptr, &type); }, E_INVALIDARG},
      {"GetActiveStream with nothing enabled", [&] {
         index = 7;
         const HRESULT hr = s->GetActiveStream(&index, &type);
         return index == -2 ? hr : S_OK;
       },
       E_FAIL},
      {"GetAMRBytes index 2", [&] { return s->GetAMRBytes(2, &k, &n); }, E_INVALIDARG},
      {"GetEVRCBytes index 1", [&] { return s->GetEVRCBytes(1, &k, &n); }, E_INVALIDARG},
      {"GetAACBytes null", [&] { return s->GetAACBytes(0, nullptr, &n); }, E_INVALIDARG},
      {"GetAMRSamples index -1", [&] { return s->GetAMRSamples(-1, &n); }, E_INVALIDARG},
      {"GetAACSamples index 1", [&] { return s->GetAACSamples(1, &n); }, E_INVALIDARG},
      {"GetEVRCSamples of a stream never run", [&] {
         n = -1;
         return s->GetEVRCSamples(0, &n) == S_OK && n == 0 ? S_OK : E_FAIL;
       },
       S_OK},
      {"GetSkipped codec 3", [&] { return s->GetSkipped(3, 0, &n); }, KRM_E_INVALID_CODEC_ID},
      {"GetSkipped EVRC index 1", [&] { return s->GetSkipped(1, 1, &n); }, KRM_E_INVALID_INSTANCE},
      {"GetSkipped null", [&] { return s->GetSkipped(0, 0, nullptr); }, E_INVALIDARG},
      {"GetStreamTime AMR index 2", [&] { return s->GetStreamTime(0, 2, &n); }, KRM_E_INVALID_INSTANCE},
      {"GetStreamTime codec -1", [&] { return s->GetStreamTime(-1, 0, &n); }, KRM_E_INVALID_CODEC_ID},
      {"GetEmptyInputs null", [&] { return s->GetEmptyInputs(nullptr); }, E_INVALIDARG},
      {"GetInputBytes null", [&] { return s->GetInputBytes(&k, nullptr); }, E_INVALIDARG},
      {"GetInputSamples null", [&] { return s->GetInputSamples(nullptr); }, E_INVALIDARG},
      {"GetInputTime null", [&] { return s->GetInputTime(nullptr); }, E_INVALIDARG},
      {"SetAAC with a bitrate it offers, in this product", [&] {
         bitrate = 24000, channels = 2;
         return c->SetAAC(0, TRUE, 1, &rate, &bitrate, &channels);
       },
       S_OK},
      {"then SetAAC again: busy until Reset", [&] { return c->SetAAC(0, FALSE, 1, &rate, &bitrate, &channels); },
       AUDENC_E_AAC_BUSY},
      {"Reset", [&] { return c->Reset(); }, S_OK},
      {"SetAMR after Reset", [&] { return c->SetAMR(1, TRUE, 4, 0, 4750); }, S_OK},
      {"GetActiveStream of type 5 finds AMR 1", [&] {
         type = 5;
         const HRESULT hr = s->GetActiveStream(&index, &type);
         return hr == S_OK && index == 1 && type == 0 ? S_OK : E_FAIL;
       },
       S_OK},
      {"GetAMR reads it back", [&] {
         const HRESULT hr = c->GetAMR(1, &on, &id, &rate, &bitrate);
         return hr == S_OK && on && id == 4 && rate == 8000 && bitrate == 4750 ? S_OK : E_FAIL;
       },
       S_OK},
  };
  for (const Case& t : cases) EXPECT_EQ(t.run(), t.expected) << t.call;

  // The Set calls refuse while the filter is not stopped; Reset does not.
  IMediaFilter* mf = nullptr;
  ASSERT_EQ(filter_->QueryInterface(IID_IMediaFilter, reinterpret_cast<void**>(&mf)), S_OK);
  ASSERT_EQ(mf->Pause(), S_OK);
  bitrate = 64000;
  EXPECT_EQ(c->SetAMR(0, TRUE, 1, 0, 12200), E_UNEXPECTED);
  EXPECT_EQ(c->SetEVRC(0, TRUE, 1, 0, 9200), E_UNEXPECTED);
  EXPECT_EQ(c->SetAAC(0, TRUE, 1, &rate, &bitrate, &channels), E_UNEXPECTED);
  EXPECT_EQ(c->Reset(), S_OK);
  EXPECT_EQ(mf->Stop(), S_OK);
  mf->Release();
}
