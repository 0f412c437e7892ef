// One home folder, one app process. The app keeps its state in files of
// the home folder that a process writes whole from what it holds in memory
// (the user defaults, the offline share queue, the Documents lists), so two
// processes on one home would undo each other's changes: a logout or a
// login one reported done, a share one stored or sent. The first process
// to start on a home holds an advisory lock (flock) on "<home>/.app.lock"
// for the rest of its life; a second one is refused before it reads or
// writes anything else there. The lock goes with the process however it
// ends, so a process that was killed never keeps the next one out.
#pragma once

#include <string>

namespace app {

// The lock file of a home folder.
std::string homeLockPath(const std::string& home);

// Claims `home` (an existing folder) for this process: true when this
// process holds it, now or from an earlier claim. Claiming another home
// lets the one held before go (the tests start the app on one home after
// another in one process). False when another process holds it, with *why
// naming the home and that process; nothing in the home is changed then.
// A home whose lock file cannot be made (a read-only home) is started
// without the lock, with one warning on standard error that gives the
// reason (a later claim of that home in this process says nothing more):
// nothing can be written there for two processes to undo. The lock's path
// is never followed when it is a link, and a lock file with another name
// too (a hard link) is locked but not written: no file outside the home is
// created or changed. Anything but a plain file there is a lock that cannot
// be taken, with its warning.
bool claimHome(const std::string& home, std::string* why);

}  // namespace app
