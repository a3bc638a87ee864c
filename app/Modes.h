#pragma once
// The two choices the user makes in a front end: the page (files go to the phone, or come from it)
// and the way the phone reaches the PC.

enum class PageMode { Share = 1, Upload = 2 };

// None: no way is chosen (after a failed port opening, until the user picks another).
enum class ReachMode { None = 0, Lan = 1, Wan = 2, Cloud = 3 };
