#pragma once

namespace platform {
class Platform;
}

// The program entry on any desktop: the draw window first (the main window),
// then the hidden badge, then the message loop until the draw window closes.
int RunProgram(platform::Platform& desktop);
