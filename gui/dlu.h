// Window layouts are given in dialog units; one dialog unit is 1.5 pixels
// here (the old 9-point dialog font's base units, 6 x 12 pixels).
#pragma once

constexpr int Dlu(int units) { return units * 3 / 2; }
