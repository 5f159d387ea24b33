// Modal questions asked by worker threads. The front end runs the dialog on
// its own thread and returns only when the user has answered.
#pragma once

#include <string>

namespace qb {

// Message box buttons and icons, as combinable style bits.
enum MessageStyle : unsigned {
    MB_OK = 0x0,
    MB_OKCANCEL = 0x1,
    MB_RETRYCANCEL = 0x5,
    MB_YESNO = 0x4,
    MB_YESNOCANCEL = 0x3,
    MB_ICONERROR = 0x10,
    MB_ICONQUESTION = 0x20,
    MB_ICONWARNING = 0x30,
    MB_ICONINFORMATION = 0x40,
    MB_DEFBUTTON2 = 0x100,
};

// Answers, with the values message boxes have always returned.
enum MessageAnswer : int {
    IDOK = 1,
    IDCANCEL = 2,
    IDRETRY = 4,
    IDYES = 6,
    IDNO = 7,
};

class IQuestions {
public:
    virtual ~IQuestions() = default;
    // Shows `text` in a box with the application's title and the buttons of
    // `style`; blocks the calling thread until answered.
    virtual int MessageBox(const std::string& text, unsigned style) = 0;
};

} // namespace qb
