#pragma once

// The exit status of a run that ended normally (usage errors exit with 2 before it starts):
// 1 when the run is unattended and a port failed, else 3 when the evidence is incomplete, else
// 0. A run that is not unattended does not depend on the verdict.
int finalExitStatus(bool unattended, bool anyPortFailed, bool evidenceIncomplete);
