#pragma once

#include <QCoro/QCoroTask>

#include <functional>

class QCoreApplication;

namespace oxle {

// The whole `oxle` program: decides from the arguments whether this process is
// the running instance, a forwarder to it, or a one-shot command.
int runOxle(int argc, char **argv);

// Runs `body` on the application's event loop as the whole program and answers its result as the exit
// status. A body that throws (anything at all) ends the program with its error on standard error and
// status 2, the status of a command that could not run.
int runCommandTask(QCoreApplication &app, std::function<QCoro::Task<int>()> body);

// The application's name, organisation and version, for settings paths and --version.
void setApplicationNames();

} // namespace oxle
