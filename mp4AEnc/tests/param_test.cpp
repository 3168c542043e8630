#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "mp4aenc/param.h"
#include "param_front_end.h"

namespace {

class ParamTest : public ::testing::Test {
 protected:
  void TearDown() override { param_free_all(); }
};

TEST_F(ParamTest, WithoutConfigurationEveryRequestKeepsItsDefault) {
  param_free_all();
  int predDelay = 8;
  EXPECT_EQ(param_get_int("pred_delay", 0, 8, "frame delay between two consecutive resets", nullptr,
                          &predDelay), PARAM_UNKNOWN);
  EXPECT_EQ(predDelay, 8);
  // Ranges bind only configured values: SMMin's default lies outside its range.
  float smMin = 5.0f;
  EXPECT_EQ(param_get_float("SMMin", -100.0f, 0.0f, nullptr, nullptr, &smMin), PARAM_UNKNOWN);
  EXPECT_EQ(smMin, 5.0f);
  int on = 1;
  EXPECT_EQ(param_get_flag("cutLdns", "cut bands with low loudness", nullptr, &on), PARAM_UNKNOWN);
  EXPECT_EQ(on, 0);
  char text[8] = "keep";
  EXPECT_EQ(param_get_string("decOf", nullptr, nullptr, text, sizeof text), PARAM_UNKNOWN);
  EXPECT_STREQ(text, "keep");
  EXPECT_EQ(param_print_used(), PARAM_OK);
}

TEST_F(ParamTest, IntegersAndFloatsFromTheConfiguration) {
  struct Case {
    const char* item;
    int min, max, start;
    int result, value;
  } cases[] = {
      {"-a 0x10", 0, 100, 1, PARAM_OK, 16},
      {"-a 010", 0, 100, 1, PARAM_OK, 8},
      {"-a -7", -10, 0, 1, PARAM_OK, -7},
      {"-a 101", 0, 100, 1, PARAM_RANGE, 1},
      {"-a 5000000", 3, 3, 1, PARAM_OK, 5000000},  // min == max: no range
      {"-a 12abc", 0, 100, 1, PARAM_RANGE, 1},
      {"-a 1 2", 0, 100, 1, PARAM_TOO_MANY, 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.item);
    configure_params({c.item});
    int v = c.start;
    EXPECT_EQ(param_get_int("a", c.min, c.max, nullptr, nullptr, &v), c.result);
    EXPECT_EQ(v, c.value);
  }
  configure_params({"-ldnsMin 1.5", "-ldnsMax 0.25"});
  float ldnsMin = 0.02f, ldnsMax = 0.08f;
  EXPECT_EQ(param_get_float("ldnsMin", 0.0f, 1.0f, nullptr, "extended", &ldnsMin), PARAM_RANGE);
  EXPECT_EQ(ldnsMin, 0.02f);
  EXPECT_NE(std::strstr(param_last_message(), "At parameter ldnsMin: Range Check failed"), nullptr);
  EXPECT_EQ(param_get_float("ldnsMax", 0.0f, 1.0f, nullptr, nullptr, &ldnsMax), PARAM_OK);
  EXPECT_EQ(ldnsMax, 0.25f);
  // The entry stays marked: a second request keeps the default too.
  EXPECT_EQ(param_get_float("ldnsMin", 0.0f, 1.0f, nullptr, nullptr, &ldnsMin), PARAM_OK);
  EXPECT_EQ(ldnsMin, 0.02f);
  testing::internal::CaptureStderr();
  EXPECT_EQ(param_print_used(), PARAM_EXTENDED_HELP);
  EXPECT_EQ(testing::internal::GetCapturedStderr(),
            "Extended Help for commandline argument -ldnsMin:\nextended\n\n");
}

TEST_F(ParamTest, ElementIndexSelectsOneValueOfSeveral) {
  configure_params({"-corebw 100 200 300"});
  param_set_mode(1, 3);
  float bw = 0.0f;
  EXPECT_EQ(param_get_float("corebw", 0.0f, 10000.0f, nullptr, nullptr, &bw), PARAM_OK);
  EXPECT_EQ(bw, 200.0f);
  param_set_mode(0, 1);
}

TEST_F(ParamTest, VectorsStopAtTheFirstFailure) {
  configure_params({"-v 1 2 3", "-w 1 99 3", "-x 1 2"});
  int v[3] = {}, w[3] = {7, 7, 7}, x[3] = {7, 7, 7};
  EXPECT_EQ(param_get_int_vector("v", 3, 0, 10, nullptr, nullptr, v), PARAM_OK);
  EXPECT_EQ(v[2], 3);
  EXPECT_EQ(param_get_int_vector("w", 3, 0, 10, nullptr, nullptr, w), PARAM_RANGE);
  EXPECT_EQ(w[0], 1);  // earlier values stay written
  EXPECT_EQ(w[1], 7);
  EXPECT_EQ(w[2], 7);
  EXPECT_EQ(param_get_int_vector("x", 3, 0, 10, nullptr, nullptr, x), PARAM_TOO_FEW);
  EXPECT_NE(std::strstr(param_last_message(), "Too few arguments in configuration"), nullptr);
  float f[2] = {};
  configure_params({"-f 0.5 2.5"});
  EXPECT_EQ(param_get_float_vector("f", 2, 0.0f, 1.0f, nullptr, nullptr, f), PARAM_RANGE);
  EXPECT_EQ(f[0], 0.5f);
}

TEST_F(ParamTest, FlagsAndStrings) {
  configure_params({"-noBra", "-decOf output.wav"});
  int on = 0;
  EXPECT_EQ(param_get_flag("noBra", nullptr, nullptr, &on), PARAM_OK);
  EXPECT_EQ(on, 1);
  // A flag is consumed by its first request.
  EXPECT_EQ(param_get_flag("noBra", nullptr, nullptr, &on), PARAM_UNKNOWN);
  EXPECT_EQ(on, 0);
  char small[5] = "";
  EXPECT_EQ(param_get_string("decOf", nullptr, nullptr, small, sizeof small), PARAM_TRUNCATED);
  EXPECT_STREQ(small, "outp");
  char big[64] = "";
  EXPECT_EQ(param_get_string("decOf", nullptr, nullptr, big, sizeof big), PARAM_OK);
  EXPECT_STREQ(big, "output.wav");
}

TEST_F(ParamTest, SummaryReportsConfiguredButUnrequestedNames) {
  configure_params({"-typo 3", "-used 1"});
  int used = 0;
  param_get_int("used", 0, 5, nullptr, nullptr, &used);
  testing::internal::CaptureStderr();
  EXPECT_EQ(param_print_used(), PARAM_ILLEGAL);
  std::string err = testing::internal::GetCapturedStderr();
  EXPECT_NE(err.find("Illegal parameter in configuration, no request to typo \"3\"."), std::string::npos);
  // Everything was freed: the registry is gone again.
  int v = 4;
  EXPECT_EQ(param_get_int("used", 0, 5, nullptr, nullptr, &v), PARAM_UNKNOWN);
  EXPECT_EQ(v, 4);
}

TEST_F(ParamTest, HelpModePrintsEachRequestOnceAndDoesNotEndTheProcess) {
  configure_params({});
  param_set_print_mode(1);
  testing::internal::CaptureStderr();
  int v = 8;
  param_get_int("pred_delay", 0, 8, "frame delay between two consecutive resets", nullptr, &v);
  param_get_int("pred_delay", 0, 8, "frame delay between two consecutive resets", nullptr, &v);
  float f[2] = {1, 2};
  param_get_float_vector("fv", 2, 0, 1, nullptr, nullptr, f);
  std::string err = testing::internal::GetCapturedStderr();
  EXPECT_EQ(err, "-pred_delay int\t\tframe delay between two consecutive resets\n-fv 2*float\t\t\n");
  EXPECT_EQ(v, 8);
  EXPECT_EQ(param_print_used(), PARAM_OK);
  // Back in normal mode.
  configure_params({"-a 3"});
  int a = 0;
  EXPECT_EQ(param_get_int("a", 0, 5, nullptr, nullptr, &a), PARAM_OK);
  EXPECT_EQ(a, 3);
}

}  // namespace
