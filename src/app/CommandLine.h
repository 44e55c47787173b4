#pragma once

namespace oxle {

// The whole `oxle` program: decides from the arguments whether this process is
// the running instance, a forwarder to it, or a one-shot command.
int runOxle(int argc, char **argv);

} // namespace oxle
