#pragma once
// Program-wide state, shared by the handlers of both windows. One thread: the
// handlers that run nested inside a spin see and change the same values.

#include <cstdint>

class TForm1;
class TForm2;

// True while a spin runs. Set false by TForm1::FormCreate; after that flipped
// only by TForm1::btn1Click.
inline bool Spinning = false;

// Timer ticks since start-up. Zeroed by FormCreate, counted up only by tmr1Timer.
inline std::int32_t ElapsedTicks = 0;

// Ticks since the draw window was last brought up. Counted up by tmr1Timer;
// zeroed by FormCreate, btn1Click, N1Click and a click on the badge.
inline std::int32_t ShownTicks = 0;

// The draw window and the floating badge, for the other one's handlers.
inline TForm1* Form1 = nullptr;
inline TForm2* Form2 = nullptr;
