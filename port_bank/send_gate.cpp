#include "port_bank/send_gate.h"

QStringList SendGate::release()
{
    held_ = false;
    QStringList kept;
    kept.swap(deferred_);
    return kept;
}
