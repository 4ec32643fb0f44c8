#pragma once
// Small routines the forms share.

#include <string>

// "hh:mm:ss", each at least two digits; hours are not limited to two.
std::u16string SecondsToHMS(int seconds);

inline constexpr int kShowNormal = 1;

// Pixels of the layouts (96 DPI) at the screen's scale, to the nearest one.
int ScaledPixels(int pixels, double scale);

// Asks the desktop shell to perform its default action on target (a URL opens
// in the browser), working in the directory part of target. True on success;
// never shows a message.
bool OpenInShell(const std::u16string& target, const std::u16string& parameters, int showCommand);

// Seeds the pseudo-random generator from the clock.
void Randomize();
// A pseudo-random integer, uniform in 0 .. range - 1.
int Random(int range);
