#pragma once

namespace oxle {

// The whole `oxle` program: decides from the arguments whether this process is
// the running instance, a forwarder to it, or a one-shot command.
int runOxle(int argc, char **argv);

// The application's name, organisation and version, for settings paths and --version.
void setApplicationNames();

} // namespace oxle
