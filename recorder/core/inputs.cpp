#include "core/inputs.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/time.h>

#include "core/gpio_requests.h"
#include "core/msg_send.h"
#include "core/trace.h"
#include "platform/platform.h"

#define TAG "TRIGWAIT"

namespace {

int openInput(const char* path) {
  int fd = plat::open(path, O_RDWR | O_NONBLOCK);
  if (fd < 0) TRACE(TAG, "failed to open %s. (%d) %s\n", path, errno, strerror(errno));
  return fd;
}

int request(int fd, unsigned long code, uint32_t pin, uint32_t value) {
  GPIO_IOCTL_ARG arg = {GPIO_INPUT_PORT, pin, value};
  return plat::ioctl(fd, code, &arg);
}

// Posts the supervisor's semaphore after a record to pipe 10; false when that failed.
bool wakeSupervisor(THREAD_INFO* info) {
  if (sem_post(info->wake) != 0) {
    TRACE(TAG, "Fail to sem post.");
    return false;
  }
  return true;
}

}  // namespace

int trig_wait(THREAD_INFO* info) {
  TRACE(TAG, "trig_wait()");
  bool reset = info->number == 1;
  const char* path = reset ? GPIO_RESET_BUTTON_DEVICE : GPIO_REC_BUTTON_DEVICE;
  uint32_t sender = reset ? KVOX_RESET_SWITCH : MOD_REC_BUTTON;
  int fd = openInput(path);
  if (fd < 0) return 0;
  MsgOpen();
  char unused;
  while (info->run.load()) {
    // A zero-length read waits (at most 10 kernel ticks) for the pin's edge.
    if (plat::read(fd, &unused, 0) < 1) continue;
    struct timeval now;
    plat::gettimeofday(&now);
    SendMsgTriggerToCore(sender, &now);
    if (!wakeSupervisor(info)) break;
  }
  MsgClose();
  plat::close(fd);
  TRACE(TAG, "~trig_wait() %d\n", info->number);
  return 0;
}

int PowerCheckThread(THREAD_INFO* info) {
  TRACE(TAG, "PowerCheckThread()");
  int fd = openInput(GPIO_POWER_FAIL_DEVICE);
  if (fd < 0) return 0;
  MsgOpen();
  request(fd, GPIO_IOC_INT_ENABLE, GPIO_POWER_FAIL_PIN, 1);

  int32_t lowBudget = POWER_LOW_BUDGET_US;
  bool interruptSeen = false;
  int32_t recoveryBudget = POWER_RECOVERY_BUDGET_US;
  while (info->run.load()) {
    int level = request(fd, GPIO_IOC_GET_LEVEL_OR_EDGE, GPIO_POWER_FAIL_PIN, 0);
    if (level < 0) {  // a power-fail interrupt was seen since the last request
      interruptSeen = true;
      recoveryBudget = POWER_RECOVERY_BUDGET_US;
      level = 0;
    }
    if (level == 0) {  // supply off
      lowBudget -= POWER_POLL_US;
      if (lowBudget > 0) {
        plat::usleep(POWER_POLL_US);
        continue;
      }
      // Off for two polls in a row: a power-switch event now and at every poll while it stays
      // off (the budget is not restored).
      struct timeval now;
      plat::gettimeofday(&now);
      SendMsgTriggerToCore(KVOX_POWER_SWITCH, &now);
      if (!wakeSupervisor(info)) break;
      plat::usleep(POWER_POLL_US);
      recoveryBudget = POWER_RECOVERY_BUDGET_US;
      continue;
    }
    if (interruptSeen) {  // supply back after an interrupt: count the high readings
      recoveryBudget -= POWER_POLL_US;
      if (recoveryBudget == POWER_RECOVERY_TRACE_US) {
        TRACE(TAG, "@@@@@@ POWER OFF INT is happened, but power is recoveried");
      }
      if (recoveryBudget <= 0) {
        TRACE(TAG, "@@@@ POWER OFF INT timeout. send command!!");
        MsgRecord r = MsgMake(PIPE_CORE, KVOX_POWER_SWITCH, MSG_POWER_SHORT_CUT);
        if (MsgSend(&r, MSG_LENGTH) != 0) TRACE(TAG, "failed to MsgSend()");
        if (!wakeSupervisor(info)) break;
        interruptSeen = false;
      }
    }
    lowBudget = POWER_LOW_BUDGET_US;
    plat::usleep(POWER_POLL_US);
  }
  plat::close(fd);
  MsgClose();
  TRACE(TAG, "~PowerCheckThread() %d\n", info->number);
  return 0;
}

int CheckResetButton() {
  TRACE(TAG, "CheckResetButton()");
  int fd = openInput(GPIO_RESET_BUTTON_DEVICE);
  if (fd < 0) return 0;
  request(fd, GPIO_IOC_INT_ENABLE, GPIO_RESET_PIN, 0);
  int result = 0;
  if (request(fd, GPIO_IOC_GET_LEVEL, GPIO_RESET_PIN, 0) == 0) {  // the button pulls the pin low
    TRACE(TAG, "@@@ Reset Button Pressed");
    result = 1;
  } else {
    TRACE(TAG, "@@@ No Reset Button Signal");
  }
  plat::close(fd);
  TRACE(TAG, "~CheckResetButton()");
  return result;
}

int CheckPowerRecoveryPolls(int polls) {
  TRACE(TAG, "CheckPowerRecovery()");
  int fd = openInput(GPIO_POWER_FAIL_DEVICE);
  if (fd >= 0) request(fd, GPIO_IOC_INT_ENABLE, GPIO_POWER_FAIL_PIN, 0);
  int reboots = 0;
  for (int n = 0; polls < 0 || n < polls; ++n) {
    // A line that cannot be read counts as a present supply: better a reboot than a dead unit.
    int level = fd >= 0 ? request(fd, GPIO_IOC_GET_LEVEL, GPIO_POWER_FAIL_PIN, 0) : -1;
    if (level != 0) {
      TRACE(TAG, "Power is recoveried... REBOOT!!");
      if (fd >= 0) {
        plat::close(fd);
        fd = -1;
      }
      plat::system("reboot");
      ++reboots;
    }
    plat::usleep(POWER_POLL_US);
  }
  if (fd >= 0) plat::close(fd);
  return reboots;
}

void CheckPowerRecovery() {
  CheckPowerRecoveryPolls(-1);
  for (;;) plat::sleep(1);  // not reached: the watch above never ends
}
