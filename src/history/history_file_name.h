#pragma once

#include <string>

// Name of a history export made at the given local time:
// "emfhistory_MMDDYYYY_hhmmss.csv", e.g. "emfhistory_12052026_175512.csv".
std::string HistoryFileName(int year, int month, int day, int hour, int minute, int second);
