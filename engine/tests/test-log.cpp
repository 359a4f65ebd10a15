#include "sf-category.h"
#include "sf-log.h"

#include "log-capture.h"

#include <gtest/gtest.h>
#include <regex>

TEST (Log, ThresholdSelectsLevelsAndLinesNameTheirSource)
{
  LogCapture log;
  sf_log_start (1);
  sf_category_from_string ("nonsense");
  EXPECT_TRUE (log.lines ().empty ()) << "a diagnostic is written below threshold 2";

  sf_log_start (2);
  sf_category_from_string ("nonsense");
  sf_log_stop ();
  std::vector<LogCapture::Line> lines = log.lines ();
  ASSERT_EQ (lines.size (), 3u);
  EXPECT_TRUE (std::regex_match (lines[0].message,
                                 std::regex (R"(\.\./engine/src/sf-log\.cpp:[0-9]+: Started)")))
      << lines[0].message;
  EXPECT_EQ (lines[0].level, G_LOG_LEVEL_DEBUG);
  EXPECT_TRUE (std::regex_match (
      lines[1].message,
      std::regex (R"(\.\./engine/src/sf-category\.cpp:[0-9]+: Invalid category)")))
      << lines[1].message;
  EXPECT_EQ (lines[1].level, G_LOG_LEVEL_WARNING);
  EXPECT_NE (lines[2].message.find (": Stopped"), std::string::npos);

  EXPECT_FALSE (sf_log_enabled (3));
  EXPECT_TRUE (sf_log_enabled (1));
}
