// The program's icons and bitmaps, painted at their fixed resource sizes.
#pragma once

#include <QPixmap>
#include <QSize>
#include <QString>

namespace corvane {

enum : int {
    IDI_PROGRAM = 128,       // 32 x 32: the program's picture in the About box
    IDI_CLOSE = 129,         // 16 x 16: white cross on a transparent ground (close, at rest)
    IDI_MINIMIZE = 130,      // 16 x 16: white horizontal bar (minimize, at rest)
    IDI_MINIMIZE_HOT = 131,  // 16 x 16: dark-blue horizontal bar (minimize, pointer over it)
    IDI_CLOSE_HOT = 132,     // 16 x 16: grey cross on a dark-red square (close, pointer over it)
    IDB_INFORMATION = 136,   // 36 x 36: light-blue disc with a white letter i
    IDB_DONE = 143,          // 31 x 31: green disc with a white check mark
    IDB_DIGIT_1 = 146,       // 80 x 80: white digit 1 on a blue tile (routing page)
    IDB_DIGIT_2 = 154,       // 80 x 80: digit 2
    IDB_DIGIT_3 = 155,       // 80 x 80: digit 3
    IDB_DIGIT_4 = 156,       // 80 x 80: digit 4
    IDI_NEXT = 161,          // 32 x 32: black right-pointing triangle
    IDI_PREVIOUS = 162,      // 32 x 32: black left-pointing triangle
};

// The resource's size in pixels; an empty size for an unknown id.
QSize ResourceSize(int id);
// The picture of an icon or bitmap at its resource size; a null pixmap for an unknown id.
// Each call paints a fresh pixmap, so callers may keep or give away what they get.
QPixmap ResourcePixmap(int id);
// The program's picture (IDI_PROGRAM) drawn at size x size pixels, for the desktop's icons.
QPixmap ProgramIcon(int size);
// The digit bitmap of an input (1..4); 0 for any other input.
int DigitBitmap(int input);

// A short description of the picture for assistive technology ("Information", "Done", ...).
QString ResourceDescription(int id);

}  // namespace corvane
