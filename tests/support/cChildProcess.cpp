#include "cChildProcess.h"

#include <csignal>
#include <sys/prctl.h>

void cChildProcess::setupChildProcess()
{
    ::prctl(PR_SET_PDEATHSIG, SIGKILL);
}
