#pragma once
#include "platform/Processes.h"

namespace platform {

class LinuxProcesses : public Processes {
public:
    void walk(const std::function<bool(const ProcessEntry&)>& visit) override;
    QString path(qint64 pid, qint64 moduleId) override;
    QString commandArgs(qint64 pid) override;
    QString name(qint64 pid) override;
    int kill(qint64 pid) override;
};

} // namespace platform
