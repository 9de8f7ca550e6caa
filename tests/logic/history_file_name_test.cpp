#include "history/history_file_name.h"

#include <gtest/gtest.h>

namespace {

TEST(HistoryFileName, IsMonthDayYearThenTime) {
  EXPECT_EQ(HistoryFileName(2026, 12, 5, 17, 55, 12), "emfhistory_12052026_175512.csv");
  EXPECT_EQ(HistoryFileName(2027, 1, 9, 8, 5, 3), "emfhistory_01092027_080503.csv");
}

}  // namespace
