// The library's version, in one place: the version block of qxKorvex.rc
// and the code-download INF the package target writes both take it from
// here (cmake/Win32Package.cmake reads the four numbers).
#pragma once

#define QX_VERSION_MAJOR 1
#define QX_VERSION_MINOR 0
#define QX_VERSION_BUILD 0
#define QX_VERSION_REVISION 6

#define QX_VERSION_TEXT_(...) #__VA_ARGS__
#define QX_VERSION_TEXT_OF(...) QX_VERSION_TEXT_(__VA_ARGS__)
// "1, 0, 0, 6", as the string block writes it.
#define QX_VERSION_TEXT                                                     \
  QX_VERSION_TEXT_OF(QX_VERSION_MAJOR, QX_VERSION_MINOR, QX_VERSION_BUILD,  \
                     QX_VERSION_REVISION)
