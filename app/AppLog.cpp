#include "app/AppLog.h"

#include <cstdio>

namespace app {
namespace {
std::vector<std::string>& lines() {
    static std::vector<std::string> l;
    return l;
}
bool& echo() {
    static bool e = true;
    return e;
}
}  // namespace

void appLog(const std::string& line) {
    auto& l = lines();
    if (l.size() >= 1000) l.erase(l.begin(), l.begin() + 100);
    l.push_back(line);
    if (echo()) std::fprintf(stderr, "%s\n", line.c_str());
}

const std::vector<std::string>& appLogLines() { return lines(); }
void clearAppLog() { lines().clear(); }
void setAppLogEcho(bool e) { echo() = e; }

}  // namespace app
