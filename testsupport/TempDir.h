// A fresh temporary folder for one test, removed with everything in it when
// the object goes.
#pragma once

#include <string>

namespace testsupport {

class TempDir {
public:
    // Makes <system temporary folder>/<prefix>.XXXXXX; aborts when it cannot.
    explicit TempDir(const std::string& prefix = "decktest");
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::string& path() const { return path_; }
    // The path of `name` inside the folder.
    std::string operator/(const std::string& name) const { return path_ + "/" + name; }

private:
    std::string path_;
};

}  // namespace testsupport
