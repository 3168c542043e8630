#include <gtest/gtest.h>

#include <string>

#include "mp4aenc/error.h"

namespace {

ErrorRecord* innermost() {
  return error_create("mp4AEnc/mp4AACCore/src/psych/psych", 120, "psy", "threshold <= FLT_MIN (%d)", 3);
}
ErrorRecord* middle() {
  ErrorRecord* e = innermost();
  return e ? error_add_trace("mp4AEnc/mp4AACCore/src/tools/toolmain", 45, "tools", e) : nullptr;
}
ErrorRecord* outer() {
  ErrorRecord* e = middle();
  return e ? error_add_trace("mp4AEnc/mp4All/enc", 7, nullptr, e) : nullptr;
}

TEST(ErrorRecordTest, FailureThreeLevelsDeepCarriesTwoTracesFromTheInsideOut) {
  ErrorRecord* e = outer();
  ASSERT_NE(e, nullptr);
  EXPECT_STREQ(e->file, "psych");
  EXPECT_EQ(e->line, 120);
  EXPECT_STREQ(e->context, "psy");
  EXPECT_STREQ(e->message, "threshold <= FLT_MIN (3)");
  ASSERT_EQ(error_trace_count(e), 2);
  EXPECT_STREQ(e->next->file, "toolmain");
  EXPECT_EQ(e->next->line, 45);
  EXPECT_STREQ(e->next->next->file, "enc");
  EXPECT_EQ(e->next->next->context, nullptr);
  error_free(e);
  EXPECT_EQ(error_add_trace("x", 1, nullptr, nullptr), nullptr);
}

TEST(ErrorRecordTest, MessageIsCutAt511Characters) {
  std::string longText(2000, 'x');
  ErrorRecord* e = error_create("f", 1, nullptr, "%s", longText.c_str());
  EXPECT_EQ(std::string(e->message).size(), 511u);
  error_free(e);
}

TEST(ErrorRecordTest, FatalDesignErrorReportsAndReturnsInsteadOfExiting) {
  testing::internal::CaptureStderr();
  ErrorRecord* e = fatal_design_error("bad state", "mp4AEnc/x/psych", 9);
  std::string err = testing::internal::GetCapturedStderr();
  EXPECT_EQ(err, "\a##########\nfatal error: bad state in file mp4AEnc/x/psych, 9"
                 "\nThis is a program design failure - Aborting.\n##########\n");
  ASSERT_NE(e, nullptr);
  EXPECT_STREQ(e->message, "bad state");
  error_free(e);
}

TEST(ErrorRecordTest, UnavailableCoresFailWithTheirMessages) {
  ErrorRecord* tvq = tvq_core_create();
  ErrorRecord* celp = celp_core_create();
  ASSERT_NE(tvq, nullptr);
  ASSERT_NE(celp, nullptr);
  EXPECT_STREQ(tvq->message, "TVQ core not available");
  EXPECT_STREQ(celp->message, "Not supported\n");
  error_free(tvq);
  error_free(celp);
}

}  // namespace
