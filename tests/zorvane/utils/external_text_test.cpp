#include "zorvane/utils/external_text.hpp"

#include <gtest/gtest.h>

#include "zorvane/utils/log_capture.hpp"
#include "zorvane/utils/logger.hpp"
#include "zorvane/utils/text.hpp"

namespace zorvane::utils {
namespace {

TEST(ExternalText, ControlsBecomeVisibleAndTextStaysValidUtf8) {
  EXPECT_EQ(escape_controls("a\x1b]0;pwned\x07z"), "a\\x1b]0;pwned\\x07z");
  EXPECT_EQ(escape_controls("行一\n\t行二\r\x7f"), "行一\n\t行二\\x0d\\x7f");
  EXPECT_EQ(escape_controls("\xc2\x9b"
                            "31m"),
            "\\u009b31m");  // C1 CSI
  EXPECT_EQ(escape_controls("ok \xff\xc3("), "ok \xEF\xBF\xBD\xEF\xBF\xBD(");
  EXPECT_EQ(escape_controls(escape_controls("\x1b")), "\\x1b");  // applying twice changes nothing

  // Maximal ill-formed subparts: a truncated 3-byte sequence is one replacement character,
  // a surrogate encoding is three, an overlong slash is two.
  EXPECT_EQ(valid_utf8("a\xe4\xb8"
                       "b"),
            "a\xEF\xBF\xBD"
            "b");
  EXPECT_EQ(valid_utf8("\xed\xa0\x80"), "\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD");
  EXPECT_EQ(valid_utf8("\xc0\xaf"), "\xEF\xBF\xBD\xEF\xBF\xBD");
  EXPECT_EQ(valid_utf8("完好的文本 \xf0\x9f\x98\x80"), "完好的文本 \xf0\x9f\x98\x80");
  EXPECT_TRUE(is_valid_utf8(valid_utf8("\xf4\x90\x80\x80 \xe0\x80\x80")));
}

TEST(ExternalText, RegisteredSecretsNeverReachALogLine) {
  register_secret("tiny");  // a placeholder, not a credential: left alone
  register_secret("sk-registry-SECRET-42");
  EXPECT_EQ(redact_secrets("key=sk-registry-SECRET-42; again sk-registry-SECRET-42 tiny"),
            "key=***; again *** tiny");
  EXPECT_EQ(printable_external("x=abc-\x1b[2J", "abc"), "x=***-\\x1b[2J");

  LogCapture logs;
  logger.warning("broker said: %s", std::string("\x1b[31mauth sk-registry-SECRET-42 refused\a"));
  ASSERT_EQ(logs.lines().size(), 1u);
  EXPECT_EQ(logs.lines()[0], "warning|broker said: \\x1b[31mauth *** refused\\x07");
}

}  // namespace
}  // namespace zorvane::utils
