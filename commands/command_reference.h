#pragma once

#include <QString>

// The instruction-language reference shown in the reference box: 40 lines, each ended by CR LF.
// Help for the operator only; nothing in the program reads it.
QString commandReferenceText();
