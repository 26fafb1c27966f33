#pragma once

#include <QFont>

// The roster's "宋体". On Linux Qt would resolve that name to a sans fallback, so the Song-style
// faces that may be installed are named one after another and the first one present is used.
QFont songFont(double pointSize);
