#include "history/history_file_name.h"

#include "framework/format.h"

std::string HistoryFileName(int year, int month, int day, int hour, int minute, int second) {
  const auto two = [](int v) { return fw::Format(v, "00"); };
  return "emfhistory_" + two(month) + two(day) + two(year) + "_" + two(hour) + two(minute) +
         two(second) + ".csv";
}
