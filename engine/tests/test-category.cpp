#include "sf-category.h"
#include "sf-error.h"
#include "sf-log.h"

#include "log-capture.h"

#include <gtest/gtest.h>

TEST (Category, NonSingleValuesMapToOther)
{
  EXPECT_EQ (sf_category_to_index (SF_CATEGORY_APPLICATIONS), 6);
  EXPECT_EQ (sf_category_to_index (SF_CATEGORY_MEDIA), 13);
  EXPECT_EQ (sf_category_to_index (SF_CATEGORY_OTHER), 11);
  EXPECT_EQ (sf_category_to_index ((SfCategory)3), 11);
  EXPECT_EQ (sf_category_to_index (SF_CATEGORY_NONE), 11);
  EXPECT_EQ (sf_category_from_index (14), SF_CATEGORY_OTHER);
  EXPECT_EQ (sf_category_from_index (-1), SF_CATEGORY_OTHER);
  EXPECT_STREQ (sf_category_get_display_name ((SfCategory)3), "");
  EXPECT_EQ (sf_category_to_string (SF_CATEGORY_ALL), nullptr);
}

TEST (Category, NamesRoundTripThroughEveryIndex)
{
  for (gint index = 0; index < SF_CATEGORY_COUNT; index++)
    {
      SfCategory category = sf_category_from_index (index);
      EXPECT_EQ (sf_category_to_index (category), index);
      EXPECT_EQ (sf_category_from_string (sf_category_to_string (category)), category);
    }
  EXPECT_STREQ (sf_category_to_string (SF_CATEGORY_COMM_AND_CAL), "comm_and_cal");
  EXPECT_STREQ (sf_category_get_display_name (SF_CATEGORY_APPLICATIONS), "Application list");
}

TEST (Category, NameComparisonIsExactAndWarns)
{
  sf_log_start (2);
  LogCapture log;
  EXPECT_EQ (sf_category_from_string ("Contacts"), SF_CATEGORY_NONE);
  EXPECT_EQ (sf_category_from_string ("contacts "), SF_CATEGORY_NONE);
  EXPECT_EQ (sf_category_from_string (NULL), SF_CATEGORY_NONE);
  EXPECT_EQ (log.count ("Invalid category"), 3u);
}

TEST (Error, DomainIsTheNamedQuark)
{
  EXPECT_EQ (SF_ERROR, g_quark_from_string ("sf-error-quark"));
  EXPECT_EQ (SF_ERROR_RESTORE_FAILED, 11);
}
