// How a raw command line turns into batch options, or leaves them to the window.
#include <gtest/gtest.h>

#include "desktop/batch/batch.h"

namespace quorvel::desktop {
namespace {

std::optional<BatchArgs> parse(std::vector<const char*> args) {
  args.insert(args.begin(), "quorvel");
  return batch_args(static_cast<int>(args.size()), args.data());
}

TEST(BatchArgs, TakesTheNextArgumentAsValueWhateverItLooksLike) {
  struct Case {
    std::vector<const char*> args;
    BatchArgs expected;
  } cases[] = {
      {{"--batch", "d"}, {"d", "extract-csv", "d/out", ""}},
      {{"--batch", "d/"}, {"d/", "extract-csv", "d//out", ""}},
      {{"--batch-op", "text", "--batch", "d"}, {"d", "text", "d/out", ""}},
      {{"--batch", "a", "--batch", "b", "--batch-out", "o", "--batch-pw", "p w"}, {"b", "extract-csv", "o", "p w"}},
      {{"--batch", "--batch-op", "x.pdf"}, {"--batch-op", "extract-csv", "--batch-op/out", ""}},
      {{"doc.pdf", "--batch", "d", "--batch-op", "", "--batch-out", "", "--batch-pw"}, {"d", "extract-csv", "d/out", ""}},
      {{"--batch", "d", "--batch-op", "--batch-pw", "secret"}, {"d", "--batch-pw", "d/out", ""}},
      {{"--BATCH", "x", "--batch", "d", "--batch-op=text"}, {"d", "extract-csv", "d/out", ""}},
  };
  for (const Case& c : cases) {
    const std::optional<BatchArgs> got = parse(c.args);
    ASSERT_TRUE(got.has_value()) << c.args.size();
    EXPECT_EQ(got->dir, c.expected.dir);
    EXPECT_EQ(got->op, c.expected.op);
    EXPECT_EQ(got->out, c.expected.out);
    EXPECT_EQ(got->pw, c.expected.pw);
  }
}

TEST(BatchArgs, LeavesTheWindowModeWithoutAFolder) {
  for (const std::vector<const char*>& args :
       {std::vector<const char*>{}, {"file.pdf"}, {"--batch"}, {"--batch", ""}, {"file.pdf", "--batch"},
        {"--batch-op", "verify", "--batch-out", "o"}, {"--batch", "d", "--batch", ""}}) {
    EXPECT_FALSE(parse(args).has_value()) << args.size();
  }
}

}  // namespace
}  // namespace quorvel::desktop
