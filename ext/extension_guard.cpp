#include "ext/extension_guard.h"

#include <setjmp.h>
#include <signal.h>
#include <string.h>

#include <mutex>

namespace kv {

namespace {

constexpr int kFaultSignals[] = {SIGSEGV, SIGBUS, SIGFPE, SIGILL};
struct sigaction previous[NSIG];
thread_local sigjmp_buf* guardJump = nullptr;
thread_local volatile sig_atomic_t guardSignal = 0;

void OnFault(int sig, siginfo_t* info, void* context) {
  if (sigjmp_buf* jump = guardJump) {
    guardJump = nullptr;
    guardSignal = sig;
    siglongjmp(*jump, 1);
  }
  // Not inside an extension: whatever handled the signal before.
  const struct sigaction& p = previous[sig];
  if ((p.sa_flags & SA_SIGINFO) && p.sa_sigaction) {
    p.sa_sigaction(sig, info, context);
    return;
  }
  if (!(p.sa_flags & SA_SIGINFO) && p.sa_handler != SIG_DFL && p.sa_handler != SIG_IGN) {
    p.sa_handler(sig);
    return;
  }
  // The default action: returning re-runs the faulting instruction.
  sigaction(sig, &p, nullptr);
}

void Install() {
  struct sigaction sa {};
  sa.sa_sigaction = OnFault;
  sa.sa_flags = SA_SIGINFO | SA_NODEFER;
  sigemptyset(&sa.sa_mask);
  for (int sig : kFaultSignals) sigaction(sig, &sa, &previous[sig]);
}

}  // namespace

bool CallCatchingFaults(void (*fn)(void*), void* data, std::string& fault) {
  static std::once_flag installed;
  std::call_once(installed, Install);
  sigjmp_buf jump;
  sigjmp_buf* outer = guardJump;
  if (sigsetjmp(jump, 1) != 0) {
    guardJump = outer;
    fault = strsignal(guardSignal);
    return false;
  }
  guardJump = &jump;
  fn(data);
  guardJump = outer;
  return true;
}

FaultGuardPause::FaultGuardPause() : saved_(guardJump) { guardJump = nullptr; }

FaultGuardPause::~FaultGuardPause() { guardJump = static_cast<sigjmp_buf*>(saved_); }

}  // namespace kv
