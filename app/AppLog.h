// The app's console log: one line per message on standard error, also kept
// in memory (the last lines) so that tests and the simulator can read what
// the app reported. Main thread only.
#pragma once

#include <string>
#include <vector>

namespace app {

void appLog(const std::string& line);
// The lines logged since the last clear, oldest first (at most 1000 kept).
const std::vector<std::string>& appLogLines();
void clearAppLog();
// Whether lines are also written to standard error (on by default).
void setAppLogEcho(bool echo);

}  // namespace app
