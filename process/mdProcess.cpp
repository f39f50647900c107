// Stand-in until process inspection lands.
#include "process/mdProcess.h"

namespace mdProcess {
QString TakePath(App& app, qint64 pid, qint64 moduleId) { return app.sys.processes.path(pid, moduleId); }
QString TakeCmdArg(App& app, qint64 pid) { return app.sys.processes.commandArgs(pid); }
QString TakeName(App& app, qint64 pid) { return app.sys.processes.name(pid); }
int KillProcess(App& app, qint64 pid) { return app.sys.processes.kill(pid); }
void startupApp(App&, bool) {}
} // namespace mdProcess
