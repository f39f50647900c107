#pragma once
#include <QString>

namespace platform {

// Facts about this program.
class Program {
public:
    virtual ~Program() = default;
    virtual QString folder() = 0;     // the executable's folder, no trailing "/"
    virtual QString exeName() = 0;    // the executable's file name without extension
    virtual QString exePath() = 0;    // folder + "/" + file name, as the system names the running file
    virtual int versionMajor() = 0;
    virtual int versionMinor() = 0;
    virtual int versionRevision() = 0;
    virtual QString productTitle() = 0;
    virtual QString description() = 0;
    // False when another copy runs in this user session.
    virtual bool takeInstanceLock() = 0;
    // Keeps the program out of the task list.
    virtual void hideFromTaskList() = 0;
};

} // namespace platform
