// The C runtime's sscanf reading of a list of "%i" numbers, without its undefined
// overflow: the profile's multi-number values are read this way.
#pragma once

// Reads text as the format "%i" separators[0] "%i" separators[1] ... "%i", that is
// count numbers with one literal separator character between each two, into values.
// Each number is read as "%i" reads it: white space skipped, an optional sign, then
// hexadecimal after 0x or 0X, octal after a leading 0, decimal otherwise, up to the
// first character that does not fit ("08" reads as 0 and stops before the 8). A
// number beyond the range of int is clamped to it. The scan stops at the first
// number or separator that does not match; values not reached keep their contents.
// Returns how many numbers were read.
int ScanIntegers(const char* text, const char* separators, int* values, int count);
