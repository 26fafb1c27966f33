#pragma once

#include <QStringView>

// Reads a box's text as a number the forgiving way operators expect from the classic Val():
// blanks (space, tab, CR, LF) are ignored anywhere, the longest leading part that forms a
// number counts and anything after it is ignored; a text without such a part reads 0.
//
// A number is either decimal (optional sign, digits, one ".", optional exponent introduced by
// e, E, d or D with an optional sign and at least one digit) or "&H" hexadecimal / "&O" octal
// (case-insensitive, no sign). Hexadecimal and octal values follow the classic width rule: a
// value up to FFFF is a 16-bit two's-complement pattern (&HFFFF reads -1), one up to FFFFFFFF
// a 32-bit pattern (&HFFFFFFFF reads -1); longer values, which the classic rule refuses as an
// overflow, read as their plain unsigned value.
//
// Never fails: a value beyond the range of a double reads as +-infinity, one too small reads
// as 0. Time is linear in the length of the text, whatever it holds.
double lenientNumber(QStringView text);
