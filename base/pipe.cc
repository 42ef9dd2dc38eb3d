#include "base/pipe.h"

#include <pthread.h>
#include <signal.h>

namespace cvn::pipe {

std::thread start(std::function<void()> f) {
  // A new thread inherits the signal mask of the one that starts it.
  sigset_t all, before;
  ::sigfillset(&all);
  (void)::pthread_sigmask(SIG_SETMASK, &all, &before);
  try {
    std::thread t(std::move(f));
    (void)::pthread_sigmask(SIG_SETMASK, &before, nullptr);
    return t;
  } catch (...) {
    (void)::pthread_sigmask(SIG_SETMASK, &before, nullptr);
    throw;
  }
}

bool threads_help() {
  static const bool more_than_one = std::thread::hardware_concurrency() > 1;
  return more_than_one;
}

}  // namespace cvn::pipe
