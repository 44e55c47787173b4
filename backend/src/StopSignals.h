#pragma once

#include <csignal>

#include <pthread.h>

namespace oxle::backend {

// SIGTERM and SIGINT are taken with sigwait by one thread, so that stopping runs outside a signal handler.
// Blocked before any other thread starts, so that every thread inherits the mask; a closed client connection
// (SIGPIPE) is an error return, not the end of the process. Returns the set to wait on.
inline sigset_t blockStopSignals()
{
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGTERM);
    sigaddset(&stopSignals, SIGINT);
    pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);
    std::signal(SIGPIPE, SIG_IGN);
    return stopSignals;
}

} // namespace oxle::backend
