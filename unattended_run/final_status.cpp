#include "unattended_run/final_status.h"

int finalExitStatus(bool unattended, bool anyPortFailed, bool evidenceIncomplete)
{
    if (unattended && anyPortFailed)
        return 1;
    return evidenceIncomplete ? 3 : 0;
}
