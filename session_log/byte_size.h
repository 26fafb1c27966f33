#pragma once

#include <QString>
#include <cstdint>
#include <optional>

// A size as people write it on a command line: digits, then optionally K, M or G (either case)
// for 1024, 1024² or 1024³ bytes: "500K", "100M", "2G", "65536". Nothing else: no sign, no
// fraction, no blank. Empty when the text is not such a size or does not fit in 63 bits.
std::optional<std::int64_t> parseByteSize(const QString& text);
