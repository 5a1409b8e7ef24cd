// Reading the tagged blocks and labelled lines of a prompt, as the offline writers do.
#include "zorvane/agent/offline_prompt_text.hpp"

#include <gtest/gtest.h>

#include <string>
#include <string_view>
#include <vector>

namespace zorvane::agent::offline {
namespace {

TEST(OfflinePromptText, TagBlocksAreTheFirstOpenToTheNextClose) {
  const std::string_view prompt = "intro </a> <a>\n  one  \n</a> then <a>two</a>";
  EXPECT_EQ(tag_block(prompt, "a"), "\n  one  \n");
  EXPECT_EQ(tagged(prompt, "a"), "one");
  EXPECT_EQ(tagged("<a></a>", "a"), "");  // present but empty is not missing
  EXPECT_EQ(tag_block("<a>no close", "a"), std::nullopt);
  EXPECT_EQ(tagged("</a>close first", "a"), std::nullopt);
  EXPECT_EQ(tagged("<ab>x</ab>", "a"), std::nullopt);
}

TEST(OfflinePromptText, LinesKeepEmptyOnesAndTheLastWithoutABreak) {
  EXPECT_EQ(lines_of("a\n\nb"), (std::vector<std::string_view>{"a", "", "b"}));
  EXPECT_EQ(lines_of("a\n"), (std::vector<std::string_view>{"a", ""}));
  EXPECT_EQ(lines_of(""), (std::vector<std::string_view>{""}));
}

TEST(OfflinePromptText, LineValueNeedsTheLabelAtTheStartOfATrimmedLine) {
  const std::string_view text =
      "说明：见 - 强度：不算\n"
      "  - 强度：  偏强  \n"
      "- 强度：第二个\n"
      "- 价格：12.5";
  EXPECT_EQ(line_value(text, "- 强度："), "偏强");  // first line starting with it wins
  EXPECT_EQ(line_value(text, "- 价格："), "12.5");  // last line, no line break
  EXPECT_EQ(line_value(text, "- 涨幅："), "");
  EXPECT_EQ(line_value("", "- 强度："), "");
}

}  // namespace
}  // namespace zorvane::agent::offline
